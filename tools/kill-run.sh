#!/usr/bin/env bash
# Kills the job at random moments and shows that a rerun completes the work.
#
#   tools/kill-run.sh [-k KILLS] [-p PERSONS] [-s SEED] [-g SIGNAL] [-b BACKEND] [-B BUILD] [DIR]
#
# Creates a demo installation (dayset-demo, PERSONS persons, default 300) in
# DIR (default: a temporary directory, removed at the end), runs the job once
# uninterrupted for the reference, then KILLS times (default 10): a fresh
# copy of the installation, the job started and killed with SIGNAL (KILL,
# the default, or TERM, INT, HUP) after a random delay, the job run again to its end, and every table compared with
# the reference, the sysdate columns (…Dat) aside. A quarter of the delays
# fall within the calendar phases (measured by a calendars-only run), the
# rest anywhere in the run (a run that ends before its kill is counted as
# such). Prints one line per kill (delay, the phase the
# kill met, result) and a summary; exit status 0 when every rerun equals the
# reference, 1 otherwise, 2 on a usage error. SEED seeds the delays and the
# demo contents (default 1). BUILD is the build directory (default ./build).
# With TERM, INT or HUP the job must end by that signal with a last line in
# DAYSET.LOG that names it (once it got as far as connecting).
#
# BACKEND picks the database: sqlite (the embedded one, default), postgres,
# a server that the environment names as tools/pg-cluster.sh writes it
# (DAYSET_TEST_PG*), e.g.
#   tools/pg-cluster.sh run tools/kill-run.sh -b postgres
# There each installation is a directory with its dayset.ini and a database
# of its own (killrun_ and the directory's name), copied from the pristine
# one as a template; the databases are dropped at the end. BACKEND odbc is
# the same server, the demo made through libpq as for postgres, and the job
# going through its ODBC backend (psqlODBC): each installation's NET8 is
# odbc:DSN for a data source of its database in DIR/odbc.ini (ODBCINI).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
kills=10 persons=300 seed=1 signal=KILL backend=sqlite build="$top/build" dir=""
usage() { echo "usage: tools/kill-run.sh [-k KILLS] [-p PERSONS] [-s SEED] [-g SIGNAL] [-b BACKEND] [-B BUILD] [DIR]" >&2; exit 2; }
while getopts "k:p:s:g:b:B:h" opt; do
  case $opt in
    k) kills=$OPTARG ;;
    p) persons=$OPTARG ;;
    s) seed=$OPTARG ;;
    g) signal=$OPTARG ;;
    b) backend=$OPTARG ;;
    B) build=$OPTARG ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -le 1 ] || usage
