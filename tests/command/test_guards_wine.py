"""Command-mail guards end to end: quorvel.exe under Wine with Dovecot, the
reply SMTP server and the demo camera. A refused mail runs nothing, gets no
reply and shows why; a good mail runs once and its reply hides the secret."""
import email.utils
import time

from support.command_mail import command_mail
from support.quorvel_app import CMD_RECEIVE, CMD_SOURCE, wait_until

SECRET = "PIN: 4711"
AUTH = "Authentication-Results: mail.example.jp; dmarc=pass header.from=example.jp\r\n"
GUARDS = dict(allowedSenders="taro@example.jp", commandSecret=SECRET, authServerHost="mail.example.jp",
              replayGuard=1, loopGuard=1)
REFUSED = "コマンド拒否: "


def now(minutes=0) -> str:
    return email.utils.formatdate(time.time() + minutes * 60, localtime=False)


def mail(body, headers=AUTH, minutes=0, **fields) -> bytes:
    return command_mail(body, date=now(minutes), headers=headers, **fields)


def test_refused_mails_run_nothing_and_get_no_reply(station):
    station.start(**GUARDS)
    good = mail(SECRET + "\r\n検知開始")
    mails = [
        good,
        good,                                                               # delivered twice
        mail(SECRET + "\r\nモニタ開始", sender="Taro <taro@example.jp.evil.jp>"),
        mail("> " + SECRET + "\r\nタイマ停止"),                              # the secret only quoted
        mail(SECRET + "\r\n検知停止", minutes=-61),                          # older than an hour
        mail(SECRET + "\r\nモニタ停止", headers="Auto-Submitted: auto-replied\r\n" + AUTH),
        mail(SECRET + "\r\nタイマ開始", headers="Authentication-Results: mail.example.jp; dmarc=fail\r\n" + AUTH),
    ]
    for raw in mails:
        station.dovecot.put(raw)
    station.quorvel.command(CMD_RECEIVE)
    reply = station.smtp.wait_reply(timeout=60)
    station.wait_statuses(["完 了"] + ["拒 否"] * 6)

    assert station.camera.messages() == ["WM_USER+100 105"]
    assert len(station.smtp.messages) == 1
    refusals = [line[len(REFUSED):] for line in station.quorvel.comm_log_lines() if line.startswith(REFUSED)]
    assert refusals == ["実行済みのメールです(再実行防止)", "許可されていない送信者です", "合言葉の行がありません",
                        "日付(Date)が古すぎます", "自動送信メールです(ループ防止)",
                        "受信サーバの認証結果が合格ではありません"]

    # The good mail's reply: the secret line replaced, marked as an automatic reply.
    assert reply.text.startswith("********\r\n検知開始") and "4711" not in reply.text
    assert reply.results() == ["検知を開始しました。\n"]
    assert b"\r\nAuto-Submitted: auto-replied\r\n" in reply.raw
    assert b"4711" not in station.quorvel.comm_log()
    station.quorvel.click_row(0)
    wait_until(lambda: "********" in station.quorvel.preview(), what="the preview")
    assert "4711" not in station.quorvel.preview()
    station.quorvel.command(CMD_SOURCE)
    wait_until(lambda: "Message-ID" in station.quorvel.preview(), what="the source in the preview")
    assert "4711" not in station.quorvel.preview() and "********" in station.quorvel.preview()


def test_a_mail_cut_short_by_a_kill_does_not_run_again(station):
    """keepOnServer: the mail stays on the server; the mailbox memory knew it
    before its first command, so the next start does not even download it."""
    station.start(replayGuard=1, keepOnServer=1)
    station.dovecot.put(mail("録画開始\r\n検知開始\r\nタイマ停止\r\nモニタ開始\r\nキー返信"))
    station.quorvel.command(CMD_RECEIVE)
    station.camera.wait_messages(1)
    station.quorvel.process.kill()
    station.quorvel.process.wait()
    ran = station.camera.messages()
    assert 1 <= len(ran) < 4 and not station.smtp.messages

    station.quorvel.start()
    station.quorvel.command(CMD_RECEIVE)
    station.quorvel.wait_title("Quorvel  新着メールはありません(迷惑メール 0件)", timeout=60)
    assert "> RETR 1" not in station.quorvel.comm_log_lines()
    assert station.camera.messages() == ran
    assert not station.smtp.messages
