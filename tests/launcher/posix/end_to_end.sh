#!/usr/bin/env bash
# The real GleanerQt, copied with its engine into a fresh directory: headless for the two outcomes,
# then under Xvfb with the real folder dialog, driven by xdotool.
#   end_to_end.sh <GleanerQt> <libdataGleaner.so> <mca>
set -uo pipefail

work=$(mktemp -d)
xvfb=
cleanup() {
    [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/../../support/check.sh"

app=$work/app
mkdir -p "$app" "$work/xdg" "$work/runtime"
chmod 700 "$work/runtime"
cp "$1" "$2" "$app/"
export XDG_CONFIG_DIRS=$work/xdg XDG_RUNTIME_DIR=$work/runtime
settings_dir="$work/xdg/Orvana/Set"

# No settings: "import" is created beside the copied executable.
out=$(QT_QPA_PLATFORM=offscreen "$app/GleanerQt"); rc=$?
check "no settings: exit code" 0 "$rc"
check "no settings: engine line" "dataGleaner: import $app/import (0 files)" "$out"
check "no settings: import created" yes "$([[ -d $app/import ]] && echo yes)"

# Started directly on a machine without a display: the same outcome, as on the offscreen platform.
headless() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 60 "$app/GleanerQt" "$@"; }
out=$(headless 2>"$work/err"); rc=$?
check "no display: exit code" 0 "$rc"
check "no display: engine line" "dataGleaner: import $app/import (0 files)" "$out"
check "no display: nothing on standard error" "" "$(cat "$work/err")"

# Settings naming an existing file: the engine gets it as it was read.
mkdir -p "$settings_dir"
printf hello >"$work/atlas.dat"
printf '# written by the test\nAtlas=%s\n' "$work/atlas.dat" >"$settings_dir/Wayscope 10.conf"
out=$(QT_QPA_PLATFORM=offscreen "$app/GleanerQt"); rc=$?
check "atlas: exit code" 0 "$rc"
check "atlas: engine line" "dataGleaner: atlas $work/atlas.dat (5 bytes, crc32 3610a686)" "$out"

# An atlas inside an archive, made with the archive tool.
mkdir -p "$work/maps"
printf hello >"$work/maps/roads.dat"
"$3" pack --block-size 2 "$work/maps/europe.mca" "$work/maps/roads.dat" || check "pack the archive" 0 "$?"
printf 'Atlas=%s\n' "$work/maps/europe.mca/roads.dat" >"$settings_dir/Wayscope 10.conf"
out=$(QT_QPA_PLATFORM=offscreen "$app/GleanerQt"); rc=$?
check "atlas in archive: exit code" 0 "$rc"
check "atlas in archive: engine line" "dataGleaner: atlas $work/maps/europe.mca/roads.dat (5 bytes, crc32 3610a686)" "$out"
printf 'Atlas=%s\n' "$work/maps/europe.mca/Roads.dat" >"$settings_dir/Wayscope 10.conf"
out=$(QT_QPA_PLATFORM=offscreen "$app/GleanerQt" 2>/dev/null)
check "atlas not in archive: engine line" "dataGleaner: import $app/import (0 files)" "$out"

# ".mca" inside a directory's name: the file below it is the atlas.
mkdir -p "$work/x.mca.d"
printf hello >"$work/x.mca.d/roads.dat"
printf 'Atlas=%s\n' "$work/x.mca.d/roads.dat" >"$settings_dir/Wayscope 10.conf"
out=$(QT_QPA_PLATFORM=offscreen "$app/GleanerQt")
check "atlas below x.mca.d: engine line" "dataGleaner: atlas $work/x.mca.d/roads.dat (5 bytes, crc32 3610a686)" "$out"

# Settings naming a directory: not an atlas.
printf 'Atlas=%s\n' "$work" >"$settings_dir/Wayscope 10.conf"
out=$(QT_QPA_PLATFORM=offscreen "$app/GleanerQt")
check "atlas directory: engine line" "dataGleaner: import $app/import (0 files)" "$out"
rm "$settings_dir/Wayscope 10.conf"

# "import" beside the executable blocked by a file. Where no window can be seen the program does not wait
# for an answer: one line says why, and it ends as a cancelled dialog does.
rm -r "$app/import"
touch "$app/import"
for platform in offscreen minimal; do
    QT_QPA_PLATFORM=$platform timeout 60 "$app/GleanerQt" >"$work/out" 2>"$work/err"; rc=$?
    check "$platform, no dialog: exit code" 255 "$rc"
    check "$platform, no dialog: engine not called" "" "$(cat "$work/out")"
    check "$platform, no dialog: the line" "'$app/import' cannot be created, so a folder would have been asked for, but no dialog can be shown: Qt's '$platform' platform shows no window" \
        "$(sed -E 's#^ERR [0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} ##' "$work/err")"
done
# Without a display and a platform named: the offscreen platform's line; a platform given on the command
# line is the one used.
for arguments in "" "-platform minimal"; do
    platform=${arguments#-platform }
    headless $arguments >"$work/out" 2>"$work/err"; rc=$?
    check "no display ${arguments:-alone}, no dialog: exit code" 255 "$rc"
    check "no display ${arguments:-alone}, no dialog: engine not called" "" "$(cat "$work/out")"
    check "no display ${arguments:-alone}, no dialog: the line" "'$app/import' cannot be created, so a folder would have been asked for, but no dialog can be shown: Qt's '${platform:-offscreen}' platform shows no window" \
        "$(sed -E 's#^ERR [0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} ##' "$work/err")"
done

# The real dialog comes.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")

dialog() { # waits for the folder dialog and gives it the keyboard
    local window
    window=$(timeout 30 xdotool search --sync --name 'Select root path for user data' | head -n 1)
    [[ -n $window ]] && xdotool windowfocus --sync "$window"
}

"$app/GleanerQt" >"$work/out" 2>"$work/err" &
program=$!
dialog && xdotool key Escape
wait "$program"; rc=$?
check "dialog cancelled: exit code" 255 "$rc"
check "dialog cancelled: engine not called" "" "$(cat "$work/out")"

mkdir -p "$work/chosen dir"
"$app/GleanerQt" >"$work/out" 2>"$work/err" &
program=$!
dialog && xdotool type --delay 10 "$work/chosen dir" && xdotool key Return
wait "$program"; rc=$?
check "dialog answered: exit code" 0 "$rc"
check "dialog answered: engine line" "dataGleaner: import $work/chosen dir/import (0 files)" "$(cat "$work/out")"
check "dialog answered: import created" yes "$([[ -d "$work/chosen dir/import" ]] && echo yes)"

summary "end to end"
