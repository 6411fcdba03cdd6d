"""The web endpoint of the real program, from a client on the Linux side: status.json and the event
stream follow the device through live, stale, gone and live again; WebSocket clients nobody here wrote
(Debian's python3-websocket and node-ws) get the state, rates, zones and samples and are closed with the
right codes; hostile and stuck clients are refused or dropped; a port already taken leaves the program
running without the endpoint. Throughout, bpm.txt keeps following the device."""

import json
import os
import select
import subprocess
import socket
import threading
import time
import unittest

import websocket

import vintra_drive as vd
from vintra_drive import paths
from vintra_drive import web_client as web

PORT = 5
# The program calls a rate live for 5 s; a state change then reaches the clients at the next tick.
STATE_CHANGE = 5.0 + 3.0


def setUpModule():
    vd.start_session((PORT,))


def tearDownModule():
    vd.stop_session()


class Feeder:
    """Writes S lines into a device, about `rate` a second, and a B line every 50th while `beats` is set."""

    def __init__(self, device, rate=500):
        self.device = device
        self.rate = rate
        self.beats = threading.Event()
        self.beats.set()
        self.count = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop.is_set():
            lines = []
            for _ in range(max(1, self.rate // 50)):
                self.count += 1
                lines.append(b"S%d\r\n" % (self.count % 1000))
                if self.count % 50 == 0 and self.beats.is_set():
                    lines.append(b"B%d\r\n" % (60 + self.count // 50 % 40))
            if self.device.plugged():
                self.device.write(b"".join(lines))
            time.sleep(0.02)

    def stop(self):
        self._stop.set()
        self._thread.join(5)


def start(test, feeder_rate=None):
    """Vintra on COM5 with the endpoint on a free port and a set-up device; returns (run, device, web port)."""
    web_port = vd.free_port()
    device = vd.plug_device(test, PORT)
    run = vd.launch_for(test, b"%d 115200 %d" % (PORT, web_port))
    device.wait_set_up(115200)
    vd.wait_until(lambda: vd.listening_addresses(web_port), what="the endpoint to listen")
    return run, device, web_port


def ended(socks):
    """The sockets whose connection the other end has closed or reset (readable with nothing to read)."""
    readable, _, _ = select.select(socks, [], [], 0)
    gone = []
    for sock in readable:
        try:
            if sock.recv(1, socket.MSG_PEEK) == b"":
                gone.append(sock)
        except ConnectionResetError:
            gone.append(sock)
    return gone


def check_bpm_follows(test, run, device, value):
    """A B line written now lands in bpm.txt."""
    device.write(b"B%d\r\n" % value)
    run.wait_bpm(b"%d" % value)


class StatusFollowsTheDevice(unittest.TestCase):
    def test_live_stale_gone_and_live_again_in_status_json_and_the_event_stream(self):
        run, device, web_port = start(self)
        self.assertEqual(["127.0.0.1:%d" % web_port], vd.listening_addresses(web_port), "loopback only")
        feeder = Feeder(device)
        self.addCleanup(feeder.stop)
        live = vd.wait_status(web_port, lambda s: s["state"] == "live", "the state live")
        self.assertEqual(("COM5", 115200), (live["port"], live["baud"]))
        stream = web.EventStream(web_port)
        self.addCleanup(stream.close)
        # A stream opened mid-run starts with the state and what the rings hold.
        vd.wait_until(lambda: len(stream.events) >= 3, what="the stream's opening")
        self.assertEqual([("state", "live")], [e[:2] for e in stream.events[:1]])
        self.assertEqual("samples", stream.events[1][0])
        self.assertEqual("text/event-stream", stream.head.headers["content-type"])

        # Each B line: its digits in bpm.txt, status.json and the stream alike.
        for value in (61, 142):
            with self.subTest(rate=value):
                feeder.beats.clear()
                time.sleep(0.1)
                device.write(b"B%d\r\n" % value)
                run.wait_bpm(b"%d" % value)
                stream.wait_event("rate", str(value), after=0)
                # lines_per_s counts whole seconds: the first one after start-up may not be over yet.
                now = vd.wait_status(web_port, lambda s: s["rate"] == value and s["lines_per_s"] > 100,
                                     "the rate in status.json")
                self.assertEqual(("live", 0), (now["state"], now["rejected_lines"]))
                self.assertLess(now["rate_age_ms"], 5000)
                feeder.beats.set()

        # Leads off: samples go on, rates stop.
        mark = stream.mark()
        feeder.beats.clear()
        stream.wait_event("state", "stale", STATE_CHANGE, mark)
        stale = vd.wait_status(web_port, lambda s: s["state"] == "stale", "the state stale")
        self.assertGreater(stale["rate_age_ms"], 5000)
        self.assertGreater(stale["lines_per_s"], 100)
        page = web.request(web_port, "/")
        self.assertIn(b"but no beat rate in 5 s", page.body)

        # Unplugged, then back: gone, then live with the first new rate.
        mark = stream.mark()
        feeder.beats.set()
        stream.wait_event("state", "live", after=mark)
        unplugged = stream.mark()
        device.unplug()
        stream.wait_event("state", "gone", after=unplugged)
        self.assertEqual("gone", web.status(web_port)["state"])
        self.assertIn(b"COM5 went away", web.request(web_port, "/").body)
        mark = stream.mark()
        device.plug()
        device.wait_set_up(115200)
        stream.wait_event("state", "live", STATE_CHANGE, mark)
        # Back through stale (open, no rate on the new connection yet) at most.
        states = stream.named("state", unplugged)
        self.assertEqual(("gone", "live"), (states[0], states[-1]), states)
        self.assertLessEqual(set(states[1:-1]), {"stale"}, states)
        self.assertFalse(stream.ended)
        check_bpm_follows(self, run, device, 77)
        self.assertEqual(0, run.close())


class HostileAndStuckClients(unittest.TestCase):
    def test_refused_dropped_and_turned_away_while_bpm_txt_follows_the_device(self):
        run, device, web_port = start(self)
        feeder = Feeder(device, rate=2000)
        self.addCleanup(feeder.stop)
        vd.wait_status(web_port, lambda s: s["state"] == "live", "the state live")

        with self.subTest("refusals"):
            # Each row: what is sent, the status line's code, the body.
            host = b"Host: 127.0.0.1:%d\r\n" % web_port
            for sent, code, body in (
                    (b"GET /status.json HTTP/1.1\r\nHost: evil.example:%d\r\n\r\n" % web_port, 403, b"Forbidden\n"),
                    (b"GET / HTTP/1.1\r\nHost: localhost\r\n\r\n", 403, b"Forbidden\n"),
                    (b"POST / HTTP/1.1\r\n" + host + b"Content-Length: 4\r\n\r\nabcd", 405, b"Method not allowed\n"),
                    (b"GET /bpm.txt HTTP/1.1\r\n" + host + b"\r\n", 404, b"Not found\n"),
                    (b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03" + bytes(range(256)), 400, b"Bad request\n"),
                    (b"GET / HTTP/1.1\r\n" + host + b"X: " + b"a" * 9000 + b"\r\n\r\n", 431,
                     b"Request too large\n")):
                answer = web.Response(web.exchange(web_port, sent))
                self.assertEqual((code, body), (answer.status, answer.body), sent[:40])
                self.assertNotIn("access-control-allow-origin", answer.headers)
            head = web.request(web_port, "/status.json", method="HEAD")
            self.assertEqual((200, b""), (head.status, head.body))
            check_bpm_follows(self, run, device, 91)

        with self.subTest("a client that never reads is dropped"):
            stuck = web.connect(web_port, receive_buffer=4096)
            self.addCleanup(stuck.close)
            stuck.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % web_port)
            # The program resets the connection once its queue for it is full; the socket shows the reset
            # without being read.
            vd.wait_until(lambda: stuck.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) != 0, 60,
                          "the program to drop the client that never reads")
            self.assertGreater(web.status(web_port)["lines_per_s"], 1000, "the program kept draining")
            check_bpm_follows(self, run, device, 92)

        with self.subTest("more than 16 connections"):
            held = [web.connect(web_port) for _ in range(20)]
            for sock in held:
                self.addCleanup(sock.close)
            # Four are turned away at once: they end without a byte, while the others wait for a request.
            vd.wait_until(lambda: len(ended(held)) >= 4, what="four connections turned away")
            check_bpm_follows(self, run, device, 93)
            self.assertEqual(4, len(ended(held)))
            # Requests that never end are closed after 10 s, which frees the slots.
            waiting = [sock for sock in held if sock not in ended(held)]
            waiting[0].sendall(b"GET / HTTP/1.1\r\n")
            for sock in waiting:
                sock.settimeout(15)
                self.assertEqual(b"", web.read_to_end(sock))
            self.assertEqual("live", web.status(web_port)["state"])
            check_bpm_follows(self, run, device, 94)
        self.assertEqual(0, run.close())


# A node-ws client: prints each message as a line, closes normally once it has had a rate and samples, and
# prints the close code it got back.
NODE_CLIENT = r"""
const WebSocket = require("ws");
const ws = new WebSocket(process.argv[1]);
const seen = new Set();
ws.on("message", (data, binary) => {
  console.log(binary ? "binary" : data.toString());
  seen.add(JSON.parse(data.toString()).type);
  if (seen.has("rate") && seen.has("samples") && ws.readyState === WebSocket.OPEN) ws.close(1000);
});
ws.on("close", (code) => { console.log("close " + code); process.exit(0); });
ws.on("error", (e) => { console.log("error " + e.message); process.exit(1); });
"""


def ws_messages(ws, until):
    """The JSON messages received until one equals `until` (that one included)."""
    got = []
    while not got or got[-1] != until:
        got.append(json.loads(ws.recv()))
    return got


def next_frame(ws, opcode):
    """The payload of the next frame of this kind the program sends (other frames skipped)."""
    while True:
        got, frame = ws.recv_data_frame(True)
        if got == opcode:
            return frame.data


def close_code(ws):
    return int.from_bytes(next_frame(ws, websocket.ABNF.OPCODE_CLOSE)[:2], "big")


class WebSocketClients(unittest.TestCase):
    def test_python_and_node_clients_get_the_news_and_the_close_codes(self):
        run, device, web_port = start(self)
        url = "ws://127.0.0.1:%d/ws" % web_port

        def connect(query="", **options):
            ws = websocket.create_connection(url + query, timeout=vd.EVENT_TIMEOUT, **options)
            self.addCleanup(ws.close)
            return ws

        with self.subTest("zones, from a client that sends no Origin"):
            ws = connect("?zones=100", suppress_origin=True)
            self.assertEqual({"type": "state", "state": "stale"}, json.loads(ws.recv()))
            device.write(b"".join(b"B%d\r\n" % bpm for bpm in (90, 101, 99, 98, 96, 104)))
            got = ws_messages(ws, {"type": "zone", "zone": 1, "bpm": 104})
            self.assertEqual([{"type": "state", "state": "live"},
                              {"type": "rate", "bpm": 90}, {"type": "zone", "zone": 0, "bpm": 90},
                              {"type": "rate", "bpm": 101}, {"type": "zone", "zone": 1, "bpm": 101},
                              {"type": "rate", "bpm": 99}, {"type": "rate", "bpm": 98},
                              {"type": "rate", "bpm": 96}, {"type": "zone", "zone": 0, "bpm": 96},
                              {"type": "rate", "bpm": 104}, {"type": "zone", "zone": 1, "bpm": 104}], got)
            ws.ping("are you there")
            self.assertEqual(b"are you there", next_frame(ws, websocket.ABNF.OPCODE_PONG))
            # A late client, with the Origin the library sends by default (the endpoint's own): the state,
            # the latest rate and its zone.
            device.write(b"B105\r\n")
            run.wait_bpm(b"105")
            late = connect("?zones=100,140")
            self.assertEqual([{"type": "state", "state": "live"}, {"type": "rate", "bpm": 105},
                              {"type": "zone", "zone": 1, "bpm": 105}], [json.loads(late.recv()) for _ in range(3)])
            late.send_close(1000, b"bye")
            self.assertEqual(1000, close_code(late))

        with self.subTest("refusals and close codes"):
            for origin in ("http://127.0.0.2:%d" % web_port, "http://evil.example", "null"):
                with self.assertRaises(websocket.WebSocketBadStatusException) as refused:
                    connect(origin=origin)
                self.assertEqual(403, refused.exception.status_code, origin)
            for send, code in ((lambda w: w.send_binary(b"\x00"), 1003),
                               (lambda w: w.send(b"\xc0\xaf", websocket.ABNF.OPCODE_TEXT), 1007),
                               (lambda w: w.send("x" * 4097), 1009),
                               (lambda w: w.sock.sendall(b"\x81\x02hi"), 1002)):  # unmasked
                ws = connect()
                ws.recv()  # the state
                send(ws)
                self.assertEqual(code, close_code(ws))
            check_bpm_follows(self, run, device, 71)

        with self.subTest("node-ws with samples"):
            feeder = Feeder(device)
            self.addCleanup(feeder.stop)
            node = subprocess.run([paths.NODE, "-e", NODE_CLIENT, url + "?samples=1"], capture_output=True,
                                  text=True, timeout=vd.EVENT_TIMEOUT, env=dict(os.environ, NODE_PATH=paths.NODE_PATH))
            lines = node.stdout.splitlines()
            self.assertEqual((0, "close 1000"), (node.returncode, lines[-1]), node.stdout + node.stderr)
            messages = [json.loads(line) for line in lines[:-1]]
            self.assertEqual("state", messages[0]["type"])
            samples = [m["values"] for m in messages if m["type"] == "samples"]
            self.assertTrue(samples and all(0 <= v < 1000 for v in samples[0]), samples)
            self.assertTrue(all(60 <= m["bpm"] < 100 for m in messages if m["type"] == "rate"), messages)
        self.assertEqual(0, run.close())


class PortTaken(unittest.TestCase):
    def test_the_program_runs_without_the_endpoint_and_says_so(self):
        web_port = vd.free_port()
        taken = socket.socket()
        self.addCleanup(taken.close)
        taken.bind(("127.0.0.1", web_port))
        taken.listen()
        device = vd.plug_device(self, PORT)
        run = vd.launch_for(self, b"%d 115200 %d" % (PORT, web_port))
        device.wait_set_up(115200)
        run.wait_echo(b"Vintra: web port %d in use, overlay off" % web_port)
        check_bpm_follows(self, run, device, 88)
        self.assertEqual(0, run.close())


if __name__ == "__main__":
    unittest.main()
