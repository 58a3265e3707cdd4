"""Rows deleted while a check runs: the command mails the check stored still
run, each once, whatever rows moved meanwhile."""
import threading

from support.command_mail import deliver
from support.quorvel_app import CMD_RECEIVE, wait_until
from support.relay import Relay

DELETE_SELECTED = 0x400 + 16


def general_mail(n: int) -> bytes:
    body = "".join(f"line {i} of mail {n}\r\n" for i in range(30))
    return (f"From: hanako@example.jp\r\nTo: quorvel\r\nDate: Mon, 15 Dec 2008 21:0{n}:00 +0900\r\n"
            f"Subject: 以前のメール{n}\r\n\r\n{body}.\r\n").encode("cp932")


def test_rows_deleted_during_a_check_leave_its_command_mails_to_run(station):
    quorvel = station.quorvel
    (quorvel.folder / "QuorvelMail.log").write_bytes(general_mail(1) + general_mail(2))
    deliver(station.dovecot, "キー返信")
    deliver(station.dovecot, "キー返信")
    # The second RETR's reply is held until the rows are deleted.
    gate, retrs = threading.Event(), []

    def hold_second(data: bytes) -> bytes:
        if b" octets\r\n" in data:
            retrs.append(data)
            if len(retrs) == 2:
                gate.wait(60)
        return data

    with Relay(station.dovecot.port, alter=hold_second) as relay:
        station.start(camera=False, pop3Port=relay.port)
        wait_until(lambda: quorvel.row_count() == 2, what="the mails stored before")
        quorvel.command(CMD_RECEIVE)
        wait_until(lambda: quorvel.row_count() == 3, timeout=30, what="the first command mail stored")
        panel = quorvel.child(cls="SplitPanel")
        for left in (2, 1):  # the two older mails, the top row each time
            quorvel.click_row(0)
            wait_until(lambda: quorvel.mail_list()["selected"] == [0], what="the top row selected")
            quorvel.driver.post(panel, DELETE_SELECTED)
            wait_until(lambda: quorvel.row_count() == left, what=f"{left} rows left")
        gate.set()
        replies = [station.smtp.wait_reply(n, timeout=60) for n in (1, 2)]
        station.wait_statuses(["完 了", "完 了"])
    assert all(r.results()[0] == "== コマンド 一覧 ==\n" for r in replies)
    assert len(station.smtp.messages) == 2
