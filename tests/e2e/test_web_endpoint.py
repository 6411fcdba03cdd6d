"""The web endpoint of the real program, from a client on the Linux side: status.json, the status page
and the event stream follow the device through live, stale, gone and live again, and bpm.txt keeps
following it; WebSocket clients nobody here wrote (Debian's python3-websocket and node-ws) get the state,
rates, zones and samples and the right close codes; liblo hears the OSC; LibreOffice reads the session.
The sockets' own limits (the connection cap, a client that stops reading, a request that never ends, a
port already taken) are tested in-process by tests/win/web_server_win_test.cpp."""

import datetime
import json
import os
import re
import subprocess
import socket
import tempfile
import threading
import time
import unittest
import zoneinfo

import websocket

import vintra_drive as vd
from vintra_drive import osc_dump
from vintra_drive import spreadsheet
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


AVATAR = "/avatar/parameters/"
# What one stored rate sends, each its own datagram, in this order.
AVATAR_SET = ["HeartRateInt", "HeartRateFloat", "HeartRateFloat01", "HR", "HeartBeatToggle", "isHRConnected"]


class OscForAvatars(unittest.TestCase):
    def test_liblo_receives_each_rate_the_repeat_and_the_end_of_live(self):
        osc_port = osc_dump.free_udp_port()
        receiver = osc_dump.OscDump(osc_port)
        self.addCleanup(receiver.close)
        web_port = vd.free_port()
        device = vd.plug_device(self, PORT)
        run = vd.launch_for(self, b"%d 115200 %d %d" % (PORT, web_port, osc_port))
        device.wait_set_up(115200)
        vd.wait_until(lambda: vd.listening_addresses(web_port), what="the endpoint to listen")
        vd.wait_status(web_port, lambda s: s["state"] == "stale", "the state stale")
        self.assertEqual([], receiver.named(AVATAR + "isHRConnected"), "nothing before the first rate")

        toggles = []
        for value in (61, 61, 142, 0, 254):
            mark = receiver.mark()
            device.write(b"B%d\r\n" % value)
            receiver.wait_message(AVATAR + "isHRConnected", "T", mark)
            got = receiver.since(mark)[:len(AVATAR_SET)]
            with self.subTest(rate=value):
                self.assertEqual([AVATAR + name for name in AVATAR_SET], [m[1] for m in got])
                self.assertEqual(["i", "f", "f", "i"], [m[2] for m in got[:4]])
                self.assertEqual([str(value)] * 2, [got[0][3][0], got[3][3][0]])
                self.assertAlmostEqual(value / 127.5 - 1, float(got[1][3][0]), places=5)
                self.assertAlmostEqual(value / 255, float(got[2][3][0]), places=5)
                toggles.append(got[4][2])
        self.assertEqual(["T", "F", "T", "F", "T"], toggles, "the beat toggle flips with every stored rate")

        # No rate for a while: the same values again, with the toggle left as it was, until live ends.
        mark = receiver.mark()
        receiver.wait_message(AVATAR + "HeartRateInt", "254", mark)
        off = receiver.wait_message(AVATAR + "isHRConnected", "F", mark, STATE_CHANGE)
        self.assertEqual("stale", web.status(web_port)["state"])
        between = [m for m in receiver.since(mark) if m[0] <= off[0]]
        self.assertEqual({"T"}, {m[2] for m in between if m[1] == AVATAR + "HeartBeatToggle"})
        self.assertGreaterEqual(len([m for m in between if m[1] == AVATAR + "HeartRateInt"]), 3,
                                "a set at least once a second through the 5 s of live")

        # Gone and back: after the one false, silence until the first rate of the new connection.
        after_off = receiver.mark()
        device.unplug()
        vd.wait_status(web_port, lambda s: s["state"] == "gone", "the state gone")
        device.plug()
        device.wait_set_up(115200)
        vd.wait_status(web_port, lambda s: s["state"] == "stale", "the state stale on the new connection")
        self.assertEqual([], receiver.since(after_off), "nothing while not live")
        device.write(b"B77\r\n")
        run.wait_bpm(b"77")
        back = receiver.wait_message(AVATAR + "isHRConnected", "T", after_off)
        self.assertEqual([AVATAR + name for name in AVATAR_SET],
                         [m[1] for m in receiver.since(after_off) if m[0] <= back[0]])
        self.assertEqual(0, run.close())


NO_SESSION = {"since": None, "count": 0, "min": None, "avg": None, "max": None}
ISO_ROW = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,\d{1,3}$")


