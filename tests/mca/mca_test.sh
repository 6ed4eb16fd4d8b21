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
# A small file system mounted for the full-disk cases goes before the directory does.
trap 'umount "$work/full" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1
if [[ -n $runner ]]; then platform=Windows; else platform=Linux; fi

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
refused=('parent:xx:.\0.\0' 'separator:xx:a\0/\0' 'backslash:xx:a\0\\\0' 'dot:x:.\0')
# Windows would make another file or a device of these; on Linux they are names like any other.
windows_only=('colon:xx:c\0:\0' 'device:xxx:n\0U\0l\0' 'device-ext:xxxxxx:c\0O\0m\0\067\0.\0t\0' 'trailing-dot:xx:a\0.\0'
    'trailing-space:xx:a\0 \0')
printf 'x' >xxx
printf 'x' >xxxxxx
[[ -n $runner ]] && refused+=("${windows_only[@]}")
# Extracts a one-member archive whose name is patched to a row's bytes into out-<label>.
extract_named() {
    IFS=: read -r what member bytes <<<"$2"
    mca pack "$1-$what.mca" "$member"
    patch "$1-$what.mca" 64 "$bytes"
    mca extract "$1-$what.mca" "out-$1-$what"
}
for bad in "${refused[@]}"; do
    extract_named bad "$bad"
    check "refused name $what: status" 1 "$rc"
    check "refused name $what: message" "mca: refusing member name" "${err:0:25}"
    check "refused name $what: nothing written" "" "$(ls "out-bad-$what" 2>/dev/null)"
done

if [[ -z $runner ]]; then
    for good in "${windows_only[@]}"; do
        extract_named good "$good"
        check "name $what on Linux: status" 0 "$rc"
        check "name $what on Linux: extracted" x "$(cat "out-good-$what"/* 2>/dev/null)"
    done
fi

# Duplicate names and unreadable files are refused, leaving no archive behind.
mkdir other && cp in/small.txt other/
mca pack dup.mca in/small.txt other/small.txt
check "duplicate names: status" 1 "$rc"
mca pack missing.mca in/small.txt in/no-such-file
check "unreadable file: status" 1 "$rc"
check "unreadable file: message and reason" yes \
    "$(grep -q "^mca: orvana exception: can't open file 'in/no-such-file': [A-Za-z]" <<<"$err" && echo yes)"
check "nothing left behind" "" "$(ls dup* missing* 2>/dev/null)"

# A damaged block: cat and verify fail with the library's message.
cp default.mca damaged.mca
blocks_offset=$($runner "$mca_program" info damaged.mca | tr -d '\r' | sed -n 's/^blocksOffset: //p')
patch damaged.mca $((blocks_offset + 100)) '\377\377\377\377'
mca verify damaged.mca
check "damaged verify: status" 1 "$rc"
check "damaged verify: message" "mca: damaged: block 0 (members random.bin): orvana exception: ArchiveCursor.read: integrity failed 7
mca: 1 of 6 blocks damaged" "$(grep '^mca:' <<<"$err")"
mca cat damaged.mca/random.bin
check "damaged cat: status" 1 "$rc"
check "damaged cat: message" "mca: damaged.mca/random.bin: block 0: orvana exception: ArchiveCursor.read: integrity failed 7" "$(grep '^mca:' <<<"$err")"

# ".mca" inside a directory's name makes no archive of it; an archive below such a directory is one.
mkdir x.mca.d maps.mca.old
printf 'plain' >x.mca.d/file
mca cat x.mca.d/file
check "plain file below x.mca.d: cat" plain "$out"
mca pack maps.mca.old/europe.mca in/small.txt
mca list maps.mca.old/europe.mca
check "archive below maps.mca.old: list" "$(printf '3\tsmall.txt')" "$out"
mca cat maps.mca.old/europe.mca/small.txt
check "archive below maps.mca.old: cat" abc "$out"

# A directory is no file, on either platform.
mca cat x.mca.d
check "cat of a directory: status" 1 "$rc"
check "cat of a directory: message and reason" yes \
    "$(grep -q "^mca: orvana exception: can't open file 'x.mca.d': [A-Za-z]" <<<"$err" && echo yes)"
