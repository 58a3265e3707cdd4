"""A command mail from delivery to reply under Wine: a three-command mail
(detection on, date display off, snapshot reply) is put into Dovecot, the
mail check is started, and the clock stops when the reply has reached the
SMTP server. Our own time is that minus the two one-second pauses between
the commands (the snapshot arrives while the third command runs, so its wait
ends at the first look).

    /usr/bin/python3 bench/command/bench_commands.py [--runs 5]
"""
import argparse
import statistics
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests"))
from support.camera import DemoCamera  # noqa: E402
from support.command_mail import deliver  # noqa: E402
from support.desktop import desktop  # noqa: E402
from support.dovecot import Dovecot  # noqa: E402
from support.quorvel_app import CMD_RECEIVE, QuorvelApp  # noqa: E402
from support.smtp import ReplyServer  # noqa: E402

BODY = "検知開始\n日時表示OFF\nスナップ返信\n"
PAUSES = 2.0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=5)
    args = ap.parse_args()
    camera = app = None
    with desktop() as (wine, driver), Dovecot() as dovecot, ReplyServer() as smtp:
        try:
            app = QuorvelApp(wine, driver, Path(tempfile.mkdtemp(prefix="quorvel-bench-")))
            camera = DemoCamera(wine, driver, app.folder)
            app.write_settings(pop3Server="127.0.0.1", pop3Port=dovecot.port, accountName=dovecot.user,
                               password=dovecot.password, smtpServer="127.0.0.1", smtpPort=smtp.port)
            camera.start()
            app.start()
            own = []
            for n in range(1, args.runs + 1):
                deliver(dovecot, BODY)
                started = time.monotonic()
                app.command(CMD_RECEIVE)
                while len(smtp.messages) < n:
                    if time.monotonic() - started > 120:
                        raise SystemExit("no reply within 120 s")
                    time.sleep(0.002)
                own.append(time.monotonic() - started - PAUSES)
            print(f"delivery to reply, minus {PAUSES:.0f} s of pauses, over {args.runs} mails: "
                  f"median {statistics.median(own):.3f} s, best {min(own):.3f} s, worst {max(own):.3f} s "
                  f"(goal: under 1 s)")
        finally:
            if app:
                app.stop()
            if camera:
                camera.stop()


if __name__ == "__main__":
    main()
