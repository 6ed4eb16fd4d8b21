#!/usr/bin/env bash
# Builds the benchmark optimised for Linux and its Windows figures for 32-bit Windows, runs both (the
# Windows ones under Wine, in its build's own prefix) and prints the table: every figure on every data
# set, the Windows rows, then the worst data set of each figure. The same tables go to bench/latest.md,
# with the run's date, machine and load. Arguments go to the Linux benchmark (e.g.
# --benchmark_filter=headers/).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh bench
cmake --preset bench >/dev/null
cmake --build --preset bench
cmake --preset bench-windows >/dev/null
cmake --build --preset bench-windows
prefix=$PWD/build/bench-windows/wineprefix
(build/bench-windows/wine-run.sh wineboot --init && WINEPREFIX=$prefix wineserver -w) >/dev/null 2>&1

table=bench/latest.md
linux=$(mktemp)
trap 'rm -f "$linux"' EXIT
start=$(date +%s)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
build/bench/bin/compare --benchmark_color=false --table="$linux" "$@"
status=0
windows=$(build/bench-windows/wine-run.sh build/bench-windows/bin/sequentialCompare.exe --rows-only) || status=$?
WINEPREFIX=$prefix wineserver -w
# Its remote row: the same program under the tests' web server harness (nginx and the fault proxy on
# 127.0.0.1 at free ports, stopped whatever happens), without the disk cache.
remote_status=0
remote=$(GLEANER_HTTP_CACHE_MB=0 tests/filedriver/remote/http_server.sh build/bench-windows/bin/sequentialCompare.exe \
    build/bench/bin/benchFaultProxy build/bench-windows/wine-run.sh) || remote_status=$?
WINEPREFIX=$prefix wineserver -w
if [[ $remote_status == 77 ]]; then
    echo "The Windows build's remote row is left out: $remote"
else
    ((remote_status == 0)) || status=$remote_status
    windows+=$'\n'$remote
fi
echo "$windows"
{
    echo "Latest run of scripts/bench.sh: $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')),"
    echo "$(($(date +%s) - start)) s; load average before $load_before, after $(cut -d' ' -f1-3 /proc/loadavg)."
    echo
    # The Windows rows after the Linux rows of every data set, before the worst-of table.
    awk -v windows="$windows" '/^\|/ { rows = 1 } /^$/ && rows && !done { print windows; done = 1 } { print }' "$linux"
} >"$table"
exit $status
