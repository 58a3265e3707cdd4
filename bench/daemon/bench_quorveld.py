#!/usr/bin/python3
"""quorveld with a real motion daemon, Dovecot and the SMTP server on
127.0.0.1:

- a command mail "スナップ返信" from delivery to the reply with the snapshot
  at the SMTP server, with POP3 checked every second: the time as a whole,
  and the same minus the pause until the next check begins (the moment
  quorveld's log says it connected to the POP3 server);
- quorveld idling (check interval 600 s): resident memory, and processor
  time over a stretch of idle seconds.

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


def round_trips(rig, dovecot, smtp, mails: int):
    whole, after_pause = [], []
    d = Quorveld(dovecot=dovecot, smtp=smtp, motion=rig)
    try:
        d.start(check_interval=1)
        for n in range(1, mails + 1):
            # The mail comes between two checks.
            d.wait_log(CHECKED, count=d.log().count(CHECKED) + 1)
            seen = d.log().count(CONNECTED)
            dovecot.put(command_mail("スナップ返信", sender="bench@example.jp"))
            delivered = time.monotonic()
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
    finally:
        d.close()
    return whole, after_pause


def idle(dovecot, seconds: float):
    d = Quorveld(dovecot=dovecot)
    try:
        d.start(check_interval=600)
        d.wait_log("Quorvel  新着メール")  # the check at start has ended
        time.sleep(1)
        pid = d.proc.pid
        ticks = cpu_ticks(pid)
        time.sleep(seconds)
        return memory_kb(pid), (cpu_ticks(pid) - ticks) / TICK
    finally:
        d.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mails", type=int, default=10)
    parser.add_argument("--idle", type=float, default=20.0)
    args = parser.parse_args()
    if not binary().exists():
        raise SystemExit(f"{binary()} is missing: scripts/build service")
    with MotionRig() as rig, Dovecot() as dovecot, ReplyServer() as smtp:
        whole, after_pause = round_trips(rig, dovecot, smtp, args.mails)
        memory, cpu = idle(dovecot, args.idle)
    print(f"command mail -> reply with snapshot, POP3 every 1 s, {args.mails} mails")
    print(f"  delivery to reply:           median {statistics.median(whole):.3f} s  "
          f"(min {min(whole):.3f}, max {max(whole):.3f})")
    print(f"  minus the pause to the check: median {statistics.median(after_pause):.3f} s  "
          f"(min {min(after_pause):.3f}, max {max(after_pause):.3f})  goal <= 1 s")
    print(f"quorveld idle: resident {memory['rss'] / 1024:.1f} MB (goal <= 10 MB), of it "
          f"{memory['private'] / 1024:.1f} MB its own and the rest shared library pages "
          f"(proportional share {memory['pss'] / 1024:.1f} MB)")
    print(f"  processor {cpu:.2f} s in {args.idle:.0f} s idle (goal 0)")


if __name__ == "__main__":
    main()
