#!/usr/bin/env bash
# mca mount for real, through the kernel's FUSE: contents against mca cat, concurrent preads, names left
# out, damaged blocks, a changed archive, writes refused, and clean unmounts that leave no process.
#   mount_test.sh <mca program> <MountReader program>
# Exits 77 (skipped) where the machine cannot mount FUSE file systems.
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../../support/check.sh"
mca_program=$(realpath "$1")
reader=$(realpath "$2")

skip() {
    echo "mount: skipped: $1"
    exit 77
}
[[ -c /dev/fuse ]] || skip "no /dev/fuse on this machine"
command -v fusermount3 >/dev/null || skip "no fusermount3 (Debian's fuse3)"
"$mca_program" mount --help >/dev/null 2>&1 || skip "this mca was built without libfuse 3"

work=$(mktemp -d)
foreground=()
cleanup() {
    local point
    for point in "$work"/mnt-*; do
        mountpoint -q "$point" 2>/dev/null && fusermount3 -u -z "$point"
    done
    ((${#foreground[@]})) && kill "${foreground[@]}" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1

# Polls a condition every 0.1 s for at most $1 seconds.
within() {
    local seconds=$1
    shift
    for ((tick = 0; tick < seconds * 10; ++tick)); do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}
mounted() { grep -q " $1 fuse" /proc/mounts; }
not_mounted() { ! mounted "$1"; }
# The live (not zombie) processes serving the mount point $1.
servers() {
    local status
    for status in /proc/[0-9]*/status; do
        { grep -q '^State:.*Z' "$status" || ! tr '\0' ' ' <"${status%status}cmdline" | grep -q -- "^$mca_program mount .*$1 *$"; } \
            2>/dev/null || echo "${status//[^0-9]/}"
    done
}
no_servers() { [[ -z $(servers "$1") ]]; }
# Ended: no such process, or one waiting to be reaped.
gone() { ! grep -qs '^State:[^Z]*$' "/proc/$1/status"; }
# $ended: the exit status of background process $1 once it has ended (within 20 s), else "running".
finished() {
    ended=running
    if within 20 gone "$1"; then
        wait "$1"
        ended=$?
    fi
}
# Runs mca; $out, $err and $rc as in the other tests.
mca() {
    timeout 60 "$mca_program" "$@" >out.txt 2>err.txt
    rc=$?
    out=$(cat out.txt)
    err=$(cat err.txt)
}
# Mounts in the background (mca returns once the mount stands).
mount_archive() {
    mkdir -p "$work/$2"
    mca mount "$1" "$work/$2"
}
unmount() {
    fusermount3 -u "$work/$1"
    check "$1: unmounted" yes "$(within 20 not_mounted "$work/$1" && echo yes)"
    check "$1: no server left" yes "$(within 20 no_servers "$work/$1" && echo yes)"
}
patch() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
field() { "$mca_program" info "$1" | sed -n "s/^$2: //p"; }

# /dev/fuse may be there and mounts still refused (a container without the right to mount).
printf 'p' >probe
"$mca_program" pack probe.mca probe
mount_archive probe.mca mnt-probe
if [[ $rc != 0 ]] && grep -q '^mca: cannot mount .* on ' <<<"$err"; then
    skip "FUSE mounts are refused here: $err"
fi
fusermount3 -u "$work/mnt-probe"

# Members spanning blocks, starting off any page boundary, empty, and with UTF-8 names.
mkdir in
head -c 300000 /dev/urandom >in/random.bin
seq 1 100000 >in/numbers.txt
# Several MiB, so that the kernel's read-ahead asks for it in requests of many blocks at once.
seq 1 900000 >in/big.txt
: >in/empty
printf 'abc' >"in/Grüße ☃.txt"
printf 'colon' >"in/a:b"
"$mca_program" pack --block-size 65536 all.mca in/random.bin in/numbers.txt in/big.txt in/empty "in/Grüße ☃.txt" in/a:b

# ---- contents, names, attributes
mount_archive all.mca mnt-all
check "mount returns: status" 0 "$rc"
check "mount returns: ready" yes "$(mounted "$work/mnt-all" && echo yes)"
check "listing" "$(ls in)" "$(ls mnt-all)"
for name in random.bin numbers.txt big.txt empty "Grüße ☃.txt" a:b; do
    check "$name: as mca cat gives it" same \
        "$(cmp -s <("$mca_program" cat "all.mca/$name") "mnt-all/$name" && echo same)"
    check "$name: size" "$(stat -c %s "in/$name")" "$(stat -c %s "mnt-all/$name")"
    check "$name: read-only file" "444 regular" "$(stat -c '%a %F' "mnt-all/$name" | sed 's/ empty//;s/ file//')"
    check "$name: archive's time" "$(stat -c %Y all.mca)" "$(stat -c %Y "mnt-all/$name")"
done

# ---- the kernel's read-ahead on the mount, widened at the first open where the server may set it
device=$(awk -v point="$work/mnt-all" '$5 == point { device = $3 } END { print device }' /proc/self/mountinfo)
if [[ $(id -u) == 0 && -w /sys/class/bdi/$device/read_ahead_kb ]]; then
    check "read-ahead widened" 4096 "$(cat "/sys/class/bdi/$device/read_ahead_kb")"
else
    echo "mount: read-ahead check skipped: only root may set it"
fi

# ---- preads at random offsets, from several threads through one descriptor, and several readers
for name in random.bin numbers.txt big.txt; do
    timeout 120 "$reader" "mnt-all/$name" "in/$name" 1500 4 2>err.txt
    check "$name: concurrent preads" "0 " "$? $(cat err.txt)"
done
pids=()
for i in 1 2 3 4; do
    timeout 60 cmp -s in/random.bin mnt-all/random.bin & pids+=($!)
    timeout 60 cmp -s in/numbers.txt mnt-all/numbers.txt & pids+=($!)
done
bad=0
for pid in "${pids[@]}"; do wait "$pid" || bad=$((bad + 1)); done
check "eight readers at once" 0 "$bad"

# ---- many small files sharing blocks, read in turn and at once: each read finds its own file's bytes
# whether or not the kernel sent an open for it
mkdir -p small
for i in $(seq 1 60); do head -c $((i * 997)) in/random.bin | tail -c $((i * 331)) >"small/s$i"; done
"$mca_program" pack --block-size 65536 small.mca small
mount_archive small.mca mnt-small
pids=()
for order in "seq 1 60" "seq 60 -1 1" "shuf -i 1-60"; do
    (for i in $($order); do cmp -s "small/s$i" "mnt-small/s$i" || exit 1; done) & pids+=($!)
done
bad=0
for pid in "${pids[@]}"; do wait "$pid" || bad=$((bad + 1)); done
check "small files, three readers in different orders" 0 "$bad"
unmount mnt-small

# ---- nothing can be written
for attempt in "write:printf x >mnt-all/a:b" "append:printf x >>mnt-all/a:b" "create:printf x >mnt-all/new" \
    "remove:rm -f mnt-all/a:b" "rename:mv mnt-all/a:b mnt-all/c" "mkdir:mkdir mnt-all/d" \
    "truncate:truncate -s 0 mnt-all/a:b" "chmod:chmod 644 mnt-all/a:b" "touch:touch mnt-all/a:b"; do
    what=${attempt%%:*}
    message=$(eval "${attempt#*:}" 2>&1)
    check "$what: EROFS" yes "$(grep -q 'Read-only file system' <<<"$message" && echo yes)"
done
check "unchanged after the attempts" "colon $(ls in | tr '\n' ' ')" "$(cat mnt-all/a:b) $(ls mnt-all | tr '\n' ' ')"

# ---- a read of one page brings the other pages of its block into the page cache
pages() { fincore -n -o PAGES "$1" 2>/dev/null | tr -d ' '; }
at_least() { (($(pages "$1") >= $2)); }
mount_archive all.mca mnt-pages
if command -v fincore >/dev/null; then
    # Far from the start, where a read is not taken for the start of a run.
    dd if=mnt-pages/big.txt of=/dev/null bs=4096 skip=300 count=1 status=none
    check "one page read: its block's pages cached" yes "$(within 5 at_least "$work/mnt-pages/big.txt" 15 && echo yes)"
    check "one page read: not the whole member" yes "$( (($(pages mnt-pages/big.txt) < 64)) && echo yes)"
    check "those pages read back right" same "$(cmp -s <(dd if=mnt-pages/big.txt bs=4096 skip=290 count=20 status=none) \
        <(dd if=in/big.txt bs=4096 skip=290 count=20 status=none) && echo same)"
else
    echo "mount: page cache check skipped: no fincore (util-linux)"
fi
unmount mnt-pages

# ---- a read brings the other files of its block into the page cache: whole pages only, a file's
# partial last page included, a file that goes on into the next block only as far as this one holds it
mkdir -p shared
head -c 5000 in/random.bin >shared/n1
printf 'tail of a page' >shared/n2
: >shared/n3
tail -c 9000 in/random.bin >shared/n4
head -c 70000 in/numbers.txt >shared/n5
"$mca_program" pack --block-size 65536 shared.mca shared/n1 shared/n2 shared/n3 shared/n4 shared/n5
mount_archive shared.mca mnt-shared
# Nothing lists the files before the read: the mount has told the kernel their names itself, without
# which it could store nothing for them.
if command -v fincore >/dev/null; then
    dd if=mnt-shared/n1 of=/dev/null bs=4096 skip=1 count=1 status=none
    check "shared block: the next files' pages cached" yes \
        "$(within 5 at_least "$work/mnt-shared/n4" 3 && at_least "$work/mnt-shared/n2" 1 && echo yes)"
    # n5 starts 14014 bytes into the block: the block holds 51522 of its bytes, 12 whole pages.
    check "shared block: a file going on into the next block" 12 "$(within 5 at_least "$work/mnt-shared/n5" 12; pages mnt-shared/n5)"
else
    echo "mount: shared block check skipped: no fincore (util-linux)"
fi
check "shared block: listing" "n1 n2 n3 n4 n5" "$(ls mnt-shared | tr '\n' ' ' | sed 's/ $//')"
for name in n1 n2 n3 n4 n5; do
    check "shared block: $name read back" same "$(cmp -s "shared/$name" "mnt-shared/$name" && echo same)"
done
unmount mnt-shared

# ---- as an engine reads: one page at random, then the whole file in order, file after file, on a fresh
# mount and in an order of its own
mount_archive small.mca mnt-small
bad=0
for i in $(shuf -i 1-60); do
    size=$(stat -c %s "small/s$i")
    page=$((RANDOM % ((size + 4095) / 4096)))
    cmp -s <(dd if="mnt-small/s$i" bs=4096 skip=$page count=1 status=none) \
        <(dd if="small/s$i" bs=4096 skip=$page count=1 status=none) || bad=$((bad + 1))
    cmp -s "small/s$i" "mnt-small/s$i" || bad=$((bad + 1))
done
check "small files: a page, then the whole file" 0 "$bad"
unmount mnt-small

unmount mnt-all

# ---- the archive file replaced, then deleted, while mounted: the mount serves what it mounted
cp all.mca kept.mca
cp in/numbers.txt numbers-before.txt
mount_archive kept.mca mnt-kept
seq 7 50000 >in/numbers.txt
"$mca_program" pack other.mca in/numbers.txt in/random.bin
mv other.mca kept.mca
check "replaced archive: its member as mounted" same "$(cmp -s numbers-before.txt mnt-kept/numbers.txt && echo same)"
check "replaced archive: listing as mounted" "$(ls in)" "$(ls mnt-kept)"
rm kept.mca
check "deleted archive: a member not read before" same "$(cmp -s in/big.txt mnt-kept/big.txt && echo same)"
check "deleted archive: opened again" same "$(cmp -s in/random.bin mnt-kept/random.bin && echo same)"
unmount mnt-kept

# ---- mount options
mca mount -o rw all.mca mnt-kept
check "-o rw: usage error" 2 "$rc"
check "-o rw: why" yes "$(grep -q "^mca: -o: mount option 'rw': the mount is read-only" <<<"$err" && echo yes)"
mca mount -o nodev,bogus all.mca mnt-kept
check "-o unknown: named" "2 yes" "$rc $(grep -q "unknown mount option 'bogus'" <<<"$err" && echo yes)"
mca mount -o allow_other -o allow_root all.mca mnt-kept
check "-o allow_other and allow_root: refused" "1 yes" "$rc $(grep -q "exclude each other" <<<"$err" && echo yes)"
check "refused options: nothing mounted" yes "$(not_mounted "$work/mnt-kept" && echo yes)"
if [[ $(id -u) == 0 ]] && command -v setpriv >/dev/null; then
    chmod 755 "$work"
    as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
    mount_archive all.mca mnt-own
    check "without allow_other: others refused" yes "$(as_nobody cat mnt-own/a:b >/dev/null 2>&1 || echo yes)"
    unmount mnt-own
    mkdir -p mnt-other
    mca mount -o allow_other,nosuid,noatime -o uid=4321,gid=8765,umask=0440 all.mca "$work/mnt-other"
    check "allow_other: mounted" 0 "$rc"
    check "allow_other: the kernel's options" yes \
        "$(grep " $work/mnt-other " /proc/mounts | grep -q 'allow_other' && echo yes)"
    check "allow_other: another user reads" colon "$(as_nobody cat mnt-other/a:b 2>&1)"
    # Only others may read: the kernel checks the modes shown.
    check "uid, gid, umask: shown" "4321 8765 4 d--x--xr-x" \
        "$(stat -c '%u %g %a' mnt-other/a:b) $(stat -c '%A' mnt-other)"
    unmount mnt-other
    mkdir -p mnt-root
    mca mount -o allow_root,umask=0 all.mca "$work/mnt-root"
    check "allow_root: root reads" colon "$(cat mnt-root/a:b)"
    check "allow_root: another user refused" yes "$(as_nobody cat mnt-root/a:b >/dev/null 2>&1 || echo yes)"
    unmount mnt-root
    chmod 700 "$work"
else
    echo "mount: allow_other and allow_root checks skipped: they need root and setpriv"
fi

# ---- names that cannot be file names, and a later duplicate, are left out and reported once each
for n in aa ab ac ad ae af; do printf "%s" "$n" >"in/$n"; done
"$mca_program" pack names.mca in/aa in/ab in/ac in/ad in/ae in/af
# Six sizes, then names of 3 UTF-16 units each from offset 84.
patch names.mca 90 'a\0a\0'   # ab -> aa, a duplicate
patch names.mca 96 'a\0/\0'   # ac -> a/
patch names.mca 102 '.\0.\0'  # ad -> ..
patch names.mca 108 'a\0\\\0' # ae -> a\ (the library reads it as a separator)
mount_archive names.mca mnt-names
check "left out: status" 0 "$rc"
check "left out: listing" "aa af" "$(ls mnt-names | tr '\n' ' ' | sed 's/ $//')"
check "left out: the first duplicate wins" aa "$(cat mnt-names/aa)"
check "left out: reports" 4 "$(grep -c '^mca: leaving out member' <<<"$err")"
check "left out: why" yes "$(grep -q "'aa': an earlier member has the name" <<<"$err" && echo yes)"
unmount mnt-names

# ---- a damaged block fails alone, and is logged once
"$mca_program" pack damaged.mca in/random.bin in/numbers.txt
first_stored=$(od -An -tu4 -j "$(field damaged.mca blockSizesOffset)" -N4 damaged.mca | tr -d ' ')
patch damaged.mca $(($(field damaged.mca blocksOffset) + first_stored + 100)) '\377\377\377\377\377\377\377\377'
mkdir -p mnt-damaged
"$mca_program" mount -f damaged.mca mnt-damaged 2>damaged.log &
server=$!
foreground+=("$server")
check "foreground: mounted" yes "$(within 20 mounted "$work/mnt-damaged" && echo yes)"
for block in 0 2 3 4; do
    check "damaged: block $block readable" same "$(cmp -s <(dd if=mnt-damaged/random.bin bs=65536 skip=$block count=1 status=none) \
        <(dd if=in/random.bin bs=65536 skip=$block count=1 status=none) && echo same)"
done
for attempt in 1 2; do
    message=$(dd if=mnt-damaged/random.bin of=/dev/null bs=4096 skip=20 count=1 2>&1)
    check "damaged: block 1, read $attempt: EIO" yes "$(grep -q 'Input/output error' <<<"$message" && echo yes)"
done
check "damaged: the last bytes of block 0" same "$(cmp -s <(dd if=mnt-damaged/random.bin bs=4096 skip=15 count=1 status=none) \
    <(dd if=in/random.bin bs=4096 skip=15 count=1 status=none) && echo same)"
check "damaged: other member" same "$(cmp -s in/numbers.txt mnt-damaged/numbers.txt && echo same)"
check "damaged: logged once" 1 "$(grep -c 'random.bin: block 1: orvana exception: .*integrity failed' damaged.log)"

# ---- SIGTERM and SIGINT end a foreground mount cleanly
kill -TERM "$server"
check "SIGTERM: unmounted" yes "$(within 20 not_mounted "$work/mnt-damaged" && echo yes)"
finished "$server"
check "SIGTERM: exit status" 0 "$ended"
"$mca_program" mount --foreground all.mca mnt-damaged 2>/dev/null &
server=$!
foreground+=("$server")
within 20 mounted "$work/mnt-damaged"
kill -INT "$server"
check "SIGINT: unmounted" yes "$(within 20 not_mounted "$work/mnt-damaged" && echo yes)"
finished "$server"
check "SIGINT: exit status" 0 "$ended"

# ---- refused mounts leave nothing mounted
mkdir -p mnt-refused
mca mount no-such.mca mnt-refused
check "missing archive: status" 1 "$rc"
check "missing archive: message" yes "$(grep -q "^mca: orvana exception: can't open file '.*no-such.mca': No such file or directory" <<<"$err" && echo yes)"
cp all.mca bad-header.mca
patch bad-header.mca 0 'XXXX'
mca mount bad-header.mca mnt-refused
check "damaged header: status" 1 "$rc"
check "damaged header: library's message" "mca: orvana exception: " "$(grep '^mca:' <<<"$err" | cut -c1-23)"
mca mount all.mca no-such-dir
check "missing mount point: status" 1 "$rc"
check "refused: nothing mounted" yes "$(not_mounted "$work/mnt-refused" && echo yes)"
mca mount --help
check "--help: status" 0 "$rc"
check "--help: how to unmount" yes "$(grep -q 'fusermount3 -u' <<<"$out" && echo yes)"

summary "mount"
