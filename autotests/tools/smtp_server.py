#!/usr/bin/python3
# A real SMTP server for the e-mail tests (Debian's python3-aiosmtpd): plain,
# STARTTLS or TLS from the start, with a login when asked for. It prints
# "PORT n" once it listens, keeps each message it takes as N.eml (with an
# "X-Envelope-To" line first) and each attachment beside it as N-NAME, and
# stops when its standard input closes (the test that started it ended,
# however it ended).
import argparse
import asyncio
import email
import os
import socket
import ssl
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Keep:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        with open(base + ".eml", "wb") as f:
            f.write(b"X-Envelope-To: " + ",".join(envelope.rcpt_tos).encode() + b"\r\n")
            f.write(envelope.original_content or envelope.content)
        message = email.message_from_bytes(envelope.original_content or envelope.content)
        for part in message.walk():
            name = part.get_filename()
            if name:
                with open(base + "-" + os.path.basename(name), "wb") as f:
                    f.write(part.get_payload(decode=True))
        return "250 Message accepted for delivery"


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--mode", choices=["plain", "starttls", "smtps"], default="plain")
    p.add_argument("--out", required=True)
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--login")
    p.add_argument("--password")
    a = p.parse_args()

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login.decode() == a.login
              and auth_data.password.decode() == a.password)
        return AuthResult(success=ok, handled=False)

    context = None
    if a.mode != "plain":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(a.cert, a.key)
    port = free_port()
    options = dict(hostname="127.0.0.1", port=port)
    if a.login:
        options.update(authenticator=authenticate, auth_require_tls=(a.mode != "plain"))
    if a.mode == "starttls":
        options.update(tls_context=context, require_starttls=True)
    if a.mode == "smtps":
        options.update(ssl_context=context)
    controller = Controller(Keep(a.out), ready_timeout=10, **options)
    # The controller's own readiness check speaks plain SMTP without TLS or a
    # login: a bare connection tells it the server answers.
    controller._trigger_server = lambda: socket.create_connection(("127.0.0.1", port), timeout=2).close()
    controller.start()
    print("PORT %d" % port, flush=True)
    sys.stdin.read()
    controller.stop()


if __name__ == "__main__":
    main()