# Every damaged block is reported with the members in it; extract goes on past a damaged member and
# leaves nothing of it. Blocks of 4096 bytes: a.bin is in blocks 0-1, b.bin in 1-2, c.bin in 2-4.
head -c 8000 /dev/urandom >a.bin
head -c 4000 /dev/urandom >b.bin
head -c 8000 /dev/urandom >c.bin
mca pack --block-size 4096 several.mca a.bin b.bin c.bin
blocks_offset=$($runner "$mca_program" info several.mca | tr -d '\r' | sed -n 's/^blocksOffset: //p')
sizes_offset=$($runner "$mca_program" info several.mca | tr -d '\r' | sed -n 's/^blockSizesOffset: //p')
stored_size() { od -An -tu4 -j $((sizes_offset + 4 * $1)) -N4 several.mca | tr -d ' '; }
block_start() { local k=0 at=$blocks_offset; while ((k < $1)); do at=$((at + $(stored_size $k))); k=$((k + 1)); done; echo $at; }
cp several.mca broken.mca
patch broken.mca $(($(block_start 1) + 10)) '\377\377\377\377\377\377'
patch broken.mca $(($(block_start 4) + 10)) '\377\377\377\377\377\377'
mca verify broken.mca
check "verify damaged blocks: status" 1 "$rc"
check "verify damaged blocks: lines" "mca: damaged: block 1 (members a.bin, b.bin): orvana exception: ArchiveCursor.read: integrity failed 7
mca: damaged: block 4 (members c.bin): orvana exception: ArchiveCursor.read: integrity failed 7
mca: 2 of 5 blocks damaged" "$(grep '^mca:' <<<"$err")"
check "verify damaged blocks: nothing on stdout" "" "$out"
mca extract broken.mca out-broken
check "extract damaged: status" 1 "$rc"
check "extract damaged: messages" "mca: a.bin: block 1: orvana exception: ArchiveCursor.read: integrity failed 7
mca: b.bin: block 1: orvana exception: ArchiveCursor.read: integrity failed 7
mca: c.bin: block 4: orvana exception: ArchiveCursor.read: integrity failed 7" "$(grep '^mca:' <<<"$err")"
check "extract damaged: only whole members, no temporary file" "" "$(ls -A out-broken)"
cp several.mca half.mca
patch half.mca $(($(block_start 3) + 10)) '\377\377\377\377\377\377'
mca extract half.mca out-half
check "extract one damaged: status" 1 "$rc"
check "extract one damaged: the others whole" "a.bin b.bin" "$(cmp -s a.bin out-half/a.bin && cmp -s b.bin out-half/b.bin && ls -A out-half | tr '\n' ' ' | sed 's/ $//')"
mca extract --stop-on-error broken.mca out-stop
check "extract --stop-on-error: status" 1 "$rc"
check "extract --stop-on-error: one message" "mca: a.bin: block 1: orvana exception: ArchiveCursor.read: integrity failed 7" "$(grep '^mca:' <<<"$err")"
check "extract --stop-on-error: nothing written" "" "$(ls -A out-stop)"

# Pack writes beside the target under a name of its own: a user's file of any fixed name survives,
# nothing is left, and messages name the target.
printf 'mine' >several.pack-tmp.mca
mca pack several.mca a.bin b.bin
check "pack beside: status" 0 "$rc"
check "pack beside: a user's file survives" mine "$(cat several.pack-tmp.mca)"
check "pack beside: nothing left" "several.mca several.pack-tmp.mca" "$(ls -A | grep '^several' | tr '\n' ' ' | sed 's/ $//')"
mca pack no-such-dir/x.mca a.bin
check "pack into a missing directory: status" 1 "$rc"
check "pack into a missing directory: names the target" yes "$(grep -q "no-such-dir.x\.mca'" <<<"$err" && ! grep -q tmp <<<"$err" && echo yes)"

# A directory is packed as its regular files, recursively, in name order, each under its file name.
mkdir -p tree/a/deep tree/sub tree/empty-dir
printf 'w' >tree/a/deep/w
printf 'yy' >tree/a/y
printf 'bbb' >tree/b.txt
printf 'zzzz' >tree/sub/z
mca pack tree.mca small.txt tree
check "pack a directory: status" 0 "$rc"
mca list tree.mca
check "pack a directory: members in order" "$(printf '3\tsmall.txt\n1\tw\n2\ty\n3\tb.txt\n4\tz')" "$out"
mca cat tree.mca/z
check "pack a directory: bytes" zzzz "$out"
mkdir -p twice/one twice/two
printf '1' >twice/one/x
printf '2' >twice/two/x
mca pack twice.mca twice
check "pack a directory with one name twice: status" 1 "$rc"
check "pack a directory with one name twice: both paths" "mca: two files would be the member 'x': twice/one/x and twice/two/x" \
    "$(grep '^mca:' <<<"$err" | tr '\\' /)"
