#!/usr/bin/python3
"""The demonstration of scripts/run: a command mail from end to end.

Starts a private Dovecot (POP3) and SMTP server on 127.0.0.1, the demo camera
(Vistrel.exe) and Quorvel under Wine with a quorvel.ini made for them, puts a
command mail into the mailbox, waits for Quorvel's reply at the SMTP server,
prints it, saves its attachment and a screenshot, and stops what it started.
Everything it writes is in build/run/demo; the Wine prefix build/run/prefix
is kept for the next run."""
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests"))

from support import settings  # noqa: E402
from support.camera import SAMPLE_CLIP, make_clip  # noqa: E402
from support.command_mail import command_mail  # noqa: E402
from support.dovecot import Dovecot  # noqa: E402
from support.smtp import ReplyServer  # noqa: E402
from support.wine import Wine, winpath  # noqa: E402

DIST = ROOT / "build" / "win" / "dist"
RUN = ROOT / "build" / "run"
OUT = RUN / "demo"
BODY = "回転\nスナップ返信\nキー返信\n"
SUBJECT = "Vistrel 指令"
REPLY_TIMEOUT = float(os.environ.get("QUORVEL_REPLY_TIMEOUT", "120"))


def say(text: str):
    print(f"run: {text}", flush=True)


def wait_for(condition, timeout: float, what: str):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise SystemExit(f"run: {what} did not happen within {timeout:.0f} s")
        time.sleep(0.1)


class Started:
    """What this run started, stopped in reverse order (each by its own handle)."""

    def __init__(self):
        self.stops = []

    def add(self, what: str, stop):
        self.stops.append((what, stop))

    def stop_all(self):
        for what, stop in reversed(self.stops):
            try:
                stop()
            except Exception as e:  # keep stopping the rest
                print(f"run: stopping {what} failed: {e}", file=sys.stderr)


def end_process(process: subprocess.Popen, timeout=10.0):
    """Ends one Windows program we started (its Wine process, by its id)."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def prepare_folder() -> Path:
    work = OUT / "work"
    if OUT.exists():
        shutil.rmtree(OUT)
    work.mkdir(parents=True)
    for name in ("quorvel.exe", "Sendry.dll", "Imgvane.dll", "Vistrel.exe"):
        if not (DIST / name).exists():
            raise SystemExit(f"run: {DIST / name} is missing: scripts/build did not make it")
        shutil.copy2(DIST / name, work / name)
    make_clip(work / SAMPLE_CLIP)
    return work


def prepare_wine(display: str) -> Wine:
    wine = Wine(RUN)
    wine.display = display
    if not (wine.prefix / "system.reg").exists():
        say("preparing the Wine prefix (once, about 20 s)")
        wine.boot()
    return wine


def start_display(started: Started) -> tuple:
    if os.environ.get("DISPLAY"):
        return os.environ["DISPLAY"], None
    from support.xvfb import Xvfb
    screen = Xvfb(width=1280, height=800)
    started.add("Xvfb", screen.stop)
    return screen.display, screen


def main():
    started = Started()
    try:
        work = prepare_folder()
        display, screen = start_display(started)
        wine = prepare_wine(display)

        dovecot = Dovecot().start()
        started.add("Dovecot", lambda: dovecot.stop(wait=True))
        smtp = ReplyServer().__enter__()
        started.add("the SMTP server", lambda: smtp.__exit__(None, None, None))
        say(f"Dovecot (POP3) on 127.0.0.1:{dovecot.port}, SMTP server on 127.0.0.1:{smtp.port}")

        mail = command_mail(BODY, subject=SUBJECT, sender="Demo User <demo@example.jp>")
        dovecot.put(mail)
        (work / "quorvel.ini").write_bytes(settings.build(
            mail_log_folder=winpath(work), pop3Server="127.0.0.1", pop3Port=dovecot.port,
            accountName=dovecot.user, password=dovecot.password, smtpServer="127.0.0.1",
            smtpPort=smtp.port, checkAtStartup=1))
        say(f"command mail in the mailbox: Subject \"{SUBJECT}\", body {BODY.split()}")

        camera = wine.start(work / "Vistrel.exe", cwd=work, stdout=OUT / "camera.out", stderr=OUT / "camera.out")
        started.add("the demo camera", lambda: end_process(camera))
        wait_for(lambda: (work / "democam.log").exists(), 60, "the demo camera's start")
        say("demo camera (Vistrel.exe) started")

        start = time.monotonic()
        quorvel = wine.start(work / "quorvel.exe", cwd=work, stdout=OUT / "quorvel.out",
                             stderr=OUT / "quorvel.out")
        started.add("Quorvel", lambda: end_process(quorvel))
        say("Quorvel started; it checks the mailbox at start-up")

        wait_for(lambda: smtp.messages or quorvel.poll() is not None, REPLY_TIMEOUT, "the reply")
        if not smtp.messages:
            raise SystemExit(f"run: Quorvel ended ({quorvel.returncode}) without a reply; see {OUT}")
        reply = smtp.replies()[0]
        say(f"reply after {time.monotonic() - start:.1f} s, to {', '.join(reply.rcpt_tos)}")

        (OUT / "reply.eml").write_bytes(reply.raw)
        print(f"\nSubject: {reply.subject}\n\n{reply.text}", flush=True)
        saved = []
        for name, data in reply.attachments:
            path = OUT / name
            path.write_bytes(data)
            saved.append(path)
        if screen is not None:
            time.sleep(0.5)  # let the status column and the camera window repaint
            shot = OUT / "screenshot.png"
            subprocess.run(["import", "-display", display, "-window", "root", str(shot)], check=True,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            saved.append(shot)
        say(f"the reply as received: {OUT / 'reply.eml'}")
        for path in saved:
            say(f"saved: {path}")
        say(f"Quorvel's folder (quorvel.ini, mail log, 通信ログ.txt, democam.log): {work}")
    finally:
        started.stop_all()
        subprocess.run(["wineserver", "-w"], env=Wine(RUN).env(), timeout=60)


if __name__ == "__main__":
    main()
