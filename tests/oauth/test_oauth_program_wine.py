"""quorvel.exe with OAuth 2.0 under Wine: after a device sign-in (signin.exe
in the program's folder: the same DPAPI user), the mail check logs in to
Dovecot over POP3 and over IMAP and the command reply to its submission
service with the access token, by XOAUTH2 and by OAUTHBEARER; the
short-lived token is refreshed before each session without the user, on a
worker thread (a stalled token endpoint leaves the window answering); a
grant the provider no longer knows gives one log line and the title, and no
more requests."""
import re
import time
import urllib.parse
import urllib.request

import pytest

from support import oidc
from support.command_mail import deliver
from support.oidc import DovecotOAuth, IdentityProvider
from support.paths import win
from support.quorvel_app import CMD_RECEIVE, wait_until
from support.smtp import ReplyServer
from support.tls_servers import make_certs
from support.wine import winpath

from oauth.test_oauth_native import TokenEndpoint, reply as answer_with

pytestmark = pytest.mark.skipif(not oidc.installed(), reason="oidc-provider is not installed (scripts/setup)")

USER = "taro@example.jp"
SIGN_IN_TITLE = "Quorvel  サインインが必要です(設定のサインインからやり直してください)"
FAILURE_TITLE = "Quorvel  障害が発生しています(詳細は通信ログを見てください)"
WM_NULL = 0


def sign_in(wine, idp, folder):
    out = folder / "signin.out"
    proc = wine.start(win("tools/oauth/signin.exe"),
                      ["--provider-file", "quorvel-oauth.ini", "--trust", winpath(idp.certs.ca)],
                      cwd=folder, stdout=out, stderr=folder / "signin.err")
    code = wait_until(lambda: re.search(rb"user_code: (\S+)", out.read_bytes()) or proc.poll() is not None,
                      30, what="the user code")
    assert proc.poll() is None, (folder / "signin.err").read_bytes()
    idp.approve_device(code.group(1).decode(), USER)
    assert proc.wait(60) == 0, (folder / "signin.err").read_bytes()
    out.unlink()


def test_check_and_reply_sign_in_with_tokens(quorvel, wine, tmp_path):
    certs = make_certs(tmp_path / "certs")
    # Access tokens live 200 s: within the five-minute margin, so every
    # session refreshes first (and the refresh token rotates).
    idp = IdentityProvider(certs, access_token_ttl=200).start()
    try:
        with ReplyServer(mechanisms=()) as smtp, DovecotOAuth(idp, relay_port=smtp.port, user=USER) as dovecot:
            folder = quorvel.folder
            idp.provider_file(folder / "quorvel-oauth.ini")
            sign_in(wine, idp, folder)
            base = dict(accountName=USER, password="", smtpServer="127.0.0.1", smtpPort=dovecot.submission_port,
                        smtpAuthRequired=1, receiveAuth=1, sendAuth=1, oauthProvider=3,
                        tlsTrustFile=winpath(certs.ca), intervalMinutes=0, intervalSeconds=0)
            rows = [(protocol, mechanism) for protocol in ("pop3", "imap") for mechanism in ("XOAUTH2", "OAUTHBEARER")]
            for count, (protocol, mechanism) in enumerate(rows, start=1):
                port = dovecot.port if protocol == "pop3" else dovecot.imap_port
                quorvel.write_settings(pop3Server="127.0.0.1", pop3Port=port,
                                       receiveProtocol=int(protocol == "imap"), **base)
                idp.provider_file(folder / "quorvel-oauth.ini", mechanism=mechanism)
                sealed = (folder / "quorvel-token.dat").read_bytes()
                deliver(dovecot, "キー返信")
                quorvel.start()
                quorvel.command(CMD_RECEIVE)
                reply = smtp.wait_reply(count, timeout=60)
                assert reply.results()[0] == "== コマンド 一覧 ==\n"
                assert quorvel.close() == 0
                logins = re.findall(r"(pop3|imap|submission)-login: Info: Login: user=<taro@example.jp>, method=(\w+)",
                                    dovecot.log())
                assert logins[-2:] == [(protocol, mechanism), ("submission", mechanism)], logins
                assert (folder / "quorvel-token.dat").read_bytes() != sealed  # refreshed and saved

            issued = idp.issued()
            assert len(issued) >= 2 + 2 * len(rows)  # the sign-in's pair and a pair at each check
            for name in ("通信ログ.txt", "メール送信ログ.txt", "quorvel.ini", "quorvel-oauth.ini"):
                text = (folder / name).read_bytes()
                assert not [t for t in issued if t in text], name

            # A token endpoint that stalls: the window answers meanwhile, then
            # the check fails with one line and stores nothing.
            stalled = TokenEndpoint(answer_with(b'{"access_token": ', stall=8))
            try:
                provider = (folder / "quorvel-oauth.ini").read_text()
                (folder / "quorvel-oauth.ini").write_text(provider.replace(idp.token_endpoint, stalled.url + "/token"))
                sealed = (folder / "quorvel-token.dat").read_bytes()
                quorvel.write_settings(pop3Server="127.0.0.1", pop3Port=dovecot.port, **base)
                quorvel.start()
                quorvel.command(CMD_RECEIVE)
                wait_until(lambda: stalled.requests, 20, what="the refresh at the stalled endpoint")
                assert quorvel.driver.send(quorvel.hwnd, WM_NULL) == 0  # answered within 5 s
                assert quorvel.title() == "Quorvel  新着メール確認中"
                quorvel.wait_title(FAILURE_TITLE, timeout=30)
                assert sum(l.startswith("OAuth: ") for l in quorvel.comm_log_lines()) == 1
                assert (folder / "quorvel-token.dat").read_bytes() == sealed
                assert quorvel.close() == 0
                (folder / "quorvel-oauth.ini").write_text(provider)
            finally:
                stalled.close()

            # The provider forgets every grant: one line, the title, no retry.
            port = idp.port
            idp.stop()
            idp.start(port=port)
            quorvel.start()
            quorvel.command(CMD_RECEIVE)
            quorvel.wait_title(SIGN_IN_TITLE)
            lines = quorvel.comm_log_lines()
            assert sum("invalid_grant" in l for l in lines) == 1, lines
            idp.stop()  # a request now would fail otherwise
            quorvel.command(CMD_RECEIVE)
            wait_until(lambda: sum(l.startswith("OAuth: サインインが必要です") for l in quorvel.comm_log_lines()) == 1,
                       20, what="the sign-in line of the second check")
            quorvel.wait_title(SIGN_IN_TITLE)
            assert quorvel.close() == 0
    finally:
        idp.stop()


