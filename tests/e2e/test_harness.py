"""Self-check of the test harness, once per run: the private Dovecot of
the `dovecot` fixture serves what was put, byte for byte, forgets a failed
login at once, and waits for a session that hung up after QUIT."""
import poplib
import socket
import time

MAIL = b"Subject: x\r\n\r\n.leading dot\r\n" + b"\x1b$B%F%9%H\x1b(B\r\n"


def test_dovecot_fixture(dovecot):
    dovecot.put(MAIL)
    pop = poplib.POP3(dovecot.host, dovecot.port, timeout=10)
    pop.user(dovecot.user)
    try:
        pop.pass_("wrong")
        raise AssertionError("a wrong password was accepted")
    except poplib.error_proto:
        pass
    started = time.monotonic()
    pop = poplib.POP3(dovecot.host, dovecot.port, timeout=10)
    pop.user(dovecot.user)
    pop.pass_(dovecot.password)
    assert time.monotonic() - started < 1.0, "a failed login delays the next"
    _, lines, _ = pop.retr(1)
    assert b"\r\n".join(lines) + b"\r\n" == MAIL
    pop.quit()

    # QUIT sent, the connection closed at once: the expunge happens later.
    with socket.create_connection((dovecot.host, dovecot.port), timeout=10) as s:
        f = s.makefile("rb")
        f.readline()
        for command in (b"USER " + dovecot.user.encode(), b"PASS " + dovecot.password.encode(), b"DELE 1"):
            s.sendall(command + b"\r\n")
            assert f.readline().startswith(b"+OK")
        s.sendall(b"QUIT\r\n")
    assert dovecot.messages() == []
