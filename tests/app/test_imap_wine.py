"""quorvel.exe under Wine receiving by IMAP from Dovecot: plaintext,
STARTTLS and implicit TLS (SChannel), the same mail log as over POP3,
deletion, and keepOnServer (each mail once)."""
import pytest

from support.commlog import assert_in_order
from support.dovecot import Dovecot
from support.tls_servers import DovecotTls, make_certs
from support.wine import winpath
from app.test_check_wine import check as menu_check
from pop3.test_pop3_dovecot import MAILS

TWO = "Quorvel  新着メールが 4通あります(迷惑メール 0件)"


@pytest.fixture(scope="module")
def certs(tmp_path_factory):
    return make_certs(tmp_path_factory.mktemp("certs"))


def imap_settings(server, port=None, **extra):
    values = dict(pop3Server="localhost", pop3Port=port or server.imap_port, accountName=server.user,
                  password=server.password, intervalMinutes=0, intervalSeconds=0, receiveProtocol=1)
    values.update(extra)
    return values


def check(app, summary):
    """A check by the menu; an IMAP session then stays, waiting for mail."""
    return menu_check(app, summary + "  受信待機中")


def mail_log(app) -> bytes:
    return (app.folder / "QuorvelMail.log").read_bytes()


def test_imap_stores_what_pop3_stores_and_deletes(quorvel):
    with Dovecot() as server:
        for m in MAILS:
            server.save(m)
        # POP3 first, keeping the mails on the server.
        quorvel.write_settings(pop3Server="127.0.0.1", pop3Port=server.port, accountName=server.user,
                               password=server.password, intervalMinutes=0, intervalSeconds=0, keepOnServer=1)
        quorvel.start()
        menu_check(quorvel, TWO)
        rows_pop3 = quorvel.mail_list()["rows"]
        assert quorvel.close() == 0
        over_pop3 = mail_log(quorvel)
        for name in ("QuorvelMail.log", "QuorvelMail.idx"):
            (quorvel.folder / name).unlink()
        # The same mailbox by IMAP, deleting.
        quorvel.write_settings(**imap_settings(server))
        quorvel.start()
        check(quorvel, TWO)
        assert mail_log(quorvel) == over_pop3
        assert quorvel.mail_list()["rows"] == rows_pop3
        assert quorvel.close() == 0
        assert server.messages() == []
    lines = quorvel.comm_log_lines()
    assert_in_order(lines, ["IMAPサーバに接続しました", lambda l: l.endswith("AUTHENTICATE PLAIN ********"),
                            '> A0003 SELECT "INBOX"', "4通の新着メールがあります",
                            *[lambda l: "UID EXPUNGE" in l] * 4, lambda l: l.endswith(" IDLE")])
    assert all(server.password not in l for l in lines)


@pytest.mark.parametrize("security", [1, 2], ids=["starttls", "tls"])
def test_imap_over_tls(quorvel, certs, security):
    with DovecotTls(certs.good) as server:
        for m in MAILS[:2]:
            server.save(m)
        port = server.imaps_port if security == 2 else server.imap_port
        quorvel.write_settings(**imap_settings(server, port, pop3Security=security, tlsTrustFile=winpath(certs.ca)))
        quorvel.start()
        check(quorvel, "Quorvel  新着メールが 2通あります(迷惑メール 0件)")
        assert quorvel.close() == 0
        assert server.messages() == []
    tls = lambda l: l.startswith("TLS接続しました TLSv1.")  # noqa: E731
    first = [tls, "* OK"] if security == 2 else ["> A0001 CAPABILITY", "> A0002 STARTTLS", tls]
    assert_in_order(quorvel.comm_log_lines(), [
        lambda l, f=f: l.startswith(f) if isinstance(f, str) else f(l) for f in first] +
        [lambda l: "AUTHENTICATE PLAIN ********" in l, lambda l: l.endswith(" IDLE"), "+ idling"])


def test_keep_on_server_takes_each_mail_once(quorvel, dovecot):
    dovecot.save(MAILS[0])
    quorvel.write_settings(**imap_settings(dovecot, keepOnServer=1))
    quorvel.start()
    check(quorvel, "Quorvel  新着メールが 1通あります(迷惑メール 0件)")
    dovecot.save(MAILS[3])
    # The menu's check asks the session still connected: only the new mail.
    check(quorvel, "Quorvel  新着メールが 1通あります(迷惑メール 0件)")
    check(quorvel, "Quorvel  新着メールはありません(迷惑メール 0件)")
    assert quorvel.row_count() == 2
    assert quorvel.close() == 0
    assert len(dovecot.messages()) == 2
