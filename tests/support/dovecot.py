"""A private Dovecot POP3 and IMAP server on 127.0.0.1 for the tests.

    with Dovecot() as server:                # or the `dovecot` fixture
        server.put(b"Subject: x\\r\\n\\r\\nbody\\r\\n")
        ... POP3 to 127.0.0.1:server.port as server.user / server.password ...
        ... IMAP to 127.0.0.1:server.imap_port ...
        server.save(mail)                    # delivered by `doveadm save`
        server.messages()                    # what is still in the mailbox, once
                                             # every session has ended

Mail processes run as nobody (Dovecot refuses root), so the state folder is
world-searchable and the maildir belongs to nobody. The anvil-auth-penalty
socket is removed after start, so a failed login does not delay the next."""
import atexit
import itertools
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
from pathlib import Path

MAIL_UID = 65534  # nobody
MAIL_GID = 65534  # nogroup

CONFIG = """\
protocols = pop3 imap
listen = 127.0.0.1
base_dir = {root}/run
state_dir = {root}/state
instance_name = quorvel-test-{port}
log_path = {root}/dovecot.log
info_log_path = {root}/dovecot.log
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain login
# Refuse a wrong password at once (default: after 2 s)
auth_failure_delay = 0
first_valid_uid = 1
first_valid_gid = 1
mail_location = maildir:~/Maildir
pop3_uidl_format = %08Xu%08Xv
# No statistics: a login process waits 5 s for that service while Dovecot stops.
stats_writer_socket_path =
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {root}/passwd
}}
userdb {{
  driver = static
  args = uid={uid} gid={gid} home={root}/home/%u
}}
service pop3-login {{
  inet_listener pop3 {{
    address = 127.0.0.1
    port = {port}
  }}
  inet_listener pop3s {{
    port = 0
  }}
}}
service imap-login {{
  inet_listener imap {{
    address = 127.0.0.1
    port = {imap_port}
  }}
  inet_listener imaps {{
    port = 0
  }}
}}
"""


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Dovecot:
    def __init__(self, user="quorvel", password="pop-secret-42"):
        self.user = user
        self.password = password
        self.host = "127.0.0.1"
        self.port = 0
        self.imap_port = 0
        self.root = None
        self._seq = itertools.count(1)

    # ---- life -------------------------------------------------------------

    def start(self, timeout=20.0):
        self.root = Path(tempfile.mkdtemp(prefix="quorvel-dovecot-"))
        self.root.chmod(0o755)
        for sub in ("run", "state"):
            (self.root / sub).mkdir()
        self.maildir = self.root / "home" / self.user / "Maildir"
        for sub in ("new", "cur", "tmp"):
            (self.maildir / sub).mkdir(parents=True)
        for path in [self.root / "home", *(self.root / "home").rglob("*")]:
            os.chown(path, MAIL_UID, MAIL_GID)
        (self.root / "passwd").write_text(f"{self.user}:{{PLAIN}}{self.password}::::::\n")
        (self.root / "passwd").chmod(0o644)
        for attempt in range(3):
            self.port = free_port()
            self.imap_port = free_port()
            self.config = self.root / "dovecot.conf"
            self.config.write_text(self.config_text())
            # Output to a file: the daemon keeps its standard handles open.
            with open(self.root / "start.out", "wb") as out:
                rc = subprocess.run(["dovecot", "-c", str(self.config)], stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=out, timeout=60).returncode
            if rc == 0:
                break
            if attempt == 2:
                raise RuntimeError(f"dovecot did not start: "
                                   f"{(self.root / 'start.out').read_text(errors='replace')}{self.log()}")
        self._wait_ready(timeout)
        return self

    def config_text(self) -> str:
        """The configuration file; subclasses add to it (tls_servers.py)."""
        return CONFIG.format(root=self.root, port=self.port, imap_port=self.imap_port, uid=MAIL_UID, gid=MAIL_GID)

    def _wait_ready(self, timeout):
        # The master creates its listeners, the penalty socket among them,
        # before `dovecot` returns; wait for it all the same.
        deadline = time.monotonic() + timeout
        penalty = self.root / "run" / "anvil-auth-penalty"
        while not penalty.exists():
            if time.monotonic() > deadline:
                raise RuntimeError(f"dovecot not ready within {timeout} s: {self.log()}")
            time.sleep(0.01)
        penalty.unlink()

    def stop(self, wait=False):
        """Asks the master to stop (SIGTERM, as `dovecot stop` does). Dovecot
        takes about a second to finish, so by default the wait and the
        removal of the state folder run in the background; all of them are
        awaited when the test process exits."""
        if self.root is None:
            return
        pid_file = self.root / "run" / "master.pid"
        try:
            pid = int(pid_file.read_text())
            os.kill(pid, signal.SIGTERM)
        except (OSError, ValueError):
            pid = None
        worker = threading.Thread(target=_finish, args=(pid, self.root), daemon=True)
        worker.start()
        _stopping.append(worker)
        self.root = None
        if wait:
            worker.join()

    def restart(self, timeout=20.0):
        """Stops the master and starts it again on the same ports and
        mailbox, as a server restart would; clients are cut off."""
        pid = int((self.root / "run" / "master.pid").read_text())
        os.kill(pid, signal.SIGTERM)
        deadline = time.monotonic() + timeout
        while _alive(pid):
            if time.monotonic() > deadline:
                raise RuntimeError("dovecot did not stop")
            time.sleep(0.02)
        with open(self.root / "start.out", "wb") as out:
            subprocess.run(["dovecot", "-c", str(self.config)], stdin=subprocess.DEVNULL,
                           stdout=out, stderr=out, timeout=60, check=True)
        self._wait_ready(timeout)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # ---- mailbox ------------------------------------------------------------

    def put(self, mail: bytes) -> str:
        """Delivers one raw mail into the maildir (new/), as a delivery agent
        would: written into tmp/, then renamed. Mails are numbered by POP3 in
        the order they were put. Returns the file name."""
        n = next(self._seq)
        # The time part orders the mails; it is fixed so the order is the put order.
        name = f"{1000000000 + n}.M{n:06d}P{os.getpid()}.quorvel-test"
        tmp = self.maildir / "tmp" / name
        tmp.write_bytes(mail)
        os.chown(tmp, MAIL_UID, MAIL_GID)
        tmp.rename(self.maildir / "new" / name)
        return name

    def save(self, mail: bytes, folder: str = "INBOX"):
        """Delivers one mail through Dovecot itself (`doveadm save`), so that
        idling IMAP clients hear of it as of any delivery."""
        subprocess.run(["doveadm", "-c", str(self.config), "save", "-u", self.user, "-m", folder],
                       input=mail, check=True, capture_output=True, timeout=30)

    def create_folder(self, name: str):
        """A mailbox (UTF-8 name) beside INBOX."""
        subprocess.run(["doveadm", "-c", str(self.config), "mailbox", "create", "-u", self.user, name],
                       check=True, capture_output=True, timeout=30)

    def folder_messages(self, name: str) -> list:
        """The raw mails of a mailbox, by UID, through doveadm."""
        out = subprocess.run(["doveadm", "-c", str(self.config), "fetch", "-u", self.user, "text",
                              "mailbox", name, "all"], check=True, capture_output=True, timeout=30).stdout
        return [m for m in out.split(b"text:\n")[1:]]

    def wait_sessions_ended(self, timeout=10.0):
        """Waits until every session that logged in has ended. A client may
        send QUIT and hang up without awaiting the reply; the server then
        expunges the deleted mails after the client has gone. Dovecot logs a
        session's end once its mailbox is updated."""
        deadline = time.monotonic() + timeout
        while True:
            text = self.log()
            started = set(re.findall(r"(?:pop3|imap)-login: Info: Login: .*session=<([^>]+)>", text))
            ended = set(re.findall(r"(?:pop3|imap)\(.*?\)<\d+><([^>]+)>: Info: (?:Disconnected|Logged out)", text))
            if started <= ended:
                return
            if time.monotonic() > deadline:
                raise AssertionError(f"sessions still open after {timeout} s: {self.log()}")
            time.sleep(0.01)

    def messages(self, wait=True) -> list:
        """The raw mails still in the mailbox, in the order they were put,
        once every session has ended (wait=False: now, beside an IMAP
        session that stays, whose deletions take effect at once)."""
        if wait:
            self.wait_sessions_ended()
        files = [p for sub in ("new", "cur") for p in (self.maildir / sub).iterdir() if p.is_file()]
        return [p.read_bytes() for p in sorted(files, key=lambda p: p.name.split(":")[0])]

    def log(self) -> str:
        path = self.root / "dovecot.log" if self.root else None
        return path.read_text(errors="replace") if path and path.exists() else ""


def _alive(pid: int) -> bool:
    """Whether a process runs (a zombie that nobody reaped counts as ended)."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            return f.read().rsplit(b")", 1)[1].split()[0] != b"Z"
    except (OSError, IndexError):
        return False


def _finish(pid, root, timeout=20.0):
    deadline = time.monotonic() + timeout
    while pid and _alive(pid) and time.monotonic() < deadline:
        time.sleep(0.02)
    if pid and _alive(pid):
        os.kill(pid, signal.SIGKILL)
    shutil.rmtree(root, ignore_errors=True)


_stopping = []
atexit.register(lambda: [t.join(30) for t in _stopping])
