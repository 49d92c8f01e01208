# Test set-up for the collection's unit tests: makes the source tree importable
# as ansible_collections.tenmark.halvexa (through a link in a temporary folder),
# and provides a scripted fake Halvexa server on a loopback port chosen by the
# system.
import os
import socket
import sys
import tempfile
import threading
import time

import pytest

_SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
_ROOT = tempfile.mkdtemp(prefix="halvexa-collections-")
os.makedirs(os.path.join(_ROOT, "ansible_collections", "tenmark"))
os.symlink(_SOURCE, os.path.join(_ROOT, "ansible_collections", "tenmark", "halvexa"))
sys.path.insert(0, _ROOT)

GREETING = (b"\n\rHalvexa: Version 3.5.1.1"
            b"\n\rTenmark Halvexa remote service control, (c) Tenmark Software."
            b"\n\r\n\rConnected to: TESTHOST\n\rService running as: LocalSystem"
            b"\n\rLocal Server Date: 10 December 2026 12:00:00 PM\n\r:: ")


class FakeServer(object):
    """One scripted connection at a time on 127.0.0.1, port 0.

    `script` is a list of steps run in order for each accepted connection:
      ("send", bytes)    send bytes
      ("expect", line)   read one CR LF line and record it; `line` is checked
                         by the test afterwards through `received`
      ("read",)          read one line, record it, send nothing
      ("reply", {line-prefix: bytes})  read a line, send the bytes of the first
                         prefix it starts with (b"" prefix matches all)
      ("close",)         close the connection
      ("hang",)          keep the connection open, sending nothing, until stop()
      ("serve", handler) answer each line with handler(line) (bytes) until QUIT
    After the script, the connection answers QUIT by closing."""

    def __init__(self, script):
        self.script = script
        self._received = []
        self.connections = 0
        self._served = 0  # connections run to their end
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(8)
        self.port = self._listener.getsockname()[1]
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        while not self._stop.is_set():
            try:
                conn, _ = self._listener.accept()
            except OSError:
                return
            self.connections += 1
            try:
                self._run(conn)
            except OSError:
                pass
            finally:
                conn.close()
                self._served += 1

    @property
    def received(self):
        """The lines received, once every connection accepted has been run to
        its end (a client may return before the server has read its closing
        QUIT); gives up waiting after 5 s."""
        deadline = time.monotonic() + 5
        while self._served < self.connections and time.monotonic() < deadline:
            time.sleep(0.001)
        return list(self._received)

    def _readline(self, conn, buf):
        while b"\r\n" not in buf[0]:
            chunk = conn.recv(4096)
            if not chunk:
                return None
            buf[0] += chunk
        line, buf[0] = buf[0].split(b"\r\n", 1)
        text = line.decode("latin-1")
        self._received.append(text)
        return text

    def _run(self, conn):
        buf = [b""]
        for step in self.script:
            kind = step[0]
            if kind == "send":
                conn.sendall(step[1])
            elif kind in ("expect", "read"):
                if self._readline(conn, buf) is None:
                    return
            elif kind == "reply":
                line = self._readline(conn, buf)
                if line is None:
                    return
                for prefix, data in step[1].items():
                    if line.upper().startswith(prefix.upper()):
                        conn.sendall(data)
                        break
            elif kind == "close":
                return
            elif kind == "serve":
                while True:
                    line = self._readline(conn, buf)
                    if line is None or line.upper() == "QUIT":
                        return
                    conn.sendall(step[1](line))
            elif kind == "hang":
                self._stop.wait(30)
                return
        self._readline(conn, buf)  # QUIT

    def stop(self):
        self._stop.set()
        try:
            self._listener.shutdown(socket.SHUT_RDWR)  # wakes the accept
        except OSError:
            pass
        self._listener.close()
        self._thread.join(5)


@pytest.fixture
def fake_server():
    servers = []

    def start(script):
        server = FakeServer(script)
        servers.append(server)
        return server

    yield start
    for server in servers:
        server.stop()
