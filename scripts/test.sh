#!/usr/bin/env bash
# The test command (CI runs it): installs what is needed, compiles the Release
# build (program, tests, benchmarks), builds with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs the whole test suite
# (scripts/build-and-test.sh), holds every function to the complexity bound
# of .clang-tidy (scripts/complexity-check.sh), then a short fuzzing run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
./scripts/install-deps.sh
# The tests compare our files with these independent readers; without them
# those comparisons would be skipped, so a run without them fails here.
for tool in mdb-ver mdb-export mdb-schema node; do
  command -v "$tool" >/dev/null || { echo "test.sh: $tool is missing" >&2; exit 1; }
done
/usr/bin/python3 -c 'import dbfread' || { echo "test.sh: python3-dbfread is missing" >&2; exit 1; }
# The README's Release build (program, tests and benchmarks) must compile too.
release=${TP_RELEASE_BUILD_DIR:-$root/build-release}
cmake -S . -B "$release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTP_BUILD_BENCH=ON
cmake --build "$release" -j"$(nproc)"
./scripts/build-and-test.sh
./scripts/complexity-check.sh "${TP_TEST_BUILD_DIR:-$root/build-test}"
"$root/scripts/fuzz-smoke.sh"
