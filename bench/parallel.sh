#!/usr/bin/env bash
# One check pass over sites 20 ms of round trip away, beside curl's three
# ways of fetching the same addresses. Two network namespaces joined by a
# relay that holds every packet 10 ms each way (the shared latency tools);
# a stock nginx in the server's namespace answers on 50 addresses (so the
# sites are on 50 hosts, two pages each), and for the second table 5 of the
# sites are servers that accept and never answer, each on a host of its own.
# Needs root (network namespaces). Prints one table per list size.
#
#   bash bench/parallel.sh [SITES...]        (default: 100)
#
# The one-after-another ways run for lists of up to 100 sites without
# silent ones only (with 5 silent sites each takes 5 x 30 s more), unless
# BENCH_SLOW is set.
#
# KESTRELLE_CHECK names the checker (default: the dev build's, built here).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/loopback-nginx.sh

SIZES=("${@:-100}")
HOSTS=50
SILENT=5
LATENCY=/work/shared/tools/latency
CHECKER=$(realpath -m "${KESTRELLE_CHECK:-build/dev/src/app/kestrelle-check}")
KESTRELLE_EXTRA_PACKAGES="nginx-light curl" bash scripts/setup.sh >/dev/null
if [[ -z "${KESTRELLE_CHECK:-}" ]]; then
    cmake --preset dev >/dev/null
    cmake --build --preset dev --target kestrelle-check >/dev/null
fi
if ip netns list | grep -qE '^(kcli|ksrv)\b'; then
    echo "the namespaces kcli and ksrv exist already: another run uses them" >&2
    exit 1
fi

make_work parallel
# A copy, so that a build meanwhile cannot take it away.
cp "$CHECKER" "$work/kestrelle-check"
CHECKER=$work/kestrelle-check
silent_pids=()
cleanup() {
    set +e
    for pid in "${silent_pids[@]}"; do kill "$pid" 2>/dev/null; done
    if [[ -n "$nginx_pid" ]]; then kill "$nginx_pid" 2>/dev/null; wait "$nginx_pid" 2>/dev/null; fi
    bash "$LATENCY/wire.sh" down
    rm -rf "$work"
}
trap cleanup EXIT
bash "$LATENCY/wire.sh" up 10 3600 >/dev/null
# The server's hosts: 10.201.0.2 and 49 more addresses; the silent ones.
for i in $(seq 3 $((HOSTS + 1))); do ip -n ksrv addr add "10.201.0.$i/32" dev kw0; done
for i in $(seq 1 $SILENT); do
    ip -n ksrv addr add "10.201.0.$((200 + i))/32" dev kw0
    ip netns exec ksrv /usr/bin/python3 "$LATENCY/silent.py" "10.201.0.$((200 + i))" 81 3600 &
    silent_pids+=($!)
done

mkdir -p "$work/www"
/usr/bin/python3 - "$work/www/page.html" <<'PY'
import sys
line = "<p>" + "a healthy page line " * 4 + "</p>\n"
body = "<html><body>\n"
while len(body) < 10 * 1024 - 100:
    body += line
open(sys.argv[1], "w").write(body + "<p>Kestrelle bench marker</p></body></html>\n")
PY
NGINX_LISTEN=0.0.0.0 NGINX_NETNS=ksrv start_nginx "$work" 80 'keepalive_requests 10000;'

client() { ip netns exec kcli "$@"; }
# Wall seconds of one command; the checker answers 2 when a site is down,
# curl 28 when a transfer timed out.
seconds() {
    local start end rc=0
    start=$(date +%s.%N)
    "$@" >/dev/null 2>"$work/stderr.txt" || rc=$?
    end=$(date +%s.%N)
    if ((rc != 0 && rc != 2 && rc != 28)); then
        echo "command failed ($rc): $*" >&2
        cat "$work/stderr.txt" >&2
        exit 1
    fi
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}

# Site i is on host i modulo the hosts; with silent sites, every
# (sites / SILENT)-th is one of them.
make_lists() {
    local sites=$1 silent=$2
    : >"$work/sites.dat"
    : >"$work/urls.txt"
    for i in $(seq 0 $((sites - 1))); do
        local host="10.201.0.$((2 + i % HOSTS))" url
        url="http://$host/page.html?site=$i"
        if ((silent > 0 && i % (sites / silent) == sites / silent - 1)); then
            url="http://10.201.0.$((201 + i / (sites / silent))):81/page.html?site=$i"
        fi
        printf '%s\r\n-\r\n-\r\nKestrelle bench marker\r\nBEGIN RESPONSE\r\nEND RESPONSE\r\n\r\n' \
            "$url" >>"$work/sites.dat"
        echo "$url" >>"$work/urls.txt"
    done
    sed 's/.*/url = "&"\noutput = "\/dev\/null"/' "$work/urls.txt" >"$work/curl.cfg"
}

table() {
    local sites=$1 silent=$2
    make_lists "$sites" "$silent"
    # curl ends a silent transfer as the checker does: below 1 byte a second for 30 s.
    local curlopts=(-s --noproxy '*' --speed-limit 1 --speed-time 30 -K "$work/curl.cfg")
    echo
    echo "$sites sites on $HOSTS hosts, $silent silent, 20 ms round trip"
    printf '| %-52s | %8s |\n' "" "one pass" "---" "---"
    printf '| %-52s | %6s s |\n' \
        "kestrelle-check (16 at once, the default)" \
        "$(seconds client "$CHECKER" "$work/sites.dat")" \
        "kestrelle-check --parallel 8" \
        "$(seconds client "$CHECKER" --parallel 8 "$work/sites.dat")"
    if ((silent == 0 && sites <= 100)) || [[ -n "${BENCH_SLOW:-}" ]]; then
        printf '| %-52s | %6s s |\n' \
            "kestrelle-check --parallel 1 (one after another)" \
            "$(seconds client "$CHECKER" --parallel 1 "$work/sites.dat")" \
            "curl --http1.0, one URL after another" \
            "$(seconds client curl --http1.0 "${curlopts[@]}")" \
            "curl, one after another, connections kept alive" \
            "$(seconds client curl "${curlopts[@]}")"
    fi
    # The same number at once as the checker's default, for a like-for-like look.
    printf '| %-52s | %6s s |\n' \
        "curl --parallel --parallel-max 8" \
        "$(seconds client curl --parallel --parallel-max 8 "${curlopts[@]}")" \
        "curl --parallel --parallel-max 16" \
        "$(seconds client curl --parallel --parallel-max 16 "${curlopts[@]}")"
}

client curl -s --noproxy '*' -o /dev/null http://10.201.0.2/page.html # warm-up
for sites in "${SIZES[@]}"; do
    table "$sites" 0
    table "$sites" "$SILENT"
done
