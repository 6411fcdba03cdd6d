#!/usr/bin/env python3
"""Everything measured under Wine: the frame cost, the decoder with the real
echo, and the running program (CPU, latency, sustained rate, memory).

    tools/perf/wine_bench.py [--quick] [--only NAME ...] [--json OUT]

Needs the host benchmark build (vintra-sim) and the Windows benchmark build
(Vintra.exe and the benchmark executables); scripts/bench.sh builds both and
runs this. Prints one line per figure and, with --json, writes them for the report.
"""

import argparse
import ctypes
import json
import os
import random
import select
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vintra_session as vs  # noqa: E402

SETTLE_SECONDS = 5        # after the device is up, before measuring
LATENCY_LINES = 200
SUSTAINED_RATE = 4000     # lines/s: what a 256000-baud line carries (6-byte lines, 10 bits a byte)


def log(text):
    print(text, file=sys.stderr, flush=True)


def wait_configured(device):
    vs.wait_until(device.configured, 30, "the program to open and configure COM%d" % vs.PORT)


def measure_cpu(session, label, sim_arguments, seconds, exe=vs.VINTRA_EXE, web_port=None, clients=None):
    """CPU share of Vintra (or its floor build `exe`), the Wine server and the X
    server over `seconds`, with vintra-sim sending `sim_arguments` (None: no
    device at all). clients(web_port), if given, connects clients to the web
    endpoint once the device is up and returns what disconnects them."""
    device = vs.SimDevice(sim_arguments) if sim_arguments is not None else None
    if device is None:
        vs.remove_port_link()
    program = vs.Program(session, exe=exe, web_port=web_port)
    disconnect = None
    try:
        if device:
            wait_configured(device)
        if clients:
            disconnect = clients(web_port)
        time.sleep(SETTLE_SECONDS)
        shares = vs.cpu_share({"vintra": program.pid, "wineserver": session.server.pid,
                               "xvfb": session.xvfb.pid}, seconds)
    finally:
        if disconnect:
            disconnect()
        program.stop()
        if device:
            device.stop()
    log("cpu %-10s vintra %5.2f%%  wineserver %5.2f%%  Xvfb %5.2f%%" % (
        label, 100 * shares["vintra"], 100 * shares["wineserver"], 100 * shares["xvfb"]))
    return {name: round(100 * share, 3) for name, share in shares.items()}


# ------------------------------------------------------------ benchmark executables

def run_exe(session, name, arguments=(), debug=vs.ECHO_OFF):
    """Runs one of the Windows benchmark executables in a scratch folder and
    returns its "key value" output lines as a dict of numbers."""
    folder = tempfile.mkdtemp(prefix="vintra-exe-")
    try:
        result = subprocess.run([vs.WINE, vs.bench_exe(name)] + list(arguments), cwd=folder,
                                env=session.env(debug), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                timeout=600)
    finally:
        for entry in os.listdir(folder):
            os.remove(os.path.join(folder, entry))
        os.rmdir(folder)
    values = {}
    for line in result.stdout.decode(errors="replace").splitlines():
        parts = line.split()
        if len(parts) == 2:
            try:
                values[parts[0]] = float(parts[1])
            except ValueError:
                pass
    if result.returncode != 0 or not values:
        raise RuntimeError("%s failed: %s" % (name, result.stdout.decode(errors="replace")))
    return values


RUNS = 3  # benchmark executables run this often; the best median counts


def lowest_medians(session, name, keys):
    """Runs a benchmark executable RUNS times and keeps, for each key, the best
    median (lowest time, highest rate): other processes on a shared machine only
    ever make it slower."""
    runs = [run_exe(session, name) for _ in range(RUNS)]
    best = dict(runs[0])
    for key, better in keys.items():
        pick = min if better == "low" else max
        best[key] = pick(run[key] for run in runs)
    best["runs"] = RUNS
    return best


def measure_frame(session):
    """Median RenderPanels and whole-paint times on the default layout."""
    values = lowest_medians(session, "vintra_frame_bench.exe", {
        "render_us": "low", "render_tick_pct": "low", "paint_us": "low", "paint_tick_pct": "low"})
    log("frame     RenderPanels %.0f us (%.2f%% of a tick), whole paint %.0f us (%.2f%%)" % (
        values["render_us"], values["render_tick_pct"], values["paint_us"], values["paint_tick_pct"]))
    return values


