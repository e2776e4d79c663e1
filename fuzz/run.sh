#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UBSan) in
# ./build-fuzz and runs each for SECONDS (default 20), one after the other,
# on a scratch corpus seeded from fuzz/corpus/TARGET. Further arguments name
# the targets to run (default: all). Prints one line per target with its
# executions; exit status 1 when a target found a crash, whose input is left
# in build-fuzz/findings/ (keep it as a regression test once fixed).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
secs=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(ini blowfish sqlparse oradate args pg_translate)
"$top/tools/deps.sh" clang-14 libclang-rt-14-dev
out="$top/build-fuzz"
cmake -S "$top" -B "$out" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDAYSET_FUZZ=ON -DDAYSET_TESTS=OFF >/dev/null
cmake --build "$out" -j"$(nproc)" --target "${targets[@]/#/fuzz_}" >/dev/null
mkdir -p "$out/findings"
failed=0
for t in "${targets[@]}"; do
  work="$out/corpus/$t"
  mkdir -p "$work"
  log="$out/fuzz_$t.log"
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$out/fuzz/fuzz_$t" -max_total_time="$secs" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$out/findings/$t-" "$work" "$top/fuzz/corpus/$t" >"$log" 2>&1; then
    result=clean
  else
    result="FOUND (see $log)"
    failed=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  printf '%-12s %4ss %12s executions  %s\n' "$t" "$secs" "${runs:-?}" "$result"
done
exit $failed
