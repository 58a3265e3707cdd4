"""libSendry's EM_SendMailSecure through sendcheck: STARTTLS and TLS from
the first byte against aiosmtpd with every AUTH mechanism, and each way it
must stop without the password going out."""
import base64
import subprocess
import time

import pytest

from sendry_server import PASSWORD, USER, SmtpSink
from smtp_tls_servers import TlsSmtpSink
from support import paths
from support.tls_servers import ScriptedServer, make_certs, server_context

SENDCHECK = paths.native("tools/sendlib/sendcheck")
LOG_NAME = "メール送信ログ.txt"


@pytest.fixture(scope="module")
def certs(tmp_path_factory):
    return make_certs(tmp_path_factory.mktemp("certs"))


def send(port, tmp_path, security, *extra, trust=None, timeout=60):
    args = [SENDCHECK, "--server", "localhost", "--port", str(port), "--from", "bot@quorvel.test",
            "--to", "user@quorvel.test", "--user", USER.decode(), "--subject", "TLS 試験",
            "--body", "本文\r\n", "--security", security, "--log", *extra]
    if trust:
        args += ["--trust", str(trust)]
    env = {"SENDCHECK_PASSWORD": PASSWORD.decode(), "PATH": "/usr/bin:/bin"}
    result = subprocess.run([str(a) for a in args], cwd=tmp_path, env=env, capture_output=True,
                            timeout=timeout)
    log = (tmp_path / LOG_NAME).read_bytes().decode("cp932") if (tmp_path / LOG_NAME).exists() else ""
    return result.returncode, log.split("\n")


def secrets(password=PASSWORD):
    """The password as any AUTH mechanism could carry it."""
    forms = [password, base64.b64encode(password)]
    for prefix in (USER + b"\0", USER + b"\0" + USER + b"\0"):
        forms.append(base64.b64encode(prefix + password))
    return forms


@pytest.mark.parametrize("mechanism", ["LOGIN", "PLAIN", "CRAM-MD5"])
@pytest.mark.parametrize("security", ["starttls", "tls"])
def test_delivered_over_tls_with_each_mechanism(certs, tmp_path, security, mechanism):
    with TlsSmtpSink(server_context(certs.good), implicit=security == "tls",
                     mechanisms=(mechanism,)) as sink:
        code, log = send(sink.port, tmp_path, security, trust=certs.ca)
    assert code == 0, log
    [message] = sink.messages
    assert base64.b64encode("本文\r\n".encode("cp932")) in message.content
    assert [(a.mechanism, a.ok) for a in sink.auth] == [(mechanism, True)]
    events = [e.split()[0] for e in sink.events]
    hellos = ["EHLO", "EHLO"] if security == "starttls" else ["EHLO"]
    assert events == hellos + ["AUTH", "MAIL", "RCPT", "DATA", "QUIT"]
    assert any(l.startswith("TLS接続しました TLSv1.") for l in log)
    assert not any(s.decode() in l for s in secrets() for l in log)


def test_plain_send_is_unchanged_through_the_new_export(tmp_path):
    with SmtpSink() as sink:
        code, log = send(sink.port, tmp_path, "none")
    assert code == 0
    assert [e.split()[0] for e in sink.events] == ["EHLO", "AUTH", "MAIL", "RCPT", "DATA", "QUIT"]
    assert not any("TLS" in l for l in log)


CERT_CASES = [
    ("wrong_name", True, "(host name mismatch)"),
    ("expired", True, "(expired)"),
    ("self_signed", True, "(self-signed)"),
    ("foreign", True, "(untrusted issuer)"),
    ("good", False, "(untrusted issuer)"),
]


def smtp_script(cert, starttls, inject=b""):
    def script(conn, srv):
        if starttls:
            conn.sendall(b"220 scripted ESMTP\r\n")
            srv.read_line(conn)
            conn.sendall(b"250-scripted\r\n250-AUTH PLAIN LOGIN\r\n250 STARTTLS\r\n")
            srv.read_line(conn)
            conn.sendall(b"220 Ready to start TLS\r\n" + inject)
        try:
            tls = server_context(cert).wrap_socket(conn, server_side=True)
        except OSError:
            return
        if not starttls:
            tls.sendall(b"220 scripted ESMTP\r\n")
        if srv.read_line(tls):
            tls.sendall(b"250 scripted\r\n")  # no AUTH at all over TLS
        srv.drain(tls)
    return script


@pytest.mark.parametrize("name,trusted,reason", CERT_CASES)
@pytest.mark.parametrize("security", ["starttls", "tls"])
def test_certificate_faults_stop_before_any_secret(certs, tmp_path, name, trusted, reason, security):
    with ScriptedServer(smtp_script(getattr(certs, name), security == "starttls")) as server:
        start = time.monotonic()
        code, log = send(server.port, tmp_path, security, trust=certs.ca if trusted else None)
    assert code == 4
    assert time.monotonic() - start < 10
    failure = [l for l in log if l.startswith("TLSエラー: ")]
    assert len(failure) == 1 and reason in failure[0], log
    assert server.received == (b"EHLO sendcheck\r\nSTARTTLS\r\n" if security == "starttls" else b"")


def closing_in_handshake(conn, srv):
    srv.recv(conn)


@pytest.mark.parametrize("case", ["no-starttls", "closed", "injected"])
def test_starttls_faults_never_send_the_password(certs, tmp_path, case):
    if case == "no-starttls":
        with SmtpSink() as sink:  # plaintext, AUTH offered, no STARTTLS
            code, log = send(sink.port, tmp_path, "starttls", trust=certs.ca)
        assert [e.split()[0] for e in sink.events] == ["EHLO"] and sink.auth == []
        assert "サーバがSTARTTLSに対応していません (STARTTLS not offered)" in log
    else:
        # The injected line would offer PLAIN to a client that read it as
        # the answer to the EHLO over TLS.
        script = (closing_in_handshake if case == "closed"
                  else smtp_script(certs.good, True, inject=b"250 AUTH PLAIN\r\n"))
        with ScriptedServer(script) as server:
            code, log = send(server.port, tmp_path, "tls" if case == "closed" else "starttls", trust=certs.ca)
        assert server.error is None, server.error
        assert not any(s in server.received for s in secrets())
        expected = ("TLSエラー: TLSハンドシェイク中にサーバが切断しました (closed during handshake)"
                    if case == "closed" else "STARTTLS応答の後の平文データ16バイトを破棄しました")
        assert expected in log, log
        if case == "injected":
            assert server.received.endswith(b"STARTTLS\r\nEHLO sendcheck\r\n")
            assert "使用できる認証形式(CRAM-MD5/LOGIN/PLAIN)がサーバに用意されていません。" in log
    assert code == 4
