#!/usr/bin/env bash
# Builds the benchmark optimised for Linux and runs it; the last lines are the comparison table.
# Arguments go to the benchmark (e.g. --benchmark_filter=seq_).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh bench
cmake --preset bench >/dev/null
cmake --build --preset bench
exec build/bench/bin/compare --benchmark_color=false "$@"
