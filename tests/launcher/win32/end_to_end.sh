#!/usr/bin/env bash
# The real GleanerQt.exe, copied with its engine into a fresh directory, run under Wine in the build's
# own prefix and under Xvfb, the folder dialog driven by xdotool. Settings go to that prefix's registry.
#   end_to_end.sh <GleanerQt.exe> <dataGleaner.dll> <mca.exe> <wine-run.sh>
# It owns the prefix's wineserver while it runs (the test runs alone) and ends it, and its Xvfb, at exit.
set -uo pipefail

wine=$4
prefix=$(sed -n "s/^export WINEPREFIX='\(.*\)'$/\1/p" "$wine")
key='HKLM\SOFTWARE\Orvana\Set\Wayscope 10'
work=$(mktemp -d)
xvfb=
wineserver_() { WINEPREFIX=$prefix timeout 60 wineserver "$@"; }
cleanup() {
    timeout 60 "$wine" reg delete "$key" /v Atlas /f >/dev/null 2>&1
    wineserver_ -k 2>/dev/null
    wineserver_ -w 2>/dev/null
    [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/../../support/check.sh"

# Wine sees the Linux root as drive Z:.
windows() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }

app=$work/app
mkdir -p "$app"
cp "$1" "$2" "$app/"
program_dir=$(windows "$app")

# A wineserver left by other tests would keep their (absent) display: let it end first.
wineserver_ -w

# Without any display the dialog cannot be shown: that is said, and the program ends as cancelled.
touch "$app/import"
(unset DISPLAY; timeout 60 "$wine" "$app/GleanerQt.exe" >"$work/out" 2>"$work/err"); rc=$?
check "no display: exit code" 255 "$rc"
check "no display: engine not called" "" "$(cat "$work/out")"
check "no display: the line" yes "$(grep -qE '^ERR .* The folder dialog could not be shown: .* failed with 0x[0-9a-f]{8}' "$work/err" && echo yes)"
rm "$app/import" "$work/out" "$work/err"
wineserver_ -k
wineserver_ -w

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
if [[ -s $work/display ]]; then
    export DISPLAY=:$(cat "$work/display")
else
    echo "no display: Xvfb did not start ($(cat "$work/xvfb.log")); the dialog cases fail"
    unset DISPLAY
fi

gleaner() { timeout 60 "$wine" "$app/GleanerQt.exe" "$@"; }
# Its standard output without the CRs of the C runtime's text mode.
lines() { tr -d '\r'; }
set_atlas() { timeout 60 "$wine" reg add "$key" /v Atlas /d "$1" /f >/dev/null 2>&1 || check "reg add $1" 0 "$?"; }

# No settings: "import" is created beside the copied executable, without a window.
timeout 60 "$wine" reg delete "$key" /v Atlas /f >/dev/null 2>&1
out=$(gleaner | lines); rc=$?
check "no settings: exit code" 0 "$rc"
check "no settings: engine line" "dataGleaner: import $program_dir\\import (0 files)" "$out"
check "no settings: import created" yes "$([[ -d $app/import ]] && echo yes)"

# An atlas file, as read; then one inside an archive made with the archive tool.
printf hello >"$work/atlas.dat"
set_atlas "$(windows "$work/atlas.dat")"
out=$(gleaner | lines); rc=$?
check "atlas: exit code" 0 "$rc"
check "atlas: engine line" "dataGleaner: atlas $(windows "$work/atlas.dat") (5 bytes, crc32 3610a686)" "$out"

mkdir -p "$work/maps"
printf hello >"$work/maps/roads.dat"
timeout 60 "$wine" "$3" pack --block-size 2 "$(windows "$work/maps/europe.mca")" "$(windows "$work/maps/roads.dat")" \
    >/dev/null || check "pack the archive" 0 "$?"
archive=$(windows "$work/maps/europe.mca")
set_atlas "$archive\\roads.dat"
out=$(gleaner | lines); rc=$?
check "atlas in archive: exit code" 0 "$rc"
check "atlas in archive: engine line" "dataGleaner: atlas $archive\\roads.dat (5 bytes, crc32 3610a686)" "$out"

# Not an atlas: a member the archive lacks (letter case counts), a directory.
set_atlas "$archive\\Roads.dat"
out=$(gleaner 2>/dev/null | lines)
check "atlas not in archive: engine line" "dataGleaner: import $program_dir\\import (0 files)" "$out"
set_atlas "$(windows "$work/maps")"
out=$(gleaner | lines)
check "atlas directory: engine line" "dataGleaner: import $program_dir\\import (0 files)" "$out"
timeout 60 "$wine" reg delete "$key" /v Atlas /f >/dev/null 2>&1

# From here "import" beside the executable is a file: the dialog comes.
rm -r "$app/import"
touch "$app/import"
mkdir -p "$app/sub" "$work/chosen dir" "$work/blocked/sub"
touch "$work/blocked/import"
mkdir "$work/io"
listing() { (cd "$work" && find . -path ./io -prune -o -print | sort); }

caption=$'Select root path for user data\n(where will be created \'import\' subdirectory)'
# Waits for a folder dialog other than the window `shown` names (the one answered before) and gives it
# the keyboard; says so when none comes.
shown=
dialog() {
    local window= _
    for _ in $(seq 300); do
        window=$(xdotool search --onlyvisible --name 'Select root path for user data' 2>/dev/null | grep -vx "${shown:-none}" | head -n 1)
        [[ -n $window ]] && break
        sleep 0.1
    done
    if [[ -z $window ]]; then
        check "a folder dialog within 30 s" shown none
        return 1
    fi
    shown=$window
    title=$(xdotool getwindowname "$window")
    xdotool windowfocus --sync "$window"
}
# The program in the background, bounded by gleaner's timeout; `wait "$program"` gives its exit code.
start() {
    shown=
    gleaner >"$work/io/out" 2>"$work/io/err" &
    program=$!
}

before=$(listing)
start
dialog && xdotool key Escape
wait "$program"; rc=$?
check "dialog cancelled: caption" "$caption" "${title-}"
check "dialog cancelled: exit code" 255 "$rc"
check "dialog cancelled: engine not called" "" "$(lines <"$work/io/out")"
check "dialog cancelled: nothing created" "$before" "$(listing)"

start
dialog && xdotool type --delay 10 "$(windows "$work/chosen dir")" && xdotool key Return
wait "$program"; rc=$?
check "dialog answered: exit code" 0 "$rc"
check "dialog answered: engine line" "dataGleaner: import $(windows "$work/chosen dir")\\import (0 files)" "$(lines <"$work/io/out")"
check "dialog answered: import created" yes "$([[ -d "$work/chosen dir/import" ]] && echo yes)"

# A folder where "import" is a file too: the dialog comes again; cancelled, nothing is created.
before=$(listing)
start
dialog && xdotool type --delay 10 "$(windows "$work/blocked")" && xdotool key Return
dialog && xdotool key Escape
wait "$program"; rc=$?
check "blocked, then cancelled: exit code" 255 "$rc"
check "blocked, then cancelled: engine not called" "" "$(lines <"$work/io/out")"
check "blocked, then cancelled: nothing created" "$before" "$(listing)"

# The dialog that comes again starts beside the executable, not in the folder chosen before: a name
# typed without a directory lands there.
start
dialog && xdotool type --delay 10 "$(windows "$work/blocked")" && xdotool key Return
dialog && xdotool type --delay 10 sub && xdotool key Return
wait "$program"; rc=$?
check "again, relative name: exit code" 0 "$rc"
check "again, relative name: engine line" "dataGleaner: import $program_dir\\sub\\import (0 files)" "$(lines <"$work/io/out")"
check "again, relative name: created beside the executable" yes "$([[ -d $app/sub/import && ! -e $work/blocked/sub/import ]] && echo yes)"

summary "end to end under Wine"