def measure_drain_real_sinks(session):
    """The decoder with the real echo and bpm.txt writes: lines per second."""
    values = lowest_medians(session, "vintra_drain_bench.exe", {
        "drain_real_sinks_lines_per_s": "high", "drain_real_sinks_cpu_us_per_line": "low"})
    log("drain     with the real echo and bpm.txt: %.0f lines/s, %.1f us of CPU a line" % (
        values["drain_real_sinks_lines_per_s"], values["drain_real_sinks_cpu_us_per_line"]))
    return values


# ------------------------------------------------------------ latency

class Inotify:
    """Modification events of one folder, through libc. A file replaced by a
    rename (as bpm.txt is) shows as moved to, under its own name."""
    IN_MODIFY = 0x2
    IN_CLOSE_WRITE = 0x8
    IN_MOVED_TO = 0x80
    IN_CREATE = 0x100

    def __init__(self, folder):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1")
        mask = self.IN_MODIFY | self.IN_CLOSE_WRITE | self.IN_MOVED_TO | self.IN_CREATE
        if self.libc.inotify_add_watch(self.fd, folder.encode(), mask) < 0:
            raise OSError(ctypes.get_errno(), "inotify_add_watch")

    def names(self):
        """Names of the files with events waiting (empty when none)."""
        try:
            data = os.read(self.fd, 65536)
        except BlockingIOError:
            return []
        names, offset = [], 0
        while offset < len(data):
            _, _, _, length = struct.unpack_from("iIII", data, offset)
            names.append(data[offset + 16:offset + 16 + length].rstrip(b"\0").decode())
            offset += 16 + length
        return names

    def close(self):
        os.close(self.fd)


