"""Large mails under Wine against Dovecot: a 12 MB mail arrives whole; a mail
that does not fit (a server that announces too small a size) stays on the
server and is skipped by the next check (the mailbox memory keeps it)."""
import re
from pathlib import Path

from support.quorvel_app import CMD_RECEIVE, wait_until
from support.relay import Relay

from test_check_wine import CLOSING, assert_in_order, check, configure

BIG = 12 * 1000 * 1000


def as_sent(raw: bytes) -> bytes:
    lines = raw.split(b"\r\n")[:-1]
    return b"".join((b"." + l if l.startswith(b".") else l) + b"\r\n" for l in lines) + b".\r\n"


def memory_kb(pid: int) -> dict:
    status = Path(f"/proc/{pid}/status").read_text()
    return {k: int(v) for k, v in re.findall(r"^(VmHWM|VmRSS):\s+(\d+) kB", status, re.M)}


def test_twelve_megabyte_mail_arrives_whole(quorvel, dovecot):
    line = b"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.-*/+=" * 2 + b"\r\n"
    mail = (b"From: a@example.jp\r\nTo: quorvel\r\nDate: Sun, 7 Dec 2008 09:05:03 +0900\r\n"
            b"Subject: video\r\n\r\n" + line * (BIG // len(line)))
    dovecot.put(mail)
    configure(quorvel, dovecot)
    quorvel.start()
    pid = quorvel.process.pid
    Path(f"/proc/{pid}/clear_refs").write_text("5")  # the peak starts again from here
    before = memory_kb(pid)["VmRSS"]
    check(quorvel, "Quorvel  新着メールが 1通あります(迷惑メール 0件)", timeout=120)
    peak = memory_kb(pid)["VmHWM"]
    print(f"\nworking set before the check {before} kB, peak during it {peak} kB "
          f"(+{peak - before} kB for a {len(mail)}-byte mail)")
    assert (peak - before) * 1024 < 3 * len(mail)

    assert (quorvel.folder / "QuorvelMail.log").read_bytes() == as_sent(mail)
    assert [r[2] for r in quorvel.mail_list()["rows"]] == ["video"]
    assert dovecot.messages() == []


def announced_as_50_octets(data: bytes) -> bytes:
    return re.sub(rb"^\+OK \d+ octets\r\n", b"+OK 50 octets\r\n", data)


def test_mail_that_does_not_fit_stays_and_is_skipped_next_time(quorvel, dovecot):
    mail = b"From: a@example.jp\r\nTo: quorvel\r\nSubject: liar\r\n\r\n" + b"more than announced\r\n" * 100
    dovecot.put(mail)
    with Relay(dovecot.port, alter=announced_as_50_octets) as relay:
        configure(quorvel, dovecot, pop3Port=relay.port)
        quorvel.start()
        title = "Quorvel  新着メールはありません(迷惑メール 0件)(受信できないメール 1件)"
        check(quorvel, title)
        size = len(as_sent(mail))
        assert_in_order(quorvel.comm_log_lines(), [
            "> RETR 1", "+OK 50 octets", "メモリバッファオーバー発生",
            f"メール1は大きすぎて受信できません({size}バイト)。サーバに残します", "> QUIT"])

        # A manual check adds to the log: the second session skips it.
        quorvel.command(CMD_RECEIVE)
        lines = wait_until(lambda: (l := quorvel.comm_log_lines()).count(CLOSING) == 2 and l,
                           timeout=30, what="a second session in the log")
        assert quorvel.wait_title(title)
        second = lines[len(lines) - lines[::-1].index("> STAT") - 1:]
        assert_in_order(second, ["> UIDL", "> LIST", f"メール1は受信できないメールのため受信しません({size}バイト)", "> QUIT"])
        assert "> RETR 1" not in second
        assert quorvel.mail_list()["rows"] == []
        assert dovecot.messages() == [mail]
