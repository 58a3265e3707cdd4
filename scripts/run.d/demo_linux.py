#!/usr/bin/python3
"""The demonstration of scripts/run --linux: a command mail from end to end
through the Linux service.

Starts, all private and on 127.0.0.1, a motion daemon whose camera is an
ffmpeg test pattern served as MJPEG over HTTP, Dovecot (POP3), the SMTP
server and quorveld (started as root, it becomes nobody), puts a command
mail into the mailbox, waits for the reply, prints it with what motion says
afterwards, saves the picture, and stops what it started. Everything it
writes is in build/run/linux."""
import os
import shutil
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests"))

from support.command_mail import command_mail  # noqa: E402
from support.dovecot import Dovecot  # noqa: E402
from support.motion_rig import MotionRig  # noqa: E402
from support.quorveld import Quorveld  # noqa: E402
from support.smtp import ReplyServer  # noqa: E402

OUT = ROOT / "build" / "run" / "linux"
BODY = "検知停止\nスナップ返信\nVT最小化\n"
SUBJECT = "Vistrel 指令"
REPLY_TIMEOUT = float(os.environ.get("QUORVEL_REPLY_TIMEOUT", "60"))


def say(text: str):
    print(f"run: {text}", flush=True)


def main():
    if OUT.exists():
        shutil.rmtree(OUT)
    OUT.mkdir(parents=True)
    with MotionRig() as rig, Dovecot() as dovecot, ReplyServer() as smtp:
        say(f"motion on 127.0.0.1:{rig.port} (camera: ffmpeg test pattern on 127.0.0.1:{rig.camera_port}), "
            f"detection {rig.detection()}")
        say(f"Dovecot (POP3) on 127.0.0.1:{dovecot.port}, SMTP server on 127.0.0.1:{smtp.port}")
        daemon = Quorveld(dovecot=dovecot, smtp=smtp, motion=rig)
        try:
            dovecot.put(command_mail(BODY, subject=SUBJECT, sender="Demo User <demo@example.jp>"))
            say(f"command mail in the mailbox: Subject \"{SUBJECT}\", body {BODY.split()}")
            start = time.monotonic()
            daemon.start(check_interval=1)
            say("quorveld started; it checks the mailbox at once, then every second")
            deadline = time.monotonic() + REPLY_TIMEOUT
            while not smtp.messages:
                if daemon.proc.poll() is not None or time.monotonic() > deadline:
                    raise SystemExit(f"run: no reply; quorveld's log:\n{daemon.log()[-3000:]}")
                time.sleep(0.05)
            reply = smtp.replies()[0]
            say(f"reply after {time.monotonic() - start:.1f} s, to {', '.join(reply.rcpt_tos)}")
            print(f"\nSubject: {reply.subject}\n\n{reply.text}", flush=True)
            say(f"motion now: detection {rig.detection()}, newest snapshot {rig.snapshots()[-1].name}")
            (OUT / "reply.eml").write_bytes(reply.raw)
            say(f"the reply as received: {OUT / 'reply.eml'}")
            for name, data in reply.attachments:
                (OUT / name).write_bytes(data)
                say(f"saved: {OUT / name}")
        finally:
            code = daemon.stop()
            shutil.copy2(daemon.out, OUT / "quorveld.log")
            shutil.copy2(daemon.conf, OUT / "quorvel.conf")
            daemon.close()
        say(f"quorveld stopped (exit {code}); its log (the journal's lines): {OUT / 'quorveld.log'}, "
            f"its settings: {OUT / 'quorvel.conf'}")


if __name__ == "__main__":
    main()
