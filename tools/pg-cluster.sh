#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the tests.
#
#   tools/pg-cluster.sh start DIR    a new cluster in DIR (new or empty), or
#                                    DIR's cluster started again after a halt
#   tools/pg-cluster.sh halt DIR     stops the server at once, as a crash does
#                                    (pg_ctl stop -m immediate); the files stay
#   tools/pg-cluster.sh stop DIR     stops the server and removes DIR
#   tools/pg-cluster.sh run CMD...   runs CMD with a new cluster in a temporary
#                                    directory and the variables below in its
#                                    environment; removes the cluster at the
#                                    end, also when CMD fails; CMD's status
#
# The cluster: initdb with the ICU collation de-DE as the default (so that no
# comparison passes by accident of a binary collation), fsync off, the server
# on 127.0.0.1 at a free port and on a socket in DIR, run as the postgres user
# when started by root. Server defaults that a client must not rely on are
# set to unusual values (DateStyle, TimeZone, client encoding). The
# superuser postgres is trusted on the socket only; TCP wants a password
# (scram-sha-256). The role dayset_job, with a random password, may log in
# and nothing more; the template database dayset_tpl holds schema hrsystem
# made from db/schema-postgresql.sql, on which dayset_job may use the schema
# and select, insert and update the tables (also tables created later by the
# superuser). A database made from the template needs
#   REVOKE ALL ON DATABASE d FROM PUBLIC; GRANT CONNECT ON DATABASE d TO dayset_job
# since database privileges are not copied.
#
# DIR/env (sh syntax) holds what the tests read:
#   DAYSET_TEST_PG            libpq conninfo of the superuser (socket)
#   DAYSET_TEST_PG_HOST, DAYSET_TEST_PG_PORT      the server's TCP address
#   DAYSET_TEST_PG_LOGIN, DAYSET_TEST_PG_PASSWORD the job's role
#   DAYSET_TEST_PG_TEMPLATE                       the template database
#   ODBCINI                   DIR/odbc.ini, unixODBC's data sources for the
#                             ODBC backend (psqlODBC): DSNs dayset_odbc1 to
#                             dayset_odbcN (N = DAYSET_TEST_ODBC_SLOTS), each
#                             naming the database of the same name on this
#                             server; no database exists until a test makes it
#   ODBCSYSINI                DIR, with an empty odbcinst.ini: the system's
#                             driver entries (Debian's turn psqlODBC's CommLog
#                             on) are not read
#   DAYSET_TEST_ODBC_SLOTS    N; a test takes a free slot K by a lock on
#                             DIR/odbc-slots/K, makes database dayset_odbcK
#                             from the template and drops it when done
# The password is never passed on a command line, nor written to odbc.ini.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

die() { echo "pg-cluster: $*" >&2; exit 1; }

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -n "$bindir" ] && [ -x "$bindir/initdb" ] || die "no PostgreSQL server found (Debian package postgresql)"

# Server programs run as postgres when we are root (the server refuses root).
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

# Superuser psql on the socket, SQL from standard input.
psql_su() {
  local dir=$1 db=$2
  PGCLIENTENCODING=UTF8 as_owner "$bindir/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$(cat "$dir/port")" \
    -U postgres -d "$db" >/dev/null
}

