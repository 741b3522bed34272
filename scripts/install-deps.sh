#!/usr/bin/env bash
# Installs what Tallyport needs on Debian 12 (as root):
#   install-deps.sh run       building and running (scripts/run.sh)
#   install-deps.sh package   that and making the .deb (scripts/package.sh)
#   install-deps.sh           everything, the tests' tools too (scripts/test.sh)
set -euo pipefail
run=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libxkbcommon-dev libssl-dev libuchardet-dev fonts-liberation
)
package=(dpkg-dev file)
test=(
  clang clang-tidy-14 libclang-rt-14-dev libgtest-dev libgmock-dev googletest libbenchmark-dev nlohmann-json3-dev
  mdbtools python3-dbfread python3-dbf nodejs pgdbf
  xvfb xauth
  desktop-file-utils appstream man-db groff-base bash-completion
)
case "${1:-all}" in
  run) pkgs=("${run[@]}") ;;
  package) pkgs=("${run[@]}" "${package[@]}") ;;
  all) pkgs=("${run[@]}" "${package[@]}" "${test[@]}") ;;
  *) echo "usage: $0 [run|package]" >&2; exit 2 ;;
esac
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
