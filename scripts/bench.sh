#!/usr/bin/env bash
# Builds the benchmark optimised for Linux and its Windows figure for 32-bit Windows, runs both (the
# Windows one under Wine, in its build's own prefix) and prints one table: the Linux rows, then the
# Windows row. Arguments go to the Linux benchmark (e.g. --benchmark_filter=seq_).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh bench
cmake --preset bench >/dev/null
cmake --build --preset bench
cmake --preset bench-windows >/dev/null
cmake --build --preset bench-windows
prefix=$PWD/build/bench-windows/wineprefix
(build/bench-windows/wine-run.sh wineboot --init && WINEPREFIX=$prefix wineserver -w) >/dev/null 2>&1
build/bench/bin/compare --benchmark_color=false "$@"
status=0
build/bench-windows/wine-run.sh build/bench-windows/bin/sequentialCompare.exe --rows-only || status=$?
WINEPREFIX=$prefix wineserver -w
exit $status
