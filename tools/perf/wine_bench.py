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
import shutil
import struct
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import vintra_drive as vd  # noqa: E402

# The benchmark builds (scripts/bench.sh makes them) and a Wine prefix of their
# own, so the Wine server's CPU is ours alone and no test run restarts it.
HOST_BUILD = os.environ.get("VINTRA_BENCH_HOST_BUILD", os.path.join(vd.paths.REPO, "build", "bench"))
WIN_BUILD = os.environ.get("VINTRA_BENCH_WIN_BUILD", os.path.join(vd.paths.REPO, "build", "bench-win"))
VINTRA_EXE = os.environ.get("VINTRA_EXE", os.path.join(WIN_BUILD, "product", "Vintra.exe"))
VINTRA_SIM = os.environ.get("VINTRA_SIM", os.path.join(HOST_BUILD, "tools", "vintra_sim", "vintra-sim"))
vd.use_prefix(os.environ.get("VINTRA_WINEPREFIX") or os.path.join(HOST_BUILD, "wineprefix"))

PORT = 5                  # the COM port every run uses
BAUD = 256000             # the fastest rate the settings offer
SETTLE_SECONDS = 5        # after the device is up, before measuring
LATENCY_LINES = 200
SUSTAINED_RATE = 4000     # lines/s: what a 256000-baud line carries (6-byte lines, 10 bits a byte)


def log(text):
    print(text, file=sys.stderr, flush=True)


def bench_exe(name):
    """A Windows benchmark executable of the benchmark build: at its top, or one
    level down when the product's own build includes the benchmark folder."""
    for folder in (WIN_BUILD, os.path.join(WIN_BUILD, "product", "tests", "bench", "win")):
        path = os.path.join(folder, name)
        if os.path.exists(path):
            return path
    raise RuntimeError("%s is not built in %s" % (name, WIN_BUILD))


def start_session():
    """COM<PORT> mapped, a private display and a persistent Wine server, whose
    process is measured and stays between runs; returns that process."""
    vd.start_session((PORT,))
    server = vd.wine.start_server()
    time.sleep(0.5)
    # Start Wine's desktop processes once, so the first measured run does not
    # pay for them.
    vd.wine.run("cmd", ["/c", "exit"], capture=False, timeout=120)
    return server


def stop_session(server):
    vd.stop_session()
    server.wait(30)


def start_program(exe=VINTRA_EXE, echo=False, web_port=None, osc_port=None):
    """Vintra.exe (or a floor build of it, `exe`) in a fresh working folder, set
    to COM<PORT>, its web endpoint to `web_port` (None: the default port) and
    OSC to `osc_port` (None: off; it needs a web port); returns the run and the
    process id to measure."""
    config = b"%d %d" % (PORT, BAUD) + (b" %d" % web_port if web_port is not None else b"")
    config += b" %d" % osc_port if osc_port is not None else b""
    run = vd.launch(tempfile.mkdtemp(prefix="vintra-bench-"), config, exe=exe, echo_lines=echo)
    return run, vd.wait_until(run.windows_pid, 60, "the Vintra process")


def stop_program(run):
    """Ends a run but not the Wine server (VintraRun.kill would end both)."""
    run.process.kill()
    run.process.wait(30)
    # The loader may have handed over to another process image; make sure it is gone.
    vd.wait_until(lambda: run.windows_pid() is None, 30, "the Vintra process to end")
    shutil.rmtree(run.folder, ignore_errors=True)


def wait_configured(device):
    """Until the program has opened the device (a PtyDevice or a Simulator) and set it raw."""
    vd.wait_until(lambda: vd.line_view.raw_and_unmapped(device.slave_path), 30,
                  "the program to open and configure COM%d" % PORT)


def cpu_share(pids, seconds):
    """CPU seconds per wall second of each named process over `seconds`."""
    before = {name: vd.cpu_seconds(pid) for name, pid in pids.items()}
    start = time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - start
    return {name: (vd.cpu_seconds(pid) - before[name]) / wall for name, pid in pids.items()}


def measure_cpu(server, label, sim_arguments, seconds, exe=VINTRA_EXE, web_port=None, clients=None, osc_port=None):
    """CPU share of Vintra (or its floor build `exe`), the Wine server and the X
    server over `seconds`, with vintra-sim sending `sim_arguments` (None: no
    device at all) and OSC sent to `osc_port` (None: off). clients(web_port), if
    given, connects clients to the web endpoint once the device is up and
    returns what disconnects them."""
    device = vd.Simulator(PORT, sim_arguments, sim=VINTRA_SIM) if sim_arguments is not None else None
    if device is None:
        vd.remove_link(vd.port_link(PORT))
    run, pid = start_program(exe, web_port=web_port, osc_port=osc_port)
    disconnect = None
    try:
        if device:
            wait_configured(device)
        if clients:
            disconnect = clients(web_port)
        time.sleep(SETTLE_SECONDS)
        shares = cpu_share({"vintra": pid, "wineserver": server.pid,
                            "xvfb": vd.display.xvfb["process"].pid}, seconds)
    finally:
        if disconnect:
            disconnect()
        stop_program(run)
        if device:
            device.stop()
    log("cpu %-10s vintra %5.2f%%  wineserver %5.2f%%  Xvfb %5.2f%%" % (
        label, 100 * shares["vintra"], 100 * shares["wineserver"], 100 * shares["xvfb"]))
    return {name: round(100 * share, 3) for name, share in shares.items()}


# ------------------------------------------------------------ benchmark executables

