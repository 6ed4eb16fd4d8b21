#!/usr/bin/env bash
# The real GleanerQt with an "Atlas" URL, against the real nginx that http_server.sh starts around this
# script (GLEANER_TEST_* in the environment): a reachable atlas, plain or in an archive, goes to the
# engine, which reads it over HTTP; an unreachable server ends in the import directory within 15 s.
#   GLEANER_APP=<GleanerQt> GLEANER_ENGINE=<engine library> MCA_PROGRAM=<mca> [WINE_RUN=<wine-run.sh>]
#   http_server.sh remote_atlas.sh <proxy>
# Under Wine the setting goes to the prefix's registry (removed at exit), on Linux to a settings file.
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/check.sh"
wine=${WINE_RUN:-}
work=$(mktemp -d)
key='HKLM\SOFTWARE\Orvana\Set\Wayscope 10'
cleanup() {
    [[ -n $wine ]] && timeout 60 "$wine" reg delete "$key" /v Atlas /f >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
# Under Wine the harness hands over Windows paths; this script works with the machine's own.
if [[ -n $wine ]]; then docroot=$(winepath -u "$GLEANER_TEST_DOCROOT"); else docroot=$GLEANER_TEST_DOCROOT; fi
windows() { if [[ -n $wine ]]; then winepath -w "$1"; else echo "$1"; fi; }
export GLEANER_HTTP_CACHE_MB=0
base=$GLEANER_TEST_HTTP

app=$work/app
mkdir -p "$app" "$work/xdg/Orvana/Set"
cp "$GLEANER_APP" "$GLEANER_ENGINE" "$app/"
export XDG_CONFIG_DIRS=$work/xdg QT_QPA_PLATFORM=offscreen

set_atlas() {
    if [[ -n $wine ]]; then
        timeout 60 "$wine" reg add "$key" /v Atlas /d "$1" /f >/dev/null 2>&1 || check "reg add $1" 0 "$?"
    else
        printf 'Atlas=%s\n' "$1" >"$work/xdg/Orvana/Set/Wayscope 10.conf"
    fi
}
gleaner() {
    if [[ -n $wine ]]; then
        timeout 60 "$wine" "$app/$(basename "$GLEANER_APP")" 2>"$work/err" | tr -d '\r'
    else
        timeout 60 "$app/$(basename "$GLEANER_APP")" 2>"$work/err"
    fi
}

printf hello >"$work/roads.dat"
${wine:+"$wine"} "$MCA_PROGRAM" pack "$(windows "$work/europe.mca")" "$(windows "$work/roads.dat")" >/dev/null 2>&1
check "pack the archive" yes "$([[ -s $work/europe.mca ]] && echo yes)"
cp "$work/europe.mca" "$docroot/europe.mca"
cp "$work/roads.dat" "$docroot/plain.dat"

set_atlas "$base/europe.mca/roads.dat"
check "atlas in a remote archive" "dataGleaner: atlas $base/europe.mca/roads.dat (5 bytes, crc32 3610a686)" "$(gleaner)"
set_atlas "$base/signed/europe.mca?sig=s3cret/roads.dat"
check "atlas with a query: the query not shown" \
    "dataGleaner: atlas $base/signed/europe.mca/roads.dat (5 bytes, crc32 3610a686)" "$(gleaner)"
set_atlas "$base/plain.dat"
check "plain remote atlas" "dataGleaner: atlas $base/plain.dat (5 bytes, crc32 3610a686)" "$(gleaner)"
set_atlas "$base/europe.mca/rivers.dat"
check "member missing: import" "dataGleaner: import" "$(gleaner | cut -d' ' -f1-2)"

# A port that nothing listens on: refused, retried, given up within the bound.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
set_atlas "http://127.0.0.1:$port/europe.mca/roads.dat"
start=$(date +%s.%N)
out=$(gleaner)
seconds=$(echo "$(date +%s.%N) - $start" | bc)
check "unreachable: import" "dataGleaner: import" "$(cut -d' ' -f1-2 <<<"$out")"
check "unreachable: within 15 s" yes "$( (($(echo "$seconds < 15" | bc))) && echo yes)"
echo "unreachable server: outcome after $seconds s"

summary "GleanerQt with a remote atlas"
