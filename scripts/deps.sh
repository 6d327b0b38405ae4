#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the window need, when
# any is missing. Runs apt-get as root, or through sudo for another user.
set -euo pipefail

packages=(
    cmake make g++ pkg-config
    qt6-base-dev libgl-dev libgtest-dev libbenchmark-dev
    python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest python3-pil
    python3-matplotlib poppler-utils
    python3-sphinx python3-myst-parser libjs-sphinxdoc
    fonts-dejavu-core
    desktop-file-utils appstream lintian help2man bash-completion dpkg-dev fakeroot man-db file
    libtbb-dev libpng-dev libcli11-dev nlohmann-json3-dev libopenmpi-dev openmpi-bin
    xvfb xauth imagemagick xdotool parallel
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    as_root=()
else
    as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
