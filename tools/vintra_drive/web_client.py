"""A client of the program's web endpoint on the Linux side: plain requests, status.json, the event
stream, free ports and what is listening. Raw sockets throughout, so a test controls every byte sent
(a foreign Host header, garbage, a request that never ends) and sees exactly what comes back."""

import json
import socket
import subprocess
import threading
import time

from . import wait

HOST = "127.0.0.1"


def free_port():
    """A TCP port on the loopback that nothing listens on now."""
    with socket.socket() as probe:
        probe.bind((HOST, 0))
        return probe.getsockname()[1]


def listening_addresses(port):
    """The local addresses listening on TCP `port`, as `ss -ltn` shows them (e.g. ['127.0.0.1:8725'])."""
    out = subprocess.run(["ss", "-ltnH"], capture_output=True, text=True, check=True).stdout
    found = []
    for line in out.splitlines():
        fields = line.split()
        if len(fields) >= 4 and fields[3].rsplit(":", 1)[-1] == str(port):
            found.append(fields[3])
    return found


def connect(port, timeout=wait.EVENT_TIMEOUT, receive_buffer=None):
    """A connected socket to the endpoint; `receive_buffer` shrinks its receive buffer first."""
    sock = socket.socket()
    if receive_buffer:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    sock.settimeout(timeout)
    sock.connect((HOST, port))
    return sock


def read_to_end(sock):
    """Everything the endpoint sends until it closes (a reset counts as the end)."""
    chunks = []
    while True:
        try:
            chunk = sock.recv(65536)
        except ConnectionResetError:
            break
        if not chunk:
            break
        chunks.append(chunk)
    return b"".join(chunks)


def exchange(port, data, timeout=wait.EVENT_TIMEOUT):
    """Sends raw bytes on a fresh connection and returns all the endpoint answers before closing."""
    with connect(port, timeout) as sock:
        sock.sendall(data)
        return read_to_end(sock)


class Response:
    """An HTTP response: status code, headers (lower-case names) and body."""

    def __init__(self, raw):
        head, _, self.body = raw.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        self.status_line = lines[0]
        self.status = int(lines[0].split()[1]) if len(lines[0].split()) > 1 else 0
        self.headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            self.headers[name.strip().lower()] = value.strip()


def request(port, path="/", method="GET", host=None):
    """One request with a Host header (the endpoint's own unless given); returns a Response."""
    host = host or "%s:%d" % (HOST, port)
    raw = exchange(port, ("%s %s HTTP/1.1\r\nHost: %s\r\n\r\n" % (method, path, host)).encode())
    return Response(raw)


def status(port):
    """status.json as a dict."""
    response = request(port, "/status.json")
    if response.status != 200:
        raise AssertionError("status.json answered %s" % response.status_line)
    return json.loads(response.body)


def wait_status(port, condition, what, timeout=wait.EVENT_TIMEOUT):
    """Polls status.json until condition(status) holds; returns that status."""
    seen = {}

    def check():
        seen["last"] = status(port)
        return seen["last"] if condition(seen["last"]) else None
    return wait.wait_until(check, timeout, lambda: "%s (status.json: %s)" % (what, seen.get("last")), interval=0.1)


class EventStream:
    """GET /events read in a thread: the events as (name, data) pairs, with their arrival times."""

    def __init__(self, port, path="/events"):
        self.sock = connect(port, timeout=None)
        self.sock.sendall(("GET %s HTTP/1.1\r\nHost: %s:%d\r\nAccept: text/event-stream\r\n\r\n"
                           % (path, HOST, port)).encode())
        self.head = None
        self.events = []    # (name, data, monotonic time)
        self.ended = False  # the endpoint closed the stream
        self._lock = threading.Lock()
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()

    def _read(self):
        pending = b""
        try:
            while True:
                chunk = self.sock.recv(65536)
                if not chunk:
                    break
                pending += chunk
                if self.head is None:
                    if b"\r\n\r\n" not in pending:
                        continue
                    head, pending = pending.split(b"\r\n\r\n", 1)
                    self.head = Response(head + b"\r\n\r\n")
                while b"\n\n" in pending:
                    block, pending = pending.split(b"\n\n", 1)
                    self._take(block.decode())
        except OSError:
            pass
        self.ended = True

    def _take(self, block):
        name, data = "message", []
        for line in block.split("\n"):
            field, _, value = line.partition(":")
            value = value[1:] if value.startswith(" ") else value
            if field == "event":
                name = value
            elif field == "data":
                data.append(value)
        if data:
            with self._lock:
                self.events.append((name, "\n".join(data), time.monotonic()))

    def mark(self):
        """A place in the stream: pass it to wait_event to wait only for what comes after it."""
        with self._lock:
            return len(self.events)

    def named(self, name, after=0):
        """The data of every event called `name` so far (after the mark `after`)."""
        with self._lock:
            return [data for event, data, _ in self.events[after:] if event == name]

    def wait_event(self, name, data=None, timeout=wait.EVENT_TIMEOUT, after=None):
        """Waits for an event `name` (with `data`, if given) after the mark `after` (default: now); returns its data."""
        after = self.mark() if after is None else after
        return wait.wait_until(lambda: next((d for d in self.named(name, after) if data in (None, d)), None),
                               timeout, lambda: "event %s %s (had: %s)" % (name, data or "", self.named(name)[-5:]))

    def close(self):
        self.sock.close()
        self._thread.join(5)
