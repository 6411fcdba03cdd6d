"""Runs the real Vintra.exe under Wine for the running-program benchmarks.

Everything lives apart from the tests: a private Wine prefix (so its server's
CPU is ours alone and a test run cannot restart it under us), a private Xvfb,
and a fresh working folder per run. Python 3 standard library only.
"""

import os
import pty
import shutil
import subprocess
import tempfile
import termios
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
HOST_BUILD = os.environ.get("VINTRA_BENCH_HOST_BUILD", os.path.join(REPO, "build", "bench"))
WIN_BUILD = os.environ.get("VINTRA_BENCH_WIN_BUILD", os.path.join(REPO, "build", "bench-win"))
VINTRA_EXE = os.environ.get("VINTRA_EXE", os.path.join(WIN_BUILD, "product", "Vintra.exe"))
VINTRA_SIM = os.environ.get("VINTRA_SIM", os.path.join(HOST_BUILD, "tools", "vintra_sim", "vintra-sim"))
WINEPREFIX = os.environ.get("VINTRA_WINEPREFIX") or os.path.join(HOST_BUILD, "wineprefix")
PORTS_DIR = os.path.join(WINEPREFIX, "vintra-ports")
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"

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
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")

ECHO_ON = "-all,warn+debugstr"   # the echo reaches stderr
ECHO_OFF = "-all"                # the program still echoes; Wine prints nothing


def wine_env(debug=ECHO_OFF):
    """The environment of every Wine process of the benchmarks."""
    env = dict(os.environ)
    env.update({"WINEPREFIX": WINEPREFIX, "VINTRA_WINEPREFIX": WINEPREFIX, "WINEDEBUG": debug,
                "WINEDLLOVERRIDES": "mscoree,mshtml="})
    return env


def wait_until(condition, timeout, what, interval=0.02):
    """Polls condition() until it returns something true; raises after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise RuntimeError("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


# ------------------------------------------------------------ process figures

def cpu_seconds(pid):
    """User plus system CPU seconds a process has used so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # After the command: state is field 3, utime 14 and stime 15 (1-based).
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def resident_kib(pid):
    """VmRSS of a process in KiB."""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS for process %d" % pid)


def cpu_share(pids, seconds):
    """CPU seconds per wall second of each named process over `seconds`."""
    before = {name: cpu_seconds(pid) for name, pid in pids.items()}
    start = time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - start
    return {name: (cpu_seconds(pid) - before[name]) / wall for name, pid in pids.items()}


