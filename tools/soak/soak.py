"""Long run of the real program under a misbehaving device that comes and goes.

Runs Vintra.exe under Wine on its own X display with the simulated device at
its fastest rate and every fault mode on. The device is plugged in for 60-120 s
at a time, then pulled out for 1-5 s: a fresh pseudo-terminal behind the same
COM port link each time, fed from the simulator through a relay. The relay
starts the simulator only once the program has opened the port (Wine drops
what arrives before that) and pulls the device out only once the program has
read everything, so every well-formed line sent must come back in the echo.
(The simulator's own pseudo-terminal would end a run that the program is
behind on in the middle of a line, and that fragment would then start the next
period's first line.) Prints a summary and appends it to docs/soak.md.

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
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
# The soak run keeps its own prefix so it can run beside the test suite.
os.environ.setdefault("VINTRA_WINEPREFIX", os.path.join(REPO, "build", "soak-wineprefix"))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
sys.path.insert(0, HERE)

import e2e_extras as x  # noqa: E402
import vintra_harness as h  # noqa: E402
from soak_compare import compare_period  # noqa: E402
from soak_echo import EchoFollower  # noqa: E402

PORT = 5
BAUD = 115200
OPEN_TIMEOUT = 10.0  # the program retries the port about once a second
DRAIN_TIMEOUT = 60.0  # for the program to read what is still queued when the simulator ends
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


class Program:
    """Vintra.exe under Wine in a working folder, its echo followed as it comes."""

    def __init__(self, folder):
        self.folder = folder
        env = h.wine_env({"WINEDEBUG": "-all,warn+debugstr"})
        self.process = subprocess.Popen([h.WINE, h.VINTRA_EXE], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.echo = EchoFollower(self.process.stderr)
        self.window = h.wait_until(lambda: self._find_window(), h.WINDOW_TIMEOUT, "the Vintra window")

    def _find_window(self):
        if self.process.poll() is not None:
            raise RuntimeError("Vintra ended with %s before showing its window: %s"
                               % (self.process.returncode, self.echo.other_stderr))
        found = x.visible_x_windows("^Vintra$")
        return found[0] if found else None

    def resident_kb(self):
        return x.resident_kb(self.process.pid)

    def close(self):
        """Closes the window with alt+F4; returns the exit code (None if it did not end)."""
        subprocess.run(["xdotool", "mousemove", "--window", self.window, "20", "20", "click", "1"])
        x.press("alt+F4")
        try:
            return self.process.wait(h.EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return None


class BpmTimes:
    """Polls bpm.txt's modification time and keeps the moments it changed."""

    def __init__(self, path, interval=0.02):
        self.path = path
        self.interval = interval
        self.updates = []  # monotonic times
        self.texts = set()
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._watch, daemon=True)
        self._thread.start()

    def _watch(self):
        last = None
        while not self._stop.is_set():
            try:
                stamp = os.stat(self.path).st_mtime_ns
                with open(self.path, "rb") as f:
                    text = f.read()
            except OSError:
                stamp, text = last, b""
            if stamp != last:
                with self._lock:
                    self.updates.append(time.monotonic())
                    if text:
                        self.texts.add(text)
                last = stamp
            time.sleep(self.interval)

    def take(self):
        """(update times, texts seen) since the last call."""
        with self._lock:
            updates, texts = self.updates, self.texts
            self.updates, self.texts = [], set()
        return updates, texts

    def stop(self):
        self._stop.set()
        self._thread.join(5)


def read_counts(path):
    """The simulator's counters ('key value' lines)."""
    counts = {}
    try:
        with open(path) as f:
            for line in f:
                key, _, value = line.partition(" ")
                counts[key] = int(value)
    except (OSError, ValueError):
        pass
    return counts


