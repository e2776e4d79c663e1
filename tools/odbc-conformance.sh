#!/usr/bin/env bash
# Runs the test suites' ODBC instance against a site's own data source.
#
#   tools/odbc-conformance.sh [-B BUILD] DSN
#
# DSN is a data source of unixODBC's odbc.ini (ODBCINI, else ~/.odbc.ini)
# whose database is a PostgreSQL scratch database for this alone: the
# schemas hrsystem, hrclient and hrref in it are dropped, made anew from
# db/schema-postgresql.sql for each test and dropped again. The suites reach
# the database twice: the job through the DSN (the ODBC backend), the tests
# themselves through libpq as the database's owner, to set up and read
# back. The environment gives
#   DAYSET_ODBC_ADMIN     libpq conninfo of the owner of the scratch database
#                         (no password in it: PGPASSWORD or ~/.pgpass give it)
#   DAYSET_ODBC_LOGIN     the job's role (LOGIN): may connect, select, insert
#                         and update, nothing more
#   DAYSET_ODBC_PASSWORD  its password (PASS); never on a command line
# Runs the suites of the runtime, the calendars and the persons (test_db,
# test_calendar, test_person of BUILD, default ./build), one test at a time.
# Left out, with the reason printed: what needs the throwaway cluster of
# tools/pg-cluster.sh (a server of its own to stop, a superuser, its
# address behind a relay, its own data sources) and the whole-job suites
# (test_run, test_tools), which make several databases at once. Nothing
# needs a faked system clock: the tests fix the job's own clock in process.
# Exit status: 0 when every test run passed, 1 otherwise, 2 on a usage error.
#
# Run here against psqlODBC 13.02 (unixODBC 2.3.11, PostgreSQL 15) only; a
# data source of another database system is not what these suites check
# (their own connection is libpq's).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
usage() { echo "usage: tools/odbc-conformance.sh [-B BUILD] DSN" >&2; exit 2; }
while getopts "B:h" opt; do
  case $opt in
    B) build=$OPTARG ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 1 ] || usage
dsn=$1
# As the job refuses it: nothing that would end or extend the connection string.
if [ -z "$dsn" ] || [[ $dsn == *[\;={}]* ]] || [[ $dsn =~ [[:cntrl:]] ]]; then
  echo "odbc-conformance: a DSN name without ';', '=', '{', '}' and control characters" >&2
  exit 2
fi
for v in DAYSET_ODBC_ADMIN DAYSET_ODBC_LOGIN DAYSET_ODBC_PASSWORD; do
  [ -n "${!v:-}" ] || { echo "odbc-conformance: $v is not set (see the head of this script)" >&2; exit 2; }
done
for t in test_db test_calendar test_person; do
  [ -x "$build/$t" ] || { echo "odbc-conformance: $build/$t missing; build first" >&2; exit 2; }
done

left_out=(
  "PgWaitServerTest.*: a relay in front of the throwaway cluster's address, a role made by its superuser"
  "OdbcConnectTest.*: data sources of the throwaway cluster's odbc.ini"
)
echo "odbc-conformance: data source $dsn; left out:"
for l in "${left_out[@]}"; do echo "  $l"; done
echo "  test_run, test_tools: the whole job on several databases at once, a server of its own to stop"
filter="*/Odbc:-PgWaitServerTest.*:OdbcConnectTest.*"

export DAYSET_TEST_PG="$DAYSET_ODBC_ADMIN" DAYSET_TEST_PG_LOGIN="$DAYSET_ODBC_LOGIN"
export DAYSET_TEST_PG_PASSWORD="$DAYSET_ODBC_PASSWORD" DAYSET_TEST_ODBC_SITE_DSN="$dsn"
status=0
for t in test_db test_calendar test_person; do
  (cd "$build" && "./$t" --gtest_filter="$filter" --gtest_brief=1) || status=1
done
[ $status -eq 0 ] && echo "odbc-conformance: every test run passed" || echo "odbc-conformance: failures above" >&2
exit $status