check "pack a directory with one name twice: no archive" "" "$(ls -A | grep '^twice\.')"
mkdir nothing-here
mca pack nothing.mca nothing-here
check "pack an empty directory: status" 0 "$rc"
mca list nothing.mca
check "pack an empty directory: no members" "" "$out"

# The target is never one of its own files, also where a directory holds it.
cp tree.mca tree/self.mca
mca pack tree/self.mca tree
check "pack into itself: status" 1 "$rc"
check "pack into itself: message" "mca: refusing to pack tree/self.mca into itself" "$(grep '^mca:' <<<"$err")"
check "pack into itself: the archive unchanged" same "$(cmp -s tree.mca tree/self.mca && echo same)"
mca pack several-again.mca a.bin several-again.mca
check "pack a missing target into itself: it is only missing" 1 "$rc"
rm tree/self.mca

# A file of 2 GiB or more is refused as such (a sparse file: nothing is written).
truncate -s 2G big.bin
mca pack big.mca small.txt big.bin
check "pack 2 GiB: status" 1 "$rc"
check "pack 2 GiB: message" "mca: big.bin is 2 GiB or larger: a member holds less than 2 GiB" "$(grep '^mca:' <<<"$err")"
check "pack 2 GiB: no archive" "" "$(ls -A | grep '^big\.mca')"
rm big.bin

# Standard input, under the name given with --name, from a pipe and from a file.
mca pack --name from-stdin.txt piped.mca small.txt - < <(printf 'piped bytes')
check "pack -: status" 0 "$rc"
mca list piped.mca
check "pack -: members" "$(printf '3\tsmall.txt\n11\tfrom-stdin.txt')" "$out"
mca cat piped.mca/from-stdin.txt
check "pack -: bytes" "piped bytes" "$out"
mca pack --name numbers redirected.mca - <in/numbers.txt
mca cat redirected.mca/numbers
check "pack - from a file: bytes" "$(md5sum <in/numbers.txt)" "$(md5sum <out.txt)"
for wrong in "x.mca -" "--name n x.mca small.txt" "--name n x.mca - -" "--name a/b x.mca -" "--name .. x.mca -"; do
    mca pack $wrong </dev/null
    check "pack $wrong: usage error" 2 "$rc"
done

# extract takes the members to write; an unknown name writes nothing.
mca pack three.mca a.bin b.bin c.bin
mca extract three.mca out-some c.bin a.bin
check "extract named members: status" 0 "$rc"
check "extract named members: only those" "a.bin c.bin" "$(ls -A out-some | tr '\n' ' ' | sed 's/ $//')"
check "extract named members: bytes" same "$(cmp -s a.bin out-some/a.bin && cmp -s c.bin out-some/c.bin && echo same)"
mca extract several.mca out-unknown a.bin nope.bin
check "extract an unknown member: status" 1 "$rc"
check "extract an unknown member: message" "mca: no member 'nope.bin' in several.mca" "$(grep '^mca:' <<<"$err")"
check "extract an unknown member: nothing written" "" "$(ls -A out-unknown 2>/dev/null)"

# A separator after an archive's name is no member name.
mca list several.mca/
check "list ARCHIVE/: status" 0 "$rc"
check "list ARCHIVE/: members" "$($runner "$mca_program" list several.mca | tr -d '\r')" "$out"
mca verify several.mca/
check "verify ARCHIVE/: status" 0 "$rc"
mca extract several.mca/ out-slash b.bin
check "extract ARCHIVE/: bytes" same "$(cmp -s b.bin out-slash/b.bin && echo same)"

# Failures from the system end with the system's reason.
mca cat no-such.txt
check "missing file: status" 1 "$rc"
if [[ -z $runner ]]; then
    check "missing file: reason" "mca: orvana exception: can't open file 'no-such.txt': No such file or directory" \
        "$(grep '^mca:' <<<"$err")"
else
    check "missing file: reason" yes "$(grep -q "^mca: orvana exception: can't open file 'no-such.txt': [A-Za-z]" <<<"$err" && echo yes)"
fi

if [[ -z $runner ]]; then
    # In a directory: links to files are followed and stored under the link's name; links to
    # directories (a loop among them), dangling links and FIFOs are skipped, one line each.
    mkdir -p linked/sub piped-dir
    printf 'l' >linked/real
    printf 's' >linked/sub/inner
    ln -s real linked/link
    ln -s sub linked/dirlink
    ln -s .. linked/sub/loop
    ln -s nowhere linked/dangling
    mkfifo linked/fifo
    mca pack linked.mca linked
    check "pack a directory with links: status" 0 "$rc"
    check "pack a directory with links: what was skipped" "mca: warning: skipping linked/dangling: a link that leads nowhere
