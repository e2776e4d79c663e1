#!/usr/bin/env bash
# Builds dayset and its tests in ./build and runs every test with ctest.
# Extra arguments go to ctest (e.g. -R Bak).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" -j"$(nproc)"
ctest --test-dir "$top/build" --output-on-failure -j"$(nproc)" "$@"
