#!/usr/bin/env bash
# Installs what is needed, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, compiles the Release build (program, tests,
# benchmarks), and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
./scripts/install-deps.sh
build=${TP_TEST_BUILD_DIR:-$root/build-test}
oracles=$(./scripts/oracles.sh "$build/oracles")
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTP_SANITIZE=ON \
  -DTP_BUILD_BENCH=OFF -DTP_ORACLES_DIR="$oracles"
cmake --build "$build" -j"$(nproc)"
# The README's Release build (program, tests and benchmarks) must compile too.
release=${TP_RELEASE_BUILD_DIR:-$root/build-release}
cmake -S . -B "$release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTP_BUILD_BENCH=ON
cmake --build "$release" -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 900
"$root/scripts/fuzz-smoke.sh"
