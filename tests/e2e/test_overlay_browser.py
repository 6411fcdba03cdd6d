"""The overlay in a real browser: Debian's headless Chromium loads /overlay from
Vintra.exe under Wine and is judged by its pixels and its text. A streaming
program's browser source is the same engine."""

import http.server
import json
import threading
import time
import unittest

import vintra_drive as vd
from vintra_drive import browser

PORT = 5
SIZE = (640, 240)
# The program calls a rate stale 5 s after it came; the overlay has a second to show it.
NOT_LIVE_WITHIN = 6.0
WHITE, YELLOW = (255, 255, 255), (255, 208, 0)
SHADOW_ROOM = 16  # px around an element its soft shadow may reach

BPM_TEXT = "document.getElementById('bpm').textContent"
# Opens the program's WebSocket from the page it runs in; the first message, or how it closed.
OPEN_WEBSOCKET = """new Promise((done) => {
  const ws = new WebSocket("ws://127.0.0.1:%d/ws");
  ws.onmessage = (e) => { done("message " + e.data); ws.close(); };
  ws.onclose = (e) => done("closed " + e.code); })"""

def setUpModule():
    vd.start_session((PORT,))
    chromium["browser"] = browser.Browser()


def tearDownModule():
    try:
        chromium["browser"].stop()
    finally:
        vd.stop_session()


chromium = {"browser": None}  # one Chromium for the module; each case opens its own tabs


def element_box(page, element_id):
    """(left, top, right, bottom) of an element in the page, in whole pixels."""
    r = page.evaluate("(() => { const r = document.getElementById('%s').getBoundingClientRect();"
                      " return [r.left, r.top, r.right, r.bottom]; })()" % element_id)
    return (int(r[0]), int(r[1]), int(r[2] + 0.999), int(r[3] + 0.999))


def widened(box, by, picture):
    left, top, right, bottom = box
    return max(0, left - by), max(0, top - by), min(picture.width, right + by), min(picture.height, bottom + by)


def pixels_of(picture, box, colour):
    """The opaque pixels in box within 40 of `colour` on each channel."""
    left, top, right, bottom = box
    found = set()
    for y in range(top, bottom):
        for x in range(left, right):
            r, g, b, a = picture.pixel(x, y)
            if a > 200 and all(abs(c - k) <= 40 for c, k in zip((r, g, b), colour)):
                found.add((x, y))
    return found


