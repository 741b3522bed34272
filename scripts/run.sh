#!/usr/bin/env bash
# Installs what building and running need, builds, and starts Tallyport (the
# main window when there is a display).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
./scripts/install-deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTP_BUILD_TESTS=OFF
cmake --build build -j"$(nproc)"
exec ./build/tallyport "$@"
