"""Sendry.dll's EM_SendMailSecure under Wine (SChannel) through
sendcheck.exe: STARTTLS and TLS from the first byte with each AUTH
mechanism, and a certificate fault that stops before any secret."""
import shutil

import pytest

from sendry_server import PASSWORD, USER
from smtp_tls_servers import TlsSmtpSink
from support import paths
from support.tls_servers import ScriptedServer, make_certs, server_context
from support.wine import winpath
from test_sendry_tls import LOG_NAME, secrets, smtp_script


@pytest.fixture(scope="module")
def certs(tmp_path_factory):
    return make_certs(tmp_path_factory.mktemp("certs"))


def wine_send(wine, tmp_path, port, security, trust):
    for name in ("tools/sendlib/sendcheck.exe", "src/sendlib/Sendry.dll"):
        shutil.copy(paths.win(name), tmp_path)
    args = ["--server", "localhost", "--port", port, "--from", "bot@quorvel.test", "--to",
            "user@quorvel.test", "--user", USER.decode(), "--security", security, "--log"]
    if trust:
        args += ["--trust", winpath(trust)]
    rc, out, err = wine.run(tmp_path / "sendcheck.exe", args, cwd=tmp_path, timeout=120,
                            extra_env={"SENDCHECK_PASSWORD": PASSWORD.decode()})
    log_file = tmp_path / LOG_NAME
    return rc, log_file.read_bytes().decode("cp932").split("\n") if log_file.exists() else []


@pytest.mark.parametrize("mechanism", ["LOGIN", "PLAIN", "CRAM-MD5"])
@pytest.mark.parametrize("security", ["starttls", "tls"])
def test_delivered_over_schannel(wine, certs, tmp_path, security, mechanism):
    with TlsSmtpSink(server_context(certs.good), implicit=security == "tls",
                     mechanisms=(mechanism,)) as sink:
        rc, log = wine_send(wine, tmp_path, sink.port, security, certs.ca)
    assert rc == 0, log
    assert len(sink.messages) == 1
    assert [(a.mechanism, a.ok) for a in sink.auth] == [(mechanism, True)]
    assert any(l.startswith("TLS接続しました TLSv1.") for l in log)


@pytest.mark.parametrize("name,trusted,reason", [
    ("wrong_name", True, "(host name mismatch)"),
    ("good", False, "(untrusted issuer)"),
])
def test_certificate_fault_under_schannel(wine, certs, tmp_path, name, trusted, reason):
    with ScriptedServer(smtp_script(getattr(certs, name), True)) as server:
        rc, log = wine_send(wine, tmp_path, server.port, "starttls", certs.ca if trusted else None)
    assert rc == 4
    failure = [l for l in log if l.startswith("TLSエラー: ")]
    assert len(failure) == 1 and reason in failure[0], log
    assert server.received == b"EHLO sendcheck\r\nSTARTTLS\r\n"
    assert not any(s in server.received for s in secrets())
