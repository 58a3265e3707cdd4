"""Downloads 200 messages of 100 KB from a local Dovecot through Quorvel's
POP3 session (pop3check) and through Python's poplib, and prints the ratio.

    /usr/bin/python3 bench/pop3/bench_pop3.py [--build build/native] [--runs 3]
"""
import poplib
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
from mailbox_bench import arguments, best, check_tool, fill, report  # noqa: E402
from support.dovecot import Dovecot  # noqa: E402


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
    build, runs = arguments()
    with Dovecot() as server:
        fill(server)
        with_poplib(server)  # warm the server's caches
        theirs = best(lambda: with_poplib(server), runs)
        ours = best(lambda: check_tool(build, "pop3check", "127.0.0.1", server.port, server), runs)
    report(("poplib", theirs), ("pop3check", ours))


if __name__ == "__main__":
    main()
