#!/usr/bin/env bash
# Holds every function of the product sources (app, convert, db, host,
# preview, ui; not the tests) to the cognitive-complexity bound of .clang-tidy,
# lambdas included. Lists each function above it and fails if there is one.
#   scripts/complexity-check.sh BUILD_DIR            every product source
#   scripts/complexity-check.sh BUILD_DIR --changed BASE
#                                    only the sources changed since BASE (git)
# BUILD_DIR is a configured build (it holds compile_commands.json).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:?usage: complexity-check.sh BUILD_DIR [--changed BASE]}
shift
tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
[ -n "$tidy" ] || { echo "complexity-check: clang-tidy-14 is missing" >&2; exit 1; }
[ -f "$build/compile_commands.json" ] || { echo "complexity-check: no compile_commands.json in $build" >&2; exit 1; }
dirs=(app convert db host preview ui)
if [ "${1:-}" = "--changed" ]; then
  base=${2:?usage: complexity-check.sh BUILD_DIR --changed BASE}
  mapfile -t files < <(git diff --name-only --diff-filter=d "$base" -- "${dirs[@]/%//*.cpp}")
else
  mapfile -t files < <(git ls-files -- "${dirs[@]/%//*.cpp}")
fi
[ ${#files[@]} -gt 0 ] || { echo "complexity-check: no sources to check"; exit 0; }
# Only this check, with the bound and options of .clang-tidy (which
# clang-tidy finds beside the sources); inline functions of our headers are
# checked through the sources that include them.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
status=0
printf '%s\0' "${files[@]}" |
  xargs -0 -P "$(nproc)" -I{} sh -c '"$1" -p "$2" --quiet --checks="-*,readability-function-cognitive-complexity" \
    --header-filter="$3" --extra-arg=-Wno-unknown-warning-option "$4" >"$5/$(printf %s "$4" | tr / _).log" 2>&1' \
    sh "$tidy" "$build" "^$root/(app|convert|db|host|preview|ui)/" {} "$logs" || status=$?
out=$logs/found
cat "$logs"/*.log | grep -E 'warning: .*cognitive complexity|error:' | sed "s|^$root/||" | sort -u >"$out" || true
threshold=$(grep -A1 'function-cognitive-complexity.Threshold' .clang-tidy | awk '/value:/ {print $2}')
if [ "$status" -ne 0 ] && ! grep -q 'error:' "$out"; then
  echo "complexity-check: clang-tidy failed (status $status)" >&2
  exit 1
fi
if [ -s "$out" ]; then
  cat "$out"
  echo "complexity-check: $(wc -l <"$out") function(s) above the bound of $threshold" >&2
  exit 1
fi
echo "complexity-check: ${#files[@]} sources, every function within the bound of $threshold"
