"""The test SMTP sink with TLS: STARTTLS (AUTH only after it), or TLS from
the first byte. Before STARTTLS the sink offers AUTH CRAM-MD5 whatever its
mechanisms are, so a client that judges the first EHLO answer shows it."""
import asyncio
import threading
import warnings

from aiosmtpd.smtp import SMTP

try:  # beside the send library's tests, or imported as a package from others
    from sendry_server import HOSTNAME, SmtpSink, _Handler, _Loop
except ImportError:
    from sendlib.sendry_server import HOSTNAME, SmtpSink, _Handler, _Loop


class _TlsHandler(_Handler):
    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        lines = await super().handle_EHLO(server, session, envelope, hostname, responses)
        if server.tls_context and not server._tls_protocol:
            lines = [l for l in lines if not l.startswith("250-AUTH")]
            lines.insert(1, "250-AUTH CRAM-MD5")
        return lines


class _SslLoop(_Loop):
    def __init__(self, context):
        self.context = context

    def start(self, factory):
        self.loop = asyncio.new_event_loop()
        self.thread = threading.Thread(target=self.loop.run_forever, daemon=True)
        self.thread.start()

        async def listen():
            return await self.loop.create_server(factory, "127.0.0.1", 0, ssl=self.context)

        self.server = asyncio.run_coroutine_threadsafe(listen(), self.loop).result(10)
        return self.server.sockets[0].getsockname()[1]


class TlsSmtpSink(SmtpSink):
    def __init__(self, context, implicit=False, **options):
        super().__init__(**options)
        self.context = context
        self.implicit = implicit
        if implicit:
            self._loop = _SslLoop(context)

    def _factory(self):
        self.connections += 1
        handler = _TlsHandler(self)
        excluded = [m for m in ("LOGIN", "PLAIN", "CRAM-MD5") if m not in self.options.mechanisms]
        if not self.implicit and "CRAM-MD5" in excluded:
            excluded.remove("CRAM-MD5")  # offered before STARTTLS
        # Over implicit TLS aiosmtpd does not know the session is secured.
        tls = dict(auth_require_tls=False) if self.implicit else dict(tls_context=self.context, require_starttls=True,
                                             auth_require_tls=True)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return SMTP(handler, hostname=HOSTNAME, ident="Quorvel test sink", decode_data=False,
                        enable_SMTPUTF8=False, auth_required=True, auth_exclude_mechanism=excluded,
                        authenticator=handler.authenticator, **tls)
