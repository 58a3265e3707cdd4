"""pop3check.exe under Wine: POP3 over SChannel (SSPI) against Dovecot,
with the certificate checked by the program (chain, name, trusted file).
Wine checks names only for DNS names: the server is "localhost"."""
import pytest

from support import paths
from support.tls_servers import DovecotTls, make_certs
from support.wine import winpath
from pop3.test_pop3_dovecot import MAILS, as_sent
from support.commlog import CLOSING

POP3CHECK = paths.win("tools/pop3/pop3check.exe")


@pytest.fixture(scope="module")
def certs(tmp_path_factory):
    return make_certs(tmp_path_factory.mktemp("certs"))


def wine_check(wine, server, tmp_path, security, port, trust=None, delete=True):
    out = tmp_path / "mails"
    out.mkdir(exist_ok=True)
    args = ["--server", "localhost", "--port", port, "--user", server.user, "--out", winpath(out),
            "--log", winpath(tmp_path / "comm.log"), "--security", security]
    if trust:
        args += ["--trust", winpath(trust)]
    if delete:
        args.append("--delete")
    log_file = tmp_path / "comm.log"
    for _ in range(2):
        rc, stdout, stderr = wine.run(POP3CHECK, args, cwd=tmp_path, timeout=120,
                                      extra_env={"POP3CHECK_PASSWORD": server.password})
        # pop3check writes its log from the start; none with status 1 means the
        # Wine launcher gave up before the program ran (seen on a loaded machine).
        if log_file.exists() or rc != 1:
            break
    mails = sorted(out.glob("*.eml"), key=lambda p: int(p.stem))
    log = log_file.read_bytes().decode("cp932").split("\r\n")[:-1]
    return rc, [p.read_bytes() for p in mails], log


@pytest.mark.parametrize("security", ["tls", "stls"])
def test_download_over_schannel(wine, certs, tmp_path, security):
    with DovecotTls(certs.good) as server:
        for m in MAILS:
            server.put(m)
        port = server.tls_port if security == "tls" else server.port
        rc, got, log = wine_check(wine, server, tmp_path, security, port, trust=certs.ca)
        left = server.messages()
    assert rc == 0, log
    assert got == [as_sent(m) for m in MAILS]
    assert left == []
    assert any(l.startswith("TLS接続しました TLSv1.") for l in log), log
    assert all(server.password not in l for l in log)
    assert log[-1] == CLOSING


@pytest.mark.parametrize("name,trusted,reason", [
    ("wrong_name", True, "(host name mismatch)"),
    ("expired", True, "(expired)"),
    ("self_signed", True, "(self-signed)"),
    ("foreign", True, "(untrusted issuer)"),
    ("good", False, "(untrusted issuer)"),
])
def test_certificate_faults_under_schannel(wine, certs, tmp_path, name, trusted, reason):
    with DovecotTls(getattr(certs, name)) as server:
        server.put(MAILS[0])
        rc, got, log = wine_check(wine, server, tmp_path, "tls", server.tls_port,
                                  trust=certs.ca if trusted else None)
        left = server.messages()
    assert rc == 1
    failure = [l for l in log if l.startswith("TLSエラー: ")]
    assert len(failure) == 1 and reason in failure[0], log
    assert not any(l.startswith("> ") for l in log)
    assert got == [] and len(left) == 1
