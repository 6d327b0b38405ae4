#!/usr/bin/env bash
# Starts the window under Xvfb, optionally clicks a button (by its name in the
# control table) with a real mouse click, waits, and writes a PNG of the
# screen, which the window fills exactly.
#   scripts/screenshot.sh OUT.png [BUTTON] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:?usage: scripts/screenshot.sh OUT.png [BUTTON] [SECONDS]}")
button=${2:-}
wait_s=${3:-3}
[ -x build/ui/veltrane ] && command -v xdotool >/dev/null || { bash scripts/deps.sh && bash scripts/build.sh; }

# The centre of the button, in window coordinates, from the control table.
at=""
if [ -n "$button" ]; then
    at=$(perl -0ne 'print int($1 + $3 / 2), " ", int($2 + $4 / 2)
            if /\{"\Q'"$button"'\E", Kind::Button, "",.*?(\d+),\s*(\d+),\s*(\d+),\s*(\d+)\}/s' \
            ui/controls.cpp)
    [ -n "$at" ] || { echo "There is no button named $button." >&2; exit 1; }
fi

xvfb-run -a -s "-screen 0 956x806x24" bash -c '
    set -e
    build/ui/veltrane & pid=$!
    window=$(xdotool search --sync --onlyvisible --name "^ABC of 2-Neuron-Network" | head -n 1)
    if [ -n "$1" ]; then
        xdotool mousemove --window "$window" $1 click 1
    fi
    sleep "$2"
    import -window root "$3"
    kill $pid 2>/dev/null || true
' screenshot "$at" "$wait_s" "$out"
echo "wrote $out"
