"""Long run of the real program under a misbehaving device that comes and goes.

Runs Vintra.exe under Wine on its own X display with the simulated device at
its fastest rate and every fault mode on. The device is plugged in for 60-120 s
at a time, then pulled out for 1-5 s: a fresh pseudo-terminal behind the same
COM port link each time, fed from the simulator through a relay. The relay
starts the simulator only once the program has opened the port (Wine drops
what arrives before that). The pull comes at a random byte of the stream, so
mostly in the middle of a line: half the time once the program has read all
that was sent (its line buffer then holds the cut line), half the time at
once. Lines sent after the last one the program read are lost with the pull;
every other line must come back in the echo, and nothing may show
in the echo or bpm.txt that no line sent could have produced (a cut line
joined to the next device's first). OSC is on, to a socket of the run's own
on 127.0.0.1: every datagram must be a well-formed avatar parameter message.
Web clients come and go throughout (tools/soak/web_watch.py): an overlay
reloading every 10 s, a WebSocket client reconnecting every 30 s, a hostile
client every minute; every message they get must be well-formed.
Prints a summary and appends it to docs/soak.md.

Started by scripts/soak.sh; see --help.
"""

import argparse
import datetime
import os
import random
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPO, "tools"))

import vintra_drive as vd  # noqa: E402
from osc_watch import OscWatch  # noqa: E402
from soak_compare import compare_period  # noqa: E402
from web_watch import WebWatch  # noqa: E402

PORT = 5
BAUD = 115200
OPEN_TIMEOUT = 10.0  # the program retries the port about once a second
DRAIN_TIMEOUT = 60.0  # for the program to read what is still queued at a pull
MEMORY_PERIOD = 30.0


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("minutes", nargs="?", type=float, default=10.0, help="length of the run (default 10)")
    parser.add_argument("--rate", type=float, default=4000, help="samples per second (default 4000, the fastest)")
    parser.add_argument("--faults", type=float, default=0.02, help="probability of each fault per line")
    parser.add_argument("--plugged", type=float, nargs=2, default=(60, 120), metavar=("MIN", "MAX"),
                        help="seconds the device stays plugged in (default 60 120)")
    parser.add_argument("--unplugged", type=float, nargs=2, default=(1, 5), metavar=("MIN", "MAX"),
                        help="seconds the device stays out (default 1 5)")
    parser.add_argument("--seed", type=int, default=None, help="seed for the device and the schedule")
    parser.add_argument("--report", default=os.path.join(REPO, "docs", "soak.md"),
                        help="file the summary is appended to ('' for none)")
    return parser.parse_args(argv)


def close_program(run):
    """Closes the window with alt+F4; returns the exit code (None if it did not end)."""
    try:
        return run.close()
    except AssertionError:
        run.kill()
        return None


def longest_gap(start, updates, end):
    """Longest time without a bpm.txt update between start and end."""
    moments = [start] + [t for t in updates if start <= t <= end] + [end]
    return max(b - a for a, b in zip(moments, moments[1:]))