mca: warning: skipping linked/dirlink: a link to a directory
mca: warning: skipping linked/fifo: not a regular file or a directory
mca: warning: skipping linked/sub/loop: a link to a directory" "$err"
    mca list linked.mca
    check "pack a directory with links: the link's file under its name" "$(printf '1\tlink\n1\treal\n1\tinner')" "$out"
    mca cat linked.mca/link
    check "pack a directory with links: the file's bytes" l "$out"
    ln -s linked/real named-link
    mca pack named-link.mca named-link
    check "pack a link named on the command line" "0 l" "$rc $($runner "$mca_program" cat named-link.mca/named-link)"

    # Names that are not UTF-8 have no name that reads back the same: refused by their bytes, before
    # anything is written.
    printf 'x' >$'lat\xe9'
    mca pack latin.mca $'lat\xe9'
    check "pack a name not UTF-8: refused by its bytes" "1 mca: refusing lat\\xe9: its name is not valid UTF-8" "$rc $err"
    mkdir -p latin-dir && printf 'y' >latin-dir/good && mv $'lat\xe9' latin-dir/
    mca pack latin.mca latin-dir
    check "pack a directory with a name not UTF-8: refused" "1 mca: refusing latin-dir/lat\\xe9: its name is not valid UTF-8" "$rc $err"
    check "pack a name not UTF-8: no archive" "" "$(ls -A | grep '^latin\.')"

    # Pipes and FIFOs are read to their end.
    echo piped | $runner "$mca_program" pack stdin.mca /dev/stdin >/dev/null 2>&1
    check "pack standard input: status" 0 "$?"
    mca cat stdin.mca/stdin
    check "pack standard input: bytes" piped "$out"
    mca pack seq.mca <(seq 1 100000) in/small.txt
    check "pack a process substitution: status" 0 "$rc"
    mca cat "seq.mca/$(sed -n 's/^[0-9]*\t//p' <<<"$($runner "$mca_program" list seq.mca)" | head -n 1)"
    check "pack a process substitution: bytes" "$(seq 1 100000 | md5sum)" "$(md5sum <out.txt)"
    mkfifo fifo
    timeout 60 sh -c "seq 1 5000 >fifo" &
    mca pack fifo.mca fifo
    check "pack a FIFO: status" 0 "$rc"
    mca cat fifo.mca/fifo
    check "pack a FIFO: bytes" "$(seq 1 5000 | md5sum)" "$(md5sum <out.txt)"

    # Pack warns about names that Windows would refuse, and packs them.
    printf 'x' >'c:x.txt'
    printf 'x' >'aux.txt'
    mca pack names.mca 'c:x.txt' aux.txt small.txt
    check "pack odd names: status" 0 "$rc"
    check "pack odd names: warnings" "mca: warning: member 'aux.txt' cannot be extracted on Windows: it names a Windows device
