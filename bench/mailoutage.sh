#!/usr/bin/env bash
# A mass outage with alert e-mail: `kestrelle-check --mail` over 1,100 sites
# that are down followed by 50 healthy ones, under `ulimit -n 1024`, with a
# mail server on the loopback that waits before every reply. Prints the
# checker's peak descriptors and threads, how many sites read OK, how many
# alert e-mails arrived and how many were reported on stderr as not sent.
#
#   bash bench/mailoutage.sh [DOWN] [HEALTHY] [REPLY_DELAY_SECONDS]
#
# KESTRELLE_CHECK names the checker (default: the dev build's).
set -euo pipefail
cd "$(dirname "$0")/.."

DOWN=${1:-1100}
HEALTHY=${2:-50}
DELAY=${3:-0.5}
CHECKER=$(realpath "${KESTRELLE_CHECK:-build/dev/src/app/kestrelle-check}")

work=$(mktemp -d /tmp/kestrelle-outage-XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The sites: a page with the text the healthy ones look for; the down ones
# look for text it lacks.
/usr/bin/python3 - "$work/http.port" <<'PY' &
import http.server, socketserver, sys
class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = b"<html><body>Welcome to a healthy site</body></html>\n"
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
s = Server(("127.0.0.1", 0), Page)
open(sys.argv[1] + ".tmp", "w").write(str(s.server_address[1]))
import os; os.rename(sys.argv[1] + ".tmp", sys.argv[1])
s.serve_forever()
PY
pids+=($!)

# The slow mail server: every reply comes DELAY seconds after the command.
/usr/bin/python3 - "$work/smtp.port" "$work/delivered" "$DELAY" <<'PY' &
import asyncio, os, sys
port_file, delivered_file, delay = sys.argv[1], sys.argv[2], float(sys.argv[3])
count = 0
async def serve(reader, writer):
    global count
    async def say(text):
        await asyncio.sleep(delay)
        writer.write(text.encode())
        await writer.drain()
    try:
        await say("220 slow.test ESMTP\r\n")
        while True:
            line = await reader.readline()
            if not line:
                break
            cmd = line.decode(errors="replace").strip().upper()
            if cmd.startswith(("HELO", "EHLO")):
                await say("250 slow.test\r\n")
            elif cmd == "DATA":
                await say("354 go on\r\n")
                while (await reader.readline()) not in (b".\r\n", b""):
                    pass
                count += 1
                open(delivered_file, "w").write(str(count))
                await say("250 queued\r\n")
            elif cmd == "QUIT":
                await say("221 bye\r\n")
                break
            else:
                await say("250 OK\r\n")
    except (ConnectionError, asyncio.IncompleteReadError):
        pass
    writer.close()
async def main():
    server = await asyncio.start_server(serve, "127.0.0.1", 0, backlog=2048)
    port = server.sockets[0].getsockname()[1]
    open(port_file + ".tmp", "w").write(str(port))
    os.rename(port_file + ".tmp", port_file)
    await server.serve_forever()
asyncio.run(main())
PY
pids+=($!)

for f in http.port smtp.port; do
    for _ in $(seq 100); do [[ -f "$work/$f" ]] && break; sleep 0.1; done
done
http=$(cat "$work/http.port")
smtp=$(cat "$work/smtp.port")

mkdir -p "$work/config/Kestrelle"
printf '[Kestrelle]\nm_EnableEMail=1\nm_EmailServer=127.0.0.1\nm_EmailPort=%s\nm_EmailAddress=me@home.test\n' \
    "$smtp" >"$work/config/Kestrelle/Kestrelle.conf"
/usr/bin/python3 - "$work/sites.dat" "$http" "$DOWN" "$HEALTHY" <<'PY'
import sys
path, port, down, healthy = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
with open(path, "w", newline="") as f:
    for i in range(down + healthy):
        text = "Not on the page" if i < down else "Welcome"
        f.write(f"http://127.0.0.1:{port}/site{i}\r\n-\r\n-\r\n{text}\r\n"
                "BEGIN RESPONSE\r\nEND RESPONSE\r\n\r\n")
PY

start=$(date +%s.%N)
(
    ulimit -n 1024
    exec env XDG_CONFIG_HOME="$work/config" HOME="$work/config" "$CHECKER" --mail "$work/sites.dat" \
        >"$work/out" 2>"$work/err"
) &
checker=$!
peak_fd=0
peak_threads=0
while kill -0 "$checker" 2>/dev/null; do
    fds=$(ls /proc/$checker/fd 2>/dev/null | wc -l)
    threads=$(ls /proc/$checker/task 2>/dev/null | wc -l)
    ((fds > peak_fd)) && peak_fd=$fds
    ((threads > peak_threads)) && peak_threads=$threads
    sleep 0.05
done
wait "$checker" && status=0 || status=$?
end=$(date +%s.%N)

not_sent=$(grep -c 'alert e-mail for .* not sent' "$work/err" || true)
delivered=$(cat "$work/delivered" 2>/dev/null || echo 0)
echo "sites: $DOWN down, $HEALTHY healthy; reply delay ${DELAY}s; exit status $status"
echo "wall time: $(echo "$end - $start" | bc) s"
echo "peak descriptors: $peak_fd, peak threads: $peak_threads"
echo "summary: $(tail -1 "$work/out")"
# An e-mail still under way when the wait ends is reported, and may yet have
# reached the server: the two counts can overlap by up to four.
echo "e-mails taken by the server: $delivered, reported not sent: $not_sent, together: $((delivered + not_sent))"
echo "other stderr lines: $(grep -vc 'alert e-mail for .* not sent' "$work/err" || true)"
grep -v 'alert e-mail for .* not sent' "$work/err" | sort | uniq -c | sort -rn | head -5
