#!/usr/bin/env bash
# Builds GleanerQt for Linux and runs it; its exit code is the program's. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh linux
cmake --preset linux >/dev/null
cmake --build --preset linux

# Without a display the program still runs: it shows a window only when it must ask for a folder.
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
    export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
fi
exec build/linux/bin/GleanerQt "$@"
