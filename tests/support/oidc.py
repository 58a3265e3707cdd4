"""The identity provider of the tests (npm oidc-provider, pinned in
oidc/package-lock.json) over https on 127.0.0.1, and a Dovecot that takes
its access tokens (passdb oauth2 by introspection) for POP3 and, through
its submission service, SMTP AUTH relayed to an SMTP sink.

    with IdentityProvider(certs) as idp:        # certs from tls_servers.make_certs
        idp.token_endpoint, idp.device_endpoint, idp.authorization_endpoint
        idp.approve_device(user_code, "taro")  # as a user in a browser
        location = idp.authorize(url, "taro")  # the redirect to the loopback listener
    with DovecotOAuth(idp, relay_port=sink.port) as dovecot:
        dovecot.port, dovecot.submission_port
"""
import html
import http.cookiejar
import os
import re
import shutil
import ssl
import subprocess
import time
import urllib.error
import urllib.parse
import urllib.request
from pathlib import Path

from support.dovecot import Dovecot, free_port

HERE = Path(__file__).resolve().parent / "oidc"
CLIENT_ID = "quorvel"
SCOPE = "openid mail offline_access"


def installed() -> bool:
    return shutil.which("node") is not None and (HERE / "node_modules" / "oidc-provider").is_dir()


class _NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args, **kwargs):
        return None


class Browser:
    """Cookies, the test CA, and redirects followed by hand (one at a time)."""

    def __init__(self, ca: Path):
        self.context = ssl.create_default_context(cafile=str(ca))
        self.opener = urllib.request.build_opener(
            urllib.request.HTTPCookieProcessor(http.cookiejar.CookieJar()),
            urllib.request.HTTPSHandler(context=self.context), _NoRedirect())

    def request(self, url, form=None):
        """(status, location, body) of one request."""
        data = urllib.parse.urlencode(form).encode() if form is not None else None
        try:
            with self.opener.open(urllib.request.Request(url, data=data), timeout=30) as r:
                return r.status, r.headers.get("Location"), r.read().decode(errors="replace")
        except urllib.error.HTTPError as e:
            return e.code, e.headers.get("Location"), e.read().decode(errors="replace")

    def follow(self, url, form=None, stop=lambda url: False):
        """Follows redirects until a page, or a location for which `stop` is true."""
        status, location, body = self.request(url, form)
        for _ in range(20):
            if location is None:
                return url, status, body
            url = urllib.parse.urljoin(url, location)
            if stop(url):
                return url, status, body
            status, location, body = self.request(url)
        raise AssertionError("too many redirects")


def _form(body: str, form_id: str = None):
    """(action, fields) of the page's form (the one with `form_id`)."""
    pattern = r'<form[^>]*id="%s"[^>]*>(.*?)</form>' % re.escape(form_id) if form_id else r"<form[^>]*>(.*?)</form>"
    m = re.search(pattern, body, re.S)
    assert m, body[:2000]
    tag = re.search(r"<form[^>]*>", m.group(0)).group(0)
    action = html.unescape(re.search(r'action="([^"]*)"', tag).group(1))
    fields = {html.unescape(n): html.unescape(v) for n, v in
              re.findall(r'<input[^>]*name="([^"]*)"[^>]*value="([^"]*)"', m.group(1))}
    return action, fields