class Soak:
    """The whole run: periods of a plugged-in device, the counters, the report."""

    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.random = random.Random(args.seed)
        self.folder = os.path.join(work, "program")
        os.makedirs(self.folder)
        self.osc = OscWatch()
        self.web_port = vd.free_port()
        self.web = None
        with open(os.path.join(self.folder, "vintra.config"), "w") as f:
            f.write("%d %d %d %d" % (PORT, BAUD, self.web_port, self.osc.port))
        self.totals = {"periods": 0, "lines_sent": 0, "wellformed_sent": 0, "received": 0, "missing": 0,
                       "cut": 0, "pulls_mid_line": 0, "unexpected": 0, "reconnects": 0, "late_opens": 0,
                       "crashes": 0, "foreign_bpm": 0}
        self.open_latencies = []
        self.stalls = []  # (longest gap, period)
        self.memory = []  # (minutes, kB)
        self.rates = []   # well-formed samples per second the device managed, per period
        self.device = vd.PtyDevice(PORT, raw=True, plugged=False)
        self.problems = []
        self.started = time.monotonic()
        self.program = None

    def log(self, text):
        print("[%6.1f min] %s" % ((time.monotonic() - self.started) / 60, text), flush=True)

    def sample_memory(self):
        kb = vd.resident_kb(self.program.process.pid)
        if kb is not None:
            self.memory.append(((time.monotonic() - self.started) / 60, kb))

    def check_alive(self):
        """Counts a program that ended on its own as a crash and starts it again."""
        if self.program.process.poll() is None:
            return
        self.totals["crashes"] += 1
        self.problems.append("Vintra ended with code %s; stderr: %s"
                             % (self.program.process.returncode, self.program.stderr_tail()[-5:]))
        self.log("CRASH: " + self.problems[-1])
        self.program = vd.launch(self.folder)

    def wait_alive(self, seconds):
        """Sleeps, sampling memory and watching for crashes."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.check_alive()
            if time.monotonic() - self.last_memory >= MEMORY_PERIOD:
                self.sample_memory()
                self.last_memory = time.monotonic()
            time.sleep(min(0.5, max(0.0, deadline - time.monotonic())))

    def run_period(self, index, seconds):
        """One plugged-in period of `seconds` of sending, ended by a pull; adds its figures to the totals."""
        log_path = os.path.join(self.work, "sent-%d.log" % index)
        count_path = os.path.join(self.work, "counts-%d.txt" % index)
        options = ["--rate", "%g" % self.args.rate, "--faults-all", "%g" % self.args.faults, "--status-every", "1",
                   "--seed", str(self.random.randrange(1 << 32)), "--log-echoed", log_path,
                   "--count-file", count_path]
        self.program.echo.take()
        self.bpm.take()
        self.device.plug()
        plugged = time.monotonic()
        try:
            self.open_latencies.append(self.device.wait_set_up(BAUD, OPEN_TIMEOUT))
        except AssertionError:
            self.totals["late_opens"] += 1
            self.problems.append("period %d: the program did not set up the device within %.0f s"
                                 % (index, OPEN_TIMEOUT))
        sending = time.monotonic()
        relay = vd.Relay(self.device, options)
        self.wait_alive(seconds)
        sim_summary = relay.stop()
        sent_all = time.monotonic()
        read_first = self.random.random() < 0.5
        if read_first:
            vd.wait_until(lambda: self.device.queued() == 0 and self.program.echo.quiet_for(0.5), DRAIN_TIMEOUT,
                          "the program to read what the device sent")
        mid_line = self.device.last_byte != b"\n"
        self.device.unplug()
        ended = time.monotonic()

        echoed = self.program.echo.take()
        head = echoed[:12]
        logged = vd.read_echo_log(log_path)
        sent = [text for _, text in logged]
        counts = vd.read_counts(count_path)
        missing, cut, unexpected, problem = compare_period(echoed, sent)
        updates, texts = self.bpm.take()
        # The simulator writes values as plain digits: bpm.txt holds them as they are.
        beat_texts = {text[1:] for kind, text in logged if kind == b"W" and text.startswith(b"B")}
        foreign = sorted(set(texts) - beat_texts)
        gap = longest_gap(sending, updates, sent_all)

        self.totals["periods"] += 1
        self.totals["lines_sent"] += counts.get("lines_sent", 0)
        self.totals["wellformed_sent"] += sum(kind == b"W" for kind, _ in logged)
        self.totals["received"] += len(echoed)
        self.totals["missing"] += missing
        self.totals["cut"] += cut
        self.totals["pulls_mid_line"] += mid_line
        self.totals["unexpected"] += unexpected
        self.totals["foreign_bpm"] += len(foreign)
        if index > 0 and echoed:
            self.totals["reconnects"] += 1
        self.stalls.append((gap, index))
        if problem:
            self.problems.append("period %d: %s; the period's echo began %r" % (index, problem, head))
        if foreign:
            self.problems.append("period %d: bpm.txt held %r, not from a well-formed B line" % (index, foreign[:5]))
        rate = counts.get("s_sent", 0) / max(counts.get("elapsed_ms", 1) / 1000.0, 1e-9)
        self.rates.append(rate)
        self.log("period %d: %.0f s plugged, pulled %s%s; %d lines sent (%.0f well-formed S/s), %d well-formed, "
                 "%d received, %d missing, %d cut off by the pull, %d unexpected, longest bpm.txt gap %.2f s; %s"
                 % (index, ended - plugged, "mid-line " if mid_line else "between lines ",
                    "after the program read all" if read_first else "at once",
                    counts.get("lines_sent", 0), rate, counts.get("wellformed_sent", 0), len(echoed), missing,
                    cut, unexpected, gap,
                    sim_summary.splitlines()[-1] if sim_summary else "no summary"))
        for path in (log_path, count_path):
            if os.path.exists(path):
                os.remove(path)

    def run(self):
        vd.map_ports((PORT,))
        vd.start_display()
        try:
            self.program = vd.launch(self.folder)
            with open("/proc/%d/cmdline" % self.program.process.pid, "rb") as f:
                self.log("Vintra.exe runs as pid %d (%s)" % (self.program.process.pid,
                                                             f.read().replace(b"\0", b" ").decode().strip()))
            self.bpm = vd.BpmWatcher(os.path.join(self.folder, "bpm.txt"), interval=0.02)
            vd.wait_status(self.web_port, lambda s: True, "the web endpoint")
            self.web = WebWatch(self.web_port)
            self.sample_memory()
            self.last_memory = time.monotonic()
            deadline = self.started + self.args.minutes * 60
            index = 0
            while True:
                room = deadline - time.monotonic() - 5
                if room < 5:
                    break
                seconds = min(self.random.uniform(*self.args.plugged), room)
                self.run_period(index, seconds)
                index += 1
                self.check_alive()
                away = self.random.uniform(*self.args.unplugged)
                if deadline - time.monotonic() < away + 10:
                    break
                self.wait_alive(away)
            self.sample_memory()
            self.check_alive()
            self.web.stop()
            self.exit_code = close_program(self.program)
            self.bpm.stop()
        finally:
            self.device.unplug()
            if self.program is not None:
                self.program.kill()
            vd.stop_server()
            vd.stop_display()
            self.osc.stop()
            if self.web is not None:
                self.web.stop()
        self.problems += self.osc.problems + (self.web.problems if self.web else [])
        self.duration = (time.monotonic() - self.started) / 60

    def summary(self):
        """The figures as a Markdown table."""
        t = self.totals
        memory = self.memory
        start_kb, end_kb = memory[0][1], memory[-1][1]
        between = ", ".join("%.0f min: %.1f" % (m, kb / 1024) for m, kb in memory[1:-1][::max(1, len(memory) // 6)])
        longest = max(self.stalls) if self.stalls else (0, -1)
        rows = [
            ("Duration", "%.1f min, %d plugged periods" % (self.duration, t["periods"])),
            ("Lines sent (all kinds)", "%d" % t["lines_sent"]),
            ("Well-formed lines sent", "%d" % t["wellformed_sent"]),
            ("Lines received (echo)", "%d" % t["received"]),
            ("Missing (not counting lines cut off by a pull)", "%d" % t["missing"]),
            ("Lines cut off by a pull (sent after the last one read)", "%d" % t["cut"]),
            ("Pulls in the middle of a line", "%d of %d" % (t["pulls_mid_line"], t["periods"])),
            ("Echoed lines no line sent could have produced", "%d" % t["unexpected"]),
            ("bpm.txt values not from a well-formed B line", "%d" % t["foreign_bpm"]),
            ("Reconnects seen (echo resumed after a replug)", "%d of %d" % (t["reconnects"], max(0, t["periods"] - 1))),
            ("Device rate (well-formed S lines/s, per period)", "min %.0f, mean %.0f" % (
                min(self.rates or [0]), sum(self.rates) / max(1, len(self.rates)))),
            ("Time to reopen after a replug", "max %.2f s, mean %.2f s; not within 10 s: %d" % (
                max(self.open_latencies or [0]), sum(self.open_latencies) / max(1, len(self.open_latencies)),
                t["late_opens"])),
            ("Resident memory (VmRSS)", "start %.1f MB, end %.1f MB (min %.1f, max %.1f)" % (
                start_kb / 1024, end_kb / 1024, min(kb for _, kb in memory) / 1024,
                max(kb for _, kb in memory) / 1024)),
            ("Memory samples between (MB)", between or "-"),
            ("Crashes", "%d" % t["crashes"]),
            ("Exit code at close", "%s" % self.exit_code),
            ("Longest gap between bpm.txt updates while plugged", "%.2f s (period %d)" % longest),
            ("OSC datagrams received / malformed", "%d / %d (isHRConnected false %d times)" % (
                self.osc.messages, self.osc.malformed, self.osc.disconnects)),
            ("Overlay loads / events read", "%d / %d" % (self.web.counts["overlay_loads"], self.web.counts["events"])),
            ("WebSocket connections / messages", "%d / %d" % (self.web.counts["ws_connections"],
                                                               self.web.counts["ws_messages"])),
            ("Hostile clients answered as they should", "%d" % self.web.counts["hostile"]),
            ("Web messages malformed / clients failed", "%d / %d" % (self.web.counts["malformed"],
                                                                     self.web.counts["failed"])),
        ]
        lines = ["| | |", "|---|---|"] + ["| %s | %s |" % row for row in rows]
        return "\n".join(lines)

    def verdict(self):
        t = self.totals
        good = (t["missing"] == 0 and t["unexpected"] == 0 and t["crashes"] == 0 and t["foreign_bpm"] == 0
                and self.exit_code == 0 and t["reconnects"] == max(0, t["periods"] - 1)
                and self.osc.messages > 0 and self.osc.malformed == 0
                and min(self.web.counts[k] for k in ("overlay_loads", "ws_messages", "hostile")) > 0
                and self.web.counts["malformed"] == 0 and self.web.counts["failed"] == 0)
        return good


def program_version():
    """Which program ran: the commit, whether the product sources had local changes, and the exe's build time."""
    def git(*args):
        return subprocess.run(["git", "-C", REPO] + list(args), capture_output=True, text=True).stdout.strip()
    commit = git("rev-parse", "--short", "HEAD") or "?"
    if git("status", "--porcelain", "--", "app", "display", "serial", "settings", "store", "resources"):
        commit += " with local changes"
    built = datetime.datetime.fromtimestamp(os.path.getmtime(vd.paths.VINTRA_EXE)).strftime("%Y-%m-%d %H:%M")
    return "commit %s, Vintra.exe built %s" % (commit, built)