class SessionRecord(unittest.TestCase):
    def test_every_rate_in_status_the_page_and_a_csv_that_libreoffice_reads_until_delete(self):
        # Wine takes the time zone from TZ: one whose offset is negative and not whole hours.
        zone = "America/St_Johns"
        self.addCleanup(lambda old=os.environ.get("TZ"): os.environ.pop("TZ") if old is None
                        else os.environ.update(TZ=old))
        os.environ["TZ"] = zone
        run, device, web_port = start(self)
        self.assertEqual(NO_SESSION, web.status(web_port)["session"])
        # Enough rates for the download to take several fills of the program's 16 KB queue.
        sent = [40 + i * 7 % 200 for i in range(1500)] + [0, 254]
        before = datetime.datetime.now(datetime.timezone.utc)
        for at in range(0, len(sent), 100):
            device.write(b"".join(b"B%d\r\n" % v for v in sent[at:at + 100]))
        run.wait_bpm(b"254")
        session = vd.wait_status(web_port, lambda s: s["session"]["count"] == len(sent), "every rate in the session")
        after = datetime.datetime.now(datetime.timezone.utc)
        self.assertEqual((0, round(sum(sent) / len(sent), 1), 254),
                         (session["session"]["min"], session["session"]["avg"], session["session"]["max"]))

        page = web.request(web_port, "/").body
        self.assertIn(b"<b>%d</b> beat rates" % len(sent), page)
        self.assertIn(b"<svg", page)
        self.assertNotIn(b"<script", page)

        answer = web.request(web_port, "/session.csv")
        self.assertEqual(200, answer.status)
        self.assertRegex(answer.headers["content-disposition"],
                         r'^attachment; filename="vintra-session-\d{4}-\d\d-\d\d\.csv"$')
        answer.body.decode("ascii")
        lines = answer.body.split(b"\r\n")
        self.assertEqual(b"", lines.pop(), "every line ends in CR LF")
        self.assertEqual(b"time,bpm", lines[0])
        rows = [line.decode().split(",") for line in lines[1:]]
        self.assertTrue(all(ISO_ROW.match(",".join(row)) for row in rows), rows[:3])
        self.assertEqual(sent, [int(bpm) for _, bpm in rows])
        times = [datetime.datetime.fromisoformat(t) for t, _ in rows]
        self.assertEqual(times, sorted(times))
        offset = datetime.datetime.now(zoneinfo.ZoneInfo(zone)).utcoffset()
        self.assertEqual({offset}, {t.utcoffset() for t in times}, "local time with the zone's offset")
        self.assertEqual(session["session"]["since"], rows[0][0])
        # The program's clock is this machine's; 1 s covers the tick's resolution both sides.
        second = datetime.timedelta(seconds=1)
        self.assertTrue(before - second <= times[0] and times[-1] <= after + second, (before, times[0], after))

        with tempfile.TemporaryDirectory(prefix="vintra-session-") as folder:
            path = os.path.join(folder, "session.csv")
            with open(path, "wb") as f:
                f.write(answer.body)
            # A locale with decimal commas and day-first dates reads it the same.
            for locale in ("en_US.UTF-8", "de_DE.UTF-8"):
                with self.subTest(locale=locale):
                    cells = spreadsheet.calc_cells(path, locale)
                    self.assertEqual([("string", "time"), ("string", "bpm")], cells[0])
                    self.assertEqual(len(sent), len(cells) - 1)
                    self.assertEqual([("float", str(v)) for v in sent], [row[1] for row in cells[1:]])
                    self.assertEqual([t for t, _ in rows], [row[0][1] for row in cells[1:]])

        run.key("Delete")
        vd.wait_status(web_port, lambda s: s["session"] == NO_SESSION, "Delete to start a new session")
        device.write(b"B66\r\n")
        fresh = vd.wait_status(web_port, lambda s: s["session"]["count"] == 1, "the new session's first rate")
        self.assertEqual((66, 66.0, 66), (fresh["session"]["min"], fresh["session"]["avg"], fresh["session"]["max"]))
        self.assertEqual(2, len(web.request(web_port, "/session.csv").body.split(b"\r\n")) - 1)
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


class WindowsAsUsersHaveIt(unittest.TestCase):
    def test_bpm_txt_that_cannot_be_written_is_failing_until_it_can_be_again(self):
        web_port = vd.free_port()
        device = vd.plug_device(self, PORT)
        run = vd.launch_for(self, b"%d 115200 %d" % (PORT, web_port))
        os.mkdir(run.path("bpm.txt"))  # as a protected folder refuses the file
        device.wait_set_up(115200)
        vd.send_until_echoed(run, device, b"B70\r\n", b"B70")
        status = web.wait_status(web_port, lambda s: s["bpm_file"] == "failing", "bpm_file failing")
        self.assertEqual("ok", status["config_file"])
        self.assertIn({"port": "COM%d" % PORT, "name": None}, status["ports"], "Wine names no mapped port")
        page = web.request(web_port, "/").body.decode()
        self.assertIn("Vintra cannot write bpm.txt in <code>", page)
        self.assertEqual([], [name for name in os.listdir(run.folder) if name not in ("bpm.txt", "vintra.config")])

        os.rmdir(run.path("bpm.txt"))
        check_bpm_follows(self, run, device, 71)
        web.wait_status(web_port, lambda s: s["bpm_file"] == "ok", "bpm_file ok again")
        self.assertNotIn("cannot write", web.request(web_port, "/").body.decode())
        self.assertEqual(0, run.close())


if __name__ == "__main__":
    unittest.main()
