#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Kestrelle and starts the desktop program
# `kestrelle`, passing every argument on to it. Without a display (neither
# DISPLAY nor WAYLAND_DISPLAY set) it says how to start it under xvfb-run and
# runs the command-line checker on your site list instead.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

cmake --preset dev >/dev/null
cmake --build --preset dev -j2

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display: run 'xvfb-run -a bash scripts/run.sh' for the window; checking your list with kestrelle-check instead." >&2
    exec build/dev/src/app/kestrelle-check
fi
exec build/dev/src/app/kestrelle "$@"
