#!/usr/bin/env bash
# Builds dayset, creates a demo installation (default ./demo, made anew) and
# runs the job on it for the year after the current one; then shows what the
# run did: rows per table and DAYSET.LOG.
#   tools/run-demo.sh [DIR] [PERSONS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
demo=${1:-$top/demo}
persons=${2:-300}
"$top/tools/deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" -j"$(nproc)" --target dayset dayset-demo dayset-conf
rm -rf "$demo"
"$top/build/dayset-demo" --persons "$persons" "$demo"
year=$(( $(date +%Y) + 1 ))
echo "running: dayset 0 $year dayset.ini 0 0   (in $demo)"
status=0
(cd "$demo" && time "$top/build/dayset" 0 "$year" dayset.ini 0 0) || status=$?
echo "exit status: $status"
echo
echo "rows per table:"
for t in Hrs133Bak Hrs133Kal Hrs133Ka2 Hrs300Pnr Hrs310Bsv Hrs311Zuo Hrs327Tag Hrs329Ztg Hrs332Urv; do
  printf '  %-10s %s\n' "$t" "$(sqlite3 "$demo/HRSYSTEM.db" "select count(*) from $t")"
done
echo "  base calendar: $(sqlite3 "$demo/HRSYSTEM.db" "select date(min(BakDtm)) || ' .. ' || date(max(BakDtm)) from Hrs133Bak")"
echo
echo "DAYSET.LOG ($(wc -l < "$demo/DAYSET.LOG") lines, first 20):"
head -n 20 "$demo/DAYSET.LOG" | iconv -f WINDOWS-1252 -t UTF-8 | sed 's/^/  /'
exit "$status"
