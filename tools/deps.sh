#!/usr/bin/env bash
# Installs the Debian packages that building and testing dayset need, when
# they are missing. Run as root (or with sudo available); prints what it does.
set -euo pipefail
# dpkg-dev and file: the Debian package's dependencies (dpkg-shlibdeps);
# man-db: the manual page test; chromium: the year view's browser test;
# systemd: systemd-analyze, which checks the units of the nightly run;
# prometheus: promtool, which checks the metrics file; python3-jsonschema:
# the check of the run report against its schema; unixodbc-dev (found
# through pkgconf) and odbc-postgresql: the ODBC backend and its tests
# (psqlODBC).
packages=(cmake g++ make libsqlite3-dev sqlite3 libgtest-dev libgmock-dev libpq-dev postgresql
          dpkg-dev file man-db chromium systemd prometheus python3-jsonschema pkgconf unixodbc-dev
          odbc-postgresql)
packages+=("$@")  # and those a caller names (fuzz/run.sh: clang)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
