#!/usr/bin/env bash
# Installs what the build needs and is missing, from Debian's packages. Safe to run again.
#   scripts/setup.sh linux   the native build: compiler, CMake, Qt, zlib, libcurl, GoogleTest, Xvfb, nginx
#   scripts/setup.sh all     that and the 32-bit Windows cross build with Wine and its installer package
#   scripts/setup.sh bench   the native build, the benchmark's libraries and the Windows cross build
#   scripts/setup.sh fuzz    the native build and clang's libFuzzer
# The Windows build also needs libdeflate's source, which Debian packages for Linux only: it is taken
# from Debian's source package of the version the Linux build links, into build/deps/libdeflate.
set -euo pipefail

want=${1:-all}
packages=(cmake ninja-build g++ pkg-config zlib1g-dev libdeflate-dev googletest libcli11-dev xvfb xauth xdotool
    libfuse3-dev fuse3 desktop-file-utils dpkg-dev libcurl4-openssl-dev nginx-light openssl)
windows=no
if [[ $want == all || $want == bench ]]; then
    windows=yes
    packages+=(g++-mingw-w64-i686 libz-mingw-w64-dev wine wine32:i386 dpkg-dev make)
    # The installer package: wixl and msibuild, and the icon made from the SVG.
    packages+=(wixl msitools librsvg2-bin icoutils)
fi
if [[ $want == bench ]]; then
    packages+=(libbenchmark-dev libzip-dev libphysfs-dev squashfuse squashfs-tools httpfs2)
fi
if [[ $want == fuzz || $want == all ]]; then
    packages+=(clang libclang-rt-14-dev)
fi

source "$(dirname "$0")/apt.sh"

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

updated=no
update_once() {
    if [[ $updated == no ]]; then
        apt_update
        updated=yes
    fi
}

if [[ $windows == yes ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
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
    apt_install "${missing[@]}"
fi

# libdeflate's source for the Windows build, through an apt state of our own under build/deps/apt (the
# system's lists stay as they are). Kept while its version is the one libdeflate-dev has.
fetch_libdeflate_source() {
    local deps
    deps=$(cd "$(dirname "$0")/.." && pwd)/build/deps
    # "libdeflate=1.14-1": the source package and version of the binary package installed.
    local wanted
    wanted=$(dpkg-query -W -f='${source:Package}=${source:Version}' libdeflate-dev)
    if [[ -f $deps/libdeflate/.debian-version && $(<"$deps/libdeflate/.debian-version") == "$wanted" ]]; then
        return
    fi
    # The mirror and suite the installed version came from: "500 http://deb.debian.org/debian bookworm/main amd64 Packages".
    local origin
    origin=$(apt-cache policy libdeflate-dev | awk '/^ \*\*\* /{mine=1; next} /^ +[^ ]+ [0-9]+$/{mine=0} mine && $2 ~ /:\/\//{print $2, $3; exit}')
    if [[ -z $origin ]]; then
        echo "setup: cannot tell which mirror libdeflate-dev ($wanted) came from" >&2
        return 1
    fi
    local uri=${origin% *} suite=${origin#* }
    local apt=$deps/apt
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d"
    echo "deb-src $uri ${suite%%/*} ${suite#*/}" > "$apt/sources.list"
    local options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
                   -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o APT::Sandbox::User=root)
    apt_update "${options[@]}"
    rm -rf "$deps/unpack"
    mkdir -p "$deps/unpack"
    (cd "$deps/unpack" && apt-get "${options[@]}" source -q "$wanted")
    local unpacked
    unpacked=$(find "$deps/unpack" -mindepth 1 -maxdepth 1 -type d -name 'libdeflate-*')
    rm -rf "$deps/libdeflate"
    mv "$unpacked" "$deps/libdeflate"
    echo "$wanted" > "$deps/libdeflate/.debian-version"
    rm -rf "$deps/unpack"
}

if [[ $windows == yes ]]; then
    fetch_libdeflate_source
fi
