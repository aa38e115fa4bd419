#!/usr/bin/env bash
# Resident memory of the check pass over 400 passes (a new thread each) of a
# mixed list against a stock nginx on the loopback: 45 sites with a 20 kB
# page that holds the text, 5 down. Memory must stay flat.
#
#   bash bench/passmemory.sh [PASSES]        (default 400)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/loopback-nginx.sh

PASSES=${1:-400}
KESTRELLE_EXTRA_PACKAGES="nginx-light" bash scripts/setup.sh >/dev/null
# KESTRELLE_PASSMEMORY names the program (default: the dev build's, built here).
BENCH=${KESTRELLE_PASSMEMORY:-build/dev/bench/kestrelle_bench_passmemory}
if [[ -z "${KESTRELLE_PASSMEMORY:-}" ]]; then
    cmake --preset dev >/dev/null
    cmake --build --preset dev --target kestrelle_bench_passmemory >/dev/null
fi

make_work passmem

port=$(free_port)
closed=$(free_port) # nothing listens there: a refused connection
mkdir -p "$work/www" "$work/logs"
/usr/bin/python3 - "$work/www" <<'PY'
import sys
line = "<p>" + "a healthy page line " * 4 + "</p>\n"
body = "<html><body>\n"
while len(body) < 20 * 1024 - 100:
    body += line
open(sys.argv[1] + "/page.html", "w").write(body + "<p>Kestrelle bench marker</p></body></html>\n")
open(sys.argv[1] + "/other.html", "w").write(body + "</body></html>\n")
PY

start_nginx "$work" "$port" 'location = /broken { return 500 "broken\n"; }'

base="http://127.0.0.1:$port"
"$BENCH" "$base/page.html" "$base/other.html" "$base/broken" \
    "http://127.0.0.1:$closed/" "$PASSES"
