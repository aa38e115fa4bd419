"""An SMTP server over TLS for Kestrelle's integration tests.

Like smtp_sink.py (same FOLDER layout: msg-NNNN/{from,rcpt,data} and the
port file), with TLS:
  MODE starttls  plain port that offers STARTTLS and takes no mail without it
  MODE tls       TLS from the first byte
  MODE tls-login TLS from the first byte, AUTH LOGIN offered but not PLAIN
  MODE plain     no STARTTLS at all, AUTH offered in clear
With USER and PASSWORD, mail is taken only after AUTH (PLAIN or LOGIN) with
them. Every command is appended to FOLDER/commands as "VERB tls" or
"VERB clear", so a test can tell what was said in clear.

Usage: /usr/bin/python3 smtp_tls_sink.py FOLDER MODE CERT KEY [USER PASSWORD]
Ends on SIGTERM or SIGINT.
"""

import asyncio
import functools
import logging
import os
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from smtp_sink import Sink, serve_until_stopped  # noqa: E402


def logging_smtp(folder, implicit_tls):
    class LoggingSMTP(SMTP):
        pass

    def wrap(verb):
        original = getattr(SMTP, "smtp_" + verb)

        @functools.wraps(original)
        async def logged(self, arg):
            secure = implicit_tls or self._tls_protocol is not None
            with open(os.path.join(folder, "commands"), "a") as f:
                f.write("%s %s\n" % (verb, "tls" if secure else "clear"))
            return await original(self, arg)

        setattr(LoggingSMTP, "smtp_" + verb, logged)

    for verb in ("HELO", "EHLO", "STARTTLS", "AUTH", "MAIL", "RCPT", "DATA", "QUIT", "RSET", "NOOP"):
        wrap(verb)
    return LoggingSMTP


async def main(folder, mode, cert, key, account):
    # The test provokes failed handshakes and AUTH in clear on purpose.
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    warnings.simplefilter("ignore")
    loop = asyncio.get_running_loop()
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    sink = Sink(folder)
    implicit_tls = mode in ("tls", "tls-login")
    server_class = logging_smtp(folder, implicit_tls)

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (auth_data.login.decode(), auth_data.password.decode()) == account
        return AuthResult(success=ok, handled=False)

    options = dict(decode_data=False, hostname="tls-sink.test")
    if account:
        options.update(auth_required=True, authenticator=authenticate)
    if mode == "starttls":
        options.update(tls_context=context, require_starttls=True)
    else:
        # With TLS from the start, or to show what a client does in clear.
        options.update(auth_require_tls=False)
    if mode == "tls-login":
        options.update(auth_exclude_mechanism=["PLAIN"])
    server = await loop.create_server(
        lambda: server_class(sink, **options),
        "127.0.0.1",
        0,
        ssl=context if implicit_tls else None,
    )
    await serve_until_stopped(folder, server)


if __name__ == "__main__":
    if len(sys.argv) not in (5, 7):
        sys.stderr.write("usage: smtp_tls_sink.py FOLDER MODE CERT KEY [USER PASSWORD]\n")
        sys.exit(2)
    account = tuple(sys.argv[5:7]) if len(sys.argv) == 7 else None
    asyncio.run(main(sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], account))