class OverlayInChromium(unittest.TestCase):
    def launch(self, port_number):
        return vd.launch_for(self, b"%d 115200 %d" % (PORT, port_number))

    def open(self, port_number, query=""):
        page = chromium["browser"].open("http://127.0.0.1:%d/overlay%s" % (port_number, query), *SIZE)
        self.addCleanup(page.close)
        return page

    def wait_text(self, page, text, timeout=vd.EVENT_TIMEOUT):
        page.wait_for("%s === %r" % (BPM_TEXT, text), timeout,
                      lambda: "the overlay to show %r (it shows %r, state %r)" % (
                          text, page.evaluate(BPM_TEXT), page.evaluate("document.body.dataset.state")))

    def check_live_picture(self, page, digits_colour, name):
        """The picture of a live overlay: digits drawn, a trace that moves, nothing else anywhere.
        Returns the digit pixels; the picture is kept in the shots folder as `name`."""
        bpm, trace = element_box(page, "bpm"), element_box(page, "trace")

        def ready():  # digits and a trace with some length (it refills after a Delete)
            picture = page.screenshot()
            ok = len(pixels_of(picture, bpm, digits_colour)) > 150 and len(picture.drawn_pixels(trace)) > 300
            return picture if ok else None
        picture = vd.wait_until(ready, what="digits and a trace drawn in %s and %s" % (bpm, trace))
        picture.save_png(name)
        digits = pixels_of(picture, bpm, digits_colour)
        drawn = picture.drawn_pixels(trace)
        # Transparent wherever nothing is drawn: every pixel away from the page's parts.
        parts = [widened(element_box(page, name), SHADOW_ROOM, picture) for name in ("rate", "trace", "history")]
        stray = [p for p in picture.drawn_pixels(alpha=1)
                 if not any(l <= p[0] < r and t <= p[1] < b for l, t, r, b in parts)]
        self.assertEqual([], stray[:5], "pixels drawn away from the overlay's parts")
        self.assertGreater(picture.width * picture.height - len(picture.drawn_pixels(alpha=1)), SIZE[0] * 60,
                           "a transparent background")
        # The trace moves: a later picture draws it elsewhere.
        vd.wait_until(lambda: page.screenshot().drawn_pixels(trace) != drawn, what="the trace to move")
        return digits

    def test_the_rate_is_shown_only_while_live(self):
        web_port = vd.free_port()
        device = vd.plug_device(self, PORT)
        run = self.launch(web_port)
        heart = vd.Heartbeat(device, rate=77)
        self.addCleanup(heart.stop)
        page = self.open(web_port, "?parts=rate,trace,history")
        hiding = self.open(web_port, "?nolive=hide&color=%23ffd000&size=48")

        self.wait_text(page, "77")
        self.wait_text(hiding, "77")
        digits77 = self.check_live_picture(page, WHITE, "overlay-live.png")
        self.check_live_picture(hiding, YELLOW, "overlay-hiding-live.png")
        history = element_box(page, "history")
        vd.wait_until(lambda: len(page.screenshot().drawn_pixels(history)) > 100, what="the history drawn (two rates)")

        with self.subTest("a page opened after data flows starts with what the rings hold"):
            # Nothing new reaches the program while the lock is held: what the late page draws
            # came in its stream's opening.
            with heart.lock:
                device.wait_drained()
                late = self.open(web_port, "?parts=rate,trace,history")
                trace, history = element_box(late, "trace"), element_box(late, "history")

                def whole():  # the ring's samples span the trace; two rates or more draw the history
                    picture = late.screenshot()
                    columns = {x for x, _ in picture.drawn_pixels(trace)}
                    return (columns and max(columns) - min(columns) > (trace[2] - trace[0]) // 2 and
                            len(picture.drawn_pixels(history)) > 100)
                vd.wait_until(whole, what="the late page's trace across half its width, and its history")

        with self.subTest("leads off: samples go on, rates stop"):
            last_beat = heart.stop_beats()
            self.wait_text(page, "--", last_beat + NOT_LIVE_WITHIN - time.monotonic())
            self.assertEqual("stale", page.evaluate("document.body.dataset.state"))
            # The hiding overlay fades out whole.
            vd.wait_until(lambda: not hiding.screenshot().drawn_pixels(alpha=1), what="the hiding overlay gone")
            # The samples did go on: the dimmed trace still moves.
            trace = element_box(page, "trace")
            before = page.screenshot().drawn_pixels(trace, alpha=1)
            vd.wait_until(lambda: page.screenshot().drawn_pixels(trace, alpha=1) != before, what="the trace to move")
            page.screenshot().save_png("overlay-leads-off.png")

        with self.subTest("rates come back"):
            heart.rate = 93
            heart.beating = True
            self.wait_text(page, "93")
            digits93 = self.check_live_picture(page, WHITE, "overlay-live-again.png")
            self.assertNotEqual(digits77, digits93, "other digits drawn for another rate")
            self.wait_text(hiding, "93")
            self.check_live_picture(hiding, YELLOW, "overlay-hiding-live-again.png")

        with self.subTest("unplugged"):
            with heart.lock:
                device.unplug()
                unplugged = time.monotonic()
            self.wait_text(page, "--", unplugged + NOT_LIVE_WITHIN - time.monotonic())
            vd.wait_until(lambda: page.evaluate("document.body.dataset.state") == "gone", what="the state gone")

        with self.subTest("Delete empties the trace and the history"):
            run.key("Delete")
            vd.wait_until(lambda: not page.screenshot().drawn_pixels(element_box(page, "trace"), alpha=1) and
                          not page.screenshot().drawn_pixels(element_box(page, "history"), alpha=1),
                          what="the trace and the history emptied")

        with self.subTest("plugged in again"):
            heart.rate = 64
            with heart.lock:
                device.plug()
            self.wait_text(page, "64")
            self.check_live_picture(page, WHITE, "overlay-replugged.png")
            self.wait_text(hiding, "64")
        run.wait_bpm(b"64")

    def test_settings_from_the_address_are_checked(self):
        web_port = vd.free_port()
        self.launch(web_port)  # no device: nothing live
        default = {"color": "rgb(255, 255, 255)", "size": "64px", "weight": "700", "history": True, "trace": False}
        # Each row: query, what differs from the defaults.
        rows = [
            ("?color=%23ffd000&size=40&weight=400&parts=rate,history",
             {"color": "rgb(255, 208, 0)", "size": "40px", "weight": "400", "history": False, "trace": True}),
            ("?color=red;background:url(x)&size=9999&weight=950&parts=evil", {}),
            ("?color=var(--trace)&size=-5&weight=bold;x&parts=rate,,trace", {}),
            ("?color=%3Cimg%20src=x%20onerror=alert(1)%3E&font=%22%3E%3Cb%3Ex", {}),
        ]
        probe = ("(() => { const s = getComputedStyle(document.body);"
                 " return {color: s.color, size: s.fontSize, weight: s.fontWeight,"
                 " history: document.getElementById('history').hidden,"
                 " trace: document.getElementById('trace').hidden,"
                 " elements: document.querySelectorAll('*').length, font: s.fontFamily}; })()")
        baseline = None
        for query, changes in rows:
            with self.subTest(query=query):
                page = self.open(web_port, query)
                self.wait_text(page, "--")
                seen = page.evaluate(probe)
                expected = dict(default, **changes)
                self.assertEqual(expected, {k: seen[k] for k in expected})
                # Nothing from the address became markup.
                baseline = baseline or seen["elements"]
                self.assertEqual(baseline, seen["elements"])
                self.assertNotIn("<", seen["font"])

    def test_zones_colour_the_digits_and_the_heart(self):
        web_port = vd.free_port()
        device = vd.plug_device(self, PORT)
        self.launch(web_port)
        heart = vd.Heartbeat(device, rate=90)
        self.addCleanup(heart.stop)
        zoned = self.open(web_port, "?zones=100&zonecolors=%23ffffff,%23ffd000")
        # Each falls back to no zones: a colour short, a colour that is not one, thresholds not ascending.
        unzoned = [self.open(web_port, query) for query in (
            "?zones=100&zonecolors=%23ffd000", "?zones=100&zonecolors=%23fff,var(--trace)",
            "?zones=100,90&zonecolors=%23fff,%23ffd000,red")]
        probe = ("[getComputedStyle(document.getElementById('bpm')).color,"
                 " getComputedStyle(document.getElementById('heart')).fill]")
        white, yellow, red = "rgb(255, 255, 255)", "rgb(255, 208, 0)", "rgb(255, 61, 90)"
        # Each step: the rate, then the zoned page's digits and heart (the others keep white and red).
        for rate, colours in ((90, [white, white]), (120, [yellow, yellow]), (98, [yellow, yellow]),
                              (95, [white, white])):
            with self.subTest(rate=rate):
                heart.rate = rate
                for page in [zoned] + unzoned:
                    self.wait_text(page, str(rate))
                self.assertEqual(colours, zoned.evaluate(probe))
                for page in unzoned:
                    self.assertEqual([white, red], page.evaluate(probe))
                if rate == 120:
                    vd.wait_until(lambda: len(pixels_of(zoned.screenshot(), element_box(zoned, "bpm"), YELLOW)) > 150,
                                  what="yellow digits drawn")

    def test_the_builder_makes_the_url_and_the_preview_follows_it(self):
        web_port = vd.free_port()
        self.launch(web_port)  # no device: the preview shows "--"
        self.assertIn(b'href="/builder"', vd.web_client.request(web_port, "/").body)
        page = chromium["browser"].open("http://127.0.0.1:%d/builder" % web_port, 1200, 800)
        self.addCleanup(page.close)
        preview_text = ("(() => { const d = document.getElementById('preview').contentDocument;"
                        " return d && d.getElementById('bpm') ? d.getElementById('bpm').textContent : null; })()")
        base = "http://127.0.0.1:%d/overlay" % web_port
        dark, light = (29, 33, 48), (242, 242, 242)
        # Each step: controls changed, then the URL, the browser source's size and the preview's background.
        steps = [
            ({}, "", (640, 100), dark),
            ({"color": "#ffd000"}, "?color=%23ffd000", (640, 100), dark),
            ({"part-history": True, "size": "32", "background": "light"},
             "?parts=rate,trace,history&color=%23ffd000&size=32", (320, 80), light),
            ({"zones": "100, 140", "zonecolors": "#fff,rgb(255,204,0),red", "nolive": "hide"},
             "?parts=rate,trace,history&color=%23ffd000&size=32&zones=100,140"
             "&zonecolors=%23fff,rgb(255,204,0),red&nolive=hide", (320, 80), light),
        ]
        for changes, query, size, background in steps:
            with self.subTest(query=query):
                for control, value in changes.items():
                    page.evaluate("((e, v) => { if (e.type === 'checkbox') e.checked = v; else e.value = v;"
                                  " e.dispatchEvent(new Event('input', {bubbles: true})); })"
                                  "(document.getElementById(%r), %s)" % (control, json.dumps(value)))
                self.assertEqual(base + query, page.evaluate("document.getElementById('url').value"))
                self.assertEqual([str(size[0]), str(size[1])], page.evaluate(
                    "['width', 'height'].map((id) => document.getElementById(id).textContent)"))
                # The preview is the overlay at that URL: its query reaches it and nothing else does.
                page.wait_for("document.getElementById('preview').contentWindow.location.search === %r" % query)
                if "nolive=hide" not in query:
                    page.wait_for("%s === '--'" % preview_text)
                box = element_box(page, "preview")
                self.assertEqual(list(size), page.evaluate(
                    "(e => [e.clientWidth, e.clientHeight])(document.getElementById('preview'))"))
                corner = (box[2] - 4, box[1] + 3)
                vd.wait_until(lambda: page.screenshot().pixel(*corner)[:3] == background,
                              what="the preview over %s" % (background,))
                yellow = lambda: len(pixels_of(page.screenshot(), box, YELLOW))
                if query == "?color=%23ffd000":
                    vd.wait_until(lambda: yellow() > 100, what="yellow -- in the preview")
                elif not query:
                    self.assertLess(yellow(), 10)

    def test_websocket_from_the_overlays_origin_only(self):
        web_port = vd.free_port()
        self.launch(web_port)  # no device: the state is absent
        own = self.open(web_port)
        self.wait_text(own, "--")
        self.assertEqual('message {"type":"state","state":"absent"}', own.evaluate(OPEN_WEBSOCKET % web_port))
        # A page of another origin on this machine.
        other = http.server.ThreadingHTTPServer(("127.0.0.2", 0), OtherSite)
        self.addCleanup(other.server_close)
        threading.Thread(target=other.serve_forever, daemon=True).start()
        self.addCleanup(other.shutdown)
        page = chromium["browser"].open("http://127.0.0.2:%d/" % other.server_address[1], *SIZE)
        self.addCleanup(page.close)
        page.wait_for("document.title === 'other'")
        # Refused at the handshake (403): the browser reports an abnormal close.
        self.assertEqual("closed 1006", page.evaluate(OPEN_WEBSOCKET % web_port))


class OtherSite(http.server.BaseHTTPRequestHandler):
    """Serves one empty page: another site, for the browser."""

    def do_GET(self):
        body = b"<!doctype html><title>other</title>"
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


if __name__ == "__main__":
    unittest.main()
