#!/usr/bin/env bash
# Times saving and loading a site list of 1,000 entries with 100 KB pages
# beside `cp` of the same file on the same disk, and measures the peak
# memory of one load.
#   bash bench/datafile.sh [build folder, default build/dev]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
cmake --build "$build" --target kestrelle_bench_datafile >/dev/null
bin="$build/bench/kestrelle_bench_datafile"

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrelle-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$bin" --write-sample "$work/kestrelle.dat"
echo "file: $(stat -c %s "$work/kestrelle.dat") bytes"

# Best of seven, each copy to a fresh name so that no rewrite in place is
# timed. Wall time and, as the machine may be shared, CPU time too.
best() {
    local label=$1; shift
    local best= TIMEFORMAT='%3R %3U %3S'
    for i in 1 2 3 4 5 6 7; do
        rm -f "$work/copy.dat"
        { time "$@"; } 2>"$work/times"
        local now
        now=$(awk '{ printf "%d %d", $1 * 1000, ($2 + $3) * 1000 }' "$work/times")
        if [[ -z $best || ${now% *} -lt ${best% *} ]]; then best=$now; fi
    done
    rm -f "$work/copy.dat"
    printf '%-24s %6d ms wall %6d ms CPU\n' "$label" ${best% *} ${best#* }
}
best "cp" cp "$work/kestrelle.dat" "$work/copy.dat"
best "cp + sync of the copy" sh -c 'cp "$1" "$2" && sync "$2"' sh "$work/kestrelle.dat" "$work/copy.dat"

TMPDIR="$work" "$bin" --benchmark_counters_tabular=true

"$bin" --load-once "$work/kestrelle.dat"
