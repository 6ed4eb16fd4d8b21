#!/usr/bin/env bash
# Builds the fuzzers (clang's libFuzzer, with AddressSanitizer and UndefinedBehaviorSanitizer) and runs
# each on a corpus that grows in build/fuzz/corpus, seeded with archives made by the library's writer.
#   scripts/fuzz.sh [seconds per fuzzer, default 60] [fuzzer names...]
# FUZZ_WORKERS=N runs N processes of each fuzzer at once on the shared corpus (default 1).
# Exits non-zero on any finding; the input that found it is kept in build/fuzz/findings.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
fuzzers=("$@")
((${#fuzzers[@]})) || fuzzers=(archive stream settings path httpAnswer)

scripts/setup.sh fuzz || exit 1
{ cmake --preset fuzz >/dev/null && cmake --build --preset fuzz; } || exit 1

root=build/fuzz
"$root/bin/makeSeeds" "$root/seeds" || exit 1
mkdir -p "$root/findings"
status=0
for fuzzer in "${fuzzers[@]}"; do
    corpus=$root/corpus/$fuzzer
    mkdir -p "$corpus"
    cp -n "$root/seeds/$fuzzer/"* "$corpus/" 2>/dev/null
    workers=${FUZZ_WORKERS:-1}
    pids=()
    rm -f "$root/$fuzzer".log "$root/$fuzzer"-*.log
    # The files the fuzzers write go here, removed after the run.
    scratch=$(mktemp -d "$root/scratch.XXXXXX") || exit 1
    for ((w = 1; w <= workers; w++)); do
        log=$root/$fuzzer.log
        ((workers == 1)) || log=$root/$fuzzer-$w.log
        TMPDIR=$scratch "$root/bin/${fuzzer}Fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -artifact_prefix="$root/findings/$fuzzer-" "$corpus" >"$log" 2>&1 &
        pids+=($!)
    done
    rc=0
    for pid in "${pids[@]}"; do
        wait "$pid" || rc=1
    done
    rm -rf "$scratch"
    runs=0
    for log in "$root/$fuzzer".log "$root/$fuzzer"-*.log; do
        [[ -f $log ]] || continue
        n=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | sed -E 's/^#([0-9]+).*/\1/')
        runs=$((runs + ${n:-0}))
    done
    if [[ $rc == 0 ]]; then
        echo "fuzz $fuzzer: $runs runs in ${seconds} s ($workers process(es)), no finding"
    else
        echo "fuzz $fuzzer: FINDING after $runs runs (see $root/$fuzzer*.log and $root/findings)"
        tail -n 30 "$root/$fuzzer"*.log
        status=1
    fi
done
exit $status
