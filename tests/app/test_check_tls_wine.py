"""quorvel.exe under Wine: a mail check over TLS (SChannel) with the
security settings of quorvel.ini, against Dovecot with a test CA."""
import pytest

from support.tls_servers import DovecotTls, make_certs
from support.wine import winpath
from app.test_check_wine import CLOSING, assert_in_order, check


@pytest.fixture(scope="module")
def certs(tmp_path_factory):
    return make_certs(tmp_path_factory.mktemp("certs"))


@pytest.mark.parametrize("security", [1, 2], ids=["stls", "tls"])
def test_check_over_tls_downloads_and_deletes(quorvel, certs, security):
    mails = [b"Subject: one\r\n\r\nfirst\r\n", b"Subject: two\r\n\r\n" + b"y" * 40000 + b"\r\n"]
    with DovecotTls(certs.good) as server:
        for m in mails:
            server.put(m)
        quorvel.write_settings(pop3Server="localhost", pop3Port=server.tls_port if security == 2 else server.port,
                               accountName=server.user, password=server.password, intervalMinutes=0,
                               intervalSeconds=0, pop3Security=security, tlsTrustFile=winpath(certs.ca))
        quorvel.start()
        check(quorvel, "Quorvel  新着メールが 2通あります(迷惑メール 0件)")
        assert server.messages() == []
    lines = quorvel.comm_log_lines()
    tls = lambda l: l.startswith("TLS接続しました TLSv1.")  # noqa: E731
    first = [tls, "+OK Dovecot (Debian) ready."] if security == 2 else ["+OK Dovecot (Debian) ready.", "> STLS", tls]
    assert_in_order(lines, first + [f"> USER {server.user}", "> PASS ********", "> RETR 2", "> QUIT", CLOSING])
    assert all(server.password not in l for l in lines)


def test_untrusted_certificate_stops_the_check(quorvel, certs):
    with DovecotTls(certs.good) as server:
        server.put(b"Subject: kept\r\n\r\nx\r\n")
        quorvel.write_settings(pop3Server="localhost", pop3Port=server.tls_port, accountName=server.user,
                               password=server.password, intervalMinutes=0, intervalSeconds=0,
                               pop3Security=2)  # no trusted file: the test CA is unknown
        quorvel.start()
        check(quorvel, "Quorvel  障害が発生しています(詳細は通信ログを見てください)")
        assert len(server.messages()) == 1
    lines = quorvel.comm_log_lines()
    assert any(l.startswith("TLSエラー: ") and "(untrusted issuer)" in l for l in lines), lines
    assert not any(l.startswith("> ") for l in lines)
