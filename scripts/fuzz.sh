#!/usr/bin/env bash
# Builds the fuzzers (clang's libFuzzer, with AddressSanitizer and UndefinedBehaviorSanitizer) and runs
# each on a corpus that grows in build/fuzz/corpus, seeded with archives made by the library's writer.
#   scripts/fuzz.sh [seconds per fuzzer, default 60] [fuzzer names...]
# Exits non-zero on any finding; the input that found it is kept in build/fuzz/findings.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
fuzzers=("$@")
((${#fuzzers[@]})) || fuzzers=(archive stream settings path)

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
    log=$root/$fuzzer.log
    "$root/bin/${fuzzer}Fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$root/findings/$fuzzer-" "$corpus" >"$log" 2>&1
    rc=$?
    runs=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | sed -E 's/^#([0-9]+).*/\1/')
    if [[ $rc == 0 ]]; then
        echo "fuzz $fuzzer: ${runs:-0} runs in ${seconds} s, no finding"
    else
        echo "fuzz $fuzzer: FINDING after ${runs:-0} runs (see $log and $root/findings)"
        tail -n 30 "$log"
        status=1
    fi
done
exit $status
