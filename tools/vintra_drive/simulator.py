"""vintra-sim, the simulated device: on its own pseudo-terminal, or relayed into a PtyDevice;
and Heartbeat, a device's lines written from this process, for leads that come off at a word."""

import math
import os
import subprocess
import threading
import time

from . import devices, line_view, paths, wait, wine


class Simulator:
    """vintra-sim on a pseudo-terminal of its own, linked as COM<port>."""

    def __init__(self, port, options=(), sim=None):
        self.link = wine.port_link(port)
        devices.remove_link(self.link)
        self.process = subprocess.Popen([sim or paths.VINTRA_SIM, "--pty", "--link", self.link]
                                        + [str(o) for o in options], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self.slave_path = self.process.stdout.readline().decode().strip()
        if not self.slave_path:
            raise RuntimeError("vintra-sim did not start: %s" % self.process.stderr.read().decode())
        wait.wait_until(lambda: os.path.islink(self.link) and os.readlink(self.link) == self.slave_path,
                        what="vintra-sim's link " + self.link)

    def configured(self):
        """Whether the program has opened and configured the line."""
        return line_view.raw_and_unmapped(self.slave_path)

    def wait(self, timeout):
        """Waits for a run with --duration to end; returns its summary (stderr)."""
        self.process.wait(timeout)
        return self.process.stderr.read().decode(errors="replace")

    def stop(self):
        """Ends the simulator (if it still runs) and removes its link."""
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()
        if os.path.islink(self.link) and os.readlink(self.link) == self.slave_path:
            os.remove(self.link)


class Relay:
    """vintra-sim writing to its standard output, relayed into a plugged-in PtyDevice."""

    def __init__(self, device, options, sim=None):
        self.device = device
        self.stopping = threading.Event()  # set: cut the stream at the next chunk, possibly mid-line
        self.copied = 0                    # bytes the device received
        self.process = subprocess.Popen([sim or paths.VINTRA_SIM, "--stdout"] + [str(o) for o in options],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self._thread = threading.Thread(target=self._copy, daemon=True)
        self._thread.start()

    def _copy(self):
        self.copied = self.device.relay(self.process.stdout, self.stopping)

    def finish(self, timeout):
        """Waits for the simulator's run to end and everything to be relayed; returns its summary.

        AssertionError when it fails or does not end within `timeout`."""
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.stop()
            raise AssertionError("vintra-sim did not finish within %d s" % timeout)
        self._thread.join(timeout)
        return self._close(check=True)

    def stop(self):
        """Cuts the stream now (inside the next chunk the simulator writes) and ends the simulator."""
        self.stopping.set()
        # A device the program no longer reads holds the relay until it is pulled out.
        self._thread.join(10)
        if self.process.poll() is None:
            self.process.terminate()  # it writes its count file on the way out
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self._thread.join(30)
        return self._close(check=False)

    def _close(self, check):
        summary = self.process.stderr.read().decode(errors="replace").strip()
        self.process.stdout.close()
        self.process.stderr.close()
        if check and self.process.returncode != 0:
            raise AssertionError("vintra-sim failed (%d): %s" % (self.process.returncode, summary))
        return summary


def run_into(device, options, timeout=60):
    """Runs vintra-sim with `options` into the device; returns its summary line once all is sent."""
    return Relay(device, options).finish(timeout)


def read_counts(path):
    """The simulator's counters ('key value' lines) from its count file; {} if there is none."""
    counts = {}
    try:
        with open(path) as f:
            for line in f:
                key, _, value = line.partition(" ")
                counts[key] = int(value)
    except (OSError, ValueError):
        pass
    return counts


def read_echo_log(path):
    """The lines the program echoes, as the simulator logged them (--log-echoed): (kind, text) pairs,
    kind b"W" (well-formed: stored, or a status line), b"R" (a value out of range) or b"N" (noise)."""
    return [(line[:1], line[2:]) for line in read_lines(path)]


def read_lines(path):
    """The lines of a file (bytes, without their LF); [] if there is none."""
    try:
        with open(path, "rb") as f:
            return f.read().split(b"\n")[:-1]
    except OSError:
        return []


def wave(i):
    """A beat-shaped signal, 200 samples a beat: a sharp peak and a dip on a slow swell."""
    phase = i % 200
    return 900 if phase < 3 else 330 if phase < 7 else 500 + int(60 * math.sin(phase * math.pi / 100))


class Heartbeat:
    """Writes into a PtyDevice what a sensor sends: `per_tick` S lines every 20 ms and, while
    `beating`, a B line with `rate` every half second. Writes only while the device is plugged
    in and set up (ready(), default: set to 115200 baud): a fresh pseudo-terminal mangles what
    it gets before the program sets it up. Plug and unplug the device under `lock`."""

    def __init__(self, device, rate=72, per_tick=5, ready=None):
        self.device = device
        self.rate = rate
        self.per_tick = per_tick
        self.ready = ready or (lambda: device.line_settings()[0] == 115200)
        self.beating = True
        self.last_beat = None         # monotonic time the last B line went out
        self.lock = threading.Lock()  # held for each write
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        tick = 0
        while not self._stop.is_set():
            with self.lock:
                # A device the program does not read (any more) is not written:
                # a full terminal would block the write with the lock held.
                if self.device.plugged() and self.ready() and self.device.queued() < 4096:
                    tick += 1
                    lines = [b"S%d" % wave(self.per_tick * tick + k) for k in range(self.per_tick)]
                    beat = self.beating and tick % 25 == 0
                    if beat:
                        lines.append(b"B%d" % self.rate)
                    self.device.write(b"".join(line + b"\r\n" for line in lines))
                    if beat:
                        self.last_beat = time.monotonic()
            time.sleep(0.02)

    def stop_beats(self):
        """Leads off: samples go on, beat rates stop. Returns when the last B line went out."""
        with self.lock:
            self.beating = False
            return self.last_beat

    def stop(self):
        self._stop.set()
        self._thread.join(5)
