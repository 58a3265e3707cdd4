"""The Dovecot fixture: a real POP3 server on 127.0.0.1, checked with poplib."""
import poplib
import socket
import time

MAILS = [
    b"From: a@example.com\r\nSubject: first\r\n\r\nplain body\r\n",
    # Lines that begin with a dot, a lone dot, 8-bit and ISO-2022-JP bytes.
    b"Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n\r\n.leading dot\r\n.\r\n"
    b"\x1b$B%F%9%H\x1b(B \x82\xa0\x83\x5c\r\n..two dots\r\nend\r\n",
    b"Subject: third\r\n\r\n" + (b"x" * 76 + b"\r\n") * 100,
]


def login(server) -> poplib.POP3:
    pop = poplib.POP3(server.host, server.port, timeout=10)
    pop.user(server.user)
    pop.pass_(server.password)
    return pop


def test_pop3_session_retrieves_byte_exact_and_deletes(dovecot):
    for m in MAILS:
        dovecot.put(m)
    pop = login(dovecot)
    assert pop.getwelcome() == b"+OK Dovecot (Debian) ready."
    assert pop.stat() == (3, sum(map(len, MAILS)))
    for i, mail in enumerate(MAILS, 1):
        status, lines, octets = pop.retr(i)
        assert status == b"+OK %d octets" % len(mail)
        assert b"\r\n".join(lines) + b"\r\n" == mail  # poplib undoes the dot-stuffing
    pop.dele(2)
    pop.quit()
    assert dovecot.messages() == [MAILS[0], MAILS[2]]


def test_wire_form_is_dot_stuffed_and_ends_with_a_dot_line(dovecot):
    dovecot.put(MAILS[1])
    with socket.create_connection((dovecot.host, dovecot.port), timeout=10) as s:
        f = s.makefile("rb")
        f.readline()
        for command in (b"USER " + dovecot.user.encode(), b"PASS " + dovecot.password.encode(),
                        b"RETR 1"):
            s.sendall(command + b"\r\n")
            assert f.readline().startswith(b"+OK")
        data = b""
        while not data.endswith(b"\r\n.\r\n"):
            data += f.readline()
        s.sendall(b"QUIT\r\n")
    stuffed = MAILS[1].replace(b"\r\n.", b"\r\n..")
    assert data == stuffed + b".\r\n"


def test_failed_login_does_not_delay_the_next(dovecot):
    pop = poplib.POP3(dovecot.host, dovecot.port, timeout=10)
    pop.user(dovecot.user)
    try:
        pop.pass_("wrong")
        raise AssertionError("a wrong password was accepted")
    except poplib.error_proto as e:
        assert str(e).startswith("b'-ERR")
    started = time.monotonic()
    login(dovecot).quit()
    assert time.monotonic() - started < 1.0


def test_each_instance_has_its_own_port_and_mailbox(dovecot):
    from support.dovecot import Dovecot
    with Dovecot(user="other", password="pw") as second:
        assert second.port != dovecot.port
        second.put(b"Subject: only here\r\n\r\nx\r\n")
        assert login(dovecot).stat() == (0, 0)
        assert login(second).stat()[0] == 1