class IdentityProvider:
    def __init__(self, certs, access_token_ttl=3600):
        self.certs = certs
        self.ttl = access_token_ttl
        self.proc = None

    @property
    def issuer(self):
        return f"https://localhost:{self.port}"

    token_endpoint = property(lambda self: self.issuer + "/token")
    device_endpoint = property(lambda self: self.issuer + "/device/auth")
    authorization_endpoint = property(lambda self: self.issuer + "/auth")
    revocation_endpoint = property(lambda self: self.issuer + "/token/revocation")
    introspection_endpoint = property(lambda self: self.issuer + "/token/introspection")

    def start(self, timeout=30.0, port=None):
        """Starts the provider (on `port` again after a stop: a restart forgets
        every grant, as its store is in memory)."""
        self.port = port or free_port()
        self.log = open(Path(os.environ.get("TMPDIR", "/tmp")) / f"quorvel-oidc-{self.port}.log", "w+b")
        env = dict(os.environ, ACCESS_TOKEN_TTL=str(self.ttl), NODE_ENV="test")
        self.proc = subprocess.Popen(["node", str(HERE / "server.js"), str(self.port), str(self.certs.good.cert),
                                      str(self.certs.good.key)], cwd=HERE, stdin=subprocess.DEVNULL,
                                     stdout=self.log, stderr=self.log, env=env)
        deadline = time.monotonic() + timeout
        while b"ready" not in self._output():
            if self.proc.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError(f"oidc-provider did not start: {self._output().decode(errors='replace')}")
            time.sleep(0.05)
        return self

    def issued(self) -> set:
        """Every access and refresh token issued so far (bytes)."""
        return set(re.findall(rb"^issued (\S+)$", self._output(), re.M))

    def _output(self) -> bytes:
        self.log.seek(0)
        return self.log.read()

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def provider_file(self, path: Path, device=True, mechanism="") -> Path:
        """A quorvel-oauth.ini for this provider."""
        lines = {"authorization_endpoint": self.authorization_endpoint,
                 "device_authorization_endpoint": self.device_endpoint if device else "",
                 "token_endpoint": self.token_endpoint, "client_id": CLIENT_ID, "scope": SCOPE,
                 "sasl_mechanism": mechanism}
        path.write_text("".join(f"{k}={v}\r\n" for k, v in lines.items()))
        return path

    def approve_device(self, user_code: str, login: str):
        """Enters the user code at the verification page, confirms it and
        signs in as `login`, as a user would in a browser."""
        b = Browser(self.certs.ca)
        _, _, page = b.follow(self.issuer + "/device")
        action, fields = _form(page, "op.deviceInputForm")
        fields["user_code"] = user_code
        _, _, page = b.follow(urllib.parse.urljoin(self.issuer, action), fields)
        action, fields = _form(page, "op.deviceConfirmForm")
        fields["confirm"] = "yes"
        url, _, page = b.follow(urllib.parse.urljoin(self.issuer, action), fields)
        action, _ = _form(page)
        _, status, page = b.follow(urllib.parse.urljoin(url, action), {"login": login})
        assert "Sign-in Success" in page, page[:2000]

    def authorize(self, url: str, login: str) -> str:
        """Opens the authorization address, signs in as `login` and returns
        the redirect to the loopback listener (not followed)."""
        b = Browser(self.certs.ca)
        loopback = lambda u: u.startswith("http://127.0.0.1")  # noqa: E731
        page_url, _, page = b.follow(url, stop=loopback)
        action, _ = _form(page)
        final, _, _ = b.follow(urllib.parse.urljoin(page_url, action), {"login": login}, stop=loopback)
        assert loopback(final), final
        return final

    def token(self, form: dict) -> dict:
        """One POST to the token endpoint as the client (the answer's JSON)."""
        import json
        b = Browser(self.certs.ca)
        status, _, body = b.request(self.token_endpoint, dict(form, client_id=CLIENT_ID))
        return json.loads(body)


OAUTH_PASSDB = """\
passdb {{
  driver = oauth2
  mechanisms = xoauth2 oauthbearer
  args = {root}/oauth2.conf.ext
}}
userdb {{
  driver = static
  args = uid={uid} gid={gid} home={root}/home/%u allow_all_users=yes
}}
"""

OAUTH2_EXT = """\
introspection_mode = post
introspection_url = {url}
username_attribute = username
active_attribute = active
active_value = true
force_introspection = yes
tls_ca_cert_file = {ca}
"""

# Quorvel's send libraries write "Mail From: " + the address as given.
SUBMISSION = """\
hostname = localhost
submission_client_workarounds = whitespace-before-path mailbox-for-path
submission_relay_host = 127.0.0.1
submission_relay_port = {relay}
service submission-login {{
  inet_listener submission {{
    address = 127.0.0.1
    port = {port}
  }}
}}
"""


class DovecotOAuth(Dovecot):
    """Dovecot whose logins take access tokens of `idp` (XOAUTH2 and
    OAUTHBEARER), for POP3 and for SMTP submission relayed to `relay_port`."""

    def __init__(self, idp: IdentityProvider, relay_port: int, user="taro", **kw):
        super().__init__(user=user, **kw)
        self.idp = idp
        self.relay_port = relay_port
        self.submission_port = 0

    def config_text(self) -> str:
        from support.dovecot import MAIL_GID, MAIL_UID
        self.submission_port = free_port()
        url = self.idp.introspection_endpoint.replace("https://", "https://dovecot:introspection-secret@")
        # Dovecot's auth process reads the CA as its own user: a copy it can reach.
        ca = self.root / "oauth-ca.pem"
        shutil.copyfile(self.idp.certs.ca, ca)
        ca.chmod(0o644)
        (self.root / "oauth2.conf.ext").write_text(OAUTH2_EXT.format(url=url, ca=ca))
        text = super().config_text()
        text = text.replace("protocols = pop3", "protocols = pop3 submission")
        text = text.replace("auth_mechanisms = plain login", "auth_mechanisms = plain login xoauth2 oauthbearer")
        start = text.index("passdb {")
        end = text.index("service pop3-login")
        text = text[:start] + OAUTH_PASSDB.format(root=self.root, uid=MAIL_UID, gid=MAIL_GID) + text[end:]
        return text + SUBMISSION.format(relay=self.relay_port, port=self.submission_port)
