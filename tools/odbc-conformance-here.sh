#!/usr/bin/env bash
# Runs tools/odbc-conformance.sh as a site would, against the throwaway
# cluster of tools/pg-cluster.sh:
#
#   tools/pg-cluster.sh run tools/odbc-conformance-here.sh [-B BUILD]
#
# Makes a scratch database with an owner of its own and a data source for
# it, then runs the conformance command three ways: the tests' own
# connection through libpq, through the data source, and through the data
# source playing Oracle (DAYSET_TEST_AS_ORACLE=1: the tests' own SQL checked
# as Oracle takes it, sysdate taken as the server's clock). Drops the
# database and the owner again. Exit status: 0 when all three passed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
while getopts "B:h" opt; do
  case $opt in
    B) build=$OPTARG ;;
    *) echo "usage: tools/pg-cluster.sh run tools/odbc-conformance-here.sh [-B BUILD]" >&2; exit 2 ;;
  esac
done
for v in DAYSET_TEST_PG DAYSET_TEST_PG_PORT DAYSET_TEST_PG_LOGIN DAYSET_TEST_PG_PASSWORD ODBCINI; do
  [ -n "${!v:-}" ] || { echo "odbc-conformance-here: $v is not set: run it under tools/pg-cluster.sh run" >&2; exit 2; }
done

work=$(mktemp -d)
owner_password=$(head -c 18 /dev/urandom | base64 | tr -d '+/=')
cleanup() {
  psql "$DAYSET_TEST_PG" -qX -v ON_ERROR_STOP=0 -c "drop database if exists dayset_site with (force)" \
    -c "drop role if exists dayset_site_owner" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
# The password goes to psql on its standard input, never on a command line
# (letters and digits only, so it stands in quotes as it is).
psql "$DAYSET_TEST_PG" -qX -v ON_ERROR_STOP=1 >/dev/null <<EOF
create role dayset_site_owner login password '$owner_password';
create database dayset_site owner dayset_site_owner;
revoke all on database dayset_site from public;
grant connect on database dayset_site to dayset_site_owner, dayset_job;
EOF
driver=$(sed -n 's/^Driver *= *//p' "$ODBCINI" | head -n 1)
printf '[dayset_site]\nDriver = %s\nServername = 127.0.0.1\nPort = %s\nDatabase = dayset_site\n' \
  "$driver" "$DAYSET_TEST_PG_PORT" >"$work/odbc.ini"

export ODBCINI="$work/odbc.ini" DAYSET_ODBC_LOGIN="$DAYSET_TEST_PG_LOGIN" DAYSET_ODBC_PASSWORD="$DAYSET_TEST_PG_PASSWORD"
status=0
echo "== the tests' own connection through libpq"
DAYSET_ODBC_ADMIN="host=127.0.0.1 port=$DAYSET_TEST_PG_PORT user=dayset_site_owner dbname=dayset_site" \
  PGPASSWORD="$owner_password" "$top/tools/odbc-conformance.sh" -B "$build" dayset_site || status=1
echo "== the tests' own connection through the data source"
DAYSET_ODBC_OWN_LOGIN=dayset_site_owner DAYSET_ODBC_OWN_PASSWORD="$owner_password" \
  "$top/tools/odbc-conformance.sh" -B "$build" dayset_site || status=1
echo "== the same, playing Oracle"
DAYSET_TEST_AS_ORACLE=1 DAYSET_ODBC_OWN_LOGIN=dayset_site_owner DAYSET_ODBC_OWN_PASSWORD="$owner_password" \
  "$top/tools/odbc-conformance.sh" -B "$build" dayset_site || status=1
exit $status
