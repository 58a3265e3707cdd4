"""A soak run: Quorvel under Wine for many mail checks, unattended, while
things go wrong around it. Not a test: it prints its figures.

    sudo /usr/bin/python3 bench/soak/soak.py [--checks 3000] [--interval 1]
        [--report-every 500] [--warmup 100] [--restart-every 1000] [--seed N]

The receive timer checks a private Dovecot every --interval seconds; the
replies go to a private SMTP server; the demo camera answers the commands.
Along the way, at random:
  - mail arrives: general mails, spam (KOI8-R, with the spam rule for it on),
    and command mails of every kind (snapshot and screen replies, recordings,
    the key list, widths in and out of range, replies quoting a key list);
  - the POP3 server is stopped and started again a few checks later;
  - the mail-log folder, a small tmpfs of its own mounted by this tool,
    runs out of space for a while;
  - rows of the mail list are deleted, and every --restart-every checks the
    program is closed (which compacts and trims the mail log) and started
    again.
Every --report-every checks and at the end it prints the process's private
memory (its committed private data, VmData from Linux, as Wine reports no
private bytes for another process; beside it the resident private pages,
which swing by a few MB as heap pages are touched), kernel handles (from the
system's handle table), GDI and USER objects (GetGuiResources; "n/a" under
Wine, which does not count them) and its windows, the files of the working
folder and the sizes of the mail log, its index and the communication log,
each beside the figures taken after warm-up (--warmup checks into each life
of the process).

At the end it waits until every mail is fetched and answered, then checks
the goals: nothing grew after warm-up (private memory within 2 MB, handles
within 10, no new files), every delivered mail was stored once (never
twice) or is still on the server, spam never stored, every command mail
answered exactly once, no message box ever open. It ends with status 1 when
a goal was missed.

Needs root (the tmpfs mount) and what the end-to-end tests need.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests"))
from support.camera import DemoCamera, make_clip  # noqa: E402
from support.command_mail import command_mail  # noqa: E402
from support.desktop import desktop  # noqa: E402
from support.dovecot import Dovecot  # noqa: E402
from support.quorvel_app import QuorvelApp  # noqa: E402
from support.smtp import ReplyServer  # noqa: E402
from support.wine import winpath  # noqa: E402

MB = 1024 * 1024
STORE_FS_SIZE = 6 * MB
PANEL_CLASS = "SplitPanel"
MAIL_LIST_ID = 110
LVM_GETTOPINDEX = 0x1027
DELETE_SELECTED = 0x400 + 16
KEEP_COUNT = 150
IDYES = 6
CLOSE_QUESTION = "メール受信中です。中止してよろしいですか？"
SPAM_RULE_KOI8R = 17

# Command mails, each run to its end with one reply.
_KEY_LIST = "".join(f"> {k}: {k}\r\n" for k in ("VT終了", "録画停止", "検知停止", "モニタ停止", "キー返信"))
COMMAND_BODIES = [
    "スナップ返信",
    "PC画面返信",
    "回転 スナップ返信",
    "回転\r\nPC画面返信",
    '画像幅"320" PC画面返信',
    '画像幅"100000" PC画面返信',
    '画像幅"-1" キー返信',
    "録画開始 録画停止 録画返信",
    "録画返信",
    "キー返信",
    "スナップ保存 検知開始 検知停止",
    "メールON メールOFF 日時表示ON 日時表示OFF",
    'アラート送信先"guard@example.jp" タイマ開始 タイマ停止',
    "モニタ開始 モニタ停止",
    "VT最小化 VT通常表示 VT最大化 VT通常表示",
    "VT起動 スナップ返信",
    "モニタ開始\r\n\r\n2026/12/07 Quorvel wrote:\r\n> キー返信\r\n> ------ 処理結果 ------\r\n" + _KEY_LIST,
]


class SoakDovecot(Dovecot):
    """Dovecot that can be stopped and started again on the same port with
    the same mailbox."""

    def pause(self):
        pid = int((self.root / "run" / "master.pid").read_text())
        os.kill(pid, 15)
        deadline = time.monotonic() + 20
        while Path(f"/proc/{pid}").exists() and time.monotonic() < deadline:
            time.sleep(0.05)

    def resume(self):
        for _ in range(50):
            with open(self.root / "start.out", "ab") as out:
                if subprocess.run(["dovecot", "-c", str(self.config)], stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=out, timeout=60).returncode == 0:
                    self._wait_ready(20)
                    return
            time.sleep(0.2)  # the old master still holds the port
        raise RuntimeError("dovecot did not start again")

    def logins(self) -> int:
        return self.log().count("pop3-login: Info: Login:")


class StoreFs:
    """The mail-log folder: a size-limited tmpfs that this tool mounts and
    removes; fill() takes its free space away, free() gives it back."""

    def __init__(self, path: Path):
        self.path = path
        path.mkdir(parents=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={STORE_FS_SIZE},mode=0777", "tmpfs", str(path)],
                       check=True)
        self.filler = path / "filler.bin"
        self.full = False

    def fill(self):
        with open(self.filler, "wb") as f:
            try:
                while True:
                    f.write(b"\0" * 65536)
                    f.flush()
            except OSError:
                pass
        try:  # the last bytes too
            with open(self.filler, "ab") as f:
                while True:
                    f.write(b"\0" * 512)
                    f.flush()
        except OSError:
            pass
        self.full = True

    def free(self):
        self.filler.unlink(missing_ok=True)
        self.full = False

    def close(self):
        subprocess.run(["umount", "-l", str(self.path)], check=False)
        self.path.rmdir()


class Soak:
    def __init__(self, args, wine, driver, dovecot, smtp, work: Path):
        self.args = args
        self.rng = random.Random(args.seed)
        self.wine, self.driver, self.dovecot, self.smtp = wine, driver, dovecot, smtp
        self.app = QuorvelApp(wine, driver, work / "quorvel")
        self.camera = DemoCamera(wine, driver, self.app.folder)
        self.store = StoreFs(work / "store")
        self.seq = 0
        self.kinds = {}           # token -> general | spam | command
        self.stored_ever = set()  # tokens seen in the mail log
        self.twice = set()        # tokens seen twice in one mail log
        self.deleted = 0
        self.boxes = []
        self.down_since = None
        self.down_checks = 0.0
        self.down_until = 0
        self.full_until = 0
        self.baseline = None
        self.life_start = 0
        self.missed = []
        self.events = open(work / "events.txt", "w", encoding="utf-8")

    def event(self, text: str):
        """What the tool did, by check number, for reading after a missed goal."""
        self.events.write(f"{self.checks()} {text}\n")
        self.events.flush()

    # ---- the program ------------------------------------------------------

    def start(self):
        make_clip(self.app.folder / "democam-sample.wmv")
        rules = [0] * 24
        rules[SPAM_RULE_KOI8R] = 1
        self.app.write_settings(
            pop3Server="127.0.0.1", pop3Port=self.dovecot.port, accountName=self.dovecot.user,
            password=self.dovecot.password, smtpServer="127.0.0.1", smtpPort=self.smtp.port,
            intervalMinutes=0, intervalSeconds=self.args.interval, checkAtStartup=1,
            mailLogFolder=winpath(self.store.path), mailLogKeepCount=KEEP_COUNT,
            spamFilterEnabled=1, spamToRecycleBin=0, spamRules=rules)
        self.camera.start()
        self.app.start()

    def close_app(self):
        """Closes the program as a user would: a check that runs makes it
        ask whether to stop it (the user's own question, answered Yes)."""
        self.driver.close(self.app.hwnd)
        deadline = time.monotonic() + 120
        while self.app.running():
            for box in self.app.dialogs():
                if box.get("text") == CLOSE_QUESTION:
                    self.app.press(box, IDYES)
            if time.monotonic() > deadline:
                raise AssertionError("quorvel.exe did not end")
            time.sleep(0.2)

    def restart(self):
        """Closing compacts and trims the mail log; the next life starts.
        It waits (up to a minute) until no command mail is left waiting:
        closing abandons them, and a new life does not run them."""
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            try:
                if not any(r and r[0] == "待 機" for r in self.app.mail_list()["rows"]):
                    break
            except Exception:
                pass
            time.sleep(0.5)
        self.scan_store()
        self.event("restart")
        self.close_app()
        self.app.start()
        self.baseline = None
        self.life_start = self.checks()

    # ---- what goes on around it --------------------------------------------

    def checks(self) -> int:
        down = self.down_checks
        if self.down_since is not None:
            down += (time.monotonic() - self.down_since) / self.args.interval
        return self.dovecot.logins() + int(down)

    def deliver(self):
        self.seq += 1
        token = f"{self.seq:06d}"
        kind = self.rng.choices(["general", "spam", "command"], [35, 20, 45])[0]
        mark = f"X-Soak: {token}\r\n"
        if kind == "command":
            raw = command_mail(self.rng.choice(COMMAND_BODIES), subject=f"Vistrel 指令 {token}", headers=mark)
        elif kind == "general":
            raw = command_mail(f"お知らせ {token}\r\n" + "本文の行です。\r\n" * self.rng.randint(1, 40),
                               subject=f"お知らせ {token}", headers=mark)
        else:
            raw = (f"{mark}From: spam@example.net\r\nTo: quorvel@example.jp\r\n"
                   "Date: Sun, 7 Dec 2008 09:05:03 +0900\r\n"
                   f"Subject: offer {token}\r\nMIME-Version: 1.0\r\n"
                   "Content-Type: text/plain; charset=KOI8-R\r\n\r\n"
                   + "Spam body line\r\n" * 30).encode("ascii")
        self.kinds[token] = kind
        self.dovecot.put(raw)
        self.event(f"deliver {token} {kind}")

    def stop_server(self, now):
        self.event("pop3 stop")
        self.dovecot.pause()
        self.down_since = time.monotonic()
        self.down_until = now + self.rng.randint(3, 15)

    def start_server(self):
        self.event("pop3 start")
        self.dovecot.resume()
        self.down_checks += (time.monotonic() - self.down_since) / self.args.interval
        self.down_since = None

    def delete_row(self):
        """Deletes one row that has run (never a command mail still waiting)."""
        try:
            rows = self.app.mail_list()["rows"]
        except Exception:
            return
        listview = self.app.child(MAIL_LIST_ID)
        top = self.driver.send(listview, LVM_GETTOPINDEX) if listview else 0
        candidates = [n for n in range(top, min(top + 10, len(rows))) if rows[n] and rows[n][0] != "待 機"]
        if not candidates:
            return
        row = self.rng.choice(candidates)
        subject = rows[row][2]
        self.app.click_row(row - top)
        deadline = time.monotonic() + 5
        while self.app.mail_list().get("selected") != [row]:
            if time.monotonic() > deadline:
                self.event(f"delete row {row}: not selected")
                return
            time.sleep(0.1)
        self.driver.post(self.app.child(cls=PANEL_CLASS), DELETE_SELECTED)
        while subject in [r[2] for r in self.app.mail_list()["rows"] if len(r) > 2]:
            if time.monotonic() > deadline:
                self.event(f"delete row {row}: {subject} still listed")
                return
            time.sleep(0.1)
        self.deleted += 1
        self.event(f"delete row {row}: {subject}")

    def look_for_boxes(self):
        """A message box is open: noted, and answered so the run goes on."""
        for box in self.app.dialogs():
            self.boxes.append(box.get("text", ""))
            self.app.press(box, 1)

    # ---- figures -------------------------------------------------------------

    def scan_store(self):
        log = self.store.path / "QuorvelMail.log"
        data = log.read_bytes() if log.exists() else b""
        for token, count in _count_tokens(data).items():
            self.stored_ever.add(token)
            if count > 1 and token not in self.twice:
                self.twice.add(token)
                self.event(f"stored twice: {token}")

    def figures(self) -> dict:
        """The figures; memory and handles are the least of five samples over
        two seconds, so a picture being made at that moment does not count."""
        samples = [self.sample() for _ in range(5) if time.sleep(0.4) is None]
        least = {k: min(s[k] for s in samples)
                 for k in ("private", "committed", "handles", "gdi", "user", "windows")}
        return {**samples[-1], **least}

    def sample(self) -> dict:
        process = self.driver.process(self.app.pid)
        folder = self.app.folder
        # Wine reports no private bytes or handle count for another process:
        # the resident private pages come from Linux, the handles from the
        # system's handle table.
        rollup = Path(f"/proc/{self.app.process.pid}/smaps_rollup").read_text()
        private = sum(int(m.group(1)) * 1024
                      for m in re.finditer(r"^(?:Private_\w+|Swap):\s+(\d+) kB", rollup, re.M))
        handles = process["handles"] if process["handles"] > 0 else process["tableHandles"]
        status = Path(f"/proc/{self.app.process.pid}/status").read_text()
        committed = int(re.search(r"^VmData:\s+(\d+) kB", status, re.M).group(1)) * 1024
        files = sorted(p.name for p in folder.iterdir() if p.is_file())

        def size(path):
            return path.stat().st_size if path.exists() else -1
        return {
            "private": process["private"] if process["private"] > 0 else private, "committed": committed,
            "handles": handles,
            "gdi": process["gdi"], "user": process["user"], "windows": process["windows"], "files": files,
            "log": size(self.store.path / "QuorvelMail.log"), "index": size(self.store.path / "QuorvelMail.idx"),
            "commlog": size(folder / "通信ログ.txt"),
        }

    def report(self, label: str):
        f = self.figures()
        base = self.baseline or f

        def count(name):
            return "n/a" if f[name] < 0 else f"{f[name]} ({f[name] - base[name]:+d})"
        new_files = sorted(set(f["files"]) - set(base["files"]))
        print(f"[{label}] private {f['committed'] / MB:.2f} MB ({(f['committed'] - base['committed']) / MB:+.2f}), "
              f"resident {f['private'] / MB:.2f} MB ({(f['private'] - base['private']) / MB:+.2f}), "
              f"handles {count('handles')}, GDI {count('gdi')}, USER {count('user')}, windows {count('windows')}, "
              f"files {len(f['files'])}{' new: ' + ', '.join(new_files) if new_files else ''}, "
              f"mail log {f['log']} B, index {f['index']} B, comm log {f['commlog']} B, "
              f"mails {self.seq} delivered, {len(self.smtp.messages)} replies, {self.deleted} rows deleted, "
              f"boxes {len(self.boxes)}", flush=True)
        if self.baseline:
            # Committed private memory is what Windows calls private bytes; the
            # resident pages swing by a few MB as the heap's pages are touched.
            if f["committed"] - base["committed"] > 2 * MB:
                self.missed.append(f"{label}: private memory grew by "
                                   f"{(f['committed'] - base['committed']) / MB:.2f} MB")
            for name in ("handles", "gdi", "user", "windows"):
                if f[name] >= 0 and f[name] - base[name] > 10:
                    self.missed.append(f"{label}: {name} grew by {f[name] - base[name]}")

    # ---- the run ---------------------------------------------------------------

    def run(self):
        self.start()
        args = self.args
        next_report = args.report_every
        next_restart = args.restart_every
        last = -1
        while True:
            now = self.checks()
            if now >= args.checks:
                break
            if now == last:
                time.sleep(0.1)
                continue
            last = now
            if self.down_since is not None and now >= self.down_until:
                self.start_server()
            if self.store.full and now >= self.full_until:
                self.event("store free")
                self.store.free()
            if self.rng.random() < 0.3:
                self.deliver()
            if self.down_since is None and self.rng.random() < 0.01:
                self.stop_server(now)
            if not self.store.full and self.rng.random() < 0.006:
                self.event("store full")
                self.store.fill()
                self.full_until = now + self.rng.randint(10, 40)
            if self.rng.random() < 0.02:
                self.delete_row()
            if now % 20 == 0:
                self.look_for_boxes()
            if now % 5 == 0:
                self.scan_store()
            if self.baseline is None and now - self.life_start >= args.warmup:
                self.baseline = self.figures()
            if now >= next_report:
                next_report += args.report_every
                self.scan_store()
                self.report(f"check {now}")
            if args.restart_every and now >= next_restart:
                next_restart += args.restart_every
                self.restart()
        self.finish()

    def finish(self):
        if self.down_since is not None:
            self.start_server()
        if self.store.full:
            self.store.free()
        self.look_for_boxes()
        self.scan_store()
        self.report(f"end, check {self.checks()}")
        # Quiet: every mail fetched, every command mail answered.
        commands = [t for t, k in self.kinds.items() if k == "command"]
        deadline = time.monotonic() + 300
        while time.monotonic() < deadline:
            replies = _replied(self.smtp)
            if len(self.dovecot.messages()) == 0 and all(t in replies for t in commands):
                break
            time.sleep(2)
        self.look_for_boxes()
        self.scan_store()
        if self.baseline:
            stray = sorted(set(self.figures()["files"]) - set(self.baseline["files"]))
            if stray:
                self.missed.append(f"files left in the working folder: {stray}")
        self.close_app()
        self.scan_store()
        self.check_goals()

    def check_goals(self):
        on_server = set()
        for raw in self.dovecot.messages():
            on_server.update(_count_tokens(raw))
        replies = _replied(self.smtp)
        for token, kind in sorted(self.kinds.items()):
            if kind == "spam":
                if token in self.stored_ever:
                    self.missed.append(f"spam {token} was stored")
                continue
            if token not in self.stored_ever and token not in on_server:
                self.missed.append(f"{kind} mail {token} neither stored nor on the server")
            if kind == "command" and replies.get(token, 0) != 1:
                self.missed.append(f"command mail {token} answered {replies.get(token, 0)} times")
        for token in sorted(self.twice):
            self.missed.append(f"mail {token} stored twice")
        if self.boxes:
            self.missed.append(f"message boxes opened: {self.boxes}")
        counts = {k: sum(1 for v in self.kinds.values() if v == k) for k in ("general", "spam", "command")}
        print(f"delivered {self.seq} mails ({counts['general']} general, {counts['spam']} spam, "
              f"{counts['command']} command), {sum(replies.values())} replies, {len(on_server)} still on the server, "
              f"{self.deleted} rows deleted")
        if self.missed:
            print("goals missed:\n  " + "\n  ".join(self.missed))
        else:
            print("goals met: nothing grew after warm-up, every mail stored once or on the server, "
                  "every command mail answered once, no message box")

    def close(self):
        self.events.close()
        try:
            self.app.stop()
        finally:
            self.camera.stop()
            if self.missed:
                shutil.copytree(self.store.path, self.store.path.parent / "store-at-end")
            self.store.close()


def _count_tokens(data: bytes) -> dict:
    counts = {}
    for m in re.finditer(rb"X-Soak: (\d{6})\r\n", data):
        token = m.group(1).decode()
        counts[token] = counts.get(token, 0) + 1
    return counts


def _replied(smtp) -> dict:
    counts = {}
    for reply in smtp.replies():
        m = re.search(r"Vistrel 指令 (\d{6})", reply.subject)
        if m:
            counts[m.group(1)] = counts.get(m.group(1), 0) + 1
    return counts


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--checks", type=int, default=3000)
    ap.add_argument("--interval", type=int, default=1, help="seconds between checks")
    ap.add_argument("--report-every", type=int, default=500)
    ap.add_argument("--warmup", type=int, default=100)
    ap.add_argument("--restart-every", type=int, default=1000, help="0: never")
    ap.add_argument("--seed", type=int, default=22)
    args = ap.parse_args()
    if os.geteuid() != 0:
        raise SystemExit("soak: needs root to mount the mail-log folder's small filesystem")
    work = Path(tempfile.mkdtemp(prefix="quorvel-soak-"))
    work.chmod(0o755)
    with desktop() as (wine, driver), SoakDovecot() as dovecot, ReplyServer() as smtp:
        soak = Soak(args, wine, driver, dovecot, smtp, work)
        try:
            soak.run()
        finally:
            soak.close()
            if soak.missed:
                print(f"the run's folder is kept: {work} (events.txt: what happened, by check)")
            else:
                shutil.rmtree(work, ignore_errors=True)
    sys.exit(1 if soak.missed else 0)


if __name__ == "__main__":
    main()
