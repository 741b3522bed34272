#!/usr/bin/env bash
# Makes a writable copy of the independent readers (../shared/tools/oracles)
# with their npm packages installed; prints its path.
set -euo pipefail
src=${TP_SHARED_DIR:-$(cd "$(dirname "$0")/../.." && pwd)/shared}/tools/oracles
dest=${1:?usage: oracles.sh DEST}
mkdir -p "$dest"
cp -f "$src"/*.mjs "$src"/*.py "$src"/*.sh "$src"/package.json "$src"/package-lock.json "$dest"/ 2>/dev/null || true
if [ ! -d "$dest/node_modules/mdb-reader" ] || ! cmp -s "$src/package-lock.json" "$dest/.installed-lock"; then
  (cd "$dest" && npm ci --no-audit --no-fund --loglevel=error >&2 && cp package-lock.json .installed-lock)
fi
echo "$dest"