def read_log(path):
    try:
        with open(path, "rb") as f:
            return f.read().split(b"\n")[:-1]
    except OSError:
        return []


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
        with open(os.path.join(self.folder, "vintra.config"), "w") as f:
            f.write("%d %d" % (PORT, BAUD))
        self.totals = {"periods": 0, "lines_sent": 0, "wellformed_sent": 0, "received": 0, "missing": 0,
                       "unexpected": 0, "reconnects": 0, "late_opens": 0, "crashes": 0, "foreign_bpm": 0}
        self.open_latencies = []
        self.stalls = []  # (longest gap, period)
        self.memory = []  # (minutes, kB)
        self.rates = []   # well-formed samples per second the device managed, per period
        self.device = x.RelayedDevice(PORT)
        self.problems = []
        self.started = time.monotonic()
        self.program = None

    def log(self, text):
        print("[%6.1f min] %s" % ((time.monotonic() - self.started) / 60, text), flush=True)

    def sample_memory(self):
        kb = self.program.resident_kb()
        if kb is not None:
            self.memory.append(((time.monotonic() - self.started) / 60, kb))

    def check_alive(self):
        """Counts a program that ended on its own as a crash and starts it again."""
        if self.program.process.poll() is None:
            return
        self.totals["crashes"] += 1
        self.problems.append("Vintra ended with code %s; stderr: %s"
                             % (self.program.process.returncode, self.program.echo.other_stderr[-5:]))
        self.log("CRASH: " + self.problems[-1])
        self.program = Program(self.folder)

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
        """One plugged-in period of `seconds` of sending; adds its figures to the totals."""
        log_path = os.path.join(self.work, "sent-%d.log" % index)
        count_path = os.path.join(self.work, "counts-%d.txt" % index)
        command = [h.VINTRA_SIM, "--stdout", "--rate", "%g" % self.args.rate,
                   "--faults-all", "%g" % self.args.faults, "--status-every", "1",
                   "--seed", str(self.random.randrange(1 << 32)), "--duration", "%g" % seconds,
                   "--log-wellformed", log_path, "--count-file", count_path]
        self.program.echo.take_records()
        self.bpm.take()
        self.device.plug()
        plugged = time.monotonic()
        opened = None
        while time.monotonic() < plugged + OPEN_TIMEOUT and opened is None:
            if x.line_speed(self.device.path) == BAUD:
                opened = time.monotonic() - plugged
            else:
                time.sleep(0.02)
        if opened is None:
            self.totals["late_opens"] += 1
            self.problems.append("period %d: the program did not set up the device within %.0f s"
                                 % (index, OPEN_TIMEOUT))
        else:
            self.open_latencies.append(opened)
        sending = time.monotonic()
        sim = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        relay = threading.Thread(target=self.device.relay, args=(sim.stdout,), daemon=True)
        relay.start()
        self.wait_alive(seconds)
        try:
            sim.wait(30)
        except subprocess.TimeoutExpired:
            sim.kill()
            sim.wait()
        relay.join(DRAIN_TIMEOUT)
        sent_all = time.monotonic()
        h.wait_until(lambda: self.device.queued() == 0 and self.program.echo.quiet_for(1.0), DRAIN_TIMEOUT,
                     "the program to read what the device sent")
        self.device.unplug()
        ended = time.monotonic()
        sim_summary = sim.stderr.read().decode(errors="replace").strip()
        sim.stdout.close()
        sim.stderr.close()

        head = list(self.program.echo.head)
        received = self.program.echo.take_records()
        sent = read_log(log_path)
        counts = read_counts(count_path)
        missing, unexpected, problem = compare_period(received, sent)
        updates, texts = self.bpm.take()
        beat_texts = {x.stored_beat_text(line) for line in sent if line.startswith(b"B")}
        foreign = sorted(texts - beat_texts)
        gap = longest_gap(sending, updates, sent_all)

        self.totals["periods"] += 1
        self.totals["lines_sent"] += counts.get("lines_sent", 0)
        self.totals["wellformed_sent"] += len(sent)
        self.totals["received"] += len(received)
        self.totals["missing"] += missing
        self.totals["unexpected"] += unexpected
        self.totals["foreign_bpm"] += len(foreign)
        if index > 0 and received:
            self.totals["reconnects"] += 1
        self.stalls.append((gap, index))
        if problem:
            self.problems.append("period %d: %s; the period's echo began %r" % (index, problem, head))
        if foreign:
            self.problems.append("period %d: bpm.txt held %r, not from a well-formed B line" % (index, foreign[:5]))
        if counts.get("wellformed_sent", len(sent)) != len(sent):
            self.problems.append("period %d: the device counted %d well-formed lines but logged %d"
                                 % (index, counts.get("wellformed_sent"), len(sent)))
        rate = counts.get("s_sent", 0) / max(counts.get("elapsed_ms", 1) / 1000.0, 1e-9)
        self.rates.append(rate)
        self.log("period %d: %.0f s plugged, set up after %s s, %d lines sent (%.0f well-formed S/s), "
                 "%d well-formed, %d received, %d missing, %d unexpected, longest bpm.txt gap %.2f s; %s"
                 % (index, ended - plugged, "%.2f" % opened if opened is not None else "never",
                    counts.get("lines_sent", 0), rate, len(sent), len(received), missing, unexpected, gap,
                    sim_summary.splitlines()[-1] if sim_summary else "no summary"))
        for path in (log_path, count_path):
            if os.path.exists(path):
                os.remove(path)

    def run(self):
        h.map_ports((PORT,))
        h.start_display()
        try:
            self.program = Program(self.folder)
            with open("/proc/%d/cmdline" % self.program.process.pid, "rb") as f:
                self.log("Vintra.exe runs as pid %d (%s)" % (self.program.process.pid,
                                                             f.read().replace(b"\0", b" ").decode().strip()))
            self.bpm = BpmTimes(os.path.join(self.folder, "bpm.txt"))
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
            self.exit_code = self.program.close()
            self.bpm.stop()
        finally:
            if self.device.master is not None:
                self.device.unplug()
            if self.program is not None and self.program.process.poll() is None:
                self.program.process.kill()
            h.stop_wineserver()
            h.stop_display()
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
            ("Well-formed lines received (echo)", "%d" % t["received"]),
            ("Missing", "%d" % t["missing"]),
            ("Unexpected", "%d" % t["unexpected"]),
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
        ]
        lines = ["| | |", "|---|---|"] + ["| %s | %s |" % row for row in rows]
        return "\n".join(lines)

    def verdict(self):
        t = self.totals
        good = (t["missing"] == 0 and t["unexpected"] == 0 and t["crashes"] == 0 and t["foreign_bpm"] == 0
                and self.exit_code == 0 and t["reconnects"] == max(0, t["periods"] - 1))
        return good


def program_version():
    """Which program ran: the commit, whether the product sources had local changes, and the exe's build time."""
    def git(*args):
        return subprocess.run(["git", "-C", REPO] + list(args), capture_output=True, text=True).stdout.strip()
    commit = git("rev-parse", "--short", "HEAD") or "?"
    if git("status", "--porcelain", "--", "app", "display", "serial", "settings", "store", "resources"):
        commit += " with local changes"
    built = datetime.datetime.fromtimestamp(os.path.getmtime(h.VINTRA_EXE)).strftime("%Y-%m-%d %H:%M")
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
    for path, what in ((h.VINTRA_EXE, "Vintra.exe (VINTRA_EXE)"), (h.VINTRA_SIM, "vintra-sim (VINTRA_SIM)")):
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
