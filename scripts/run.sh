#!/usr/bin/env bash
# Builds GleanerQt for Linux and runs it; its exit code is the program's. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh linux
cmake --preset linux >/dev/null
cmake --build --preset linux

# Without a display the program runs on Qt's offscreen platform by itself.
exec build/linux/bin/GleanerQt "$@"