mca: warning: member 'c:x.txt' cannot be extracted on Windows: it holds a drive colon" "$err"
    mca extract names.mca out-names
    check "extract odd names on Linux" "aux.txt c:x.txt small.txt" "$(ls out-names | tr '\n' ' ' | sed 's/ $//')"

    # Links at a member's name: never followed, refused without --force, replaced themselves with it.
    mkdir links outside
    printf 'outside' >outside/kept
    ln -s ../outside/kept links/small.txt
    mca extract default.mca links
    check "link at a member's name: status" 1 "$rc"
    check "link at a member's name: message" "mca: links/small.txt exists (--force overwrites it)" "$(grep '^mca:' <<<"$err")"
    rm links/small.txt
    ln -s ../outside/new links/numbers.txt
    mca extract default.mca links
    check "dangling link at a member's name: status" 1 "$rc"
    check "dangling link at a member's name: message" "mca: links/numbers.txt exists (--force overwrites it)" "$(grep '^mca:' <<<"$err")"
    check "dangling link: nothing made outside" "kept" "$(ls outside)"
    ln -s ../outside/kept links/small.txt
    mca extract --force default.mca links
    check "links replaced: status" 0 "$rc"
    check "links replaced: outside untouched" "kept:outside" "$(ls outside | tr '\n' ' ' | sed 's/ $//'):$(cat outside/kept)"
    check "links replaced: files now" "file file" "$(stat -c %F links/small.txt | cut -d' ' -f2) $(stat -c %F links/numbers.txt | cut -d' ' -f2)"
    check "links replaced: content" same "$(cmp -s in/numbers.txt links/numbers.txt && cmp -s in/small.txt links/small.txt && echo same)"

    # An interrupted pack removes its temporary file and ends by the signal; the target stays as it was.
    head -c 60000000 /dev/urandom >large.bin
    for signal in INT TERM; do
        cp default.mca target.mca
        # A background job of a script starts with SIGINT ignored; a user's pack does not.
        env --default-signal=$signal "$mca_program" pack --level 9 target.mca large.bin 2>/dev/null &
        pid=$!
        # Once the temporary file holds bytes, pack is past arming its removal.
        for ((i = 0; i < 400; i++)); do [[ -n $(find . -maxdepth 1 -name 'target.~pack-*' -size +0) ]] && break; sleep 0.05; done
        kill -s $signal $pid
        wait $pid
        status=$?
        check "SIG$signal during pack: ends by the signal" $((128 + $(kill -l $signal))) "$status"
        check "SIG$signal during pack: no temporary file" "" "$(ls -A | grep '^target\.~')"
        check "SIG$signal during pack: target kept" same "$(cmp -s default.mca target.mca && echo same)"
    done

    # Killed at many points of a large run: the target is the old archive or the whole new one, and a
    # later pack succeeds whatever the killed one left.
    head -c 30000000 /dev/urandom >new.bin
    cp default.mca killed.mca
    old_list=$($runner "$mca_program" list killed.mca)
    started=$(date +%s%N)
    mca pack --level 1 full.mca new.bin in/small.txt
    took=$(($(date +%s%N) - started))
    outcomes=""
    # From the start to a little beyond the end of an undisturbed run.
    for tenth in 0 1 2 3 4 5 6 7 8 9 10 11 12 14; do
        delay=$(printf '%d.%09d' $((took * tenth / 10 / 1000000000)) $((took * tenth / 10 % 1000000000)))
        $runner "$mca_program" pack --level 1 killed.mca new.bin in/small.txt 2>/dev/null &
        pid=$!
        sleep $delay
        kill -s KILL $pid 2>/dev/null
        wait $pid 2>/dev/null
        mca verify killed.mca
        list=$($runner "$mca_program" list killed.mca)
        if [[ $rc == 0 && $list == "$old_list" ]]; then outcomes+=o
        elif [[ $rc == 0 && $list == "$(printf '30000000\tnew.bin\n3\tsmall.txt')" ]]; then outcomes+=n
        else outcomes+=X; fi
        cp default.mca killed.mca
    done
    check "SIGKILL during pack: always the old or the new archive" "" "$(tr -d on <<<"$outcomes")"
    echo "SIGKILL at ${#outcomes} points: old (o) or new (n) archive: $outcomes"
    mca pack --level 1 killed.mca new.bin in/small.txt
    check "pack after kills: status" 0 "$rc"
    mca verify killed.mca
    check "pack after kills: verify" 0 "$rc"
    rm -f killed.~pack-* large.bin new.bin full.mca
else
    echo "skipped on Windows: pipes, FIFOs, names Linux creates, links, signals (POSIX only)"
fi
# Any number of compressing threads makes the same archive.
for threads in 1 2 8; do
    mca pack --threads "$threads" --block-size 4096 "threads-$threads.mca" in/random.bin in/numbers.txt
    check "--threads $threads: status" 0 "$rc"
done
check "--threads: the same archive" same "$(cmp -s threads-1.mca threads-2.mca && cmp -s threads-1.mca threads-8.mca && echo same)"
mca pack --threads 0 x.mca in/small.txt
check "--threads 0: status" 2 "$rc"

# Any number of decoding threads gives the same bytes and the same messages, whole or damaged. Blocks
# of 4096 bytes: lead.bin in block 0, random.bin from within block 0 to block 49, numbers.txt on, then
# big.txt, damaged past its first MiB, so that cat writes a part of it before the damage.
head -c 1000 /dev/urandom >lead.bin
seq 1 300000 >big.txt
mca pack --block-size 4096 decode.mca lead.bin in/random.bin in/numbers.txt big.txt
big_damaged=$(( (1000 + 200000 + $(wc -c <numbers.txt) + 1200000) / 4096 ))
cp decode.mca decode-broken.mca
sizes_offset=$($runner "$mca_program" info decode.mca | tr -d '\r' | sed -n 's/^blockSizesOffset: //p')
blocks_offset=$($runner "$mca_program" info decode.mca | tr -d '\r' | sed -n 's/^blocksOffset: //p')
at=$blocks_offset
for ((k = 0; k <= big_damaged; k++)); do
    ((k == 6 || k == 30 || k == big_damaged)) && patch decode-broken.mca $((at + 10)) '\377\377\377\377\377\377'
    at=$((at + $(od -An -tu4 -j $((sizes_offset + 4 * k)) -N4 decode.mca | tr -d ' ')))
