#!/usr/bin/env bash
# Takes docs/main-window.png: Kestrelle's main window under a private Xvfb
# display, with a small list of sites served on this machine (two healthy,
# one whose text is missing, one that does not answer), after the first
# check pass has marked them. Builds `kestrelle` first. Usage:
#   bash scripts/screenshot.sh [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/main-window.png}"

need=()
for p in xvfb xauth imagemagick x11-utils xdotool fonts-liberation2; do
    dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if ((${#need[@]})); then
    KESTRELLE_EXTRA_PACKAGES="${need[*]}" bash scripts/setup.sh
fi

cmake --preset dev >/dev/null
cmake --build --preset dev -j2 --target kestrelle

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/site" "$work/data/Kestrelle" "$work/config" "$work/run"
chmod 700 "$work/run"

cat >"$work/site/index.html" <<'HTML'
<html><head><title>Shop</title></head>
<body><h1>Welcome to the shop</h1><p>Open every day.</p></body></html>
HTML
cat >"$work/site/news.html" <<'HTML'
<html><body><h1>News</h1><p>All systems running.</p></body></html>
HTML

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
closed=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
/usr/bin/python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/site" >/dev/null 2>&1 &
pids+=($!)

record() { # url, search text
    printf '%s\r\n-\r\n-\r\n%s\r\nBEGIN RESPONSE\r\n-\r\nEND RESPONSE\r\n\r\n' "$1" "$2"
}
{
    record "http://127.0.0.1:$port/index.html" "Welcome to the shop"
    record "http://127.0.0.1:$port/news.html" "All systems running"
    record "http://127.0.0.1:$port/news.html" "Sale ends today"
    record "http://127.0.0.1:$closed/" "Hello"
} >"$work/data/Kestrelle/kestrelle.dat"

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done

# Any argument keeps the splash picture away, as when started at login.
env DISPLAY="$display" TMPDIR="$work/run" XDG_RUNTIME_DIR="$work/run" \
    XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    build/dev/src/app/kestrelle -autostart >/dev/null 2>&1 &
pids+=($!)

# The first pass ends by saving the list: its statuses are then on screen.
for _ in $(seq 100); do
    grep -q '^OK' "$work/data/Kestrelle/kestrelle.dat" 2>/dev/null &&
        ! grep -q '^CHECKING' "$work/data/Kestrelle/kestrelle.dat" && break
    sleep 0.2
done
window=$(DISPLAY="$display" xdotool search --sync --onlyvisible --name '^Kestrelle$' | head -1)
sleep 0.5
mkdir -p "$(dirname "$out")"
DISPLAY="$display" import -window "$window" "$out"
echo "wrote $out"
