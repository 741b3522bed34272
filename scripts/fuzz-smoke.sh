#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in their own build folder and runs each for a
# few seconds over seeds made from the shared corpus. Any crash, leak, hang or
# oversized allocation fails the script and leaves the input in the build
# folder (crash-*, leak-*, timeout-*, oom-*).
#   scripts/fuzz-smoke.sh [seconds-per-target]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
secs=${1:-5}
build=${TP_FUZZ_BUILD_DIR:-$root/build-fuzz}
corpus=${TP_CORPUS_DIR:-$root/../shared/corpus}
if ! command -v clang++ >/dev/null; then
  echo "fuzz-smoke: clang++ not found; fuzz targets not run" >&2
  exit 1
fi
targets=(dbf dbc cdx jet jet_password check crypto sql)
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTP_BUILD_FUZZ=ON -DTP_BUILD_TESTS=OFF -DTP_BUILD_BENCH=OFF -DTP_BUILD_GUI=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}" fuzz_make_seeds
rm -rf "$build/smoke"
"$root/fuzz/seeds.sh" "$build/smoke/seeds" "$corpus" "$build/fuzz/fuzz_make_seeds" 2>/dev/null
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1
failed=0
for t in "${targets[@]}"; do
  mkdir -p "$build/smoke/new-$t"
  if "$build/fuzz/fuzz_$t" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$build/smoke/$t-" "$build/smoke/new-$t" "$build/smoke/seeds/$t" \
       >"$build/smoke/$t.log" 2>&1; then
    echo "fuzz_$t: $(grep -o 'Done [0-9]* runs' "$build/smoke/$t.log" | tail -n1)"
  else
    echo "fuzz_$t FAILED (log: $build/smoke/$t.log)" >&2
    grep -A30 'ERROR:\|runtime error' "$build/smoke/$t.log" | head -n 40 >&2 || true
    failed=1
  fi
done
exit $failed
