"""OAuth 2.0 with real parts: the signin tool against oidc-provider (device
flow approved over HTTP as a user would; the loopback flow with the test as
the browser), then pop3check, imapcheck and sendcheck logging in to Dovecot
(POP3, IMAP and its submission service) with the access token, by XOAUTH2
and OAUTHBEARER.
A scripted token endpoint gives the hostile answers."""
import http.server
import json
import re
import subprocess
import threading
import time
import urllib.parse
import urllib.request

import pytest

from sendlib.sendry_server import SmtpSink
from support import oidc
from support.oidc import DovecotOAuth, IdentityProvider
from support.paths import native
from support.tls_servers import make_certs

pytestmark = pytest.mark.skipif(not oidc.installed(), reason="oidc-provider is not installed (scripts/setup)")

SIGNIN = str(native("tools/oauth/signin"))
CHECKS = {"pop3": str(native("tools/pop3/pop3check")), "imap": str(native("tools/imap/imapcheck"))}
SENDCHECK = str(native("tools/sendlib/sendcheck"))
USER = "taro"


@pytest.fixture(scope="module")
def certs(tmp_path_factory):
    return make_certs(tmp_path_factory.mktemp("certs"))


@pytest.fixture(scope="module")
def idp(certs):
    with IdentityProvider(certs) as provider:
        yield provider


@pytest.fixture(scope="module")
def servers(idp):
    """Dovecot taking the provider's tokens, relaying submissions to a sink
    (which offers no AUTH of its own)."""
    with SmtpSink(mechanisms=()) as sink:
        with DovecotOAuth(idp, relay_port=sink.port, user=USER) as dovecot:
            yield dovecot, sink


class Signin:
    """The signin tool running in the background; its output in a file."""

    def __init__(self, tmp_path, *args):
        self.out_path = tmp_path / "signin.out"
        self.out = open(self.out_path, "w+b")
        self.proc = subprocess.Popen([SIGNIN, *args], stdout=self.out, stderr=subprocess.STDOUT, cwd=tmp_path)

    def wait_for(self, pattern, timeout=20):
        deadline = time.monotonic() + timeout
        while True:
            m = re.search(pattern, self.text())
            if m or self.proc.poll() is not None or time.monotonic() > deadline:
                assert m, self.text()
                return m.group(1)
            time.sleep(0.05)

    def finish(self, timeout=60):
        self.proc.wait(timeout)
        return self.proc.returncode, self.text()

    def text(self):
        self.out.seek(0)
        return self.out.read().decode("cp932", errors="replace")


def provider_args(idp, tmp_path, device=True):
    return ["--provider-file", str(idp.provider_file(tmp_path / "quorvel-oauth.ini", device=device)),
            "--trust", str(idp.certs.ca), "--tokens", str(tmp_path / "quorvel-token.dat"),
            "--access-token-out", str(tmp_path / "access_token")]


def device_signin(idp, tmp_path):
    s = Signin(tmp_path, *provider_args(idp, tmp_path))
    idp.approve_device(s.wait_for(r"user_code: (\S+)"), USER)
    code, text = s.finish()
    assert code == 0 and "signed in\n" in text.replace("\r", ""), text
    return (tmp_path / "access_token").read_text().strip()


def token_file(tmp_path):
    """The token file's fields (natively the sealed part is the text itself)."""
    data = (tmp_path / "quorvel-token.dat").read_bytes()
    assert data.startswith(b"QVTOKEN1")
    return dict(line.split("=", 1) for line in data[8:].decode().splitlines())


def receive(protocol, server, tmp_path, bearer_file, mechanism):
    """pop3check or imapcheck with the token: (result, comm log)."""
    log = tmp_path / f"{protocol}-{mechanism}.log"
    port = server.port if protocol == "pop3" else server.imap_port
    r = subprocess.run([CHECKS[protocol], "--server", "127.0.0.1", "--port", str(port), "--user", USER,
                        "--bearer-file", str(bearer_file), "--mechanism", mechanism, "--log", str(log), "--delete"],
                       capture_output=True, text=True, timeout=60)
    return r, log.read_bytes().decode("cp932").replace("\r\n", "\n")


def send(server, tmp_path, bearer_file, mechanism):
    r = subprocess.run([SENDCHECK, "--server", "127.0.0.1", "--port", str(server.submission_port), "--user", USER,
                        "--from", "taro@example.jp", "--to", "hanako@example.jp", "--subject", mechanism,
                        "--bearer-file", str(bearer_file), "--mechanism", mechanism, "--log"],
                       capture_output=True, text=True, timeout=60, cwd=tmp_path)
    return int(r.stdout.strip() or -1), (tmp_path / "メール送信ログ.txt").read_bytes().decode("cp932").replace("\r\n", "\n")


