#!/usr/bin/python3
"""quorveld with a real motion daemon, Dovecot and the SMTP server on
127.0.0.1:

- a command mail "スナップ返信" from delivery to the reply with the snapshot
  at the SMTP server, with POP3 checked every second (the time as a whole,
  and the same minus the pause until the next check begins: the moment
  quorveld's log says it connected to the POP3 server), and with IMAP
  waiting in IDLE (delivered by Dovecot itself, so the session hears of it);
- quorveld idling in IDLE after those mails (libcurl let go again):
  resident memory, and processor time over a stretch of idle seconds.

    /usr/bin/python3 bench/daemon/bench_quorveld.py [--mails N] [--idle SECONDS]
"""
import argparse
import statistics
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests"))

from support.command_mail import command_mail  # noqa: E402
from support.dovecot import Dovecot  # noqa: E402
from support.motion_rig import MotionRig  # noqa: E402
from support.quorveld import Quorveld, binary  # noqa: E402
from support.smtp import ReplyServer  # noqa: E402

CONNECTED = "POPサーバに接続しました"
CurlKeepSeconds = 2  # CurlMotionHttp::kKeepMs
CHECKED = "Quorvel  新着メール"  # the summary line at the end of a check
TICK = 100  # clock ticks a second (USER_HZ)


def cpu_ticks(pid: int) -> int:
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


def memory_kb(pid: int) -> dict:
    """Rss, Pss and the private part (Private_Clean + Private_Dirty)."""
    values = {}
    for line in open(f"/proc/{pid}/smaps_rollup"):
        parts = line.split()
        if len(parts) == 3 and parts[2] == "kB":
            values[parts[0].rstrip(":")] = int(parts[1])
    return {"rss": values["Rss"], "pss": values["Pss"],
            "private": values["Private_Clean"] + values["Private_Dirty"]}


def round_trips(d, dovecot, smtp, mails: int, imap: bool):
    """Delivery to reply for each mail; POP3: also minus the pause until the
    check that finds it begins."""
    whole, after_pause = [], []
    for _ in range(mails):
        n = len(smtp.messages) + 1
        mail = command_mail("スナップ返信", sender="bench@example.jp")
        if imap:
            dovecot.save(mail)
        else:
            # The mail comes between two checks.
            d.wait_log(CHECKED, count=d.log().count(CHECKED) + 1)
            dovecot.put(mail)
        delivered = time.monotonic()
        seen = d.log().count(CONNECTED)
        connected = None
        while len(smtp.messages) < n:
            if connected is None and d.log().count(CONNECTED) > seen:
                connected = time.monotonic()
            time.sleep(0.002)
        arrived = time.monotonic()
        reply = smtp.replies()[n - 1]
        assert reply.attachments and reply.attachments[0][0] == "snap.jpg", reply.text
        whole.append(arrived - delivered)
        after_pause.append(arrived - (connected or delivered))
    return whole, after_pause


def idle(d, seconds: float):
    time.sleep(CurlKeepSeconds + 1)  # libcurl is let go after the last request
    pid = d.proc.pid
    ticks = cpu_ticks(pid)
    time.sleep(seconds)
    return memory_kb(pid), (cpu_ticks(pid) - ticks) / TICK


def figures(values):
    return f"median {statistics.median(values):.3f} s  (min {min(values):.3f}, max {max(values):.3f})"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mails", type=int, default=10)
    parser.add_argument("--idle", type=float, default=20.0)
    args = parser.parse_args()
    if not binary().exists():
        raise SystemExit(f"{binary()} is missing: scripts/build service")
    with MotionRig() as rig, Dovecot() as dovecot, ReplyServer() as smtp:
        d = Quorveld(dovecot=dovecot, smtp=smtp, motion=rig)
        try:
            d.start(check_interval=1)
            pop3_whole, pop3_after = round_trips(d, dovecot, smtp, args.mails, imap=False)
        finally:
            d.close()
        d = Quorveld(dovecot=dovecot, smtp=smtp, motion=rig)
        try:
            d.start(receive_protocol="imap", pop3_port=dovecot.imap_port, check_interval=600)
            d.wait_log("受信待機中")
            imap_whole, _ = round_trips(d, dovecot, smtp, args.mails, imap=True)
            memory, cpu = idle(d, args.idle)
        finally:
            d.close()
    print(f"command mail -> reply with snapshot, {args.mails} mails each (goal: median <= 1 s without pauses)")
    print(f"  POP3 every 1 s, delivery to reply:      {figures(pop3_whole)}")
    print(f"  POP3, minus the pause to the check:     {figures(pop3_after)}")
    print(f"  IMAP IDLE, delivery to reply:           {figures(imap_whole)}")
    print(f"quorveld idle in IDLE after those mails: resident {memory['rss'] / 1024:.1f} MB (goal <= 10 MB), of it "
          f"{memory['private'] / 1024:.1f} MB its own and the rest shared library pages "
          f"(proportional share {memory['pss'] / 1024:.1f} MB)")
    print(f"  processor {cpu:.2f} s in {args.idle:.0f} s idle (goal 0)")


if __name__ == "__main__":
    main()
