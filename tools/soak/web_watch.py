"""The soak's web clients, each in a thread of its own, each checking every message it gets:
- an overlay that reloads every 10 s: GET /overlay, then the event stream it opens, read until the next reload;
- a WebSocket client (Debian's python3-websocket) with zones and samples, reconnecting every 30 s and
  closing each time with the close handshake;
- a hostile client every minute, in turn each of the refusals a page or a script can provoke; the
  endpoint must answer each as it should and go on serving the others."""

import json
import threading
import time

import websocket

from vintra_drive import web_client as web

STATES = {"no-port", "absent", "busy", "live", "stale", "gone"}
OVERLAY_PERIOD = 10.0
WS_PERIOD = 30.0
HOSTILE_PERIOD = 60.0


def is_rate(value):
    return isinstance(value, int) and not isinstance(value, bool) and 0 <= value <= 254


def is_sample(value):
    return isinstance(value, int) and not isinstance(value, bool) and 0 <= value <= 65535


def event_problem(name, data):
    """Why an event-stream event is malformed (None when it is well-formed)."""
    if name == "state":
        return None if data in STATES else "state %r" % data
    if name == "rate":
        return None if data.isdigit() and is_rate(int(data)) else "rate %r" % data
    if name == "samples":
        values = data.split(",")
        return None if all(v.isdigit() and is_sample(int(v)) for v in values) else "samples %r" % data[:40]
    if name == "clear":
        return None if data == "rings" else "clear %r" % data
    return "event %r" % name


def ws_problem(text, zones):
    """Why a WebSocket message is malformed (None when it is well-formed)."""
    try:
        message = json.loads(text)
    except ValueError:
        return "not JSON: %r" % text[:40]
    kind = message.get("type") if isinstance(message, dict) else None
    keys = set(message) if isinstance(message, dict) else set()
    if kind == "state" and keys == {"type", "state"} and message["state"] in STATES:
        return None
    if kind == "rate" and keys == {"type", "bpm"} and is_rate(message["bpm"]):
        return None
    if (kind == "zone" and keys == {"type", "zone", "bpm"} and is_rate(message["bpm"])
            and message["zone"] in range(len(zones) + 1)):
        return None
    if (kind == "samples" and keys == {"type", "values"} and isinstance(message["values"], list)
            and 0 < len(message["values"]) and all(is_sample(v) for v in message["values"])):
        return None
    return "message %r" % text[:60]


class WebWatch:
    def __init__(self, port):
        self.port = port
        self.counts = {"overlay_loads": 0, "events": 0, "ws_connections": 0, "ws_messages": 0,
                       "hostile": 0, "malformed": 0, "failed": 0}
        self.problems = []
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._threads = [threading.Thread(target=self._loop, args=(period, job), daemon=True)
                         for period, job in ((OVERLAY_PERIOD, self._overlay), (WS_PERIOD, self._ws_client),
                                             (HOSTILE_PERIOD, self._hostile))]
        self._hostile_turn = 0
        for thread in self._threads:
            thread.start()

    def _note(self, key, problem=None):
        with self._lock:
            self.counts[key] += 1
            if problem and len(self.problems) < 20:
                self.problems.append("%s %s" % (time.strftime("%H:%M:%S"), problem))

    def _loop(self, period, job):
        """Runs `job(until)` back to back, each given `period` seconds, until stopped."""
        while not self._stop.is_set():
            until = time.monotonic() + period
            try:
                job(until)
            except (OSError, websocket.WebSocketException, ValueError) as e:
                # A client the endpoint failed (the program restarting after a crash counts too).
                self._note("failed", "%s: %r" % (job.__name__, e))
            self._stop.wait(max(0.0, until - time.monotonic()))

    def _overlay(self, until):
        page = web.request(self.port, "/overlay")
        if page.status != 200 or b"EventSource" not in page.body:
            self._note("failed", "overlay page: %d, %d bytes" % (page.status, len(page.body)))
            return
        self._note("overlay_loads")
        stream = web.EventStream(self.port)
        try:
            seen = 0
            while time.monotonic() < until and not self._stop.is_set():
                time.sleep(0.5)
                with stream._lock:
                    fresh = stream.events[seen:]
                seen += len(fresh)
                for name, data, _ in fresh:
                    why = event_problem(name, data)
                    self._note("malformed" if why else "events", why and "event stream: " + why)
                if stream.ended:
                    self._note("failed", "the event stream ended")
                    return
        finally:
            stream.close()

    def _ws_client(self, until):
        zones = [100, 140]
        ws = websocket.create_connection("ws://127.0.0.1:%d/ws?samples=1&zones=100,140" % self.port, timeout=5,
                                         suppress_origin=True)
        try:
            self._note("ws_connections")
            first = True
            while time.monotonic() < until and not self._stop.is_set():
                try:
                    text = ws.recv()
                except websocket.WebSocketTimeoutException:
                    continue  # no news for 5 s (the device is out): the connection stays
                why = ws_problem(text, zones)
                if not why and first and json.loads(text)["type"] != "state":
                    why = "the first message is not the state: %r" % text[:60]
                first = False
                self._note("malformed" if why else "ws_messages", why and "WebSocket: " + why)
            ws.send_close(1000)
            while True:
                opcode, frame = ws.recv_data_frame(True)
                if opcode == websocket.ABNF.OPCODE_CLOSE:
                    if frame.data[:2] != b"\x03\xe8":
                        self._note("failed", "WebSocket close answered with %r" % frame.data[:2])
                    break
        finally:
            ws.shutdown()

    def _hostile(self, until):
        """One refusal, in turn; each answer checked, then the endpoint must still serve status.json."""
        host = ("Host: 127.0.0.1:%d\r\n" % self.port).encode()
        upgrade = (b"GET /ws HTTP/1.1\r\n" + host + b"Upgrade: websocket\r\nConnection: Upgrade\r\n"
                   b"Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n")
        cases = [
            (b"GET /status.json HTTP/1.1\r\nHost: evil.example:%d\r\n\r\n" % self.port, b"HTTP/1.1 403 "),
            (b"GET / HTTP/1.1\r\n" + host + b"X: " + b"a" * 9000 + b"\r\n\r\n", b"HTTP/1.1 431 "),
            (b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03" + bytes(range(256)), b"HTTP/1.1 400 "),
            (upgrade + b"Origin: http://evil.example\r\n\r\n", b"HTTP/1.1 403 "),
            # Accepted, then an unmasked frame: closed with 1002.
            (upgrade + b"\r\n\x81\x02hi", b"\x88\x02\x03\xea"),
        ]
        sent, expected = cases[self._hostile_turn % len(cases)]
        self._hostile_turn += 1
        got = web.exchange(self.port, sent, timeout=15)
        if expected.startswith(b"HTTP") and not got.startswith(expected):
            self._note("failed", "hostile %r answered %r" % (sent[:30], got[:30]))
        elif not expected.startswith(b"HTTP") and expected not in got:
            self._note("failed", "hostile %r: no close 1002 in %r" % (sent[:30], got[-30:]))
        else:
            self._note("hostile")
        web.status(self.port)

    def stop(self):
        self._stop.set()
        for thread in self._threads:
            thread.join(40)
