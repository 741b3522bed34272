#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12 (as root).
set -euo pipefail
pkgs=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev libxkbcommon-dev
  libssl-dev libgtest-dev libgmock-dev googletest libbenchmark-dev nlohmann-json3-dev
  mdbtools python3-dbfread python3-dbf nodejs pgdbf
  xvfb xauth fonts-liberation
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
