#!/usr/bin/env bash
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs the
# whole test suite, installing nothing: what a developer runs after a change
# (the packages of scripts/install-deps.sh must be there).
#   scripts/build-and-test.sh [ctest arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${TP_TEST_BUILD_DIR:-$root/build-test}
oracles=$(./scripts/oracles.sh "$build/oracles")
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTP_SANITIZE=ON \
  -DTP_BUILD_BENCH=OFF -DTP_ORACLES_DIR="$oracles"
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 900 "$@"