port_free() {
  ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

server_start() {
  local dir=$1
  as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 -o "-p $(cat "$dir/port")" start >/dev/null
}

cluster_new() {
  local dir=$1
  mkdir -p "$dir"
  [ -z "$(ls -A "$dir")" ] || die "$dir is not empty"
  : >"$dir/.pg-cluster"  # what `stop` looks for before it removes DIR
  chmod 700 "$dir"
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$dir"
    as_owner test -w "$dir" || die "the postgres user cannot reach $dir: make the directories above it searchable"
  fi
  as_owner "$bindir/initdb" -D "$dir/data" -U postgres --auth-local=trust --auth-host=scram-sha-256 \
    --locale-provider=icu --icu-locale=de-DE --locale=C.UTF-8 -E UTF8 --no-sync --no-instructions \
    >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; die "initdb failed"; }
  cat >"$dir/data/pg_hba.conf" <<'EOF'
local all postgres              trust
host  all all      127.0.0.1/32 scram-sha-256
EOF
  cat >>"$dir/data/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$dir'
unix_socket_permissions = 0700
# No flush to disk: quick, and still safe against a stop of the server
# (pg-cluster.sh halt), though not against one of the machine. Commits stay
# synchronous: a commit the job was told of survives the stop.
fsync = off
full_page_writes = off
max_connections = 60
# Defaults a client of this server must not depend on.
datestyle = 'German, DMY'
timezone = 'Pacific/Chatham'
client_encoding = 'LATIN1'
intervalstyle = 'sql_standard'
EOF
  [ "$(id -u)" -ne 0 ] || chown postgres: "$dir/data/pg_hba.conf"
  # A free port: try a few at random; a port taken meanwhile fails the start.
  local tries=0
  while :; do
    tries=$((tries + 1))
    [ $tries -le 20 ] || die "no free port found"
    local port=$((20000 + RANDOM % 30000))
    port_free "$port" || continue
    echo "$port" >"$dir/port"
    server_start "$dir" && break
    grep -q "could not bind\|could not create any TCP/IP sockets\|already in use" "$dir/server.log" 2>/dev/null ||
      { cat "$dir/server.log" >&2; die "the server did not start"; }
  done
  local password
  password=$(head -c 8 /dev/urandom | od -An -tx1 | tr -d ' \n')
  # The password reaches psql on standard input, not on its command line.
  psql_su "$dir" postgres <<EOF
CREATE ROLE dayset_job LOGIN PASSWORD '$password' NOSUPERUSER NOCREATEDB NOCREATEROLE NOINHERIT;
CREATE DATABASE dayset_tpl TEMPLATE template0 ENCODING 'UTF8' LOCALE_PROVIDER icu ICU_LOCALE 'de-DE'
  LOCALE 'C.UTF-8';
EOF
  {
    echo "REVOKE ALL ON DATABASE dayset_tpl FROM PUBLIC;"
    echo "REVOKE ALL ON DATABASE postgres FROM PUBLIC;"
    echo "REVOKE ALL ON SCHEMA public FROM PUBLIC;"
    echo "CREATE SCHEMA hrsystem;"
    echo "SET search_path = hrsystem;"
    cat "$top/db/schema-postgresql.sql"
    echo "GRANT USAGE ON SCHEMA hrsystem TO dayset_job;"
    echo "GRANT SELECT, INSERT, UPDATE ON ALL TABLES IN SCHEMA hrsystem TO dayset_job;"
    echo "ALTER DEFAULT PRIVILEGES FOR ROLE postgres GRANT SELECT, INSERT, UPDATE ON TABLES TO dayset_job;"
  } | psql_su "$dir" dayset_tpl
  # No session may sit in the template: CREATE DATABASE ... TEMPLATE needs it alone.
  echo "ALTER DATABASE dayset_tpl WITH ALLOW_CONNECTIONS false;" | psql_su "$dir" postgres
  # The ODBC backend's data sources: one per slot, the driver by its path
  # (no odbcinst.ini needed). The job's LOGIN and PASS go in at connect.
  local odbc_driver=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so
  [ -f "$odbc_driver" ] || odbc_driver=$(ls /usr/lib/*/odbc/psqlodbcw.so 2>/dev/null | head -n 1 || true)
  local slots=40
  mkdir -p "$dir/odbc-slots"
  {
    for k in $(seq 1 $slots); do
      printf '[dayset_odbc%s]\nDriver = %s\nServername = 127.0.0.1\nPort = %s\nDatabase = dayset_odbc%s\n\n' \
        "$k" "$odbc_driver" "$(cat "$dir/port")" "$k"
    done
  } >"$dir/odbc.ini"
  chmod 644 "$dir/odbc.ini"
  # unixODBC's system files from here too (ODBCSYSINI): no driver entry, so
  # that psqlODBC takes its own defaults rather than Debian's CommLog=1, with
  # which every session leaves a log file in /tmp.
  : >"$dir/odbcinst.ini"
  local env="$dir/env"
  (umask 077 && cat >"$env" <<EOF
DAYSET_TEST_PG='host=$dir port=$(cat "$dir/port") user=postgres dbname=postgres'
DAYSET_TEST_PG_HOST=127.0.0.1
DAYSET_TEST_PG_PORT=$(cat "$dir/port")
DAYSET_TEST_PG_LOGIN=dayset_job
DAYSET_TEST_PG_PASSWORD=$password
DAYSET_TEST_PG_TEMPLATE=dayset_tpl
ODBCINI=$dir/odbc.ini
ODBCSYSINI=$dir
DAYSET_TEST_ODBC_SLOTS=$slots
EOF
  )
}

cluster_stop() {
  local dir=$1 mode=$2
  [ -f "$dir/data/postmaster.pid" ] || return 0
  as_owner "$bindir/pg_ctl" -D "$dir/data" -m "$mode" -w -t 30 stop >/dev/null 2>&1 && return 0
  # Still there: end the postmaster of this cluster, by its own pid.
  local pid
  pid=$(head -n 1 "$dir/data/postmaster.pid" 2>/dev/null || true)
  [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
}

cmd=${1:-}
case "$cmd" in
  start)
    [ $# -eq 2 ] || die "usage: pg-cluster.sh start DIR"
    dir=$(realpath -m "$2")
    if [ -f "$dir/data/PG_VERSION" ]; then
      server_start "$dir" || { tail -n 20 "$dir/server.log" >&2; die "the server did not start"; }
    else
      cluster_new "$dir"
    fi
    ;;
  halt)
    [ $# -eq 2 ] || die "usage: pg-cluster.sh halt DIR"
    cluster_stop "$(realpath -m "$2")" immediate
    ;;
  stop)
    [ $# -eq 2 ] || die "usage: pg-cluster.sh stop DIR"
    dir=$(realpath -m "$2")
    [ -d "$dir" ] || exit 0
    # Only what this script made is removed.
    [ -f "$dir/.pg-cluster" ] || [ -z "$(ls -A "$dir")" ] || die "$dir does not look like a cluster of pg-cluster.sh"
    cluster_stop "$dir" fast
    rm -rf "$dir"
    ;;
  run)
    shift
    [ $# -ge 1 ] || die "usage: pg-cluster.sh run CMD..."
    dir=$(mktemp -d "${TMPDIR:-/tmp}/dayset-pg.XXXXXX")
    trap '"$top/tools/pg-cluster.sh" stop "$dir"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    "$top/tools/pg-cluster.sh" start "$dir"
    set -a
    # shellcheck disable=SC1091
    . "$dir/env"
    set +a
    status=0
    "$@" || status=$?
    exit "$status"
    ;;
  *)
    die "usage: pg-cluster.sh start DIR | halt DIR | stop DIR | run CMD..."
    ;;
esac