@pytest.mark.parametrize("mechanism", ["xoauth2", "oauthbearer"])
def test_device_sign_in_then_pop3_and_submission(idp, servers, tmp_path, mechanism):
    dovecot, sink = servers
    access = device_signin(idp, tmp_path)
    stored = token_file(tmp_path)
    assert stored["access"] == access and stored["refresh"] and stored["signin"] == "0"
    assert (tmp_path / "quorvel-token.dat").stat().st_mode & 0o777 == 0o600

    logs = []
    for protocol, login in (("pop3", f"> AUTH {mechanism.upper()}\n"),
                            ("imap", f" AUTHENTICATE {mechanism.upper()} ********\n")):
        dovecot.put(b"Subject: oauth\r\n\r\nbody\r\n")
        result, log = receive(protocol, dovecot, tmp_path, tmp_path / "access_token", mechanism)
        assert result.returncode == 0 and result.stdout.startswith("1 messages"), (protocol, result.stderr, log)
        assert login in log, log
        logs.append(log)

    code, send_log = send(dovecot, tmp_path, tmp_path / "access_token", mechanism)
    assert code == 0, send_log
    assert f"AUTH {mechanism.upper()} ********" in send_log
    assert any(m.content.find(b"Subject:" + mechanism.encode()) >= 0 for m in sink.messages)
    for text in (*logs, send_log, (tmp_path / "signin.out").read_text(errors="replace")):
        assert access not in text and stored["refresh"] not in text


@pytest.mark.parametrize("protocol,mechanism,answer,failure", [
    ("pop3", "xoauth2", "> \n", "-ERR [AUTH] Authentication failed."),
    ("pop3", "oauthbearer", "> AQ==\n", "-ERR [AUTH] Authentication failed."),
    ("imap", "xoauth2", "> ********\n", "NO [AUTHENTICATIONFAILED] Authentication failed."),
    ("imap", "oauthbearer", "> ********\n", "NO [AUTHENTICATIONFAILED] Authentication failed."),
])
def test_refused_token_gets_the_final_failure(servers, tmp_path, protocol, mechanism, answer, failure):
    dovecot, _ = servers
    bad = tmp_path / "bad_token"
    bad.write_text("not-a-token\n")
    result, log = receive(protocol, dovecot, tmp_path, bad, mechanism)
    assert result.returncode == 1
    # The error challenge is answered, and the server's failure read.
    assert answer in log and failure in log and "OAuth認証に失敗しました" in log, log
    if protocol == "pop3":
        code, send_log = send(dovecot, tmp_path, bad, mechanism)
        assert code == 4 and "535 5.7.8 Authentication failed." in send_log, send_log


def test_loopback_sign_in_with_the_test_as_browser(idp, servers, tmp_path):
    dovecot, _ = servers
    s = Signin(tmp_path, *provider_args(idp, tmp_path, device=False), "--flow", "loopback", "--timeout", "60")
    url = s.wait_for(r"authorize: (\S+)")
    query = urllib.parse.parse_qs(urllib.parse.urlparse(url).query)
    assert query["code_challenge_method"] == ["S256"] and query["redirect_uri"][0].startswith("http://127.0.0.1:")
    location = idp.authorize(url, USER)
    with urllib.request.urlopen(location, timeout=20) as page:
        assert page.status == 200 and "サインインしました" in page.read().decode("cp932")
    code, text = s.finish()
    assert code == 0, text
    result, log = receive("imap", dovecot, tmp_path, tmp_path / "access_token", "xoauth2")
    assert result.returncode == 0, log


def test_loopback_redirect_with_a_forged_state_is_refused(idp, tmp_path):
    s = Signin(tmp_path, *provider_args(idp, tmp_path, device=False), "--flow", "loopback", "--timeout", "60")
    location = idp.authorize(s.wait_for(r"authorize: (\S+)"), USER)
    forged = re.sub(r"state=[^&]+", "state=forged", location)
    try:
        urllib.request.urlopen(forged, timeout=20)
        raise AssertionError("the listener accepted a forged state")
    except urllib.error.HTTPError as e:
        assert e.code == 400
    code, text = s.finish()
    assert code == 1 and "state" in text, text
    assert not (tmp_path / "quorvel-token.dat").exists()


