"""A POP3 server for benchmarks that serves a fixed mailbox from memory, in
plaintext or with implicit TLS (Python's ssl in the serving thread itself,
no proxy process). Every reply goes out in one write, with TCP_NODELAY as
mail servers set it (without it the TLS records after the first of a reply
wait for the client's delayed ACK); DELE only marks, so every session sees
the same mailbox.

    with MemoryPop3(mails, tls=ctx) as server:   # tls=None: plaintext
        server.port
"""
import socket
import ssl
import threading


def _stuffed(mail: bytes) -> bytes:
    lines = mail.split(b"\r\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return b"".join((b"." + l if l.startswith(b".") else l) + b"\r\n" for l in lines)


class MemoryPop3:
    def __init__(self, mails, user="quorvel", password="pop-secret-42", tls: ssl.SSLContext = None):
        self.user, self.password, self.tls = user, password, tls
        self.sizes = [len(m) for m in mails]
        self.retr = [b"+OK %d octets\r\n" % len(m) + _stuffed(m) + b".\r\n" for m in mails]
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self._accept, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.listener.close()
        self.thread.join(10)

    def _accept(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._session, args=(conn,), daemon=True).start()

    def _session(self, conn):
        try:
            conn.settimeout(30)
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            if self.tls:
                conn = self.tls.wrap_socket(conn, server_side=True)
            with conn, conn.makefile("rb") as reader:
                self._dialogue(conn, reader)
        except (OSError, ssl.SSLError):
            pass

    def _dialogue(self, conn, reader):
        count = len(self.retr)
        conn.sendall(b"+OK memory POP3 ready\r\n")
        logged_in = False
        while True:
            line = reader.readline(1024)
            if not line:
                return
            words = line.strip().split(b" ")
            verb, args = words[0].upper(), words[1:]
            n = int(args[0]) if args and args[0].isdigit() else 0
            if verb == b"QUIT":
                conn.sendall(b"+OK bye\r\n")
                return
            if verb == b"CAPA":
                reply = b"+OK\r\nUSER\r\nUIDL\r\n.\r\n"
            elif verb == b"USER":
                reply = b"+OK\r\n"
            elif verb == b"PASS":
                logged_in = args[:1] == [self.password.encode()]
                reply = b"+OK logged in\r\n" if logged_in else b"-ERR [AUTH] failed\r\n"
            elif not logged_in:
                reply = b"-ERR log in first\r\n"
            elif verb == b"STAT":
                reply = b"+OK %d %d\r\n" % (count, sum(self.sizes))
            elif verb in (b"LIST", b"UIDL") and not args:
                rows = b"".join(b"%d %s\r\n" % (i + 1, self._item(verb, i)) for i in range(count))
                reply = b"+OK\r\n" + rows + b".\r\n"
            elif not 1 <= n <= count:
                reply = b"-ERR no such message\r\n"
            elif verb in (b"LIST", b"UIDL"):
                reply = b"+OK %d %s\r\n" % (n, self._item(verb, n - 1))
            elif verb == b"RETR":
                reply = self.retr[n - 1]
            elif verb in (b"DELE", b"NOOP", b"RSET"):
                reply = b"+OK\r\n"
            else:
                reply = b"-ERR unknown command\r\n"
            conn.sendall(reply)

    def _item(self, verb, i) -> bytes:
        return b"%d" % self.sizes[i] if verb == b"LIST" else b"mem%06d" % i
