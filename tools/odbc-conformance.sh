#!/usr/bin/env bash
# Runs the test suites' ODBC instance against a site's own data source.
#
#   tools/odbc-conformance.sh [-B BUILD] DSN
#
# DSN is a data source of unixODBC's odbc.ini (ODBCINI, else ~/.odbc.ini)
# whose database is a scratch database for this alone: the job's schemas
# the suites use (HRSYSTEM, HRCLIENT, HRREF, HRKILL1 to HRKILL4) in it are
# emptied, made anew for each test
# from the DDL of the database's kind and emptied again. The job reaches the
# database through the DSN (the ODBC backend); the tests themselves reach it
# as the database's owner, to set up and read back, one of two ways:
#   through the same DSN, for any database the tests know (PostgreSQL,
#   Oracle), as the user
#     DAYSET_ODBC_OWN_LOGIN     the tests' own user (see below)
#     DAYSET_ODBC_OWN_PASSWORD  its password
#   or, for PostgreSQL only, through libpq:
#     DAYSET_ODBC_ADMIN         libpq conninfo of the owner of the scratch
#                               database (no password in it: PGPASSWORD or
#                               ~/.pgpass give it)
# and in both cases
#   DAYSET_ODBC_LOGIN     the job's user (LOGIN): may connect, select, insert
#                         and update, nothing more
#   DAYSET_ODBC_PASSWORD  its password (PASS); never on a command line
# The tests' own user: on PostgreSQL the owner of the scratch database; on
# Oracle a user that may make, fill, lock and drop the tables of those
# schemas, which must exist as users with a quota (the README,
# "Oracle through ODBC", has the grants).
#
# Runs the suites of the runtime, the calendars and the persons (test_db,
# test_calendar, test_person of BUILD, default ./build). Left out, with the
# reason printed: what needs the throwaway cluster of tools/pg-cluster.sh (a
# server of its own to stop, a superuser, its address behind a relay, its
# own data sources), the whole-job suites (test_run, test_tools), which make
# several databases at once, and on Oracle what its SQL cannot hold (an
# empty text, which Oracle stores as NULL) or what needs a PostgreSQL
# connection of the tests' own. Oracle's sysdate is the server's clock:
# the tests that need the clock fixed at a known time are skipped, with the
# reason, unless DAYSET_ORACLE_FIXED_DATE=1 lets the tests' own user set
# FIXED_DATE (ALTER SYSTEM, a scratch instance or PDB only: it fixes sysdate
# for every session there; it is set back to NONE after each test).
# Exit status: 0 when every test run passed, 1 otherwise, 2 on a usage error.
#
# Run here against psqlODBC 13.02 (unixODBC 2.3.11, PostgreSQL 15), both
# ways. Never run against Oracle: the Oracle way is what a site runs first.
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
for v in DAYSET_ODBC_LOGIN DAYSET_ODBC_PASSWORD; do
  [ -n "${!v:-}" ] || { echo "odbc-conformance: $v is not set (see the head of this script)" >&2; exit 2; }
done
if [ -n "${DAYSET_ODBC_OWN_LOGIN:-}" ]; then
  own=odbc
elif [ -n "${DAYSET_ODBC_ADMIN:-}" ]; then
  own=libpq
else
  echo "odbc-conformance: neither DAYSET_ODBC_OWN_LOGIN nor DAYSET_ODBC_ADMIN is set (see the head of this script)" >&2
  exit 2
fi
for t in test_db test_calendar test_person; do
  [ -x "$build/$t" ] || { echo "odbc-conformance: $build/$t missing; build first" >&2; exit 2; }
done

left_out=(
  "PgWaitServerTest.*: a relay in front of the throwaway cluster's address, a role made by its superuser"
  "OdbcConnectTest.*: data sources of the throwaway cluster's odbc.ini"
)
filter="*/Odbc:-PgWaitServerTest.*:OdbcConnectTest.*"
if [ $own = odbc ]; then
  left_out+=(
    "LockTest.*: a row lock held through a PostgreSQL connection of the tests' own"
    "SliceBreakTest.*: a PL/pgSQL trigger that ends the job's session"
    "ZtgTest.ExistingRowTakesThePlanUnlessThePlanIsEmpty, ZtgTest.EmptyCodesAreWrittenAsNull, SqlRtTest.NullsAndEmptyTexts: an empty text in the tests' data, NULL on Oracle (also left out on PostgreSQL, so that both ways run the same tests)"
  )
  filter+=":LockTest.*:SliceBreakTest.*:ZtgTest.ExistingRowTakesThePlanUnlessThePlanIsEmpty/*:ZtgTest.EmptyCodesAreWrittenAsNull/*"
  filter+=":SqlRtTest.NullsAndEmptyTexts/*"
  export DAYSET_TEST_ODBC_OWN_LOGIN="$DAYSET_ODBC_OWN_LOGIN" DAYSET_TEST_ODBC_OWN_PASSWORD="${DAYSET_ODBC_OWN_PASSWORD:-}"
  export DAYSET_TEST_ORACLE_FIXED_DATE="${DAYSET_ORACLE_FIXED_DATE:-0}"
  unset DAYSET_TEST_PG
else
  export DAYSET_TEST_PG="$DAYSET_ODBC_ADMIN"
fi
echo "odbc-conformance: data source $dsn, the tests' own connection through $own; left out:"
for l in "${left_out[@]}"; do echo "  $l"; done
echo "  test_run, test_tools: the whole job on several databases at once, a server of its own to stop"

export DAYSET_TEST_PG_LOGIN="$DAYSET_ODBC_LOGIN" DAYSET_TEST_PG_PASSWORD="$DAYSET_ODBC_PASSWORD"
export DAYSET_TEST_ODBC_SITE_DSN="$dsn"
status=0
for t in test_db test_calendar test_person; do
  (cd "$build" && "./$t" --gtest_filter="$filter" --gtest_brief=1) || status=1
done
[ $status -eq 0 ] && echo "odbc-conformance: every test run passed" || echo "odbc-conformance: failures above" >&2
exit $status
