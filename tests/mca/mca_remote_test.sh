#!/usr/bin/env bash
# mca's reading commands over URLs, against the real nginx that http_server.sh starts around this script
# (GLEANER_TEST_* in the environment): list, info, cat, extract and verify give what they give for the
# local copy, and messages name a URL without its query.
#   MCA_PROGRAM=<mca> [MCA_RUNNER=<wine>] http_server.sh mca_remote_test.sh <proxy>
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/check.sh"
mca_program=$MCA_PROGRAM
runner=${MCA_RUNNER:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
# The document root is this machine's path even where mca runs under Wine.
if [[ -n $runner ]]; then docroot=$(winepath -u "$GLEANER_TEST_DOCROOT"); else docroot=$GLEANER_TEST_DOCROOT; fi
export GLEANER_HTTP_CACHE_MB=0 GLEANER_HTTP_RETRIES=1
base=$GLEANER_TEST_HTTP

mca() {
    timeout 120 $runner "$mca_program" "$@" >out.txt 2>err.txt
    rc=$?
    out=$(tr -d '\r' <out.txt)
    err=$(tr -d '\r' <err.txt)
}

head -c 300000 /dev/urandom >random.bin
seq 1 30000 >numbers.txt
printf 'abc' >small.txt
mca pack --block-size 16384 --property "origin=remote test" local.mca random.bin numbers.txt small.txt
check "pack: status" 0 "$rc"
cp local.mca "$docroot/maps.mca"
cp numbers.txt "$docroot/plain.txt"

mca list local.mca
local_list=$out
mca list "$base/maps.mca"
check "list: status" 0 "$rc"
check "list: as for the local copy" "$local_list" "$out"

mca info local.mca
local_info=$out
mca info "$base/maps.mca"
check "info: status" 0 "$rc"
check "info: as for the local copy" "$local_info" "$out"

mca cat "$base/maps.mca/random.bin"
check "cat member: status" 0 "$rc"
check "cat member: bytes" yes "$(cmp -s out.txt random.bin && echo yes)"
mca cat "$base/signed/maps.mca?sig=s3cret/numbers.txt" "$base/signed/maps.mca/small.txt?sig=s3cret"
check "cat with a query, both spellings: status" 0 "$rc"
check "cat with a query, both spellings: bytes" "$(cat numbers.txt small.txt)" "$out"
mca cat "$base/plain.txt"
check "cat plain remote file" "$(cat numbers.txt)" "$out"

mca extract "$base/maps.mca" into
check "extract: status" 0 "$rc"
check "extract: files" yes "$(cmp -s into/random.bin random.bin && cmp -s into/numbers.txt numbers.txt \
    && cmp -s into/small.txt small.txt && echo yes)"

mca verify "$base/maps.mca"
check "verify: status" 0 "$rc"
check "verify: line" "ok: 3 members," "$(cut -d' ' -f1-3 <<<"$out")"

# A damaged block served: the same failure as for the local copy, the URL named without its query.
cp local.mca damaged.mca
blocks_offset=$(sed -n 's/^blocksOffset: //p' <<<"$local_info")
printf '\377\377\377\377' | dd of=damaged.mca bs=1 seek=$((blocks_offset + 100)) conv=notrunc status=none
cp damaged.mca "$docroot/damaged.mca"
mca verify damaged.mca
local_err=$(grep '^mca:' <<<"$err")
mca verify "$base/damaged.mca"
check "damaged verify: status" 1 "$rc"
check "damaged verify: message" "$local_err" "$(grep '^mca:' <<<"$err")"
mca cat "$base/signed/damaged.mca?sig=s3cret/random.bin"
check "damaged cat: status" 1 "$rc"
check "damaged cat: message" "mca: $base/signed/damaged.mca/random.bin: block 0: orvana exception: ArchiveCursor.read: integrity failed 7" \
    "$(grep '^mca:' <<<"$err")"

# Missing things: the exit status of a missing local file, no query in any message.
mca cat no-such.mca/small.txt
local_rc=$rc
mca cat "$base/no-such.mca/small.txt?sig=s3cret"
check "missing remote archive: status" "$local_rc" "$rc"
check "missing remote archive: names the URL" yes "$(grep -q "$base/no-such.mca" <<<"$err" && echo yes)"
check "missing remote archive: no query shown" "" "$(grep s3cret <<<"$out$err")"
mca list "$base/signed/maps.mca?sig=wrong"
check "refused query: fails" 1 "$((rc != 0))"
check "refused query: not shown" "" "$(grep wrong <<<"$err")"
mca cat "$base/maps.mca/no-such.txt"
check "missing member: fails" 1 "$((rc != 0))"

# The mount (Linux, where FUSE mounts are allowed): the remote archive's members read as files.
if [[ -z $runner && -c /dev/fuse ]] && command -v fusermount3 >/dev/null && "$mca_program" mount --help >/dev/null 2>&1; then
    mkdir mnt
    mca mount "$base/signed/maps.mca?sig=s3cret" mnt
    if [[ $rc == 0 ]]; then
        check "mount: member bytes" yes "$(timeout 60 cmp -s mnt/random.bin random.bin && echo yes)"
        check "mount: names" "numbers.txt random.bin small.txt" "$(ls mnt | tr '\n' ' ' | sed 's/ $//')"
        check "mount: no query in the mount table" "" "$(grep s3cret /proc/mounts)"
        fusermount3 -u mnt
        check "mount: unmounted" 0 "$?"
    elif grep -q '^mca: cannot mount .* on ' <<<"$err"; then
        echo "mount: skipped: FUSE mounts are refused here: $err"
    else
        check "mount: status" 0 "$rc"
    fi
else
    echo "mount: skipped: no FUSE mount here (Windows, or no /dev/fuse, fusermount3 or libfuse 3)"
fi

summary "mca over HTTP"
