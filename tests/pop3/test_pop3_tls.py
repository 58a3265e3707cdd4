"""POP3 over TLS (STLS and implicit) with pop3check: Dovecot for the road,
scripted servers for each way it must stop without a password going out."""
import shutil
import ssl
import subprocess
import time

import pytest

from support.dovecot import Dovecot
from support.relay import Relay
from support.tls_servers import DovecotTls, ScriptedServer, make_certs, server_context
from pop3.test_pop3_dovecot import MAILS, as_sent, run_check
from support.commlog import CLOSING

PASSWORD = "pop-secret-42"


@pytest.fixture(scope="module")
def certs(tmp_path_factory):
    return make_certs(tmp_path_factory.mktemp("certs"))


@pytest.fixture
def tls_dovecot(certs):
    with DovecotTls(certs.good) as server:
        yield server


def check(server, tmp_path, security, *extra, port, certs=None, timeout=30):
    trust = ["--trust", str(certs.ca)] if certs else []
    return run_check(server, tmp_path, "--security", security, *trust, *extra, port=port, timeout=timeout)


@pytest.mark.parametrize("security", ["tls", "stls"])
def test_downloads_byte_exact_over_tls_and_deletes(tls_dovecot, certs, tmp_path, security):
    for m in MAILS:
        tls_dovecot.put(m)
    port = tls_dovecot.tls_port if security == "tls" else tls_dovecot.port
    result, got, lines = check(tls_dovecot, tmp_path, security, "--delete", port=port, certs=certs)
    assert result.returncode == 0, (result.stderr, lines)
    assert got == [as_sent(m) for m in MAILS]
    assert tls_dovecot.messages() == []
    tls = [l for l in lines if l.startswith("TLS接続しました TLSv1.")]
    assert len(tls) == 1
    # TLS comes before USER: on the implicit port before the greeting too.
    order = ["TLS接続しました", "+OK Dovecot"] if security == "tls" else ["+OK Dovecot", "> STLS", "TLS接続しました"]
    at = [next(i for i, l in enumerate(lines) if l.startswith(o)) for o in order + ["> USER"]]
    assert at == sorted(at)
    assert all(PASSWORD not in l for l in lines)
    assert lines[-1] == CLOSING


def test_records_in_pieces(tls_dovecot, certs, tmp_path):
    mail = b"Subject: pieces\r\n\r\n" + b"0123456789abcdef\r\n" * 200
    tls_dovecot.put(mail)
    with Relay(tls_dovecot.tls_port, pieces=True) as relay:
        result, got, lines = check(tls_dovecot, tmp_path, "tls", port=relay.port, certs=certs, timeout=60)
    assert result.returncode == 0, lines
    assert got == [as_sent(mail)]


# Each certificate fault: (certificate, trusted CA given, reason in the log).
CERT_CASES = [
    ("wrong_name", True, "(host name mismatch)"),
    ("expired", True, "(expired)"),
    ("self_signed", True, "(self-signed)"),
    ("foreign", True, "(untrusted issuer)"),
    ("good", False, "(untrusted issuer)"),  # the test CA is in no system store
]


def tls_script(cert, stls):
    """Implicit TLS, or STLS after a greeting; then whatever the client sends."""
    def script(conn, srv):
        if stls:
            conn.sendall(b"+OK ready\r\n")
            srv.read_line(conn)
            conn.sendall(b"+OK Begin TLS negotiation now.\r\n")
        try:
            tls = server_context(cert).wrap_socket(conn, server_side=True)
        except (ssl.SSLError, OSError):
            return
        tls.sendall(b"+OK ready\r\n")
        if srv.read_line(tls):
            tls.sendall(b"-ERR no such user\r\n")
        srv.drain(tls)
    return script


@pytest.mark.parametrize("name,trusted,reason", CERT_CASES)
@pytest.mark.parametrize("security", ["tls", "stls"])
def test_certificate_faults_stop_before_user(certs, tmp_path, name, trusted, reason, security):
    stls = security == "stls"
    with ScriptedServer(tls_script(getattr(certs, name), stls)) as server:
        start = time.monotonic()
        result, got, lines = check(Dovecot(), tmp_path, security, port=server.port,
                                   certs=certs if trusted else None)
    assert result.returncode == 1
    assert time.monotonic() - start < 10
    failure = [l for l in lines if l.startswith("TLSエラー: ")]
    assert len(failure) == 1 and reason in failure[0], lines
    assert server.received == (b"STLS\r\n" if stls else b"")
    assert not any(l.startswith("> USER") or l == "> QUIT" for l in lines)


