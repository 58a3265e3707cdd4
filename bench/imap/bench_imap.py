"""Downloads 200 messages of 100 KB from a local Dovecot over IMAP through
Quorvel's IMAP session (imapcheck) and through curl's imap:// (one
connection, UID FETCH per message), and prints both throughputs.

    /usr/bin/python3 bench/imap/bench_imap.py [--build build/native] [--runs 3]
"""
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
from mailbox_bench import COUNT, compare  # noqa: E402


def with_curl(server) -> int:
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["curl", "-s", "-u", f"{server.user}:{server.password}",
                        f"imap://127.0.0.1:{server.imap_port}/INBOX;UID=[1-{COUNT}]", "-o", f"{tmp}/#1.eml"],
                       check=True)
        return sum(p.stat().st_size for p in Path(tmp).glob("*.eml"))


def main():
    compare("curl imap://", with_curl, "imapcheck", lambda server: server.imap_port)


if __name__ == "__main__":
    main()
