#!/usr/bin/env bash
# Installs what is missing, builds into build/ (or $BUILD_DIR) and makes the
# Debian package there: build/veltrane_VERSION_ARCH.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
bash scripts/deps.sh
bash scripts/build.sh
rm -f "$build_dir"/veltrane_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
left_out=$(cat "$build_dir/packaging-left-out.txt" 2>/dev/null || true)
if [ -n "${left_out//[[:space:]]/}" ]; then
    echo "The package leaves out:"
    sed '/^$/d; s/^/  - /' <<<"$left_out"
fi
echo "wrote $(ls "$build_dir"/veltrane_*.deb)"
