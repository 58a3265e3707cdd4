"""A TCP relay on 127.0.0.1 in front of a server, for what real servers do
not do on demand: the server's bytes reach the client through `alter`
(bytes -> bytes, per read) and, with pieces=True, in sends of 1 to 7 bytes.
The client's bytes pass `hold` first (bytes -> bool, per read): True keeps
them from the server (a command the server must never see).

    with Relay(dovecot.port, alter=lambda data: data.replace(...)) as relay:
        ... connect to 127.0.0.1:relay.port ...
"""
import socket
import threading
import time


class Relay:
    def __init__(self, target_port, alter=None, pieces=False, hold=None):
        self.target_port = target_port
        self.hold = hold
        self.alter = alter
        self.pieces = pieces
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self.listener.close()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            server = socket.create_connection(("127.0.0.1", self.target_port))
            threading.Thread(target=self._pipe, args=(client, server, None, False, self.hold),
                             daemon=True).start()
            threading.Thread(target=self._pipe, args=(server, client, self.alter, self.pieces), daemon=True).start()

    @staticmethod
    def _pipe(src, dst, alter, pieces, hold=None):
        size = 0
        try:
            while data := src.recv(65536):
                if hold and hold(data):
                    continue
                if alter:
                    data = alter(data)
                if not pieces:
                    dst.sendall(data)
                    continue
                while data:
                    size = size % 7 + 1
                    dst.sendall(data[:size])
                    data = data[size:]
                    time.sleep(0.0005)  # lets each piece travel alone
        except OSError:
            pass
        for s in (src, dst):
            s.close()
