#!/usr/bin/env bash
# Installs the Debian 12 packages that are missing for building (and, with "test",
# for running the tests). Nothing is installed when everything is present.
set -euo pipefail

build_packages=(
    cmake ninja-build g++ pkg-config ccache
    qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-multimedia-dev
    libxml2-dev libxss-dev libgl-dev
    libgsf-1-dev
)
test_packages=(
    libgtest-dev libgmock-dev
    python3 python3-olefile libgsf-bin libxml2-utils
    xvfb xauth fonts-dejavu-core zlib1g-dev
)

wanted=("${build_packages[@]}")
if [ "${1:-}" = "test" ]; then
    wanted+=("${test_packages[@]}")
fi

missing=()
for p in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
else
    echo "These packages are missing and this user can neither install them nor use sudo: ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