@pytest.mark.parametrize("system_has_ca", ["in its file", "in its folder", None])
def test_system_store_still_counts_beside_a_trusted_file(certs, tmp_path, monkeypatch, system_has_ca):
    """The trusted file does not hold the issuer; the system's store (a
    bundle named by SSL_CERT_FILE, or the hashed folder) decides."""
    other_ca = certs.ca.parent / "other-ca.pem"
    folder = tmp_path / "certs"
    folder.mkdir()
    if system_has_ca == "in its folder":
        shutil.copy(certs.ca, folder / "ca.pem")
        subprocess.run(["openssl", "rehash", str(folder)], check=True, capture_output=True)
        monkeypatch.delenv("SSL_CERT_FILE", raising=False)
    else:
        monkeypatch.setenv("SSL_CERT_FILE", str(certs.ca if system_has_ca else other_ca))
    monkeypatch.setenv("SSL_CERT_DIR", str(folder))
    with ScriptedServer(tls_script(certs.good, False)) as server:
        result, got, lines = check(Dovecot(), tmp_path, "tls", "--trust", other_ca, port=server.port)
    failure = [l for l in lines if l.startswith("TLSエラー: ")]
    if system_has_ca:
        assert not failure and server.received.startswith(b"USER quorvel\r\n"), lines
    else:
        assert len(failure) == 1 and "(untrusted issuer)" in failure[0], lines
        assert server.received == b""


def test_unchecked_certificate_is_used_and_said_so(certs, tmp_path):
    with ScriptedServer(tls_script(certs.self_signed, False)) as server:
        result, got, lines = check(Dovecot(), tmp_path, "tls", "--no-verify", port=server.port)
    assert "警告: サーバ証明書を検証しません (certificate check off)" in lines
    assert any(l.startswith("TLS接続しました") for l in lines)
    assert server.received.startswith(b"USER quorvel\r\n")


def refusing_stls(conn, srv):
    conn.sendall(b"+OK ready\r\n")
    srv.read_line(conn)
    conn.sendall(b"-ERR Unknown command.\r\n")
    srv.drain(conn)


def closing_in_handshake(conn, srv):
    srv.recv(conn)  # the ClientHello, then gone


def injecting(certs):
    """"+OK" to STLS and a plaintext "+OK" behind it in the same segment:
    a client that took it as the reply to USER would send PASS."""
    def script(conn, srv):
        conn.sendall(b"+OK ready\r\n")
        srv.read_line(conn)
        conn.sendall(b"+OK Begin TLS negotiation now.\r\n+OK injected\r\n")
        tls = server_context(certs.good).wrap_socket(conn, server_side=True)
        srv.read_line(tls)
        tls.sendall(b"-ERR no such user\r\n")
        srv.drain(tls)
    return script


@pytest.mark.parametrize("case", ["no-stls", "closed", "injected"])
def test_stls_faults_never_send_the_password(certs, tmp_path, case):
    script = {"no-stls": refusing_stls, "closed": closing_in_handshake, "injected": injecting(certs)}[case]
    security = "tls" if case == "closed" else "stls"
    with ScriptedServer(script) as server:
        result, got, lines = check(Dovecot(), tmp_path, security, port=server.port, certs=certs)
    assert server.error is None, server.error
    assert result.returncode == 1
    assert PASSWORD.encode() not in server.received and b"PASS" not in server.received
    expected = {
        "no-stls": "サーバがSTLSに対応していません (STLS refused)",
        "closed": "TLSエラー: TLSハンドシェイク中にサーバが切断しました (closed during handshake)",
        "injected": "STLS応答の後の平文データ14バイトを破棄しました",
    }[case]
    assert expected in lines, lines
    if case == "injected":
        assert server.received.endswith(b"USER quorvel\r\nQUIT\r\n")
    else:
        assert b"USER" not in server.received and b"QUIT" not in server.received
