"""Downloads 200 messages of 100 KB from a local Dovecot through Quorvel's
POP3 session (pop3check) and through Python's poplib, and prints the ratio.

    /usr/bin/python3 bench/pop3/bench_pop3.py [--build build/native] [--runs 3]
"""
import poplib
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
from mailbox_bench import compare  # noqa: E402


def with_poplib(server) -> int:
    box = poplib.POP3("127.0.0.1", server.port)
    box.user(server.user)
    box.pass_(server.password)
    count, _ = box.stat()
    total = 0
    for n in range(1, count + 1):
        total += sum(len(l) + 2 for l in box.retr(n)[1])
    box.quit()
    return total


def main():
    compare("poplib", with_poplib, "pop3check", lambda server: server.port)


if __name__ == "__main__":
    main()