def percentile(values, fraction):
    """Nearest-rank percentile."""
    ordered = sorted(values)
    rank = max(1, int(-(-fraction * len(ordered) // 1)))
    return ordered[rank - 1]


def measure_latency(session, lines=LATENCY_LINES, web_port=None, clients=None):
    """From a B line written to the pseudo-terminal to bpm.txt holding its value.
    S lines flow at 50 per second meanwhile; each B line has a value different
    from the one before and goes out at a random moment, after the previous one
    has arrived. clients: as for measure_cpu."""
    device = vs.PtyDevice()
    program = vs.Program(session, web_port=web_port)
    watch = Inotify(program.folder)
    bpm_path = program.path("bpm.txt")
    rng = random.Random(7)
    latencies = []
    disconnect = None
    try:
        wait_configured(device)
        if clients:
            disconnect = clients(web_port)
        time.sleep(1)
        values = [v for v in range(30, 230)]
        rng.shuffle(values)
        values = (values * (lines // len(values) + 1))[:lines]
        next_sample = time.monotonic()
        sample_value = 0
        for value in values:
            send_at = time.monotonic() + rng.uniform(0.02, 0.12)
            sent_ns = None
            deadline = send_at + 5
            text = str(value)
            while True:
                now = time.monotonic()
                if now >= next_sample:
                    sample_value = (sample_value + 37) % 1000
                    device.write(b"S%d\r\n" % sample_value)
                    next_sample += 0.02
                if sent_ns is None and now >= send_at:
                    device.write(b"B%d\r\n" % value)
                    sent_ns = time.monotonic_ns()
                wake = min(next_sample, send_at if sent_ns is None else deadline)
                ready, _, _ = select.select([watch.fd], [], [], max(0.0, wake - time.monotonic()))
                if ready and "bpm.txt" in watch.names() and sent_ns is not None:
                    seen_ns = time.monotonic_ns()
                    try:
                        with open(bpm_path, "rb") as f:
                            content = f.read()
                    except OSError:
                        continue
                    if content == text.encode():
                        latencies.append((seen_ns - sent_ns) / 1e6)
                        break
                if time.monotonic() > deadline:
                    raise RuntimeError("bpm.txt never held %s" % text)
    finally:
        if disconnect:
            disconnect()
        watch.close()
        program.stop()
        device.close()
    result = {"lines": len(latencies), "p50_ms": round(percentile(latencies, 0.5), 2),
              "p95_ms": round(percentile(latencies, 0.95), 2), "max_ms": round(max(latencies), 2)}
    log("latency   B line -> bpm.txt over %d lines: p50 %.1f ms, p95 %.1f ms, max %.1f ms" % (
        result["lines"], result["p50_ms"], result["p95_ms"], result["max_ms"]))
    return result


# ------------------------------------------------------------ sustained rate

def measure_sustained(session, seconds):
    """SUSTAINED_RATE lines/s for `seconds`: every well-formed line the simulator
    sent must come back in the echo, in order."""
    work = tempfile.mkdtemp(prefix="vintra-sustained-")
    sent_path = os.path.join(work, "sent.txt")
    # The delay leaves time for the program to start and open the line: bytes
    # written before Wine opens a pseudo-terminal are flushed away.
    start_delay = 15
    device = vs.SimDevice(["--rate", str(SUSTAINED_RATE), "--duration", str(seconds), "--seed", "11",
                           "--start-delay", str(start_delay), "--linger", "2", "--log-wellformed", sent_path])
    started = time.monotonic()
    program = vs.Program(session, echo=True)
    try:
        wait_configured(device)
        if time.monotonic() - started > start_delay - 1:
            raise RuntimeError("the program opened the line too late for a clean count")
        device.wait(start_delay + seconds + 60)
        time.sleep(2)  # the last lines' echo
        echoed = program.run.echoed_lines()
    finally:
        program.stop()
        device.stop()
    with open(sent_path, "rb") as f:
        sent = [line.rstrip(b"\r\n") for line in f if line.strip()]
    matched = 0
    for a, b in zip(sent, echoed):
        if a != b:
            break
        matched += 1
    result = {"seconds": seconds, "sent": len(sent), "echoed": len(echoed), "in_order": matched,
              "lost": len(sent) - matched, "rate": round(len(sent) / seconds)}
    log("sustained %d lines/s for %d s: sent %d, echoed %d, matching in order %d, lost %d" % (
        result["rate"], seconds, result["sent"], result["echoed"], matched, result["lost"]))
    for name in os.listdir(work):
        os.remove(os.path.join(work, name))
    os.rmdir(work)
    return result


# ------------------------------------------------------------ memory

def measure_memory(session, minutes):
    """VmRSS of the program after 10 s and after `minutes`, at 500 samples/s."""
    device = vs.SimDevice(["--rate", "500", "--status-every", "5"])
    program = vs.Program(session)
    try:
        wait_configured(device)
        started = time.monotonic()
        time.sleep(10)
        early = vs.resident_kib(program.pid)
        peak = early
        while time.monotonic() - started < minutes * 60:
            time.sleep(5)
            peak = max(peak, vs.resident_kib(program.pid))
        late = vs.resident_kib(program.pid)
    finally:
        program.stop()
        device.stop()
    result = {"after_10s_kib": early, "after_kib": late, "peak_kib": peak, "minutes": minutes}
    log("memory    VmRSS after 10 s %d KiB, after %g min %d KiB (peak %d KiB)" % (early, minutes, late, peak))
    return result


FIGURES = ["frame", "drain", "cpu", "latency", "sustained", "memory"]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="shorter runs (memory over 1 minute)")
    parser.add_argument("--only", nargs="+", choices=FIGURES, default=FIGURES)
    parser.add_argument("--json", help="write the figures here")
    args = parser.parse_args()
    cpu_seconds = 10 if args.quick else 30
    results = {"quick": args.quick, "cpu_window_s": cpu_seconds}
    session = vs.Session().start()
    try:
        if "frame" in args.only:
            results["frame"] = measure_frame(session)
        if "drain" in args.only:
            results["drain"] = measure_drain_real_sinks(session)
        if "cpu" in args.only:
            results["cpu"] = {
                "idle": measure_cpu(session, "idle", None, cpu_seconds),
                "50": measure_cpu(session, "50/s", ["--rate", "50"], cpu_seconds),
                "500": measure_cpu(session, "500/s", ["--rate", "500"], cpu_seconds),
                "4000": measure_cpu(session, "4000/s", ["--rate", str(SUSTAINED_RATE)], cpu_seconds),
                # The floors: what the program costs at 500/s without the tick's
                # repaint, and without that and the echo.
                "500_no_paint": measure_cpu(session, "no paint", ["--rate", "500"], cpu_seconds,
                                            vs.bench_exe("vintra_floor_no_paint.exe")),
                "500_no_paint_no_echo": measure_cpu(session, "neither", ["--rate", "500"], cpu_seconds,
                                                    vs.bench_exe("vintra_floor_no_paint_no_echo.exe")),
            }
        if "latency" in args.only:
            results["latency"] = measure_latency(session)
        if "sustained" in args.only:
            results["sustained"] = measure_sustained(session, 60)
        if "memory" in args.only:
            results["memory"] = measure_memory(session, 1 if args.quick else 10)
    finally:
        session.stop()
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