def find_vintra_pid(exe=VINTRA_EXE):
    """Our Wine process running Vintra.exe (or the build `exe`): its image is the
    Wine loader, its command line names our build of the program and its prefix
    is ours (other people's runs on the same machine are left alone)."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            image = os.readlink("/proc/%s/exe" % entry)
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                cmdline = f.read()
            with open("/proc/%s/environ" % entry, "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if os.path.basename(image).startswith("wine") and exe.encode() in cmdline and \
                ("WINEPREFIX=" + WINEPREFIX).encode() in environ:
            found.append(int(entry))
    return found[0] if len(found) == 1 else None


# ------------------------------------------------------------ display, prefix, server

class Session:
    """A private X display and a persistent Wine server for the prefix."""

    def __init__(self):
        self.xvfb = None
        self.server = None
        self.display = None

    def start(self):
        self._prepare_prefix()
        self._start_display()
        # The server in the foreground and persistent: its process id is known
        # and it does not exit between runs.
        self.server = subprocess.Popen([WINESERVER, "-f", "-p"], env=self.env(),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.5)
        # Start Wine's desktop processes once, so the first measured run does
        # not pay for them.
        subprocess.run([WINE, "cmd", "/c", "exit"], env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)
        return self

    def stop(self):
        if self.server is not None:
            subprocess.run([WINESERVER, "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            try:
                self.server.wait(30)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()
            self.server = None
        if self.xvfb is not None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
            self.xvfb = None

    def env(self, debug=ECHO_OFF):
        env = wine_env(debug)
        if self.display:
            env["DISPLAY"] = self.display
        return env

    def _prepare_prefix(self):
        env = wine_env()
        env["DISPLAY"] = ""
        subprocess.run(["bash", os.path.join(REPO, "scripts", "setup-wineprefix.sh"), str(PORT)],
                       env=env, check=True, timeout=300)
        # The script may leave a server running that has no display.
        subprocess.run([WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)

    def _start_display(self):
        # An explicit display number that no server holds: -displayfd trusts
        # lock files, and on a shared machine those can vanish while their
        # server still listens, which would send our windows to someone else's
        # screen. Xvfb exits when its number turns out to be taken.
        for number in range(100 + os.getpid() % 100, 400):
            if _display_in_use(number):
                continue
            self.xvfb = subprocess.Popen(
                ["Xvfb", ":%d" % number, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                env=dict(os.environ, VINTRA_PERF_SESSION=str(os.getpid())))  # tells our server apart
            deadline = time.monotonic() + 15
            while self.xvfb.poll() is None and not _display_in_use(number) and time.monotonic() < deadline:
                time.sleep(0.05)
            time.sleep(0.2)
            if self.xvfb.poll() is None and _display_in_use(number):
                self.display = ":%d" % number
                return
            self.xvfb.kill()
            self.xvfb.wait()
            self.xvfb = None
        raise RuntimeError("Xvfb did not start")


def _display_in_use(number):
    """True when an X server listens on display `number` or holds its lock file."""
    if os.path.exists("/tmp/.X%d-lock" % number):
        return True
    name = "/tmp/.X11-unix/X%d" % number
    with open("/proc/net/unix") as f:
        return any(line.rstrip().endswith(name) for line in f)


# ------------------------------------------------------------ the program

class Program:
    """One run of Vintra.exe (or another build of it, `exe`) in a fresh working
    folder, set to COM<PORT>."""

    def __init__(self, session, echo_path=None, debug=None, exe=VINTRA_EXE):
        self.session = session
        self.exe = exe
        self.folder = tempfile.mkdtemp(prefix="vintra-bench-")
        with open(os.path.join(self.folder, "vintra.config"), "w") as f:
            f.write("%u %u" % (PORT, BAUD))
        self.echo_file = open(echo_path, "wb") if echo_path else None
        env = session.env(debug or (ECHO_ON if echo_path else ECHO_OFF))
        self.process = subprocess.Popen([WINE, exe], cwd=self.folder, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL,
                                        stderr=self.echo_file or subprocess.DEVNULL)
        self.pid = wait_until(lambda: find_vintra_pid(exe), 60, "the Vintra process")
        wait_until(self._window_shown, 60, "the main window")

    def _window_shown(self):
        result = subprocess.run(["xdotool", "search", "--name", "^Vintra$"], env=self.session.env(),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return result.returncode == 0 and result.stdout.strip()

    def path(self, name):
        return os.path.join(self.folder, name)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(30)
        # The loader may have handed over to another process image; make sure it is gone.
        wait_until(lambda: find_vintra_pid(self.exe) is None, 30, "the Vintra process to end")
        if self.echo_file:
            self.echo_file.close()
        shutil.rmtree(self.folder, ignore_errors=True)


def port_link():
    """Where COM<PORT> of the prefix points."""
    return os.path.join(PORTS_DIR, "com%d" % PORT)


def remove_port_link():
    if os.path.lexists(port_link()):
        os.remove(port_link())


def line_configured(slave_path):
    """True once the program has opened and configured the line: raw, no CR to LF
    (a fresh pseudo-terminal is canonical and maps CR)."""
    fd = os.open(slave_path, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        attrs = termios.tcgetattr(fd)
    finally:
        os.close(fd)
    return not (attrs[3] & termios.ICANON) and not (attrs[0] & termios.ICRNL)


# ------------------------------------------------------------ devices

class PtyDevice:
    """A pseudo-terminal on COM<PORT> written by this process."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        self.slave_path = os.ttyname(self.slave)
        remove_port_link()
        os.symlink(self.slave_path, port_link())

    def configured(self):
        return line_configured(self.slave_path)

    def write(self, data):
        view = memoryview(data)
        while view:
            view = view[os.write(self.master, view):]

    def close(self):
        remove_port_link()
        os.close(self.master)
        os.close(self.slave)


class SimDevice:
    """vintra-sim on a pseudo-terminal linked as COM<PORT>."""

    def __init__(self, arguments):
        remove_port_link()
        self.process = subprocess.Popen([VINTRA_SIM, "--pty", "--link", port_link()] + arguments,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.slave_path = self.process.stdout.readline().decode().strip()
        if not self.slave_path:
            raise RuntimeError("vintra-sim did not start: %s" % self.process.stderr.read().decode())
        wait_until(lambda: os.path.islink(port_link()), 10, "the simulator's link")

    def configured(self):
        return line_configured(self.slave_path)

    def wait(self, timeout):
        self.process.wait(timeout)
        return self.process.stderr.read().decode()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)
        remove_port_link()
