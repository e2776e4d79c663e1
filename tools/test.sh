#!/usr/bin/env bash
# Builds dayset and its tests in ./build and runs every test with ctest, on
# the embedded database and on a throwaway PostgreSQL cluster that
# tools/pg-cluster.sh starts for the run and removes afterwards.
# Extra arguments go to ctest (e.g. -R Bak, -R Postgres).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" -j"$(nproc)"
"$top/tools/pg-cluster.sh" run ctest --test-dir "$top/build" --output-on-failure -j"$(nproc)" "$@"
