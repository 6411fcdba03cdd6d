"""The web endpoint of the real program, from a client on the Linux side: status.json, the status page
and the event stream follow the device through live, stale, gone and live again, and bpm.txt keeps
following it. The sockets' own limits (the connection cap, a client that stops reading, a request that
never ends, a port already taken) are tested in-process by tests/win/web_server_win_test.cpp."""

import threading
import time
import unittest

import vintra_drive as vd
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


if __name__ == "__main__":
    unittest.main()
