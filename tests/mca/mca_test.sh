#!/usr/bin/env bash
# The mca tool as users run it, on both platforms: round trips over a few layouts, refused names and
# overwrites, damaged archives and every exit status.
#   mca_test.sh <mca program> [program that runs it, e.g. the Wine wrapper]
# Paths are relative to a fresh directory, so that they mean the same under Wine.
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/check.sh"
mca_program=$(realpath "$1")
runner=${2:+$(realpath "$2")}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# Runs mca; its output without CR in $out and $err, its status in $rc.
mca() {
    $runner "$mca_program" "$@" >out.txt 2>err.txt
    rc=$?
    out=$(tr -d '\r' <out.txt)
    err=$(tr -d '\r' <err.txt)
}
# Patches bytes (printf notation) into a file at an offset.
patch() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

# A few layouts: members spanning blocks, an empty one, a partial last block.
head -c 200000 /dev/urandom >random.bin
seq 1 30000 >numbers.txt
: >empty
printf 'abc' >small.txt
mkdir in
cp random.bin numbers.txt empty small.txt in/

for layout in "default:" "store:--store" "tiny:--block-size 7 --level 9" "odd:--block-size 4097 --level 0"; do
    name=${layout%%:*}
    options=${layout#*:}
    members=(in/random.bin in/numbers.txt in/empty in/small.txt)
    [[ $name == tiny ]] && members=(in/numbers.txt in/empty in/small.txt)
    mca pack $options --property "origin=test $name" "$name.mca" "${members[@]}"
    check "$name: pack" 0 "$rc"
    mca list "$name.mca"
    expected=$(for m in "${members[@]}"; do printf '%s\t%s\n' "$(wc -c <"$m" | tr -d ' ')" "${m#in/}"; done)
    check "$name: list" "$expected" "$out"
    mca info "$name.mca"
    check "$name: info magic" "magic: 0x42000001" "$(head -n 1 <<<"$out")"
    check "$name: info fields" 16 "$(wc -l <<<"$out" | tr -d ' ')"
    check "$name: info property" "property origin=test $name" "$(tail -n 1 <<<"$out")"
    mca verify "$name.mca"
    check "$name: verify status" 0 "$rc"
    check "$name: verify line" "ok: ${#members[@]} members," "$(cut -d' ' -f1-3 <<<"$out")"
    mca cat "$name.mca/small.txt" in/small.txt "$name.mca/dir/numbers.txt"
    check "$name: cat" "$(cat in/small.txt in/small.txt in/numbers.txt | od -An -tx1 | md5sum)" \
        "$(od -An -tx1 <out.txt | md5sum)"
    mca extract "$name.mca" "out-$name"
    check "$name: extract" 0 "$rc"
    for m in "${members[@]}"; do
        check "$name: extracted ${m#in/}" same "$(cmp -s "$m" "out-$name/${m#in/}" && echo same)"
    done
done

# Overwrites only with --force.
mca extract default.mca out-default
check "extract over existing: status" 1 "$rc"
check "extract over existing: message" "mca: " "${err:0:5}"
printf 'changed' >out-default/small.txt
mca extract --force default.mca out-default
check "extract --force: status" 0 "$rc"
check "extract --force: content" abc "$(cat out-default/small.txt)"

# Names that would leave the directory are refused, and nothing is written.
# One member named "xx" (or "x"); its name's units start at 64 and are patched in place.
printf 'x' >xx
printf 'x' >x
for bad in 'parent:xx:.\0.\0' 'separator:xx:a\0/\0' 'backslash:xx:a\0\\\0' 'colon:xx:c\0:\0' 'dot:x:.\0'; do
    IFS=: read -r what member bytes <<<"$bad"
    mca pack "bad-$what.mca" "$member"
    patch "bad-$what.mca" 64 "$bytes"
    mca extract "bad-$what.mca" "out-bad-$what"
    check "refused name $what: status" 1 "$rc"
    check "refused name $what: message" "mca: refusing member name" "${err:0:25}"
    check "refused name $what: nothing written" "" "$(ls "out-bad-$what" 2>/dev/null)"
done

# Duplicate names and unreadable files are refused, leaving no archive behind.
mkdir other && cp in/small.txt other/
mca pack dup.mca in/small.txt other/small.txt
check "duplicate names: status" 1 "$rc"
mca pack missing.mca in/small.txt in/no-such-file
check "unreadable file: status" 1 "$rc"
check "unreadable file: message" "mca: orvana exception: can't open file 'in/no-such-file'" "$(grep '^mca:' <<<"$err")"
check "nothing left behind" "" "$(ls dup* missing* 2>/dev/null)"

# A damaged block: cat and verify fail with the library's message.
cp default.mca damaged.mca
blocks_offset=$($runner "$mca_program" info damaged.mca | tr -d '\r' | sed -n 's/^blocksOffset: //p')
patch damaged.mca $((blocks_offset + 100)) '\377\377\377\377'
mca verify damaged.mca
check "damaged verify: status" 1 "$rc"
check "damaged verify: message" "mca: orvana exception: ArchiveCursor.read: integrity failed 7" "$(grep '^mca:' <<<"$err")"
mca cat damaged.mca/random.bin
check "damaged cat: status" 1 "$rc"
check "damaged cat: message" "mca: orvana exception: ArchiveCursor.read: integrity failed 7" "$(grep '^mca:' <<<"$err")"

# Any number of compressing threads makes the same archive.
for threads in 1 2 8; do
    mca pack --threads "$threads" --block-size 4096 "threads-$threads.mca" in/random.bin in/numbers.txt
    check "--threads $threads: status" 0 "$rc"
done
check "--threads: the same archive" same "$(cmp -s threads-1.mca threads-2.mca && cmp -s threads-1.mca threads-8.mca && echo same)"
mca pack --threads 0 x.mca in/small.txt
check "--threads 0: status" 2 "$rc"

# Exit statuses and usage.
mca list no-such.mca
check "missing archive: status" 1 "$rc"
mca
check "no command: status" 2 "$rc"
check "no command: usage on stderr" yes "$(grep -q Usage <<<"$err" && echo yes)"
mca pack --store --level 3 x.mca xx
check "store with level: status" 2 "$rc"
mca pack --property novalue x.mca xx
check "property without =: status" 2 "$rc"
mca --help
check "--help: status" 0 "$rc"
check "--help: usage on stdout" yes "$(grep -q Usage <<<"$out" && echo yes)"
mca extract --help
check "command --help: status" 0 "$rc"
check "command --help: usage on stdout" yes "$(grep -q 'extract' <<<"$out" && echo yes)"

summary "mca"
