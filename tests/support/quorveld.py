"""quorveld, the Linux service, run for a test: its configuration and
password files written into a private state folder, started as root so that
it switches to its user (nobody) itself, its standard output (the
communication log) kept in a file.

    d = Quorveld(dovecot=..., smtp=..., motion=rig)
    d.start(check_interval=1)
    d.wait_log("コマンドメール処理結果")
    d.stop()                                   # SIGTERM; returns the exit code
"""
import os
import signal
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

from support.paths import native

SERVICE_UID = 65534  # nobody
SERVICE_GID = 65534


def binary() -> Path:
    return native("src/daemon/quorveld")


class Quorveld:
    def __init__(self, dovecot=None, smtp=None, motion=None):
        # Every folder above the state folder must be searchable by nobody
        # (pytest's tmp_path is not).
        self.root = Path(tempfile.mkdtemp(prefix="quorveld-"))
        self.state = self.root / "state"
        self.conf = self.root / "quorvel.conf"
        self.password_file = self.root / "password"
        self.dovecot, self.smtp, self.motion = dovecot, smtp, motion
        self.proc = None
        self.out = self.root / "quorveld.out"
        self.err = self.root / "quorveld.err"

    def config_text(self, **values) -> str:
        merged = {"user": "nobody", "state_dir": str(self.state), "password_file": str(self.password_file),
                  "account": self.dovecot.user if self.dovecot else "camera",
                  "pop3_server": "127.0.0.1", "pop3_port": self.dovecot.port if self.dovecot else 110,
                  "smtp_server": "127.0.0.1", "smtp_port": self.smtp.port if self.smtp else 25,
                  "check_interval": 1}
        if self.motion:
            merged.update(motion_url=self.motion.url, motion_user=self.motion.user,
                          motion_password_file=str(self.root / "motion-password"),
                          motion_snapshot_dir=str(self.motion.media), motion_movie_list=str(self.motion.movie_list))
        merged.update(values)
        return "".join(f"{k} = {v}\n" for k, v in merged.items() if v is not None)

    def prepare(self, **values):
        """Writes the state folder, the configuration and the password files."""
        self.root.mkdir(parents=True, exist_ok=True)
        self.root.chmod(0o755)
        self.state.mkdir(exist_ok=True)
        os.chown(self.state, SERVICE_UID, SERVICE_GID)
        self.conf.write_text(self.config_text(**values), encoding="utf-8")
        secrets = [(self.password_file, self.dovecot.password if self.dovecot else "pw")]
        if self.motion:
            secrets.append((self.root / "motion-password", self.motion.password))
        for path, secret in secrets:
            path.write_text(secret + "\n")
            os.chown(path, SERVICE_UID, SERVICE_GID)
            path.chmod(0o600)

    def check_config(self) -> subprocess.CompletedProcess:
        return subprocess.run([str(binary()), "--config", str(self.conf), "--check-config"], capture_output=True,
                              text=True, timeout=30)

    def start(self, env=None, **values):
        """env: the environment quorveld gets (None: this one)."""
        self.prepare(**values)
        with open(self.out, "wb") as out, open(self.err, "wb") as err:
            self.proc = subprocess.Popen([str(binary()), "--config", str(self.conf)], stdin=subprocess.DEVNULL,
                                         stdout=out, stderr=err, env=env)
        self.wait_log("quorveld 起動")
        return self

    def log(self) -> str:
        return self.out.read_text(encoding="utf-8", errors="replace") if self.out.exists() else ""

    def errors(self) -> str:
        return self.err.read_text(encoding="utf-8", errors="replace") if self.err.exists() else ""

    def wait_log(self, text: str, count=1, timeout=30.0, stderr=False) -> str:
        """Waits until `text` stands `count` times in the log (or in what
        quorveld wrote to standard error); returns that text."""
        deadline = time.monotonic() + timeout
        while True:
            log = self.errors() if stderr else self.log()
            if log.count(text) >= count:
                return log
            if self.proc and self.proc.poll() is not None:
                raise AssertionError(f"quorveld ended ({self.proc.returncode}): {self.err.read_text()}\n{log}")
            if time.monotonic() > deadline:
                raise AssertionError(f"\"{text}\" not in quorveld's log within {timeout} s:\n{log[-3000:]}")
            time.sleep(0.02)

    def close(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def stop(self, timeout=20.0) -> int:
        if not self.proc:
            return 0
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
                raise AssertionError("quorveld did not end within %s s of SIGTERM" % timeout)
        return self.proc.returncode