done
# mca with only its own lines on stderr (trace lines carry the time), and no binary output in $out.
mca_lines() {
    mca "$@" 2>/dev/null
    err=$(grep '^mca:' err.txt | tr -d '\r')
}
decoded() { # what one thread count makes of both archives: every output, message and status
    local t=$1 err
    mca_lines verify --threads "$t" decode.mca
    echo "verify $rc $out $err"
    mca_lines verify --threads "$t" decode-broken.mca
    echo "verify broken $rc [$out] $err"
    mca_lines cat --threads "$t" decode.mca/random.bin decode.mca/numbers.txt
    echo "cat $rc $(od -An -tx1 out.txt | md5sum) $err"
    mca_lines cat --threads "$t" decode-broken.mca/lead.bin decode-broken.mca/random.bin
    echo "cat broken $rc $(od -An -tx1 out.txt | md5sum) $err"
    mca_lines cat --threads "$t" decode-broken.mca/big.txt
    echo "cat broken big $rc $(wc -c <out.txt) $err"
    mca_lines extract --threads "$t" decode.mca "out-decode-$t"
    echo "extract $rc $err $(cd "out-decode-$t" && ls -A | tr '\n' ' ' && cat lead.bin random.bin numbers.txt big.txt | md5sum)"
    mca_lines extract --threads "$t" decode-broken.mca "out-decode-broken-$t"
    echo "extract broken $rc $err $(ls -A "out-decode-broken-$t" | tr '\n' ' ')"
}
one_thread=$(decoded 1)
decode_blocks=$(( (1000 + 200000 + $(wc -c <numbers.txt) + $(wc -c <big.txt) + 4095) / 4096 ))
integrity="orvana exception: ArchiveCursor.read: integrity failed 7"
check "decoding threads: verify" "verify 0 ok: 4 members, $decode_blocks blocks," \
    "$(grep '^verify 0' <<<"$one_thread" | cut -d' ' -f1-7)"
check "decoding threads: verify of damaged blocks" "verify broken 1 [] mca: damaged: block 6 (members random.bin): $integrity
mca: damaged: block 30 (members random.bin): $integrity
mca: damaged: block $big_damaged (members big.txt): $integrity
mca: 3 of $decode_blocks blocks damaged" "$(sed -n '/^verify broken/,/blocks damaged$/p' <<<"$one_thread")"
check "decoding threads: cat of whole members" "cat 0 $(cat in/random.bin in/numbers.txt | od -An -tx1 | md5sum) " \
    "$(grep '^cat 0' <<<"$one_thread")"
check "decoding threads: cat stops at the damaged block's piece" "cat broken big 1 1048576 mca: decode-broken.mca/big.txt: block $big_damaged: $integrity" \
    "$(grep '^cat broken big' <<<"$one_thread")"
check "decoding threads: extract of damaged members" "extract broken 1 mca: random.bin: block 6: $integrity
mca: big.txt: block $big_damaged: $integrity lead.bin numbers.txt " "$(sed -n '/^extract broken/,$p' <<<"$one_thread")"
check "decoding threads: extract whole" \
    "extract 0  big.txt lead.bin numbers.txt random.bin $(cat lead.bin in/random.bin in/numbers.txt big.txt | md5sum)" \
    "$(grep '^extract 0' <<<"$one_thread")"
for threads in 2 8; do
    check "decoding threads: $threads as 1" "$one_thread" "$(decoded "$threads")"
done
mca verify --threads 0 decode.mca
check "decoding --threads 0: status" 2 "$rc"

# The library's log is shown only when asked (--trace before the command); mca's own lines always.
mca list no-such.mca
check "without --trace: mca's own line alone" "mca: orvana exception: can't open file 'no-such.mca'" \
    "$(cut -d: -f1-3 <<<"$err")"
mca --trace list no-such.mca
check "--trace: the library's trace line, then mca's" yes \
    "$(grep -q '^ERR [0-9/]* [0-9:]* Exception thrown: ' <<<"$err" && grep -q "^mca: orvana exception: can't open file" <<<"$err" && echo yes)"
mca list --trace no-such.mca
check "--trace after the command: usage error" 2 "$rc"

