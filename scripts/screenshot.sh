#!/usr/bin/env bash
# Starts the window under Xvfb, optionally clicks a button (by its name in the
# control table), waits, and writes a PNG of the screen, which the window
# fills exactly.
#   scripts/screenshot.sh OUT.png [BUTTON] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:?usage: scripts/screenshot.sh OUT.png [BUTTON] [SECONDS]}")
button=${2:-}
wait_s=${3:-3}
[ -x build/ui/veltrane ] || { bash scripts/deps.sh && bash scripts/build.sh; }
export VELTRANE_CLICK="$button"
xvfb-run -a -s "-screen 0 956x806x24" bash -c '
    build/ui/veltrane & pid=$!
    sleep '"$wait_s"'
    import -window root "'"$out"'"
    kill $pid 2>/dev/null || true
'
echo "wrote $out"
