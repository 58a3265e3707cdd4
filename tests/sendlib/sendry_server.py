"""SMTP servers on 127.0.0.1 for the send library's tests.

SmtpSink is Debian's aiosmtpd with what the tests need: AUTH without TLS,
CRAM-MD5 checked with a real HMAC-MD5, PLAIN's one-NUL form accepted,
optional refusals, and a record of everything it receives.
CloseAt answers like a server until a chosen line arrives, then resets the
connection."""
import asyncio
import base64
import hmac
import os
import socket
import struct
import threading
import warnings
from dataclasses import dataclass

from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword

USER = b"quorvel-bot"
PASSWORD = b"p@ss-Word_1"
HOSTNAME = "sink.quorvel.test"  # given, so aiosmtpd does not look its own name up


@dataclass
class Message:
    mail_from: str
    rcpt_tos: list
    content: bytes  # as received, CR LF line ends, without the final "."


@dataclass
class AuthAttempt:
    mechanism: str
    data: bytes  # what the client proved: the PLAIN bytes, "user digest", or user and password
    ok: bool


@dataclass
class Options:
    mechanisms: tuple = ("LOGIN", "PLAIN", "CRAM-MD5")  # advertised, in this order
    auth_required: bool = False
    refuse_first_plain: bool = False
    refused_recipients: frozenset = frozenset()
    refuse_message: bool = False


class _Handler:
    def __init__(self, sink):
        self.sink = sink
        self.opts = sink.options
        self.plain_attempts = 0

    def _event(self, text):
        self.sink.events.append(text)

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        self._event("EHLO " + hostname)
        session.host_name = hostname
        lines = [r for r in responses if not r.startswith("250-AUTH")]
        if self.opts.mechanisms:
            lines.insert(1, "250-AUTH " + " ".join(self.opts.mechanisms))
        return lines

    async def handle_HELO(self, server, session, envelope, hostname):
        self._event("HELO " + hostname)
        session.host_name = hostname
        return "250 " + HOSTNAME

    async def handle_AUTH(self, server, session, envelope, args):
        self._event("AUTH " + args[0])
        return MISSING

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        self._event("MAIL " + address)
        envelope.mail_from = address
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        self._event("RCPT " + address)
        if address in self.opts.refused_recipients:
            return "550 5.1.1 No such user"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self._event("DATA")
        if self.opts.refuse_message:
            return "554 5.6.0 Message refused"
        self.sink.messages.append(Message(envelope.mail_from, list(envelope.rcpt_tos),
                                          envelope.original_content))
        return "250 OK queued"

    async def handle_QUIT(self, server, session, envelope):
        self._event("QUIT")
        return "221 Bye"

    def _check(self, mechanism, data, login, password):
        ok = login == USER and password == PASSWORD
        self.sink.auth.append(AuthAttempt(mechanism, data, ok))
        return AuthResult(success=ok, handled=False)

    # Stock PLAIN refuses "user\0pass" with 501; this one takes both forms.
    async def auth_PLAIN(self, server, args):
        if len(args) < 2:
            return AuthResult(success=False, handled=False)
        try:
            data = base64.b64decode(args[1], validate=True)
        except Exception:
            return AuthResult(success=False, handled=False)
        self.plain_attempts += 1
        parts = data.split(b"\0")
        if self.opts.refuse_first_plain and self.plain_attempts == 1:
            self.sink.auth.append(AuthAttempt("PLAIN", data, False))
            return AuthResult(success=False, handled=False)
        if len(parts) == 3:
            return self._check("PLAIN", data, parts[1], parts[2])
        if len(parts) == 2:
            return self._check("PLAIN", data, parts[0], parts[1])
        return self._check("PLAIN", data, None, None)

    async def auth_CRAM__MD5(self, server, args):
        challenge = f"<{os.getpid()}.{os.urandom(6).hex()}@{HOSTNAME}>".encode()
        response = await server.challenge_auth(challenge)
        if not isinstance(response, bytes):
            return AuthResult(success=False, handled=False)
        user, _, digest = response.partition(b" ")
        expected = hmac.new(PASSWORD, challenge, "md5").hexdigest().encode()
        ok = user == USER and hmac.compare_digest(digest, expected)
        self.sink.auth.append(AuthAttempt("CRAM-MD5", response, ok))
        return AuthResult(success=ok, handled=False)

    def authenticator(self, server, session, envelope, mechanism, auth_data):
        assert isinstance(auth_data, LoginPassword)
        return self._check(mechanism, auth_data.login + b" " + auth_data.password,
                           auth_data.login, auth_data.password)


class _Loop:
    """An asyncio loop in a thread, serving one listening socket on 127.0.0.1."""

    def start(self, factory):
        self.loop = asyncio.new_event_loop()
        self.thread = threading.Thread(target=self.loop.run_forever, daemon=True)
        self.thread.start()

        async def listen():
            return await self.loop.create_server(factory, "127.0.0.1", 0)

        self.server = asyncio.run_coroutine_threadsafe(listen(), self.loop).result(10)
        return self.server.sockets[0].getsockname()[1]

    def stop(self):
        async def close():
            self.server.close()
            await self.server.wait_closed()

        asyncio.run_coroutine_threadsafe(close(), self.loop).result(10)
        self.loop.call_soon_threadsafe(self.loop.stop)
        self.thread.join(10)
        self.loop.close()


class SmtpSink:
    def __init__(self, **options):
        self.options = Options(**options)
        self.messages: list[Message] = []
        self.auth: list[AuthAttempt] = []
        self.events: list[str] = []
        self.connections = 0
        self._loop = _Loop()

    def _factory(self):
        self.connections += 1
        handler = _Handler(self)
        excluded = [m for m in ("LOGIN", "PLAIN", "CRAM-MD5") if m not in self.options.mechanisms]
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # AUTH without TLS is the point here
            return SMTP(handler, hostname=HOSTNAME, ident="Quorvel test sink",
                        decode_data=False, enable_SMTPUTF8=False,
                        auth_require_tls=False, auth_required=self.options.auth_required,
                        auth_exclude_mechanism=excluded, authenticator=handler.authenticator)

    def __enter__(self):
        self.port = self._loop.start(self._factory)
        return self

    def __exit__(self, *exc):
        self._loop.stop()


class CloseAt:
    """Answers every command with success (354 to DATA) and resets the
    connection, without a reply, when the `count`-th line starting with
    `marker` has arrived. Its receive buffer is small, so a client sending
    more than its own send buffer holds is still sending when the reset comes."""

    def __init__(self, marker: bytes, count=1):
        self.marker, self.count = marker, count
        self.received = []  # lines before the reset

    def __enter__(self):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(1)
        self.port = self.sock.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()
        return self

    def _serve(self):
        try:
            conn, _ = self.sock.accept()
        except OSError:
            return
        conn.settimeout(60)
        stream = conn.makefile("rb")
        conn.sendall(b"220 " + HOSTNAME.encode() + b" ready\r\n")
        in_data, seen = False, 0
        try:
            for line in stream:
                line = line.rstrip(b"\r\n")
                if line.startswith(self.marker):
                    seen += 1
                    if seen == self.count:
                        break
                self.received.append(line)
                if in_data:
                    if line == b".":
                        in_data = False
                        conn.sendall(b"250 OK\r\n")
                elif line == b"DATA":
                    in_data = True
                    conn.sendall(b"354 go on\r\n")
                else:
                    conn.sendall(b"221 Bye\r\n" if line == b"QUIT" else b"250 OK\r\n")
        except OSError:
            pass
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        stream.close()
        conn.close()

    def __exit__(self, *exc):
        self.sock.close()
        self.thread.join(30)
