#!/usr/bin/env bash
# The Debian package that `cpack -G DEB` makes of a Linux build: its file list (dpkg-deb --contents), the
# run-time libraries it depends on, and the desktop entry it carries.
#   deb_test.sh <build dir> <cpack>
# Skipped (77) where dpkg-deb is missing.
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/check.sh"
build=$(realpath "$1")
cpack=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! command -v dpkg-deb >/dev/null; then
    echo "dpkg-deb is missing: the package is not checked"
    exit 77
fi
if ! (cd "$work" && timeout 240 "$cpack" -G DEB -B "$work/out" --config "$build/CPackConfig.cmake") >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "cpack failed"
    exit 1
fi
deb=$(ls "$work"/out/*.deb 2>/dev/null | head -n 1)
check "one package made" yes "$([[ -n $deb && -f $deb ]] && echo yes)"
[[ -n $deb ]] || { summary deb_test; exit 1; }

contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
has() { grep -qxF "$1" <<<"$contents" && echo yes; }
has_like() { grep -qE "$1" <<<"$contents" && echo yes; }
check "header" yes "$(has_like '^\./usr/include/filedriver/FileDriver\.h$')"
check "library" yes "$(has_like '^\./usr/lib/(.*/)?libgleanerqt-filedriver\.(a|so)$')"
check "package config" yes "$(has_like '^\./usr/lib/(.*/)?cmake/GleanerQt/GleanerQtConfig\.cmake$')"
check "package version file" yes "$(has_like '^\./usr/lib/(.*/)?cmake/GleanerQt/GleanerQtConfigVersion\.cmake$')"
check "package targets" yes "$(has_like '^\./usr/lib/(.*/)?cmake/GleanerQt/GleanerQtTargets\.cmake$')"
check "pkg-config file" yes "$(has_like '^\./usr/lib/(.*/)?pkgconfig/gleanerqt-filedriver\.pc$')"
check "mca" yes "$(has ./usr/bin/mca)"
check "nothing outside /usr" "" "$(grep -vE '^\./(usr(/.*)?)?$' <<<"$contents")"

depends=$(dpkg-deb --field "$deb" Depends)
check "depends on zlib" yes "$(grep -qE '(^|, )zlib1g( |,|$)' <<<"$depends" && echo yes)"
mkdir -p "$work/root"
dpkg-deb -x "$deb" "$work/root"
# What the tool links, the package must depend on.
needed=$(readelf -d "$work/root/usr/bin/mca" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
if grep -q '^libdeflate' <<<"$needed"; then
    check "depends on libdeflate" yes "$(grep -qE '(^|, )libdeflate0( |,|$)' <<<"$depends" && echo yes)"
fi
if grep -q '^libfuse3' <<<"$needed"; then
    check "depends on libfuse3" yes "$(grep -qE '(^|, )libfuse3-3( |,|$)' <<<"$depends" && echo yes)"
fi

if [[ -e $build/bin/GleanerQt ]]; then
    check "launcher" yes "$(has_like '^\./usr/lib/(.*/)?gleanerqt/GleanerQt$')"
    check "engine beside the launcher" yes "$(has_like '^\./usr/lib/(.*/)?gleanerqt/libdataGleaner\.so$')"
    check "launcher on the path" yes "$([[ -L $work/root/usr/bin/GleanerQt && -x $work/root/usr/bin/GleanerQt ]] && echo yes)"
    check "desktop entry" yes "$(has ./usr/share/applications/gleanerqt.desktop)"
    check "depends on Qt" yes "$(grep -qE '(^|, )libqt[56]widgets[56]' <<<"$depends" && echo yes)"
    if command -v desktop-file-validate >/dev/null; then
        check "desktop entry valid" "" "$(desktop-file-validate "$work/root/usr/share/applications/gleanerqt.desktop" 2>&1)"
        check "desktop entry starts the launcher" "Exec=GleanerQt" \
            "$(grep '^Exec=' "$work/root/usr/share/applications/gleanerqt.desktop")"
    else
        echo "desktop-file-validate is missing: the desktop entry is not validated"
    fi
fi
summary deb_test
