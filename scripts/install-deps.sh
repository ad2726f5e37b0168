#!/usr/bin/env bash
# Installs the Debian packages the SDK needs to build, test and run its
# samples. Does nothing when they are all present; otherwise needs root (or
# sudo) and the Debian package archive.
set -euo pipefail

packages=(
    cmake ninja-build g++ make pkg-config binutils clang-format git
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libgl-dev libglu1-mesa-dev libegl-dev libegl-mesa0 libgl1-mesa-dri freeglut3-dev
    xvfb xauth x11-utils xdotool libx11-dev libpugixml-dev gnuplot-nox
    libembree-dev libbullet-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