# Why an archive does not open: the system's reason, not "not found".
mkdir dir.mca
mca list dir.mca
check "list a directory: status" 1 "$rc"
mca list missing.mca
check "list a missing file: status" 1 "$rc"
if [[ -z $runner ]]; then
    check "list a directory: why" "mca: orvana exception: can't open file 'dir.mca': Is a directory" \
        "$($runner "$mca_program" list dir.mca 2>&1 >/dev/null)"
    check "list a missing file: why" "mca: orvana exception: can't open file 'missing.mca': No such file or directory" "$err"
    mca cat dir.mca/member missing.mca/member
    check "cat through a directory or a missing archive: why" "mca: orvana exception: can't open file 'dir.mca': Is a directory
mca: orvana exception: can't open file 'missing.mca': No such file or directory" "$err"
else
    check "list a directory: why" yes "$(grep -q "^mca: orvana exception: can't open file 'dir.mca': [A-Za-z]" <<<"$($runner "$mca_program" list dir.mca 2>&1)" && echo yes)"
    check "list a missing file: why" yes "$(grep -q "^mca: orvana exception: can't open file 'missing.mca': [A-Za-z]" <<<"$err" && echo yes)"
fi
if [[ -z $runner ]]; then
    # Root reads every file: the refusal is seen as nobody (setpriv), where that can be done.
    cp default.mca locked.mca && chmod 000 locked.mca
    as_user=()
    ((EUID == 0)) && command -v setpriv >/dev/null && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    if ((EUID != 0)) || ((${#as_user[@]} > 0)); then
        chmod 755 "$work"
        check "list without permission: why" "mca: orvana exception: can't open file 'locked.mca': Permission denied" \
            "$("${as_user[@]}" "$mca_program" list locked.mca 2>&1 >/dev/null)"
        chmod 700 "$work"
    else
        echo "skipped: list without permission (root without setpriv reads every file)"
    fi
fi

# A file cut short: said first, by list (exit 1, the table still shown) and by verify. Cut within the
# last block but one: the last two are cut.
size=$(wc -c <default.mca | tr -d ' ')
last_sizes=$(($($runner "$mca_program" info default.mca | tr -d '\r' | sed -n 's/^blockSizesOffset: //p') + 4 * 4))
cut=$((size - $(od -An -tu4 -j $((last_sizes + 4)) -N4 default.mca) - 10))
head -c $cut default.mca >short.mca
cut_line="mca: short.mca is cut short: it has $cut bytes, its blocks end at byte $size (blocks 4 to 5 are cut)"
mca list short.mca
check "list cut short: status" 1 "$rc"
check "list cut short: said" "$cut_line" "$err"
check "list cut short: the table" "$($runner "$mca_program" list default.mca | tr -d '\r')" "$out"
mca verify short.mca
check "verify cut short: status" 1 "$rc"
check "verify cut short: said first" "$cut_line" "$(head -n 1 <<<"$err")"
check "verify cut short: then the blocks" "mca: 2 of 6 blocks damaged" "$(tail -n 1 <<<"$err")"

# Targets that can never be written are refused before any work.
mkdir target-dir.mca
mca pack target-dir.mca in/random.bin
check "pack over a directory: refused" "1 mca: cannot write target-dir.mca: it is a directory" "$rc $err"
check "pack over a directory: nothing beside it" "" "$(ls -A | grep '^target-dir\.~')"
mca extract default.mca small.txt
check "extract into a file: refused" "1 mca: cannot extract into small.txt: it is not a directory" "$rc $err"

# A stored archive's size is known at once: one of 2 GiB or more is refused before anything is read.
mkdir two
truncate -s 1100M two/a two/b
started=$(date +%s)
mca pack --store --threads 1 two.mca two
check "pack --store over 2 GiB: status" 1 "$rc"
check "pack --store over 2 GiB: why" yes "$(grep -q '^mca: orvana exception: archive writer: a stored archive of 2307008[0-9]* bytes does not fit the format (less than 2 GiB)$' <<<"$err" && echo yes)"
check "pack --store over 2 GiB: at once" yes "$( (($(date +%s) - started < 20)) && echo yes)"
check "pack --store over 2 GiB: no archive" "" "$(ls -A | grep '^two\.')"
rm -r two

# A file that grows or shrinks while pack reads it fails the pack; the target stays as it was.
head -c 50000000 /dev/urandom >changing.bin
for change in grows shrinks; do
    cp default.mca changing.mca
    $runner "$mca_program" pack --level 9 --threads 1 changing.mca changing.bin >/dev/null 2>err.txt &
    pid=$!
    # The temporary file appears once the file has been measured.
    for ((i = 0; i < 400; i++)); do [[ -n $(find . -maxdepth 1 -name 'changing.~pack-*' -size +0) ]] && break; sleep 0.05; done
    if [[ $change == grows ]]; then head -c 1000000 /dev/urandom >>changing.bin; else truncate -s 40000000 changing.bin; fi
    wait $pid
    check "pack of a file that $change: status" 1 "$?"
    check "pack of a file that $change: why" "mca: changing.bin changed while it was read" "$(tr -d '\r' <err.txt)"
    check "pack of a file that $change: target kept" same "$(cmp -s default.mca changing.mca && echo same)"
done
rm changing.bin

# A full disk: the reason is the system's answer to the write that failed.
mkdir full
if mount -t tmpfs -o size=1m tmpfs full 2>/dev/null; then
    head -c 3000000 /dev/urandom >big3.bin
    mca pack --store big3.mca big3.bin
    mca extract big3.mca full/o
    check "extract onto a full disk: status" 1 "$rc"
    mca pack full/big3.mca big3.bin
    check "pack onto a full disk: status" 1 "$rc"
    pack_err=$err
    mca extract big3.mca full/o
    $runner "$mca_program" cat big3.mca/big3.bin >full/cat.out 2>err.txt
    check "cat onto a full disk: status" 1 "$?"
    cat_err=$(tr -d '\r' <err.txt)
    if [[ -z $runner ]]; then
        check "extract onto a full disk: why" "mca: cannot write full/o/big3.bin: No space left on device" "$err"
        check "pack onto a full disk: why" "mca: cannot write full/big3.mca: No space left on device" "$pack_err"
        check "cat onto a full disk: why" "mca: cannot write standard output: No space left on device" "$cat_err"
    else
        full_reason="$(grep -c 'ioctl' <<<"$err$pack_err$cat_err") $(grep -c '^mca: cannot write [^:]*: [A-Za-z]' <<<"$err
$pack_err
$cat_err")"
        check "onto a full disk: the system's reason" "0 3" "$full_reason"
    fi
    check "full disk: nothing left but the cut output" "cat.out o" "$(ls -A full full/o | grep -v '^full' | tr '\n' ' ' | sed 's/ *$//')"
    umount full
else
    echo "skipped: the full-disk cases (a 1 MiB tmpfs cannot be mounted here)"
fi

# verify checks each name as extract would: one line for each name it would refuse or that no lookup
# reaches. Three members "ab", "cd", "xy": their names start at byte 72 (60 + 4 for each size).
printf '1' >ab && printf '2' >cd && printf '3' >xy
mca pack names3.mca ab cd xy
patch names3.mca 74 '/\0'
patch names3.mca 84 'c\0d\0'
mca verify names3.mca
check "verify names: status" 1 "$rc"
check "verify names: one line each, then the count" "mca: member 0 'a/' cannot be extracted on $platform: it holds a separator
mca: member 2 'cd' cannot be reached: member 1 has the same name
mca: 2 of 3 member names would be refused" "$err"
check "verify names: no ok" "" "$out"

# cat goes on past a file that fails, exits 1 at the end; - is standard input.
$runner "$mca_program" cat small.txt default.mca/nope - in/small.txt < <(printf 'piped') >out.txt 2>err.txt
check "cat past a failure: status" 1 "$?"
check "cat past a failure: the others' bytes" abcpipedabc "$(cat out.txt)"
check "cat past a failure: why" "mca: orvana exception: ArchiveCursor: file 'default.mca/nope' not found in archive 'default.mca'" \
    "$(tr -d '\r' <err.txt)"

# Exit statuses and usage.
mca list no-such.mca
check "missing archive: status" 1 "$rc"
mca
check "no command: status" 2 "$rc"
check "no command: usage on stderr" yes "$(grep -q Usage <<<"$err" && echo yes)"
check "no command: what is wrong" "mca: a subcommand is required" "$(head -n 1 <<<"$err")"
mca foo
check "unknown command: status" 2 "$rc"
check "unknown command: what is wrong" "mca: 'foo' is not a subcommand" "$(head -n 1 <<<"$err")"
check "unknown command: no subcommand's options" no "$(grep -q -- '--block-size' <<<"$err" && echo yes || echo no)"
mca --bogus
check "unknown option: what is wrong" "mca: '--bogus' is not an option of mca" "$(head -n 1 <<<"$err")"
mca pack x.mca
check "pack without files: status" 2 "$rc"
check "pack without files: pack's usage alone" yes \
    "$(grep -q -- '--block-size' <<<"$err" && ! grep -q -- '--stop-on-error' <<<"$err" && echo yes)"
mca --version
check "--version: status" 0 "$rc"
check "--version: line" yes "$(grep -qE '^mca [0-9]+\.[0-9]+' <<<"$out" && echo yes)"
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