@pytest.mark.parametrize("flow", ["device", "browser"])
def test_sign_in_from_the_settings_dialog(quorvel, gui, wine, tmp_path, flow):
    from app.test_dialogs_wine import SETTINGS_TITLE, closed, control, open_dialog, open_owned, saved_settings
    from support.quorvel_app import CMD_SETTINGS_DIRECT
    from support.qvdriver import IDCANCEL, IDOK
    certs = make_certs(tmp_path / "certs")
    with IdentityProvider(certs) as idp, ReplyServer(mechanisms=()) as smtp, \
            DovecotOAuth(idp, relay_port=smtp.port, user=USER) as dovecot:
        folder = quorvel.folder
        idp.provider_file(folder / "quorvel-oauth.ini")  # the fields of provider "other", filled in
        before = quorvel.write_settings(pop3Server="127.0.0.1", pop3Port=dovecot.port, accountName=USER,
                                        oauthProvider=3, tlsTrustFile=winpath(certs.ca), intervalMinutes=0)
        quorvel.start()
        d = quorvel.driver
        dialog = open_dialog(quorvel, CMD_SETTINGS_DIRECT, SETTINGS_TITLE)
        quorvel.press(dialog, 1200)
        signin = open_owned(quorvel, "サインイン (OAuth 2.0)")
        assert control(signin, 1204)["text"] == idp.token_endpoint
        d.check(signin, 1208, True)
        d.check(signin, 1209, True)

        if flow == "device":
            # Cancel while waiting for the user: the wait closes, nothing is stored.
            quorvel.press(signin, 1212)
            wait = open_owned(quorvel, "サインイン")
            wait_until(lambda: control(open_owned(quorvel, "サインイン"), 1222)["text"], 20, what="the user code")
            quorvel.press(wait, IDCANCEL)
            assert closed(quorvel, wait)
            signin = open_owned(quorvel, "サインイン (OAuth 2.0)")
            assert control(signin, 1213)["text"] == "サインインを取り消しました。"
            assert not (folder / "quorvel-token.dat").exists()

            # The device flow: the code shown with the address, approved in a browser.
            quorvel.press(signin, 1212)
            code = wait_until(lambda: control(open_owned(quorvel, "サインイン"), 1222)["text"], 20,
                              what="the user code")
            wait = open_owned(quorvel, "サインイン")
            assert control(wait, 1221)["text"] == idp.issuer + "/device"
            gui.screenshot("dialog-ja_JP-signin-device-code")
            idp.approve_device(code, USER)
        else:
            # The browser flow: the test is the browser at the address the
            # dialog shows (and hands to the system browser).
            d.check(signin, 1210, False)
            d.check(signin, 1211, True)
            quorvel.press(signin, 1212)
            url = wait_until(lambda: control(open_owned(quorvel, "サインイン"), 1221)["text"], 20,
                             what="the authorization address")
            wait = open_owned(quorvel, "サインイン")
            query = urllib.parse.parse_qs(urllib.parse.urlparse(url).query)
            assert url.startswith(idp.authorization_endpoint) and query["code_challenge_method"] == ["S256"]
            with urllib.request.urlopen(idp.authorize(url, USER), timeout=20) as page:
                assert "サインインしました" in page.read().decode("cp932")
        assert closed(quorvel, wait)
        signin = open_owned(quorvel, "サインイン (OAuth 2.0)")
        assert control(signin, 1213)["text"] == "サインインしました。"
        assert (folder / "quorvel-token.dat").read_bytes().startswith(b"QVTOKEN1")
        quorvel.press(signin, IDOK)
        assert closed(quorvel, signin)
        quorvel.press(open_owned(quorvel, SETTINGS_TITLE), IDOK)
        values = saved_settings(quorvel, before)
        assert (values["receiveAuth"], values["sendAuth"], values["oauthProvider"]) == (1, 1, 3)

        # The mail check now logs in with the token.
        deliver(dovecot, "キー返信")
        quorvel.command(CMD_RECEIVE)
        quorvel.wait_title("新着メールが 1通あります", mode="contains", timeout=30)
        assert "pop3-login: Info: Login: user=<taro@example.jp>, method=XOAUTH2" in dovecot.log()
        assert quorvel.close() == 0
