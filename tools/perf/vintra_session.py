"""The benchmarks' session: Vintra.exe under Wine, apart from the tests.

A private Wine prefix (so its server's CPU is ours alone and a test run cannot
restart it under us), a private display, a persistent server, and a fresh
working folder per run of the benchmark build's Vintra.exe. The driving itself
is the toolkit's (tools/vintra_drive).
"""

import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
import vintra_drive as vd  # noqa: E402

HOST_BUILD = os.environ.get("VINTRA_BENCH_HOST_BUILD", os.path.join(vd.paths.REPO, "build", "bench"))
WIN_BUILD = os.environ.get("VINTRA_BENCH_WIN_BUILD", os.path.join(vd.paths.REPO, "build", "bench-win"))
VINTRA_EXE = os.environ.get("VINTRA_EXE", os.path.join(WIN_BUILD, "product", "Vintra.exe"))
VINTRA_SIM = os.environ.get("VINTRA_SIM", os.path.join(HOST_BUILD, "tools", "vintra_sim", "vintra-sim"))
vd.use_prefix(os.environ.get("VINTRA_WINEPREFIX") or os.path.join(HOST_BUILD, "wineprefix"))
WINE = vd.paths.WINE
ECHO_OFF = vd.wine.ECHO_OFF
wait_until = vd.wait_until
cpu_seconds = vd.cpu_seconds
resident_kib = vd.resident_kb


def bench_exe(name):
    """A Windows benchmark executable of the benchmark build: at its top, or one
    level down when the product's own build includes the benchmark folder."""
    for folder in (WIN_BUILD, os.path.join(WIN_BUILD, "product", "tests", "bench", "win")):
        path = os.path.join(folder, name)
        if os.path.exists(path):
            return path
    raise RuntimeError("%s is not built in %s" % (name, WIN_BUILD))


PORT = 5            # the COM port every run uses
BAUD = 256000       # the fastest rate the settings offer


def cpu_share(pids, seconds):
    """CPU seconds per wall second of each named process over `seconds`."""
    before = {name: cpu_seconds(pid) for name, pid in pids.items()}
    start = time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - start
    return {name: (cpu_seconds(pid) - before[name]) / wall for name, pid in pids.items()}


class Session:
    """The prefix mapped to COM<PORT>, a private display and a persistent Wine server."""

    def __init__(self):
        self.server = None
        self.xvfb = None

    def start(self):
        vd.map_ports((PORT,))
        vd.start_display()
        self.xvfb = vd.display.xvfb["process"]
        self.server = vd.wine.start_server()
        time.sleep(0.5)
        # Start Wine's desktop processes once, so the first measured run does
        # not pay for them.
        vd.wine.run("cmd", ["/c", "exit"], capture=False, timeout=120)
        return self

    def stop(self):
        if self.server is not None:
            vd.stop_server()
            self.server.wait(30)
            self.server = None
        vd.stop_display()

    def env(self, debug=ECHO_OFF):
        return vd.wine.env(debug)


class Program:
    """One run of the benchmark build's Vintra.exe (or of another build of it,
    `exe`) in a fresh working folder, set to COM<PORT>, with its web endpoint on
    `web_port` (None: the program's default)."""

    def __init__(self, session, echo=False, exe=VINTRA_EXE, web_port=None):
        self.folder = tempfile.mkdtemp(prefix="vintra-bench-")
        config = b"%d %d" % (PORT, BAUD) + (b" %d" % web_port if web_port is not None else b"")
        self.run = vd.launch(self.folder, config, exe=exe, echo_lines=echo)
        self.pid = wait_until(self.run.windows_pid, 60, "the Vintra process")

    def path(self, name):
        return self.run.path(name)

    def stop(self):
        self.run.process.kill()
        self.run.process.wait(30)
        # The loader may have handed over to another process image; make sure it is gone.
        wait_until(lambda: self.run.windows_pid() is None, 30, "the Vintra process to end")
        shutil.rmtree(self.folder, ignore_errors=True)


def remove_port_link():
    vd.remove_link(vd.port_link(PORT))


class PtyDevice(vd.PtyDevice):
    """A pseudo-terminal on COM<PORT> written by this process."""

    def __init__(self):
        super().__init__(PORT)

    def configured(self):
        return vd.line_view.raw_and_unmapped(self.slave_path)


def SimDevice(arguments):
    """vintra-sim on a pseudo-terminal linked as COM<PORT>."""
    return vd.Simulator(PORT, arguments, sim=VINTRA_SIM)
