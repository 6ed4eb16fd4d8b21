#!/usr/bin/env bash
# The Windows installer package as a user meets it, under Wine in a prefix of this test's own: installed
# silently for the user, its files, shortcut, PATH and entry among the installed programs checked, the
# installed GleanerQt.exe and mca.exe run, the same version installed again, a higher version built from
# the same WiX source installed over it, an older one refused, and everything removed again but the
# "import" directory and the other product's "Atlas" setting; then the same for the whole machine, and
# into a folder of the user's choosing.
#   msi_test.sh <msi> <version> <settings.cmake> <BuildMsi.cmake> <cmake> <objdump>
# Exits 77 (skipped) where the package was not built or Wine is missing.
set -uo pipefail

msi=$1 version=$2 settings=$3 build_msi=$4 cmake=$5 objdump=$6
if [[ ! -f $msi ]]; then
    echo "skipped: no installer package was built ($msi); see the configure step's 'No installer package' line"
    exit 77
fi
if ! command -v wine >/dev/null; then
    echo "skipped: wine is not installed"
    exit 77
fi

source "$(dirname "${BASH_SOURCE[0]}")/../support/check.sh"
work=$(mktemp -d)
# Wine in a prefix of its own, with no display and nothing added to the desktop's menus; its shell
# folders point into the test's directory, not into the home directory.
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all HOME=$work/home
export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$HOME"
cleanup() {
    timeout 60 wineserver -k 2>/dev/null
    timeout 60 wineserver -w 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

w() { timeout 120 wine "$@"; }
# A console program's output without the CRs of the C runtime's text mode.
run() { w "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }
# msiexec's exit code; its log is kept in $work/msiexec.log and shown when it is not the expected one.
msiexec_() {
    local expected=$1 rc
    shift
    timeout 300 wine msiexec "$@" /qn /l*v "$(winpath "$work/msiexec.log")" >/dev/null 2>&1; rc=$?
    if [[ $rc != "$expected" ]]; then
        tr -d '\0\r' <"$work/msiexec.log" | grep -iE 'error|fail|return value 3' | head -n 20
    fi
    return "$rc"
}
# The session ends, so that the next program sees the registry's environment afresh.
new_session() {
    timeout 60 wineserver -k 2>/dev/null
    timeout 60 wineserver -w
}
winpath() { timeout 60 winepath -w "$1" 2>/dev/null | tr -d '\r'; }
unixpath() { realpath -m "$(timeout 60 winepath -u "$1" 2>/dev/null | tr -d '\r')"; }
expand() { run cmd /c echo "$1"; }

if ! timeout 300 wine wineboot --init >/dev/null 2>&1; then
    echo "wineboot failed: no prefix to test in"
    exit 1
fi
timeout 60 wineserver -w

# The higher version, and the same version built again (another product code), from the same source.
IFS=. read -r major minor _ <<<"$version"
higher=$major.$((${minor:-0} + 1))
package() { timeout 120 "$cmake" -DSETTINGS="$settings" -DVERSION="$1" -DOUTPUT="$2" -P "$build_msi"; }
package "$higher" "$work/GleanerQt-$higher-x86.msi" || check "build the $higher package" 0 "$?"
mkdir "$work/again"
package "$version" "$work/again/GleanerQt-$version-x86.msi" || check "build the $version package again" 0 "$?"
# "0.1" is the package version 0.1.0.
msi_version() { local v=$1; while [[ $(tr -cd . <<<"$v" | wc -c) -lt 2 ]]; do v=$v.0; done; echo "$v"; }

files_dir=$(sed -n 's/^set(STAGE_DIR "\(.*\)")$/\1/p' "$settings")/files
key_atlas='HKLM\SOFTWARE\Orvana\Set\Wayscope 10'
uninstall_keys=('HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
    'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall')
user_env='HKCU\Environment'
machine_env='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'

# "<key>|<DisplayVersion>|<Publisher>|<InstallLocation>|<UninstallString>" for each entry named GleanerQt
# among the installed programs.
entries() {
    local root
    for root in "${uninstall_keys[@]}"; do
        run reg query "$root" /s 2>/dev/null | awk '
            /^HKEY_/ { if (name == "GleanerQt") print key "|" v "|" p "|" l "|" u; key = $0; name = v = p = l = u = ""; next }
            { value = $0; sub(/^ +[^ ]+ +REG_[A-Z_]+ */, "", value) }
            $1 == "DisplayName" { name = value } $1 == "DisplayVersion" { v = value } $1 == "Publisher" { p = value }
            $1 == "InstallLocation" { l = value } $1 == "UninstallString" { u = value }
            END { if (name == "GleanerQt") print key "|" v "|" p "|" l "|" u }'
    done
}
# A registry value's data, empty when absent.
reg_value() { run reg query "$1" /v "$2" 2>/dev/null | sed -n "s/^ *$2 \{1,\}REG_[A-Z_]\{1,\} *//p"; }
listing() { (cd "$1" 2>/dev/null && find . | LC_ALL=C sort); }
# The prefix's drive C but the install folder $1 (which keeps "import"), the folders above it, and Windows
# Installer's own cache folders, which it leaves behind empty.
others() {
    local folder line
    folder=./$(realpath -m --relative-to="$WINEPREFIX/drive_c" "$1")
    listing "$WINEPREFIX/drive_c" | while IFS= read -r line; do
        [[ $line == "$folder" || $line == "$folder"/* || $folder == "$line"/* ]] && continue
        [[ $line == ./windows/Installer || $line == ./users/*/AppData/Roaming/Microsoft/Installer ]] && continue
        echo "$line"
    done
}

# One of Windows' own DLLs: in the prefix's system directory, but not one that Wine carries for programs
# that would have to bring it themselves on Windows (zlib1.dll, MinGW's run-time DLLs).
windows_dll() {
    case ${1,,} in zlib1.dll | lib*.dll) return 1 ;; esac
    [[ -e $WINEPREFIX/drive_c/windows/system32/${1,,} ]]
}
# Installed where it should be: the package's files and nothing else, as built; each DLL they import
# either among them or one of Windows' own.
check_files() {
    local label=$1 dir=$2 file dll
    check "$label: files" "$(listing "$files_dir")" "$(listing "$dir" | grep -v '^\./import')"
    for file in "$files_dir"/*; do
        cmp -s "$file" "$dir/${file##*/}" || check "$label: ${file##*/} as built" same different
        for dll in $("$objdump" -p "$file" | sed -n 's/^\tDLL Name: //p'); do
            [[ -n $(find "$dir" -maxdepth 1 -iname "$dll") ]] || windows_dll "$dll" ||
                check "$label: ${file##*/} finds $dll" found missing
        done
    done
}
check_entry() {
    local label=$1 dir_win=$2 package_version=$3 found code
    found=$(entries)
    check "$label: one entry among the installed programs" 1 "$(grep -c . <<<"$found")"
    IFS='|' read -r key entry_version publisher location uninstall <<<"$found"
    check "$label: entry's version" "$package_version" "$entry_version"
    check "$label: entry's publisher" GleanerQt "$publisher"
    check "$label: entry's location" "$dir_win\\" "$location"
    code=${key##*\\}
    check "$label: entry uninstalls its product" yes \
        "$([[ ${uninstall,,} == "msiexec.exe /"[ix]"${code,,}" ]] && echo yes)"
    check "$label: in Wine's list of programs" 1 "$(run uninstaller --list | grep -c '|||GleanerQt$')"
}
# The shortcut in one of the Start menus, to the installed program.
check_shortcut() {
    local label=$1 exe_win=$2 menus lnk
    menus=("$(unixpath "$(expand '%APPDATA%')\\Microsoft\\Windows\\Start Menu\\Programs")"
        "$(unixpath "$(expand '%ProgramData%')\\Microsoft\\Windows\\Start Menu\\Programs")")
    lnk=$(find "${menus[@]}" -maxdepth 1 -name GleanerQt.lnk 2>/dev/null)
    check "$label: one Start menu shortcut" 1 "$(grep -c . <<<"$lnk")"
    check "$label: shortcut to GleanerQt.exe" yes \
        "$(grep -aqiF "$exe_win" <(strings -a "$lnk" 2>/dev/null; strings -a -el "$lnk" 2>/dev/null) && echo yes)"
}
# Nothing of the package left in the prefix: its files (but "import") and its registry values, the
# product's registration with Windows Installer included.
check_removed() {
    local label=$1 dir=$2 before=$3
    check "$label: no entry among the installed programs" "" "$(entries)"
    check "$label: only import left of the folder" "$(printf '.\n./import\n./import/user.txt')" "$(listing "$dir")"
    check "$label: every other file as before" "" "$(diff <(echo "$before") <(others "$dir"))"
    new_session
    check "$label: no registry value names the product" "" \
        "$(grep -ilE 'gleanerqt|dataGleaner' "$WINEPREFIX"/*.reg)"
}

# --- For the user (the default) ----------------------------------------------------------------------
w reg add "$user_env" /v Path /d 'C:\tools' /f >/dev/null 2>&1 || check "user PATH set" 0 "$?"
new_session
dir_win="$(expand '%LOCALAPPDATA%')\\Programs\\GleanerQt"
dir=$(unixpath "$dir_win")
before=$(others "$dir")

msiexec_ 0 /i "$(winpath "$msi")"; check "install: exit code" 0 "$?"
check_files "install" "$dir"
check_shortcut "install" "$dir_win\\GleanerQt.exe"
check_entry "install" "$dir_win" "$(msi_version "$version")"
check "install: folder added to the user's PATH" "$dir_win\\;C:\\tools" "$(reg_value "$user_env" Path)"

# A new console finds mca on its PATH.
new_session
out=$(cd "$work" && run cmd /c mca --version); rc=$?
check "mca from PATH: exit code" 0 "$rc"
check "mca from PATH: version" "mca $version" "$out"

# The launcher creates "import" beside itself, without a dialog.
out=$(run "$dir_win\\GleanerQt.exe"); rc=$?
check "launcher: exit code" 0 "$rc"
check "launcher: engine line" "dataGleaner: import $dir_win\\import (0 files)" "$out"
check "launcher: import created" yes "$([[ -d $dir/import ]] && echo yes)"
printf 'mine' >"$dir/import/user.txt"

# The installed archive tool: pack, list, cat of a member.
mkdir "$work/maps"
printf hello >"$work/maps/roads.dat"
archive=$(winpath "$work/maps/europe.mca")
mca() { run "$dir_win\\mca.exe" "$@"; }
mca pack --block-size 2 "$archive" "$(winpath "$work/maps/roads.dat")" >/dev/null; check "mca pack: exit code" 0 "$?"
check "mca list" "$(printf '5\troads.dat')" "$(mca list "$archive")"
check "mca cat" hello "$(mca cat "$archive\\roads.dat")"

# The other product's "Atlas" naming that member: the engine gets the atlas.
w reg add "$key_atlas" /v Atlas /d "$archive\\roads.dat" /f >/dev/null 2>&1 || check "Atlas set" 0 "$?"
out=$(run "$dir_win\\GleanerQt.exe"); rc=$?
check "launcher with Atlas: exit code" 0 "$rc"
check "launcher with Atlas: engine line" "dataGleaner: atlas $archive\\roads.dat (5 bytes, crc32 3610a686)" "$out"

# The same package again, then the same version built again: still one installed copy that works.
msiexec_ 0 /i "$(winpath "$msi")"; check "same package again: exit code" 0 "$?"
check_entry "same package again" "$dir_win" "$(msi_version "$version")"
msiexec_ 0 /i "$(winpath "$work/again/GleanerQt-$version-x86.msi")"; check "same version rebuilt: exit code" 0 "$?"
check_entry "same version rebuilt" "$dir_win" "$(msi_version "$version")"
check_files "same version rebuilt" "$dir"
check "same version rebuilt: PATH once" "$dir_win\\;C:\\tools" "$(reg_value "$user_env" Path)"
check "same version rebuilt: launcher" "dataGleaner: atlas $archive\\roads.dat (5 bytes, crc32 3610a686)" \
    "$(run "$dir_win\\GleanerQt.exe")"

# The higher version replaces it in place; an older one is then refused.
msiexec_ 0 /i "$(winpath "$work/GleanerQt-$higher-x86.msi")"; check "upgrade: exit code" 0 "$?"
check_entry "upgrade" "$dir_win" "$(msi_version "$higher")"
check_files "upgrade" "$dir"
check_shortcut "upgrade" "$dir_win\\GleanerQt.exe"
check "upgrade: PATH once" "$dir_win\\;C:\\tools" "$(reg_value "$user_env" Path)"
check "upgrade: user's file kept" mine "$(cat "$dir/import/user.txt" 2>/dev/null)"
check "upgrade: launcher" "dataGleaner: atlas $archive\\roads.dat (5 bytes, crc32 3610a686)" \
    "$(run "$dir_win\\GleanerQt.exe")"
# ERROR_INSTALL_FAILURE (1603) as an exit status of 8 bits.
msiexec_ 67 /i "$(winpath "$msi")"; check "older over newer: refused" 67 "$?"
check_entry "older over newer" "$dir_win" "$(msi_version "$higher")"

# Removed silently: everything of the package, nothing of the user's or the other product's.
msiexec_ 0 /x "$(winpath "$work/GleanerQt-$higher-x86.msi")"; check "uninstall: exit code" 0 "$?"
check "uninstall: user's file kept" mine "$(cat "$dir/import/user.txt" 2>/dev/null)"
check "uninstall: user's PATH as before" 'C:\tools' "$(reg_value "$user_env" Path)"
check "uninstall: Atlas kept" "$archive\\roads.dat" "$(reg_value "$key_atlas" Atlas)"
check_removed "uninstall" "$dir" "$before"

# --- For the machine (ALLUSERS=1) --------------------------------------------------------------------
machine_path=$(reg_value "$machine_env" Path)
mdir_win="$(expand '%ProgramFiles%')\\GleanerQt"
mdir=$(unixpath "$mdir_win")
before=$(others "$mdir")
msiexec_ 0 /i "$(winpath "$msi")" ALLUSERS=1; check "machine install: exit code" 0 "$?"
check_files "machine install" "$mdir"
check_shortcut "machine install" "$mdir_win\\GleanerQt.exe"
check_entry "machine install" "$mdir_win" "$(msi_version "$version")"
check "machine install: folder added to the machine's PATH" "$mdir_win\\;$machine_path" "$(reg_value "$machine_env" Path)"
check "machine install: user's PATH untouched" 'C:\tools' "$(reg_value "$user_env" Path)"
out=$(run "$mdir_win\\GleanerQt.exe")
check "machine install: launcher" "dataGleaner: atlas $archive\\roads.dat (5 bytes, crc32 3610a686)" "$out"
mkdir -p "$mdir/import"
printf 'mine' >"$mdir/import/user.txt"
# Upgraded for the machine again (Windows looks for the version to replace among installs of the same
# scope), then removed without being told the scope.
msiexec_ 0 /i "$(winpath "$work/GleanerQt-$higher-x86.msi")" ALLUSERS=1; check "machine upgrade: exit code" 0 "$?"
check_files "machine upgrade" "$mdir"
check_entry "machine upgrade" "$mdir_win" "$(msi_version "$higher")"
check "machine upgrade: PATH once" "$mdir_win\\;$machine_path" "$(reg_value "$machine_env" Path)"
msiexec_ 0 /x "$(winpath "$work/GleanerQt-$higher-x86.msi")"; check "machine uninstall: exit code" 0 "$?"
check "machine uninstall: machine's PATH as before" "$machine_path" "$(reg_value "$machine_env" Path)"
check_removed "machine uninstall" "$mdir" "$before"

# --- Into a folder of the user's choosing (INSTALLDIR), with a space in its name ----------------------
cdir_win='C:\My Tools\GleanerQt'
cdir=$(unixpath "$cdir_win")
before=$(others "$cdir")
msiexec_ 0 /i "$(winpath "$msi")" "INSTALLDIR=$cdir_win"; check "own folder: exit code" 0 "$?"
check_files "own folder" "$cdir"
check_entry "own folder" "$cdir_win" "$(msi_version "$version")"
check "own folder: on the user's PATH" "$cdir_win\\;C:\\tools" "$(reg_value "$user_env" Path)"
mkdir -p "$cdir/import"
printf 'mine' >"$cdir/import/user.txt"
# The upgrade stays in that folder without being told.
msiexec_ 0 /i "$(winpath "$work/GleanerQt-$higher-x86.msi")"; check "own folder upgrade: exit code" 0 "$?"
check_files "own folder upgrade" "$cdir"
check_entry "own folder upgrade" "$cdir_win" "$(msi_version "$higher")"
check "own folder upgrade: default folder untouched" "$(printf '.\n./import\n./import/user.txt')" "$(listing "$dir")"
msiexec_ 0 /x "$(winpath "$work/GleanerQt-$higher-x86.msi")"; check "own folder uninstall: exit code" 0 "$?"
check "own folder uninstall: user's PATH as before" 'C:\tools' "$(reg_value "$user_env" Path)"
check_removed "own folder uninstall" "$cdir" "$before"

summary "installer package under Wine"
