"""A real SMTP server for Kestrelle's integration tests.

Runs Debian's aiosmtpd on 127.0.0.1 and a free port, and stores every message
it accepts in FOLDER as a directory msg-NNNN holding three files:
  from  the envelope sender (MAIL FROM address)
  rcpt  the envelope recipients, one per line
  data  the message exactly as received (header block and body)
A message directory is written under a temporary name and renamed when
complete, so a reader never sees half a message. Once listening, the port
number is written to FOLDER/port (also by rename). While a file FOLDER/refuse
exists, every message is refused after its data with a 554 reply and not
stored.

Usage: /usr/bin/python3 smtp_sink.py FOLDER
Ends on SIGTERM or SIGINT.
"""

import asyncio
import os
import signal
import sys

from aiosmtpd.smtp import SMTP


def write_atomically(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.rename(tmp, path)


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        if os.path.exists(os.path.join(self.folder, "refuse")):
            return "554 5.7.1 Message refused by the test"
        self.count += 1
        name = os.path.join(self.folder, "msg-%04d" % self.count)
        tmp = name + ".tmp"
        os.mkdir(tmp)
        with open(os.path.join(tmp, "from"), "wb") as f:
            f.write((envelope.mail_from or "").encode("latin-1", "replace"))
        with open(os.path.join(tmp, "rcpt"), "wb") as f:
            for r in envelope.rcpt_tos:
                f.write(r.encode("latin-1", "replace") + b"\n")
        with open(os.path.join(tmp, "data"), "wb") as f:
            f.write(envelope.original_content or b"")
        os.rename(tmp, name)
        return "250 2.0.0 Ok: queued as %04d" % self.count


async def serve_until_stopped(folder, server):
    """Says the listening port in FOLDER/port, then serves until SIGTERM or SIGINT."""
    loop = asyncio.get_running_loop()
    port = server.sockets[0].getsockname()[1]
    write_atomically(os.path.join(folder, "port"), str(port).encode())
    stop = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, lambda: stop.done() or stop.set_result(None))
    await stop
    server.close()
    await server.wait_closed()


async def main(folder):
    loop = asyncio.get_running_loop()
    sink = Sink(folder)
    server = await loop.create_server(
        lambda: SMTP(sink, decode_data=False, hostname="sink.test"), "127.0.0.1", 0
    )
    await serve_until_stopped(folder, server)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.stderr.write("usage: smtp_sink.py FOLDER\n")
        sys.exit(2)
    asyncio.run(main(sys.argv[1]))
