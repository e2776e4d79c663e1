#!/usr/bin/env bash
# Builds an optimised dayset and runs the whole-job benchmark, one year for
# 10,000 persons (or the sizes given), on the embedded database and on a
# throwaway PostgreSQL cluster (tools/pg-cluster.sh) that it removes again.
#   bench/run.sh [PERSONS ...]
#   BACKENDS="sqlite" bench/run.sh 1000     # one backend only
#   JOBS="1 2" JOBS_SQLITE=1 bench/run.sh   # the -j values on PostgreSQL and SQLite
#   RERUN=1 bench/run.sh                    # each run followed by a rerun that adds nothing
#   RERUN=3 bench/run.sh                    # ... by three reruns, one after the other
#   BACKENDS="postgres odbc" bench/run.sh   # odbc: the same server through the ODBC backend (psqlODBC)
#   DELAY_US=1000 BACKENDS=postgres bench/run.sh
#       the job reaches the server through bench/proxy (dayset-delay-proxy),
#       which holds every request for DELAY_US microseconds
#   ANALYZE=1 bench/run.sh 2000             # statistics gathered after loading (day tables empty)
#   REFERENCE=DIR bench/run.sh 2000         # first the set-based SQL of DIR (setbased-*.sql) on a
#                                           # fresh installation of the same size, then the job
set -euo pipefail
reruns=()
for ((k = 0; k < ${RERUN:-0}; ++k)); do reruns+=(--rerun); done
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/deps.sh"
cmake -S "$top" -B "$top/build-bench" -DCMAKE_BUILD_TYPE=Release -DDAYSET_TESTS=OFF >/dev/null
cmake --build "$top/build-bench" -j"$(nproc)" --target dayset-bench dayset-demo dayset-delay-proxy
work=$(mktemp -d)
chmod 755 "$work"  # the server runs as postgres and must reach its cluster in here
cluster=""
proxy=""
cleanup() {
  [ -z "$proxy" ] || kill "$proxy" 2>/dev/null || true
  [ -z "$cluster" ] || "$top/tools/pg-cluster.sh" stop "$cluster" || true
  rm -rf "$work"
}
trap cleanup EXIT
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000)
backends=${BACKENDS:-"sqlite postgres"}
for b in $backends; do
  for n in "${sizes[@]}"; do
    if [ "$b" = postgres ] || [ "$b" = odbc ]; then
      if [ -z "$cluster" ]; then
        cluster="$work/pg"
        "$top/tools/pg-cluster.sh" start "$cluster"
        set -a; . "$cluster/env"; set +a
        if [ -n "${DELAY_US:-}" ]; then
          # The job's connections go through the relay; the benchmark's
          # own (the superuser's, on the socket) do not.
          port=$((DAYSET_TEST_PG_PORT + 1))
          "$top/build-bench/dayset-delay-proxy" "$port" "$DAYSET_TEST_PG_PORT" "$DELAY_US" 14400 &
          proxy=$!
          DAYSET_TEST_PG_PORT=$port
          sleep 1
        fi
      fi
      label=${DELAY_US:+"(through a relay adding $DELAY_US µs per request)"}
      if [ -n "${REFERENCE:-}" ]; then
        "$top/build-bench/dayset-bench" --postgres ${ANALYZE:+--analyze} \
          --reference "$REFERENCE/setbased-postgresql.sql" "$n" "$work/demo-pg-$n"
      fi
      for j in ${JOBS:-1 2 4}; do
        "$top/build-bench/dayset-bench" "--$b" -j "$j" "${reruns[@]}" ${ANALYZE:+--analyze} \
          ${label:+--label "$label"} "$n" "$work/demo-pg-$n" 2>/dev/null
      done
    else
      if [ -n "${REFERENCE:-}" ]; then
        "$top/build-bench/dayset-bench" --reference "$REFERENCE/setbased-sqlite.sql" "$n" "$work/demo-$n"
      fi
      for j in ${JOBS_SQLITE:-1 2}; do
        "$top/build-bench/dayset-bench" -j "$j" "${reruns[@]}" "$n" "$work/demo-$n" 2>/dev/null
      done
    fi
  done
done
