#!/usr/bin/env bash
# One check pass over 1,000 sites against a stock nginx on the loopback,
# serving a 10 KB page: `kestrelle-check --save` beside one curl process that
# fetches the same 1,000 addresses over HTTP/1.0, in the same run. Prints the
# median wall time of each over a few rounds, their ratio and the peak memory.
#
#   bash bench/checkpass.sh [ROUNDS]        (default 5)
#
# KESTRELLE_CHECK names the checker (default: the dev build's, built if needed).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/loopback-nginx.sh

ROUNDS=${1:-5}
SITES=1000
CHECKER=${KESTRELLE_CHECK:-build/dev/src/app/kestrelle-check}
# The stock server, the reference client and GNU time come from Debian too.
KESTRELLE_EXTRA_PACKAGES="nginx-light curl time" bash scripts/setup.sh
if [[ -z "${KESTRELLE_CHECK:-}" ]]; then
    cmake --preset dev >/dev/null
    cmake --build --preset dev --target kestrelle-check >/dev/null
fi

make_work bench

port=$(free_port)
mkdir -p "$work/www" "$work/logs"
# Exactly 10 KB, the text the sites look for near its end.
/usr/bin/python3 - "$work/www/page.html" <<'PY'
import sys
tail = "<p>Kestrelle bench marker</p></body></html>\n"
head = "<html><head><title>bench</title></head><body>\n"
line = "<p>" + "a healthy page line " * 4 + "</p>\n"
body = head
while len(body) + len(line) + len(tail) <= 10240:
    body += line
body += "x" * (10240 - len(body) - len(tail)) + tail
open(sys.argv[1], "w").write(body)
PY

start_nginx "$work" "$port"

# The site list, written the way the program writes it, and curl's list.
for i in $(seq 1 "$SITES"); do
    url="http://127.0.0.1:$port/page.html?site=$i"
    printf '%s\r\n-\r\n-\r\nKestrelle bench marker\r\nBEGIN RESPONSE\r\nEND RESPONSE\r\n\r\n' "$url" >>"$work/sites.dat"
    printf 'url = "%s"\noutput = "/dev/null"\n' "$url" >>"$work/curl.cfg"
done
cp "$work/sites.dat" "$work/fresh.dat"

# "wall-seconds peak-KB cpu-seconds" of one command, from GNU time. CPU time
# (user + system) is reported too: on a busy machine it wavers far less.
measure() {
    /usr/bin/time -f '%e %M %U %S' -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || {
        local rc=$?
        # The checker answers 2 when a site is down: none may be here.
        echo "command failed ($rc): $*" >&2
        cat "$work/stderr.txt" >&2
        exit 1
    }
    awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$work/time.txt"
}

measure curl --http1.0 -s --noproxy '*' -K "$work/curl.cfg" >/dev/null # warm-up

kc_times=() curl_times=() kc_cpu=() curl_cpu=() kc_mem=0 curl_mem=0
for r in $(seq 1 "$ROUNDS"); do
    cp "$work/fresh.dat" "$work/sites.dat"
    read -r t m c < <(measure "$CHECKER" --save "$work/sites.dat")
    kc_times+=("$t"); kc_cpu+=("$c"); ((m > kc_mem)) && kc_mem=$m
    read -r t m c < <(measure curl --http1.0 -s --noproxy '*' -K "$work/curl.cfg")
    curl_times+=("$t"); curl_cpu+=("$c"); ((m > curl_mem)) && curl_mem=$m
done
saved=$(grep -c '^OK' "$work/sites.dat" || true)
[[ "$saved" == "$SITES" ]] || { echo "the saved list holds $saved OK sites, not $SITES" >&2; exit 1; }

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
kc=$(median "${kc_times[@]}")
cu=$(median "${curl_times[@]}")
echo "sites: $SITES, page: $(stat -c %s "$work/www/page.html") bytes, rounds: $ROUNDS"
kcc=$(median "${kc_cpu[@]}")
cuc=$(median "${curl_cpu[@]}")
echo "kestrelle-check --save: ${kc} s (rounds: ${kc_times[*]}), cpu ${kcc} s, peak ${kc_mem} KB"
echo "curl --http1.0:         ${cu} s (rounds: ${curl_times[*]}), cpu ${cuc} s, peak ${curl_mem} KB"
awk -v a="$kc" -v b="$cu" -v c="$kcc" -v d="$cuc" 'BEGIN {
    printf "ratio: %.2f wall (aim: 1.00 or less, one curl process), %.2f cpu\n", (b > 0 ? a / b : 0), (d > 0 ? c / d : 0) }'
