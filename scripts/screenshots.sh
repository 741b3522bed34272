#!/usr/bin/env bash
# Takes the screenshots under docs/ from a real X server (Xvfb): the main
# window after both sample buttons, and the Advanced Options window.
#   scripts/screenshots.sh [BUILD_DIR]      (needs xdotool and imagemagick)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
if [ -z "${TP_IN_XVFB:-}" ]; then
  TP_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build"
fi
cfg=$(mktemp -d)
trap 'rm -rf "$cfg"' EXIT
export XDG_CONFIG_HOME=$cfg
"$build/tallyport" &
pid=$!
for _ in $(seq 50); do
  win=$(xdotool search --name '^Tallyport$' 2>/dev/null | head -1 || true)
  [ -n "$win" ] && break
  sleep 0.2
done
[ -n "$win" ] || { echo "the main window did not appear" >&2; kill $pid; exit 1; }
sleep 1
click() {  # a point of the main window, in pixels of its client area
  xdotool mousemove --window "$win" "$1" "$2" click 1
  sleep 0.7
}
click 140 105   # Load Sample/Example Database (source)
click 266 239   # Load Sample/Example Database (target)
xdotool mousemove --window "$win" 300 362   # over Start Converting
sleep 1
import -window "$win" "$root/docs/main-window.png"
click 491 105   # dbc
opt=$(xdotool search --name '^Advanced Options$' | head -1)
import -window "$opt" "$root/docs/advanced-options.png"
kill $pid
