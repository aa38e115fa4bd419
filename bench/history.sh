#!/usr/bin/env bash
# The history's figures: the file size of a year of 100 sites checked every
# 5 minutes, the details view of one of those sites (the reads per span, and
# opening the window until its figures are painted), and what recording costs
# in passes over 1,000 loopback sites, into that same year-old file.
#
#   bash bench/history.sh [SITES] [DAYS]      (default 100 365)
set -euo pipefail
cd "$(dirname "$0")/.."
SITES=${1:-100}
DAYS=${2:-365}

cmake --preset dev >/dev/null
cmake --build --preset dev -j2 --target kestrelle_bench_history >/dev/null
bench=build/dev/bench/kestrelle_bench_history

work=$(mktemp -d /tmp/kestrelle-history-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
run() { QT_QPA_PLATFORM=offscreen "$bench" "$@" 2> >(grep -v propagateSizeHints >&2); }
run size "$work/history.sqlite" "$SITES" "$DAYS"
run details "$work/history.sqlite"
run record "$work/history.sqlite"
