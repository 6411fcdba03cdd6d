#!/usr/bin/env python3
"""The overlay's figures: Vintra.exe under Wine with its web endpoint and the
overlay page in Debian's headless Chromium (not part of the tests).

    tools/perf/overlay_bench.py [--rates N] [--cpu-seconds S] [--minutes M] [--only NAME ...] [--json OUT]

    latency  from a B line written to the device until the overlay shows its digits (N rates)
    osc      from a B line written to the device until its HeartRateInt datagram arrives (N rates)
    ws       from a B line written to the device until its rate message reaches a WebSocket client (N rates)
    session  a full session record (367,200 rates: a day at 254 bpm) downloaded as /session.csv: its
             time, size and rows, and Vintra's memory before and after the record filled
    cpu      Vintra's CPU at 500 samples a second with no client, with two overlays open in Chromium,
             with two plain readers of /events, and with every kind at once (a WebSocket client for
             rates, one for samples, OSC on and two overlays)
    bpm      the B-line-to-bpm.txt latency without and with two overlays open
    memory   Vintra's memory over M minutes while an overlay reloads every 10 s
    pictures the OBS guide's pictures of the overlay, composited over scene colours (into --pictures DIR)

scripts/overlay-bench.sh builds what it needs and runs this with Debian's Python.
"""

import argparse
import json
import math
import random
import select
import socket
import struct
import sys
import os
import threading
import time

import websocket

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_bench as wb  # noqa: E402  (puts tools/ on the path)
import vintra_drive as vd  # noqa: E402
from vintra_drive import browser  # noqa: E402

SIZE = (640, 240)
RELOAD_EVERY = 10.0  # seconds between the memory run's reloads

# In the page: each change of the shown rate is reported with the time of the
# frame that draws it (the next animation frame), on the wall clock.
WATCH_RATE = """(() => {
  const el = document.getElementById('bpm');
  new MutationObserver(() => {
    const text = el.textContent;
    requestAnimationFrame(() => vintraShown(JSON.stringify({text, at: performance.timeOrigin + performance.now()})));
  }).observe(el, {childList: true, characterData: true, subtree: true});
  return true;
})()"""


def log(text):
    print(text, file=sys.stderr, flush=True)


def overlay_url(port):
    return "http://127.0.0.1:%d/overlay" % port


def wait_live(page):
    page.wait_for("document.body.dataset.state === 'live'", 30, "the overlay to be live")


def overlays(count):
    """clients() for wine_bench: `count` overlays in one Chromium, each waited until connected."""
    def connect(port):
        chromium = browser.Browser()
        for _ in range(count):
            chromium.open(overlay_url(port), *SIZE).wait_for(
                "document.body.dataset.state !== 'offline'", 30, "the overlay to connect")
        return chromium.stop
    return connect


def streams(count):
    """clients() for wine_bench: `count` plain readers of /events (the endpoint's own cost, without a browser)."""
    def connect(port):
        readers = [vd.EventStream(port) for _ in range(count)]
        for reader in readers:
            reader.wait_event("state", timeout=30, after=0)

        def disconnect():
            for reader in readers:
                reader.close()
        return disconnect
    return connect


def clock_offset(page):
    """Seconds the page's wall clock is ahead of ours: the closest of a few round trips."""
    best = None
    for _ in range(20):
        before = time.time()
        seen = page.evaluate("performance.timeOrigin + performance.now()") / 1000
        after = time.time()
        if best is None or after - before < best[0]:
            best = (after - before, seen - (before + after) / 2)
    return best[1]


def feed_until(device, rng, value, arrived, state):
    """Writes 10 S lines every 20 ms (a real sensor's 500 a second) and, 50 to 250 ms in, the B line of
    `value`; returns the seconds from that B line to `arrived(wait)`, which waits at most `wait`
    seconds for the output that shows it and returns when it came (time.time()) or None."""
    send_at = time.monotonic() + rng.uniform(0.05, 0.25)
    sent = None
    while True:
        now = time.monotonic()
        if now >= state["next_samples"]:
            device.write(b"".join(b"S%d\r\n" % ((state["sample"] + k * 37) % 1000) for k in range(10)))
            state["sample"] += 10
            state["next_samples"] += 0.02
        if sent is None and now >= send_at:
            device.write(b"B%d\r\n" % value)
            sent = time.time()
        wake = state["next_samples"] if sent is None else min(state["next_samples"], time.monotonic() + 0.005)
        seen = arrived(max(0.0, wake - time.monotonic()))
        if sent is not None and seen is not None:
            return seen - sent
        if sent is not None and time.time() - sent > 5:
            raise RuntimeError("%d never arrived" % value)


