#!/usr/bin/env bash
# Installs what the build needs and is missing, from Debian's packages. Safe to run again.
#   scripts/setup.sh linux   the native build: compiler, CMake, Qt, zlib, GoogleTest, Xvfb
#   scripts/setup.sh all     that and the 32-bit Windows cross build with Wine
#   scripts/setup.sh bench   the native build and the benchmark's libraries
#   scripts/setup.sh fuzz    the native build and clang's libFuzzer
set -euo pipefail

want=${1:-all}
packages=(cmake ninja-build g++ pkg-config zlib1g-dev libdeflate-dev googletest libcli11-dev xvfb xauth xdotool)
if [[ $want == all ]]; then
    packages+=(g++-mingw-w64-i686 libz-mingw-w64-dev wine wine32:i386)
fi
if [[ $want == bench ]]; then
    packages+=(libbenchmark-dev libzip-dev libphysfs-dev squashfs-tools)
fi
if [[ $want == fuzz || $want == all ]]; then
    packages+=(clang libclang-rt-14-dev)
fi

as_root() {
    if [[ $(id -u) == 0 ]]; then "$@"; else sudo "$@"; fi
}

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

updated=no
update_once() {
    if [[ $updated == no ]]; then
        as_root apt-get update -q
        updated=yes
    fi
}

if [[ $want == all ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    update_once
fi

# Qt 6 where Debian has it, else Qt 5.15.
if ! installed qt6-base-dev && ! installed qtbase5-dev; then
    update_once
    if apt-cache policy qt6-base-dev | grep -q 'Candidate: (none)' || ! apt-cache show qt6-base-dev >/dev/null 2>&1; then
        packages+=(qtbase5-dev)
    else
        packages+=(qt6-base-dev)
    fi
fi

missing=()
for package in "${packages[@]}"; do
    installed "$package" || missing+=("$package")
done
if ((${#missing[@]})); then
    update_once
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
