#!/usr/bin/env bash
# Builds the Debian package tallyport_<version>_<arch>.deb into the checkout's
# top folder from the Release build in build/ that scripts/run.sh makes;
# install it with `apt install ./tallyport_*.deb`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
./scripts/install-deps.sh package
./scripts/run.sh --version   # builds, then only names the version
rm -rf build/package
cpack -G DEB --config build/CPackConfig.cmake -B build/package
cp build/package/tallyport_*.deb "$root/"
ls "$root"/tallyport_*.deb
