"""A scripted TCP peer on 127.0.0.1, for what real servers do not do on
demand: fall silent, or hang up in the middle of a reply.

    with ScriptedServer([(None, b"+OK ready\\r\\n"), ("USER", b"+OK\\r\\n")],
                        ending="hangup") as server:
        ... connect to 127.0.0.1:server.port ...
        server.wait_closed()          # the client has hung up too
        server.commands               # every command line received, in order

Each step waits for one command line (None: none), then sends its reply.
After the script the server either hangs up ("hangup": it closes its sending
side, then reads what the client still sends until the client closes) or
falls silent ("silent": the connection stays open, unanswered). Every
connection runs the script afresh. A command that does not begin with the
step's expected text is recorded all the same; tests compare `commands`."""
import socket
import threading
import time


class ScriptedServer:
    def __init__(self, script, ending="hangup"):
        assert ending in ("hangup", "silent")
        self.script = script
        self.ending = ending
        self.commands = []
        self.connections = 0
        self._open = 0
        self._lock = threading.Lock()
        self._sockets = []
        self._listener = socket.create_server(("127.0.0.1", 0))
        self.port = self._listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self._listener.close()
        with self._lock:
            for s in self._sockets:
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                s.close()

    def wait_closed(self, timeout=20.0):
        """Waits until at least one client came and every client has closed."""
        deadline = time.monotonic() + timeout
        while self.connections == 0 or self._open:
            if time.monotonic() > deadline:
                raise AssertionError(f"the client did not close within {timeout} s")
            time.sleep(0.02)

    def _accept(self):
        while True:
            try:
                conn, _ = self._listener.accept()
            except OSError:
                return
            with self._lock:
                self.connections += 1
                self._open += 1
                self._sockets.append(conn)
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        reader = conn.makefile("rb")
        try:
            for expect, reply in self.script:
                if expect is not None:
                    line = reader.readline()
                    if not line:
                        return
                    self.commands.append(line.rstrip(b"\r\n").decode("latin-1"))
                conn.sendall(reply)
            if self.ending == "silent":
                while conn.recv(4096):
                    pass
                return
            conn.shutdown(socket.SHUT_WR)
            conn.settimeout(30)
            for line in reader:
                self.commands.append(line.rstrip(b"\r\n").decode("latin-1"))
        except OSError:
            pass
        finally:
            reader.close()
            conn.close()
            with self._lock:
                self._open -= 1
