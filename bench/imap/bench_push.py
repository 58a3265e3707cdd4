"""A command mail from delivery to reply under Wine while Quorvel idles on
IMAP (IDLE, the check interval at 60 minutes), beside POP3 with a 1-minute
check interval. The mail holds one command (キー返信: the key list), so no
pause between commands is to be subtracted; the clock stops when the reply
has reached the SMTP server. POP3 mails are delivered at a random moment of
the interval.

    /usr/bin/python3 bench/imap/bench_push.py [--runs 10] [--pop3-runs 3]
"""
import argparse
import random
import statistics
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests"))
from support.command_mail import command_mail  # noqa: E402
from support.desktop import desktop  # noqa: E402
from support.dovecot import Dovecot  # noqa: E402
from support.quorvel_app import QuorvelApp  # noqa: E402
from support.smtp import ReplyServer  # noqa: E402

BODY = "キー返信\n"
PAUSES = 0.0


def measure(app, dovecot, smtp, runs, spread) -> list:
    own = []
    for _ in range(runs):
        if spread:
            time.sleep(random.uniform(0, spread))
        count = len(smtp.messages)
        dovecot.save(command_mail(BODY))
        delivered = time.monotonic()
        while len(smtp.messages) <= count:
            if time.monotonic() - delivered > 180:
                raise SystemExit("no reply within 180 s")
            time.sleep(0.002)
        own.append(time.monotonic() - delivered - PAUSES)
    return own


def run(wine, driver, runs, spread, **settings) -> list:
    with Dovecot() as dovecot, ReplyServer() as smtp:
        app = QuorvelApp(wine, driver, Path(tempfile.mkdtemp(prefix="quorvel-bench-")))
        try:
            values = dict(pop3Server="localhost", accountName=dovecot.user, password=dovecot.password,
                          smtpServer="127.0.0.1", smtpPort=smtp.port, checkAtStartup=1)
            values.update(settings)
            if values.get("receiveProtocol") == 1:
                values["pop3Port"] = dovecot.imap_port
            else:
                values["pop3Port"] = dovecot.port
            app.write_settings(**values)
            app.start()
            app.wait_title("新着メール", mode="contains", timeout=60)
            time.sleep(1)
            return measure(app, dovecot, smtp, runs, spread)
        finally:
            app.stop()


def summary(name, own):
    return (f"{name}: median {statistics.median(own):.3f} s, best {min(own):.3f} s, worst {max(own):.3f} s "
            f"over {len(own)} mails")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=10)
    ap.add_argument("--pop3-runs", type=int, default=3)
    args = ap.parse_args()
    with desktop() as (wine, driver):
        imap = run(wine, driver, args.runs, 0, receiveProtocol=1, intervalMinutes=60)
        pop3 = run(wine, driver, args.pop3_runs, 60, intervalMinutes=1)
    print("delivery to reply, minus pauses between commands:")
    print(summary("IMAP IDLE (interval 60 min)", imap) + " (goal: median under 1.5 s)")
    print(summary("POP3 (interval 1 min)      ", pop3))


if __name__ == "__main__":
    main()