def run_exe(name, arguments=()):
    """Runs one of the Windows benchmark executables in a scratch folder and
    returns its "key value" output lines as a dict of numbers."""
    folder = tempfile.mkdtemp(prefix="vintra-exe-")
    try:
        result = vd.wine.run(bench_exe(name), arguments, cwd=folder, timeout=600)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    values = {}
    for line in result.stdout.splitlines():
        parts = line.split()
        if len(parts) == 2:
            try:
                values[parts[0]] = float(parts[1])
            except ValueError:
                pass
    if result.returncode != 0 or not values:
        raise RuntimeError("%s failed: %s" % (name, result.stdout))
    return values


RUNS = 3  # benchmark executables run this often; the best median counts


def lowest_medians(name, keys):
    """Runs a benchmark executable RUNS times and keeps, for each key, the best
    median (lowest time, highest rate): other processes on a shared machine only
    ever make it slower."""
    runs = [run_exe(name) for _ in range(RUNS)]
    best = dict(runs[0])
    for key, better in keys.items():
        pick = min if better == "low" else max
        best[key] = pick(run[key] for run in runs)
    best["runs"] = RUNS
    return best


def measure_frame():
    """Median RenderPanels and whole-paint times on the default layout."""
    values = lowest_medians("vintra_frame_bench.exe", {
        "render_us": "low", "render_tick_pct": "low", "paint_us": "low", "paint_tick_pct": "low"})
    log("frame     RenderPanels %.0f us (%.2f%% of a tick), whole paint %.0f us (%.2f%%)" % (
        values["render_us"], values["render_tick_pct"], values["paint_us"], values["paint_tick_pct"]))
    return values


def measure_drain_real_sinks():
    """The decoder with the real echo and bpm.txt writes: lines per second."""
    values = lowest_medians("vintra_drain_bench.exe", {
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


def measure_latency(lines=LATENCY_LINES, web_port=None, clients=None):
    """From a B line written to the pseudo-terminal to bpm.txt holding its value.
    S lines flow at 50 per second meanwhile; each B line has a value different
    from the one before and goes out at a random moment, after the previous one
    has arrived. clients: as for measure_cpu."""
    device = vd.PtyDevice(PORT)
    run, _ = start_program(web_port=web_port)
    watch = Inotify(run.folder)
    bpm_path = run.path("bpm.txt")
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
        stop_program(run)
        device.close()
    result = {"lines": len(latencies), "p50_ms": round(percentile(latencies, 0.5), 2),
              "p95_ms": round(percentile(latencies, 0.95), 2), "max_ms": round(max(latencies), 2)}
    log("latency   B line -> bpm.txt over %d lines: p50 %.1f ms, p95 %.1f ms, max %.1f ms" % (
        result["lines"], result["p50_ms"], result["p95_ms"], result["max_ms"]))
    return result


# ------------------------------------------------------------ sustained rate

def measure_sustained(seconds):
    """SUSTAINED_RATE lines/s for `seconds`: every well-formed line the simulator
    sent must come back in the echo, in order."""
    work = tempfile.mkdtemp(prefix="vintra-sustained-")
    sent_path = os.path.join(work, "sent.txt")
    # The delay leaves time for the program to start and open the line: bytes
    # written before Wine opens a pseudo-terminal are flushed away.
    start_delay = 15
    device = vd.Simulator(PORT, ["--rate", str(SUSTAINED_RATE), "--duration", str(seconds), "--seed", "11",
                                 "--start-delay", str(start_delay), "--linger", "2", "--log-wellformed", sent_path],
                          sim=VINTRA_SIM)
    started = time.monotonic()
    run, _ = start_program(echo=True)
    try:
        wait_configured(device)
        if time.monotonic() - started > start_delay - 1:
            raise RuntimeError("the program opened the line too late for a clean count")
        device.wait(start_delay + seconds + 60)
        time.sleep(2)  # the last lines' echo
        echoed = run.echoed_lines()
    finally:
        stop_program(run)
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

def measure_memory(minutes):
    """VmRSS of the program after 10 s and after `minutes`, at 500 samples/s."""
    device = vd.Simulator(PORT, ["--rate", "500", "--status-every", "5"], sim=VINTRA_SIM)
    run, pid = start_program()
    try:
        wait_configured(device)
        started = time.monotonic()
        time.sleep(10)
        early = vd.resident_kb(pid)
        peak = early
        while time.monotonic() - started < minutes * 60:
            time.sleep(5)
            peak = max(peak, vd.resident_kb(pid))
        late = vd.resident_kb(pid)
    finally:
        stop_program(run)
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
    server = start_session()
    try:
        if "frame" in args.only:
            results["frame"] = measure_frame()
        if "drain" in args.only:
            results["drain"] = measure_drain_real_sinks()
        if "cpu" in args.only:
            results["cpu"] = {
                "idle": measure_cpu(server, "idle", None, cpu_seconds),
                "50": measure_cpu(server, "50/s", ["--rate", "50"], cpu_seconds),
                "500": measure_cpu(server, "500/s", ["--rate", "500"], cpu_seconds),
                "4000": measure_cpu(server, "4000/s", ["--rate", str(SUSTAINED_RATE)], cpu_seconds),
                # The floors: what the program costs at 500/s without the tick's
                # repaint, and without that and the echo.
                "500_no_paint": measure_cpu(server, "no paint", ["--rate", "500"], cpu_seconds,
                                            bench_exe("vintra_floor_no_paint.exe")),
                "500_no_paint_no_echo": measure_cpu(server, "neither", ["--rate", "500"], cpu_seconds,
                                                    bench_exe("vintra_floor_no_paint_no_echo.exe")),
            }
        if "latency" in args.only:
            results["latency"] = measure_latency()
        if "sustained" in args.only:
            results["sustained"] = measure_sustained(60)
        if "memory" in args.only:
            results["memory"] = measure_memory(1 if args.quick else 10)
    finally:
        stop_session(server)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