def test_rotated_refresh_token_is_kept_and_a_replay_revokes_the_grant(idp, servers, tmp_path):
    dovecot, _ = servers
    device_signin(idp, tmp_path)
    first = token_file(tmp_path)
    refresh = [SIGNIN, *provider_args(idp, tmp_path), "--refresh", "--force"]
    r = subprocess.run(refresh, capture_output=True, timeout=60, cwd=tmp_path)
    assert r.returncode == 0 and r.stdout == b"refreshed\n", r.stderr
    second = token_file(tmp_path)
    assert second["refresh"] != first["refresh"] and second["access"] != first["access"]
    assert receive("pop3", dovecot, tmp_path, tmp_path / "access_token", "xoauth2")[0].returncode == 0

    # Someone replays the spent refresh token: the server revokes the grant.
    assert idp.token({"grant_type": "refresh_token", "refresh_token": first["refresh"]})["error"] == "invalid_grant"
    r = subprocess.run(refresh, capture_output=True, timeout=60, cwd=tmp_path)
    assert r.returncode == 1 and "invalid_grant" in r.stderr.decode(), r.stderr
    assert token_file(tmp_path) == {"expires": "0", "signin": "1", "access": "", "refresh": ""}
    # From now on no request: sign-in is needed.
    r = subprocess.run(refresh, capture_output=True, timeout=60, cwd=tmp_path)
    assert r.returncode == 1 and "サインインが必要です" in r.stderr.decode()


class TokenEndpoint:
    """A token endpoint on 127.0.0.1 (plain http, allowed for loopback)
    answering every POST with `answer(handler)`."""

    def __init__(self, answer):
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                self.rfile.read(int(self.headers.get("Content-Length", 0)))
                outer.requests += 1
                try:
                    answer(self)
                except (BrokenPipeError, ConnectionResetError):
                    pass

            def log_message(self, *args):
                pass

        self.requests = 0
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def reply(body: bytes, status=200, kind="application/json", stall=0.0):
    def answer(h):
        if stall:
            time.sleep(stall)
        h.send_response(status)
        h.send_header("Content-Type", kind)
        h.send_header("Content-Length", str(len(body)))
        h.end_headers()
        h.wfile.write(body)
    return answer


@pytest.mark.parametrize("answer,words", [
    (reply(b'{"access_token": "x", '), "JSON"),
    (reply(b"<html><body>maintenance</body></html>", 503, "text/html"), "HTML"),
    (reply(b"[" * (10 * 1024 * 1024)), "1MB"),
    (reply(b"{}", stall=4), "30"),
    (reply(b'{"error": "invalid_grant"}', 400), "invalid_grant"),
], ids=["broken-json", "html", "10mb", "stall", "invalid-grant"])
def test_hostile_token_endpoint_stores_nothing(tmp_path, answer, words):
    endpoint = TokenEndpoint(answer)
    try:
        tokens = tmp_path / "quorvel-token.dat"
        before = b"QVTOKEN1expires=0\nsignin=0\naccess=\nrefresh=rt-1\n"
        tokens.write_bytes(before)
        start = time.monotonic()
        r = subprocess.run([SIGNIN, "--token-endpoint", endpoint.url + "/token", "--client-id", "quorvel",
                            "--tokens", str(tokens), "--refresh", "--http-timeout-ms", "1500"],
                           capture_output=True, timeout=60)
        assert time.monotonic() - start < 10
        message = r.stderr.decode()
        assert r.returncode == 1 and words in message, message
        if words == "invalid_grant":
            assert token_file(tmp_path)["signin"] == "1"
        else:
            assert tokens.read_bytes() == before
    finally:
        endpoint.close()


def test_endless_authorization_pending_stops_at_expiry(tmp_path):
    def answer(h):
        body = (b'{"device_code": "dc", "user_code": "U-1", "verification_uri": "http://127.0.0.1/x", '
                b'"interval": 1, "expires_in": 3}') if h.path == "/device" else b'{"error": "authorization_pending"}'
        reply(body, 200 if h.path == "/device" else 400)(h)
    endpoint = TokenEndpoint(answer)
    try:
        start = time.monotonic()
        r = subprocess.run([SIGNIN, "--device-endpoint", endpoint.url + "/device", "--token-endpoint",
                            endpoint.url + "/token", "--client-id", "quorvel", "--tokens",
                            str(tmp_path / "quorvel-token.dat")], capture_output=True, timeout=60)
        assert r.returncode == 1 and "有効期限" in r.stderr.decode(), r.stderr.decode()
        assert time.monotonic() - start < 8
        assert 2 <= endpoint.requests <= 4  # the device request and one poll a second
        assert not (tmp_path / "quorvel-token.dat").exists()
    finally:
        endpoint.close()