[[ $kills =~ ^[0-9]+$ && $persons =~ ^[0-9]+$ && $seed =~ ^[0-9]+$ && $signal =~ ^(KILL|TERM|INT|HUP)$ ]] || usage
signum=$(kill -l "$signal")
tmpdir=""
if [ $# -eq 1 ]; then
  dir=$1
  mkdir -p "$dir"
else
  dir=$(mktemp -d)
  tmpdir=$dir
  trap 'rm -rf "$tmpdir"' EXIT
fi
for p in dayset dayset-demo dayset-conf; do
  [ -x "$build/$p" ] || { echo "kill-run: $build/$p missing; build first (tools/test.sh)" >&2; exit 2; }
done
year=$(( $(date +%Y) + 1 ))
unset NLS_TERRITORY NLS_LANG  # the demo's weekly patterns number weekdays as AMERICA does

# --- backend: installation, job, dump ---------------------------------------
case $backend in
  sqlite)
    # A new installation in $1.
    install_new() { "$build/dayset-demo" --persons "$persons" --seed "$seed" "$1" >/dev/null; }
    # $2 becomes a copy of the installation $1.
    install_copy() { rm -rf "$2" && cp -a "$1" "$2"; }
    # Every table of the installation $1, ordered, without the sysdate
    # columns, into the file $2.
    dump() {
      local db="$1/HRSYSTEM.db" t cols
      : >"$2"
      for t in $(sqlite3 "$db" "select name from sqlite_master where type='table' order by 1"); do
        cols=$(sqlite3 "$db" "select group_concat(name, ',') from pragma_table_info('$t') where name not like '___Dat'")
        echo "== $t" >>"$2"
        sqlite3 "$db" "select $cols from $t order by $cols" >>"$2"
      done
    }
    # The rows of the base calendar, of both work-calendar tables and the
    # persons done in installation $1, as b|k|k2|u.
    counts() {
      sqlite3 "$1/HRSYSTEM.db" "select (select count(*) from Hrs133Bak), (select count(*) from Hrs133Kal),
        (select count(*) from Hrs133Ka2), (select count(distinct UrvPnr) from Hrs332Urv)"
    }
    ;;
  postgres|odbc)
    [ -n "${DAYSET_TEST_PG:-}" ] || {
      echo "kill-run: -b $backend needs the DAYSET_TEST_PG* variables (tools/pg-cluster.sh run ...)" >&2; exit 2; }
    pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
    # SQL as the superuser in database $1, rows unaligned, '|' between fields.
    su_sql() { PGCLIENTENCODING=UTF8 PGOPTIONS="-c client_min_messages=warning" "$pgbin/psql" -X -q -At -v ON_ERROR_STOP=1 "$DAYSET_TEST_PG dbname=$1" -c "$2"; }
    db_of() { echo "killrun_$(basename "$1")"; }
    dbs=()
    db_new() {  # database $1, optionally from template $2, for the job's role
      su_sql postgres "drop database if exists $1"
      su_sql postgres "create database $1${2:+ template $2}"
      su_sql postgres "revoke all on database $1 from public; grant connect on database $1 to $DAYSET_TEST_PG_LOGIN"
      dbs+=("$1")
    }
    net_of() { echo "postgresql://$DAYSET_TEST_PG_HOST:$DAYSET_TEST_PG_PORT/$1"; }
    # The job's net service name for database $1: the libpq one, or for
    # odbc a data source of it, added to DIR/odbc.ini.
    job_net_of() {
      if [ "$backend" = odbc ]; then
        grep -q "^\[$1\]" "$dir/odbc.ini" 2>/dev/null ||
          printf '[%s]\nDriver = %s\nServername = %s\nPort = %s\nDatabase = %s\n\n' "$1" "$odbc_driver" \
            "$DAYSET_TEST_PG_HOST" "$DAYSET_TEST_PG_PORT" "$1" >>"$dir/odbc.ini"
        echo "odbc:$1"
      else
        net_of "$1"
      fi
    }
    if [ "$backend" = odbc ]; then
      odbc_driver=$(ls /usr/lib/*/odbc/psqlodbcw.so 2>/dev/null | head -n 1 || true)
      [ -n "$odbc_driver" ] || { echo "kill-run: -b odbc needs psqlODBC (Debian package odbc-postgresql)" >&2; exit 2; }
      export ODBCINI="$dir/odbc.ini"
      : >"$ODBCINI"
    fi
    install_new() {
      local db
      db=$(db_of "$1")
      db_new "$db"
      "$build/dayset-demo" --persons "$persons" --seed "$seed" --net "$(net_of "$db")" \
        --login "$DAYSET_TEST_PG_LOGIN" --pg-admin "$DAYSET_TEST_PG dbname=$db" "$1" >/dev/null
      printf '%s' "$DAYSET_TEST_PG_PASSWORD" | "$build/dayset-conf" set "$1/dayset.ini" PASS
      [ "$backend" = postgres ] || "$build/dayset-conf" set "$1/dayset.ini" NET8 "$(job_net_of "$db")"
    }
    install_copy() {
      local db
      db=$(db_of "$2")
      rm -rf "$2" && cp -a "$1" "$2"
      db_new "$db" "$(db_of "$1")"
      "$build/dayset-conf" set "$2/dayset.ini" NET8 "$(job_net_of "$db")"
    }
    dump() {
      local db t cols
      db=$(db_of "$1")
      : >"$2"
      for t in $(su_sql "$db" "select table_name from information_schema.tables
                              where table_schema = 'hrsystem' order by 1"); do
        cols=$(su_sql "$db" "select string_agg(column_name, ',' order by ordinal_position)
                             from information_schema.columns
                             where table_schema = 'hrsystem' and table_name = '$t'
                               and column_name not like '___dat'")
        echo "== $t" >>"$2"
        su_sql "$db" "select $cols from hrsystem.$t order by $cols" >>"$2"
      done
    }
    counts() {
      su_sql "$(db_of "$1")" "select (select count(*) from hrsystem.hrs133bak), (select count(*) from hrsystem.hrs133kal),
        (select count(*) from hrsystem.hrs133ka2), (select count(distinct urvpnr) from hrsystem.hrs332urv)"
    }
    drop_all() { for db in "${dbs[@]}"; do su_sql postgres "drop database if exists $db" || true; done; }
    trap 'drop_all; [ -n "$tmpdir" ] && rm -rf "$tmpdir"' EXIT
    ;;
  *)
    echo "kill-run: unknown backend $backend (sqlite, postgres, odbc)" >&2
    exit 2 ;;
esac

# How far the job got in installation $1 compared with the reference $2: the
# phase the kill met.
phase_of() {
  local b k k2 u rb rk rk2 ru
  IFS='|' read -r b k k2 u <<<"$(counts "$1")"
  IFS='|' read -r rb rk rk2 ru <<<"$(counts "$2")"
  if [ "$b" -lt "$rb" ]; then echo "base calendar"
  elif [ "$k" -lt "$rk" ] || [ "$k2" -lt "$rk2" ]; then echo "work calendars"
  elif [ "$u" -lt "$ru" ]; then echo "persons ($u of $ru done)"
  else echo "persons (all done)"; fi
}

# The job in installation $1 with person range $2 $3, in the background.
start_job() { (cd "$1" && exec "$build/dayset" 0 "$year" dayset.ini "$2" "$3" >/dev/null 2>&1) & }
now_s() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now_s)" 'BEGIN { printf "%.3f", b - a }'; }

install_new "$dir/pristine"
install_copy "$dir/pristine" "$dir/reference"
t0=$(now_s)
start_job "$dir/reference" 0 0
wait $! || { echo "kill-run: the reference run failed" >&2; exit 1; }
t_run=$(since "$t0")
dump "$dir/reference" "$dir/reference.dump"
install_copy "$dir/pristine" "$dir/calendars"
t0=$(now_s)
start_job "$dir/calendars" 99999999 99999999
wait $! || { echo "kill-run: the calendars-only run failed" >&2; exit 1; }
t_cal=$(since "$t0")
printf 'kill-run: %s, %s persons, end year %s; uninterrupted run %.2f s, calendar phases %.2f s\n' \
  "$backend" "$persons" "$year" "$t_run" "$t_cal"

# Delays: awk's generator, seeded, one per kill.
mapfile -t delays < <(awk -v n="$kills" -v s="$seed" -v run="$t_run" -v cal="$t_cal" \
  'BEGIN { srand(s); for (i = 0; i < n; i++) { r = rand(); printf "%.3f\n", (rand() < 0.25 ? 1.2 * cal : 0.9 * run) * r } }')

equal=0 unequal=0 finished=0
declare -A met=()
for i in $(seq 1 "$kills"); do
  work="$dir/run"
  install_copy "$dir/pristine" "$work"
  start_job "$work" 0 0
  pid=$!
  sleep "${delays[$((i - 1))]}"
  kill -"$signal" "$pid" 2>/dev/null || true
  status=0
  wait "$pid" 2>/dev/null || status=$?
  stopline=ok
  if [ "$status" -eq $((128 + signum)) ]; then
    where=$(phase_of "$work" "$dir/reference")
    # A caught signal leaves its line, once the job got as far as its
    # session (before that there is nothing to stop).
    if [ "$signal" != KILL ] && grep -q '^Aktuelles Schema' "$work/DAYSET.LOG" 2>/dev/null &&
       ! tail -n 1 "$work/DAYSET.LOG" | grep -q "durch SIG$signal abgebrochen"; then
      stopline=missing
    fi
  else
    where="job had ended (status $status)"
    finished=$((finished + 1))
  fi
  key=${where%% \(*}
  met[$key]=$((${met[$key]:-0} + 1))
  start_job "$work" 0 0
  rerun=0
  wait $! || rerun=$?
  dump "$work" "$dir/run.dump"
  if [ "$stopline" != ok ]; then
    result="NO STOP LINE in DAYSET.LOG"
    unequal=$((unequal + 1))
  elif [ "$rerun" -eq 0 ] && cmp -s "$dir/run.dump" "$dir/reference.dump"; then
    result=equal
    equal=$((equal + 1))
  else
    result="DIFFERENT (rerun status $rerun)"
    unequal=$((unequal + 1))
    cp "$dir/run.dump" "$dir/kill-$i.dump"
  fi
  printf 'kill %3d after %6.3f s: %-28s rerun %s\n' "$i" "${delays[$((i - 1))]}" "$where" "$result"
done
summary=""
for k in "${!met[@]}"; do summary+="${summary:+, }$k ${met[$k]}"; done
echo "kill-run: SIG$signal: $equal of $kills reruns equal to the uninterrupted run (kills met: ${summary:-none})"
[ "$unequal" -eq 0 ]
