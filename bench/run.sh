#!/usr/bin/env bash
# Builds an optimised dayset and runs the whole-job benchmark for demo
# installations of 1,000 and 10,000 persons (or the sizes given).
#   bench/run.sh [PERSONS ...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/deps.sh"
cmake -S "$top" -B "$top/build-bench" -DCMAKE_BUILD_TYPE=Release -DDAYSET_TESTS=OFF >/dev/null
cmake --build "$top/build-bench" -j"$(nproc)" --target dayset-bench dayset-demo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000)
for n in "${sizes[@]}"; do
  "$top/build-bench/dayset-bench" "$n" "$work/demo-$n" 2>/dev/null
done
