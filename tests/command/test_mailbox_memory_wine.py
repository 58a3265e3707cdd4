"""The mailbox memory under Wine against Dovecot: with keepOnServer each mail
is stored and its commands run once over several checks; a kill between the
store and the DELE leaves no duplicate (the next check deletes it unfetched)."""
from support.command_mail import command_mail
from support.quorvel_app import CMD_RECEIVE, wait_until
from support.relay import Relay

NOTHING_NEW = "Quorvel  新着メールはありません(迷惑メール 0件)"


def new_mails(n):
    return f"Quorvel  新着メールが {n}通あります(迷惑メール 0件)"


def general(n) -> bytes:
    return (f"From: a@example.jp\r\nTo: quorvel\r\nDate: Sun, 7 Dec 2008 09:05:0{n} +0900\r\n"
            f"Message-ID: <{n}@example.jp>\r\nSubject: general {n}\r\n\r\n" + f"body {n}\r\n" * 80).encode()


def check_until(quorvel, title, timeout=60.0):
    """メール受信, again while the previous check still ends, until the title says `title`."""
    def done():
        if quorvel.title() == title:
            return True
        if "確認中" not in quorvel.title():
            quorvel.command(CMD_RECEIVE)
        return False
    quorvel.command(CMD_RECEIVE)
    wait_until(done, timeout, what=f"the title {title!r} (now {quorvel.title()!r})")


def sessions(quorvel) -> list:
    """The communication log split at each session's STAT."""
    out = []
    for line in quorvel.comm_log_lines():
        if line == "> STAT":
            out.append([])
        if out:
            out[-1].append(line)
    return out


def test_kept_mails_are_stored_and_run_once(station):
    station.start(keepOnServer=1, intervalMinutes=0, intervalSeconds=0)
    for n in (1, 2, 3):
        station.dovecot.put(general(n))
    station.dovecot.put(command_mail("検知開始"))
    check_until(station.quorvel, new_mails(4))
    station.wait_statuses(["一 般"] * 3 + ["完 了"])
    station.smtp.wait_reply(timeout=60)
    ran = station.camera.wait_messages(1)

    check_until(station.quorvel, NOTHING_NEW)
    station.dovecot.put(general(5))
    check_until(station.quorvel, new_mails(1))
    assert len(station.statuses()) == 5
    retrs = [[line for line in s if line.startswith("> RETR")] for s in sessions(station.quorvel)]
    assert retrs == [["> RETR 1", "> RETR 2", "> RETR 3", "> RETR 4"], [], ["> RETR 5"]]
    assert station.camera.messages() == ran and len(station.smtp.messages) == 1
    assert len(station.dovecot.messages()) == 5


def test_killed_before_its_dele_a_mail_is_deleted_unfetched(quorvel, dovecot):
    dovecot.put(general(1))
    seen = []

    def kill_at_dele(data):
        if b"DELE" in data and not seen:
            seen.append(data)
            quorvel.process.kill()  # stored and remembered; the DELE never reaches the server
            return True
        return False

    with Relay(dovecot.port, hold=kill_at_dele) as relay:
        quorvel.write_settings(pop3Server="127.0.0.1", pop3Port=relay.port, accountName=dovecot.user,
                               password=dovecot.password, intervalMinutes=0, intervalSeconds=0)
        quorvel.start()
        quorvel.command(CMD_RECEIVE)
        quorvel.process.wait(timeout=60)

        quorvel.start()
        check_until(quorvel, NOTHING_NEW)
    last = sessions(quorvel)[-1]
    assert "> DELE 1" in last and "> RETR 1" not in last
    assert "メール1は受信済みです。受信せずにサーバから削除します" in last
    assert len(quorvel.mail_list()["rows"]) == 1
    assert (quorvel.folder / "QuorvelMail.log").read_bytes().count(b"Subject: general 1") == 1
    # The killed session's connection may outlive the program (Wine keeps it): the
    # server's own account of the second session.
    wait_until(lambda: "retr=0/0, del=1/1" in dovecot.log(), what="the unfetched DELE at the server")