def append_report(path, soak, argv, table):
    """Appends the run's table, with its date, length and command, to the report file."""
    command = "scripts/soak.sh " + " ".join(shlex.quote(a) for a in argv)
    head = "## %s, %.1f min\n\nCommand: `%s` (%s; %d samples/s, faults %g per line each).\n\n" % (
        datetime.datetime.now().strftime("%Y-%m-%d %H:%M"), soak.duration, command, soak.version,
        soak.args.rate, soak.args.faults)
    tail = ""
    if soak.problems:
        tail = "\nProblems:\n\n" + "".join("- %s\n" % p for p in soak.problems[:20])
    new_file = not os.path.exists(path)
    with open(path, "a") as f:
        if new_file:
            f.write("# Soak runs\n\nEach run: `scripts/soak.sh [minutes]`, summary appended here.\n\n")
        f.write(head + table + "\n" + tail + "\n")


def main(argv):
    args = parse_args(argv)
    # Its own prefix, so it can run beside the test suite.
    if not os.environ.get("VINTRA_WINEPREFIX"):
        vd.use_prefix(os.path.join(vd.paths.BUILD, "soak-wineprefix"))
    for path, what in ((vd.paths.VINTRA_EXE, "Vintra.exe (VINTRA_EXE)"), (vd.paths.VINTRA_SIM, "vintra-sim (VINTRA_SIM)")):
        if not os.path.exists(path):
            sys.exit("soak: %s not found at %s; build it first" % (what, path))
    work = tempfile.mkdtemp(prefix="vintra-soak-")
    soak = Soak(args, work)
    soak.version = program_version()
    try:
        soak.run()
    finally:
        shutil.rmtree(work, True)
    table = soak.summary()
    print(table)
    for problem in soak.problems:
        print("problem: " + problem)
    if args.report:
        append_report(args.report, soak, argv, table)
    print("soak: %s" % ("passed" if soak.verdict() else "FAILED"))
    return 0 if soak.verdict() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
