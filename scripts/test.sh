#!/usr/bin/env bash
# The test command (CI runs it): installs what is needed, compiles the Release
# build (program, tests, benchmarks), builds with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs the whole test suite
# (scripts/build-and-test.sh), then a short fuzzing run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
./scripts/install-deps.sh
# The README's Release build (program, tests and benchmarks) must compile too.
release=${TP_RELEASE_BUILD_DIR:-$root/build-release}
cmake -S . -B "$release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTP_BUILD_BENCH=ON
cmake --build "$release" -j"$(nproc)"
./scripts/build-and-test.sh
"$root/scripts/fuzz-smoke.sh"
