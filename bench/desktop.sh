#!/usr/bin/env bash
# The desktop program's figures: start-up with 1,000 sites of 100 KB against
# an empty list, the load alone, the worst event delay of the window during a
# loopback pass over those sites, sorts, resident memory, and the CPU time of
# a minute's idling with 100 sites of 10 KB. Each part runs in a process of
# its own. On the offscreen platform unless KESTRELLE_BENCH_DISPLAY=xvfb.
#
#   bash bench/desktop.sh [IDLE_SECONDS]      (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
IDLE=${1:-60}

cmake --preset dev >/dev/null
cmake --build --preset dev -j2 --target kestrelle_bench_desktop >/dev/null
bench=build/dev/bench/kestrelle_bench_desktop

work=$(mktemp -d /tmp/kestrelle-desktop-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/run" "$work/config" && chmod 700 "$work/run"
run() {
    local env=(TMPDIR="$work" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config")
    if [[ "${KESTRELLE_BENCH_DISPLAY:-}" == xvfb ]]; then
        env "${env[@]}" xvfb-run -a "$bench" "$@"
    else
        env "${env[@]}" QT_QPA_PLATFORM=offscreen "$bench" "$@"
    fi 2> >(grep -v propagateSizeHints >&2)
}
run large
run memory
run small "$IDLE"