def measure_overlay_latency(rates):
    """B line written to the device until the overlay's frame that shows the new digits.
    500 S lines a second flow meanwhile, as from a real sensor."""
    port = vd.free_port()
    device = vd.PtyDevice(wb.PORT)
    run, _ = wb.start_program(web_port=port)
    chromium = browser.Browser()
    rng = random.Random(17)
    latencies = []
    try:
        wb.wait_configured(device)
        page = chromium.open(overlay_url(port), *SIZE)
        page.add_binding("vintraShown")
        page.evaluate(WATCH_RATE)
        offset = clock_offset(page)
        values = list(range(40, 200))
        rng.shuffle(values)
        values = (values * (rates // len(values) + 1))[:rates]
        state = {"next_samples": time.monotonic(), "sample": 0}
        for value in values:
            def arrived(wait):
                shown = page.binding_calls("vintraShown", wait)
                found = [json.loads(s)["at"] / 1000 - offset for s in shown if json.loads(s)["text"] == str(value)]
                return found[0] if found else None
            latencies.append(feed_until(device, rng, value, arrived, state) * 1000)
    finally:
        chromium.stop()
        wb.stop_program(run)
        device.close()
    result = {"rates": len(latencies), "p50_ms": round(wb.percentile(latencies, 0.5), 1),
              "p95_ms": round(wb.percentile(latencies, 0.95), 1), "max_ms": round(max(latencies), 1)}
    log("overlay   B line -> overlay over %d rates: p50 %.1f ms, p95 %.1f ms, max %.1f ms" % (
        result["rates"], result["p50_ms"], result["p95_ms"], result["max_ms"]))
    return result


HEART_RATE_INT = b"/avatar/parameters/HeartRateInt"


def time_rates(rates, arrival, **program):
    """Milliseconds from each of `rates` B lines written to the device (500 S lines a second flowing) until
    arrival(value)(wait) saw it, with the program set up by `program` (start_program's web and OSC ports)."""
    device = vd.PtyDevice(wb.PORT)
    run, _ = wb.start_program(**program)
    rng = random.Random(19)
    latencies = []
    try:
        wb.wait_configured(device)
        values = list(range(40, 200))
        rng.shuffle(values)
        values = (values * (rates // len(values) + 1))[:rates]
        state = {"next_samples": time.monotonic(), "sample": 0}
        for value in values:
            latencies.append(feed_until(device, rng, value, arrival(value), state) * 1000)
    finally:
        wb.stop_program(run)
        device.close()
    return latencies


def latency_figures(label, latencies):
    result = {"rates": len(latencies), "p50_ms": round(wb.percentile(latencies, 0.5), 1),
              "p95_ms": round(wb.percentile(latencies, 0.95), 1), "max_ms": round(max(latencies), 1)}
    log("%-9s over %d rates: p50 %.1f ms, p95 %.1f ms, max %.1f ms" % (
        label, result["rates"], result["p50_ms"], result["p95_ms"], result["max_ms"]))
    return result


def measure_osc_latency(rates):
    """B line until the HeartRateInt datagram with its value arrives, on a UDP socket of ours bound to
    127.0.0.1 (timed where it lands, without a receiver program's output in between)."""
    receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    receiver.bind(("127.0.0.1", 0))

    def arrival(value):
        def arrived(wait):
            readable, _, _ = select.select([receiver], [], [], wait)
            while readable:
                data = receiver.recv(256)
                at = time.time()
                # The repeat of the previous rate says the same: only the new value counts.
                if data.startswith(HEART_RATE_INT + b"\0") and struct.unpack(">i", data[-4:])[0] == value:
                    return at
                readable, _, _ = select.select([receiver], [], [], 0)
            return None
        return arrived
    try:
        latencies = time_rates(rates, arrival, web_port=vd.free_port(), osc_port=receiver.getsockname()[1])
    finally:
        receiver.close()
    return latency_figures("osc       B line -> OSC datagram", latencies)


def measure_ws_latency(rates):
    """B line until its rate message reaches a python3-websocket client of /ws."""
    web_port = vd.free_port()
    client = {}

    def arrival(value):
        def arrived(wait):
            if "ws" not in client:  # the program is up: connect once
                client["ws"] = websocket.create_connection("ws://127.0.0.1:%d/ws" % web_port, timeout=30)
            ws = client["ws"]
            deadline = time.monotonic() + wait
            while True:
                ws.settimeout(max(0.001, deadline - time.monotonic()))
                try:
                    message = json.loads(ws.recv())
                except websocket.WebSocketTimeoutException:
                    return None
                if message == {"type": "rate", "bpm": value}:
                    return time.time()
        return arrived
    try:
        latencies = time_rates(rates, arrival, web_port=web_port)
    finally:
        if "ws" in client:
            client["ws"].close()
    return latency_figures("ws        B line -> WebSocket message", latencies)


def every_client(port):
    """clients() for wine_bench: a WebSocket client for rates, one for samples and two overlays at once."""
    rates = websocket.create_connection("ws://127.0.0.1:%d/ws" % port, timeout=30)
    samples = websocket.create_connection("ws://127.0.0.1:%d/ws?samples=1" % port, timeout=30)
    readers = []
    stop = threading.Event()
    for ws in (rates, samples):
        ws.recv()  # the state: connected
        # Each read as a bot would, so the program's output never backs up.
        readers.append(threading.Thread(target=lambda ws=ws: drain_ws(ws, stop), daemon=True))
        readers[-1].start()
    close_overlays = overlays(2)(port)

    def disconnect():
        close_overlays()
        stop.set()
        for reader in readers:
            reader.join(5)
        rates.close()
        samples.close()
    return disconnect


def drain_ws(ws, stop):
    ws.settimeout(0.5)
    while not stop.is_set():
        try:
            ws.recv()
        except websocket.WebSocketTimeoutException:
            pass
        except (OSError, websocket.WebSocketException):
            return


SESSION_SLOTS = 86400 * 17 // 4  # what the program's session record holds


def measure_session_download():
    """Fills the session record to the brim straight from the device, then times GET /session.csv."""
    port = vd.free_port()
    device = vd.PtyDevice(wb.PORT)
    run, pid = wb.start_program(web_port=port)
    try:
        wb.wait_configured(device)
        before_kib = vd.resident_kb(pid)
        started = time.monotonic()
        chunk = b"".join(b"B%d\r\n" % (60 + i % 120) for i in range(1000))
        for _ in range(SESSION_SLOTS // 1000 + 1):
            device.write(chunk)
        vd.wait_status(port, lambda s: s["session"]["count"] == SESSION_SLOTS, "a full session record", 600)
        filled_s = time.monotonic() - started
        started = time.monotonic()
        answer = vd.web_client.request(port, "/session.csv")
        download_s = time.monotonic() - started
        rows = answer.body.count(b"\r\n") - 1
        after_kib = vd.resident_kb(pid)
    finally:
        wb.stop_program(run)
        device.close()
    result = {"rows": rows, "bytes": len(answer.body), "download_s": round(download_s, 2),
              "fill_s": round(filled_s, 1), "rss_before_kib": before_kib, "rss_full_kib": after_kib}
    log("session   %d rows, %d bytes of CSV in %.2f s (the record filled in %.0f s); VmRSS %d KiB empty, %d KiB full"
        % (rows, len(answer.body), download_s, filled_s, before_kib, after_kib))
    return result


def measure_memory(minutes):
    """Vintra's VmRSS at 500 samples a second over `minutes`, an overlay reloading every RELOAD_EVERY s."""
    port = vd.free_port()
    device = vd.Simulator(wb.PORT, ["--rate", "500"], sim=wb.VINTRA_SIM)
    run, pid = wb.start_program(web_port=port)
    chromium = browser.Browser()
    samples = []  # (seconds since start, kB)
    try:
        wb.wait_configured(device)
        page = chromium.open(overlay_url(port), *SIZE)
        wait_live(page)
        started = time.monotonic()
        reloads = 0
        while time.monotonic() - started < minutes * 60:
            time.sleep(max(0.0, started + (reloads + 1) * RELOAD_EVERY - time.monotonic()))
            page.reload()
            wait_live(page)
            reloads += 1
            samples.append((time.monotonic() - started, vd.resident_kb(pid)))
    finally:
        chromium.stop()
        wb.stop_program(run)
        device.stop()
    first_minute = [kb for t, kb in samples if t <= 60] or [samples[0][1]]
    last_minute = [kb for t, kb in samples if t >= samples[-1][0] - 60]
    result = {"minutes": minutes, "reloads": reloads, "first_minute_max_kib": max(first_minute),
              "last_minute_max_kib": max(last_minute), "peak_kib": max(kb for _, kb in samples),
              "start_kib": samples[0][1], "end_kib": samples[-1][1]}
    log("memory    %g min, %d reloads: VmRSS %d KiB at the first reload, %d KiB at the last; peak in the first"
        " minute %d KiB, in the last %d KiB, overall %d KiB" % (
            minutes, reloads, result["start_kib"], result["end_kib"], result["first_minute_max_kib"],
            result["last_minute_max_kib"], result["peak_kib"]))
    return result


# The guide's pictures: name, query, page height, what is shown.
PICTURES = [("overlay-default.png", "", 100, "live"),
            ("overlay-history.png", "?parts=rate,trace,history&color=%23ffd000&trace=%2300d8ff", 160, "live"),
            ("overlay-no-live.png", "", 100, "stale")]
SCENES = [(24, 38, 64), (226, 222, 212)]  # a dark game and a light camera picture


def stacked(pictures, gap=6):
    """RGB pictures of one width one above the other, white between."""
    width = pictures[0].width
    rows = b"".join(p.data + b"\xff" * (width * 3 * gap) for p in pictures)[:-width * 3 * gap]
    return vd.Picture(width, sum(p.height for p in pictures) + gap * (len(pictures) - 1), rows)


def make_pictures(folder):
    """The overlay in Chromium from Vintra fed by a device written here, each composited over SCENES."""
    port = vd.free_port()
    device = vd.PtyDevice(wb.PORT)
    run, _ = wb.start_program(web_port=port)
    heart = vd.Heartbeat(device, rate=72, ready=lambda: vd.line_view.raw_and_unmapped(device.slave_path))
    chromium = browser.Browser()
    try:
        wb.wait_configured(device)
        for name, query, height, state in PICTURES:
            if state == "stale":
                heart.stop_beats()
            if "history" in query:  # rates that wander, so the history has a shape
                for step in range(50):
                    heart.rate = 72 + round(9 * math.sin(step / 6))
                    time.sleep(0.5)
            page = chromium.open(overlay_url(port) + query, SIZE[0], height)
            page.wait_for("document.body.dataset.state === %r" % state, 30, "the overlay %s" % state)
            time.sleep(3)  # a few seconds of trace across the picture
            picture = page.screenshot()
            path = os.path.join(folder, name)
            stacked([picture.over(scene) for scene in SCENES]).save_png(path)
            log("picture   %s: %s over %s" % (path, overlay_url(port) + query, SCENES))
            page.close()
    finally:
        chromium.stop()
        heart.stop()
        wb.stop_program(run)
        device.close()


FIGURES = ["latency", "osc", "ws", "session", "cpu", "bpm", "memory", "pictures"]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rates", type=int, default=100, help="rates timed into the overlay (100)")
    parser.add_argument("--cpu-seconds", type=int, default=30, help="each CPU window (30)")
    parser.add_argument("--minutes", type=float, default=10, help="the memory run (10)")
    parser.add_argument("--only", nargs="+", choices=FIGURES, default=FIGURES[:-1])
    parser.add_argument("--json", help="write the figures here")
    parser.add_argument("--pictures", default=os.path.join(vd.paths.REPO, "docs"),
                        help="where the pictures go (docs/)")
    args = parser.parse_args()
    results = {}
    server = wb.start_session()
    try:
        if "latency" in args.only:
            results["overlay_latency"] = measure_overlay_latency(args.rates)
        if "osc" in args.only:
            results["osc_latency"] = measure_osc_latency(args.rates)
        if "ws" in args.only:
            results["ws_latency"] = measure_ws_latency(args.rates)
        if "session" in args.only:
            results["session_download"] = measure_session_download()
        if "cpu" in args.only:
            results["cpu_500"] = {
                "no_client": wb.measure_cpu(server, "500/s", ["--rate", "500"], args.cpu_seconds,
                                            web_port=vd.free_port()),
                "two_overlays": wb.measure_cpu(server, "500/s, 2 overlays", ["--rate", "500"], args.cpu_seconds,
                                               web_port=vd.free_port(), clients=overlays(2)),
                "two_streams": wb.measure_cpu(server, "500/s, 2 streams", ["--rate", "500"], args.cpu_seconds,
                                              web_port=vd.free_port(), clients=streams(2)),
            }
            osc = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            osc.bind(("127.0.0.1", 0))  # taken and dropped unread: only the sending costs the program
            results["cpu_500"]["everything"] = wb.measure_cpu(
                server, "500/s, every kind", ["--rate", "500"], args.cpu_seconds, web_port=vd.free_port(),
                clients=every_client, osc_port=osc.getsockname()[1])
            osc.close()
            base = max(1e-9, results["cpu_500"]["no_client"]["vintra"])
            for kind in ("two_overlays", "everything"):
                ratio = results["cpu_500"][kind]["vintra"] / base
                results["cpu_500"]["ratio_" + kind] = round(ratio, 2)
                log("cpu       Vintra with %s / without: %.2f" % (kind.replace("_", " "), ratio))
        if "bpm" in args.only:
            results["bpm_latency"] = {
                "no_client": wb.measure_latency(web_port=vd.free_port()),
                "two_overlays": wb.measure_latency(web_port=vd.free_port(), clients=overlays(2)),
            }
        if "memory" in args.only:
            results["memory"] = measure_memory(args.minutes)
        if "pictures" in args.only:
            make_pictures(args.pictures)
    finally:
        wb.stop_session(server)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
