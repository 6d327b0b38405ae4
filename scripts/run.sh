#!/usr/bin/env bash
# Installs what is missing, builds and starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: set DISPLAY (or use scripts/screenshot.sh OUT.png for a picture under Xvfb)." >&2
    exit 1
fi
exec build/ui/veltrane
