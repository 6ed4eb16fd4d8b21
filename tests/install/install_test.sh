#!/usr/bin/env bash
# The library as an outside program gets it: the build installed into a temporary prefix, which is then
# moved (the installed files must not point back at the build or the source tree); tests/consumer built
# against it once through the CMake package and once through pkg-config, and run on an archive member,
# on a plain file and on a damaged archive.
#   install_test.sh <build dir> <consumer source> <cmake> [<toolchain file> <program that runs it>]
# With a toolchain (the Windows cross build) the consumer is cross-built and run under the given runner,
# from inside the data directory so that relative paths mean the same there.
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/check.sh"
build=$(realpath "$1")
consumer_source=$(realpath "$2")
cmake=$3
toolchain=${4:+$(realpath "$4")}
runner=${5:+$(realpath "$5")}
source_tree=$(realpath "$(dirname "${BASH_SOURCE[0]}")/../..")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

windows=no
exe=
[[ -n $toolchain ]] && windows=yes exe=.exe

# Bounded, whatever hangs: configure, build and install steps alike.
step() { timeout 240 "$@"; }

if ! step "$cmake" --install "$build" --prefix "$work/staged" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "install failed"
    exit 1
fi
mv "$work/staged" "$work/prefix"
prefix=$work/prefix

# What is installed where.
# "lib", or "lib/x86_64-linux-gnu" where the build was configured for /usr.
config=$(cd "$prefix" && find . -name GleanerQtConfig.cmake | head -n 1)
libdir=${config#./}
libdir=${libdir%/cmake/GleanerQt/GleanerQtConfig.cmake}
for file in include/filedriver/FileDriver.h include/filedriver/FilePath.h include/orva/exception.h \
    "$libdir/cmake/GleanerQt/GleanerQtConfig.cmake" "$libdir/cmake/GleanerQt/GleanerQtConfigVersion.cmake" \
    "$libdir/pkgconfig/gleanerqt-filedriver.pc" "bin/mca$exe"; do
    check "installed $file" yes "$([[ -f $prefix/$file ]] && echo yes)"
done
library=$(cd "$prefix" && ls "$libdir"/libgleanerqt-filedriver.* 2>/dev/null | tr '\n' ' ')
check "installed library" yes "$([[ -n $library ]] && echo yes)"
check "no platform half among the headers" "" "$(cd "$prefix/include" && find . -path '*/posix/*' -o -path '*/win32/*')"
check "no source file among the headers" "" "$(cd "$prefix/include" && find . -type f ! -name '*.h')"
check "nothing installed names the build tree" "" \
    "$(grep -rlF "$source_tree" "$prefix/$libdir/cmake" "$prefix/$libdir/pkgconfig" "$prefix/include" 2>/dev/null)"
if [[ $windows == no && -e $prefix/$libdir/libgleanerqt-filedriver.so ]]; then
    # "libgleanerqt-filedriver.so.0.2": the name a program records, from the project's version.
    soname=$(readelf -d "$prefix/$libdir/libgleanerqt-filedriver.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    check "shared library: versioned soname" yes "$([[ $soname =~ ^libgleanerqt-filedriver\.so\.[0-9] ]] && echo yes)"
    check "shared library: soname installed" yes "$([[ -f $prefix/$libdir/$soname ]] && echo yes)"
    exported=$(nm -DC --defined-only "$prefix/$libdir/libgleanerqt-filedriver.so")
    check "shared library: exports the driver" yes \
        "$(grep -q 'filedriver::FileDriver::FileDriver' <<<"$exported" && echo yes)"
fi
if [[ $windows == yes ]]; then
    check "zlib1.dll beside the programs" yes "$([[ -f $prefix/bin/zlib1.dll ]] && echo yes)"
fi
if [[ $windows == yes && -e $prefix/bin/libgleanerqt-filedriver.dll ]]; then
    check "DLL: import library installed" yes "$([[ -f $prefix/$libdir/libgleanerqt-filedriver.dll.a ]] && echo yes)"
fi
if [[ $windows == no && -e $build/bin/GleanerQt ]]; then
    check "launcher installed with its engine" yes \
        "$([[ -x $prefix/$libdir/gleanerqt/GleanerQt && -f $prefix/$libdir/gleanerqt/libdataGleaner.so ]] && echo yes)"
    check "launcher on the path" "$prefix/$libdir/gleanerqt/GleanerQt" "$(readlink -f "$prefix/bin/GleanerQt")"
    # Started through the link, it finds its engine and makes "import" beside its real self.
    mkdir -p "$work/xdg" "$work/runtime"
    chmod 700 "$work/runtime"
    out=$(XDG_CONFIG_DIRS=$work/xdg XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=offscreen \
        timeout 60 "$prefix/bin/GleanerQt")
    check "installed launcher runs the engine" "dataGleaner: import $prefix/$libdir/gleanerqt/import (0 files)" "$out"
    check "desktop entry installed" yes "$([[ -f $prefix/share/applications/gleanerqt.desktop ]] && echo yes)"
    if command -v desktop-file-validate >/dev/null; then
        check "desktop entry valid" "" "$(desktop-file-validate "$prefix/share/applications/gleanerqt.desktop" 2>&1)"
    else
        echo "desktop-file-validate is missing: the desktop entry is not validated"
    fi
fi
if [[ $windows == yes && -e $build/bin/GleanerQt.exe ]]; then
    check "launcher installed with its engine" yes \
        "$([[ -f $prefix/bin/GleanerQt.exe && -f $prefix/bin/dataGleaner.dll ]] && echo yes)"
fi

# The data, and an archive of it made with the installed mca: members across many blocks, compressed
# and not, and a damaged copy whose header no longer holds.
data=$work/data
mkdir -p "$data"
cd "$data" || exit 1
head -c 150000 /dev/urandom >random.bin
seq 1 40000 >numbers.txt
cp "$prefix/bin/"*.dll "$data/" 2>/dev/null
if ! $runner "$prefix/bin/mca$exe" pack --block-size 4096 maps.mca random.bin numbers.txt >mca.log 2>&1; then
    cat mca.log
    echo "the installed mca cannot pack"
    exit 1
fi
cp maps.mca damaged.mca
printf '\xff' | dd of=damaged.mca bs=1 seek=0 conv=notrunc status=none

# Builds the consumer in <dir> with the extra configure arguments given; answers whether that worked.
build_consumer() {
    local dir=$1
    shift
    cp -r "$consumer_source" "$work/source-$dir"
    if ! step "$cmake" -S "$work/source-$dir" -B "$work/$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF "$@" >"$work/$dir.log" 2>&1 ||
        ! step "$cmake" --build "$work/$dir" >>"$work/$dir.log" 2>&1; then
        cat "$work/$dir.log"
        return 1
    fi
    # The consumer's build must have come from the prefix alone.
    check "$dir: nothing from the source tree" "" "$(grep -lF "$source_tree" "$work/$dir/build.ninja")"
    cp "$prefix/bin/"*.dll "$work/$dir/" 2>/dev/null
    return 0
}

run_consumer() {
    local dir=$1 label=$2
    shift 2
    $runner "$work/$dir/consumer$exe" "$@" >"$work/out.txt" 2>"$work/err.txt"
    rc=$?
    out=$(tr -d '\r' <"$work/out.txt")
    check "$dir: $label: exit code" 0 "$rc"
}

consumer_runs() {
    local dir=$1
    run_consumer "$dir" "member" maps.mca/random.bin random.bin
    check "$dir: member: bytes" "same 150000 bytes" "$out"
    run_consumer "$dir" "second member" maps.mca/numbers.txt numbers.txt
    check "$dir: second member: bytes" "same $(wc -c <numbers.txt | tr -d ' ') bytes" "$out"
    run_consumer "$dir" "plain file" numbers.txt numbers.txt
    check "$dir: plain file: bytes" "same $(wc -c <numbers.txt | tr -d ' ') bytes" "$out"
    # The library's exception reaches the outside program as the type it catches, with its kind.
    $runner "$work/$dir/consumer$exe" damaged.mca/random.bin random.bin >/dev/null 2>"$work/err.txt"
    check "$dir: damaged archive: exit code" 1 "$?"
    check "$dir: damaged archive: the library's message" yes \
        "$(grep -q '^consumer: orvana exception: ' "$work/err.txt" && echo yes)"
    check "$dir: damaged archive: its kind" "consumer: kind Unsupported" "$(tr -d '\r' <"$work/err.txt" | tail -n 1)"
    $runner "$work/$dir/consumer$exe" maps.mca/missing.bin random.bin >/dev/null 2>"$work/err.txt"
    check "$dir: missing member: its kind" "consumer: kind NotFound" "$(tr -d '\r' <"$work/err.txt" | tail -n 1)"
}

if [[ $windows == yes ]]; then
    # A copy of the project's toolchain, with the prefix among the roots it searches.
    cp "$toolchain" "$work/cross.cmake"
    cat >"$work/toolchain.cmake" <<EOF
include("$work/cross.cmake")
list(APPEND CMAKE_FIND_ROOT_PATH "$prefix")
EOF
    # Against the DLL, the program takes the shared C++ run-time as the DLL does (the toolchain's rule).
    shared=()
    [[ -e $prefix/bin/libgleanerqt-filedriver.dll ]] && shared=(-DBUILD_SHARED_LIBS=ON)
    if build_consumer package -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_PREFIX_PATH=/ "${shared[@]}"; then
        consumer_runs package
    else
        check "package: consumer builds" 0 1
    fi
    mingw_pc=$(dirname "$(find /usr/i686-w64-mingw32/lib -name zlib.pc | head -n 1)")
    if PKG_CONFIG_LIBDIR="$prefix/$libdir/pkgconfig:$mingw_pc" build_consumer pkg-config \
        -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCONSUMER_PKG_CONFIG=ON "${shared[@]}"; then
        consumer_runs pkg-config
    else
        check "pkg-config: consumer builds" 0 1
    fi
else
    if PKG_CONFIG_PATH= build_consumer package -DCMAKE_PREFIX_PATH="$prefix"; then
        consumer_runs package
    else
        check "package: consumer builds" 0 1
    fi
    if PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" build_consumer pkg-config -DCONSUMER_PKG_CONFIG=ON; then
        consumer_runs pkg-config
    else
        check "pkg-config: consumer builds" 0 1
    fi
fi
summary install_test
