"""Push by IMAP IDLE end to end: quorvel.exe under Wine, idling on Dovecot
after its start-up check, answers a command mail as soon as it is
delivered (no menu, the timer an hour away), and after Dovecot restarts it
connects again by itself and answers the next one."""

from support.command_mail import command_mail
from support.quorvel_app import wait_until

WAITING = "受信待機中"


def test_idle_answers_at_once_and_survives_a_server_restart(station):
    dovecot = station.dovecot
    station.start(camera=False, receiveProtocol=1, pop3Server="localhost", pop3Port=dovecot.imap_port,
                  intervalMinutes=60, checkAtStartup=1)
    station.quorvel.wait_title(WAITING, mode="contains", timeout=30)

    dovecot.save(command_mail("キー返信"))
    reply = station.smtp.wait_reply(timeout=30)
    assert reply.subject == "Re:Vistrel 指令"
    assert reply.text.startswith("キー返信")
    station.wait_statuses(["完 了"])
    lines = station.quorvel.comm_log_lines()
    assert "メール受信タイマ作動" not in lines
    assert "新着メールの通知がありました" in lines
    assert dovecot.messages(wait=False) == []

    # The server restarts under the idling session.
    dovecot.restart()
    wait_until(lambda: station.quorvel.comm_log_lines().count("+ idling") >= 3, timeout=30,
               what="IDLE again after the restart")
    dovecot.save(command_mail("キー返信"))
    station.smtp.wait_reply(count=2, timeout=30)
    station.wait_statuses(["完 了", "完 了"])
    lines = station.quorvel.comm_log_lines()
    assert lines.count("IMAPサーバに接続しました") == 2
    assert "サーバが接続を切断しました" in lines or "サーバが切断を通知しました (BYE)" in lines
