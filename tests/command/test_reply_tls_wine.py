"""The reply to a command mail over TLS: quorvel.exe under Wine takes the
SMTP security of quorvel.ini and Sendry.dll sends through SChannel to
aiosmtpd (STARTTLS, or TLS from the first byte), authenticated."""
import pytest

from sendlib.sendry_server import PASSWORD, USER
from sendlib.smtp_tls_servers import TlsSmtpSink
from support.command_mail import deliver
from support.dovecot import Dovecot
from support.quorvel_app import CMD_RECEIVE
from support.smtp import ReplyServer
from support.tls_servers import make_certs, server_context
from support.wine import winpath


class TlsReplyServer(TlsSmtpSink, ReplyServer):
    pass


@pytest.fixture(scope="module")
def certs(tmp_path_factory):
    return make_certs(tmp_path_factory.mktemp("certs"))


@pytest.mark.parametrize("security,mechanism", [(1, "CRAM-MD5"), (1, "LOGIN"), (2, "PLAIN")],
                         ids=["starttls-cram-md5", "starttls-login", "tls-plain"])
def test_reply_over_tls(quorvel, wine, driver, certs, security, mechanism):
    # One account serves POP3 and SMTP, as the program has it.
    with Dovecot(user=USER.decode(), password=PASSWORD.decode()) as pop, \
         TlsReplyServer(server_context(certs.good), implicit=security == 2, mechanisms=(mechanism,)) as smtp:
        deliver(pop, "キー返信")
        quorvel.write_settings(pop3Server="127.0.0.1", pop3Port=pop.port, accountName=pop.user,
                               password=pop.password, smtpServer="localhost", smtpPort=smtp.port,
                               smtpAuthRequired=1, smtpSecurity=security, tlsTrustFile=winpath(certs.ca),
                               intervalMinutes=0, intervalSeconds=0)
        quorvel.start()
        quorvel.command(CMD_RECEIVE)
        reply = smtp.wait_reply(timeout=60)
        auth = [(a.mechanism, a.ok) for a in smtp.auth]
    assert reply.results()[0] == "== コマンド 一覧 ==\n"
    assert auth == [(mechanism, True)]
    log = (quorvel.folder / "メール送信ログ.txt").read_bytes().decode("cp932").split("\n")
    assert any(l.startswith("TLS接続しました TLSv1.") for l in log)
    assert not any(PASSWORD.decode() in l for l in log)
