"""Drives the real Vintra.exe under Wine on a private X display.

A test module calls start_session(ports) in setUpModule and stop_session() in
tearDownModule. Each case then plugs in pseudo-terminal devices (PtyDevice),
launches the program in a fresh working folder (launch) and looks at what it
did: the debugger echo, bpm.txt, the line settings of the device and the
picture on the screen (Picture).
"""

import atexit
import ctypes
import os
import pty
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
VINTRA_EXE = os.environ.get("VINTRA_EXE", os.path.join(REPO, "build", "win", "Vintra.exe"))
WINDOW_PROBE = os.environ.get(
    "VINTRA_WINDOW_PROBE", os.path.join(REPO, "build", "win", "tests", "e2e", "window_probe.exe"))
VINTRA_SIM = os.environ.get(
    "VINTRA_SIM", os.path.join(REPO, "build", "host", "tools", "vintra_sim", "vintra-sim"))
WINEPREFIX = os.environ.get("VINTRA_WINEPREFIX") or os.path.join(REPO, "build", "wineprefix")
PORTS_DIR = os.path.join(WINEPREFIX, "vintra-ports")
SHOTS_DIR = os.environ.get("VINTRA_E2E_SHOTS", os.path.join(tempfile.gettempdir(), "vintra-e2e-shots"))
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
WINE_START_ATTEMPTS = 3  # see launch()

SCREEN_SIZE = (1024, 768)
GREEN = (0, 255, 0)
PANEL_GREY = (180, 180, 180)
MIN_TRACK_SIZE = (270, 238)

WINDOW_TIMEOUT = 30.0  # a cold Wine start (server, explorer) on a busy machine
EXIT_TIMEOUT = 20.0    # Wine takes a few seconds to end a process after its last window
EVENT_TIMEOUT = 10.0   # anything the program does within a few of its 16 ms ticks

_session = {"xvfb": None, "runs": [], "devices": []}


def wait_until(condition, timeout=EVENT_TIMEOUT, what="a condition", interval=0.05):
    """Polls condition() until it returns something true and returns that; fails after timeout.

    `what` describes the wait in the failure message; a callable is asked at the time of failure.
    """
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            described = what() if callable(what) else what
            raise AssertionError("timed out after %.1f s waiting for %s" % (timeout, described))
        time.sleep(interval)


def wine_env(extra=None):
    """The environment every Wine process of the tests runs with."""
    env = dict(os.environ)
    env.update({"WINEPREFIX": WINEPREFIX, "VINTRA_WINEPREFIX": WINEPREFIX, "WINEDEBUG": "-all",
                "WINEDLLOVERRIDES": "mscoree,mshtml="})
    env.update(extra or {})
    return env


def _die_with_parent():
    """In a child before exec: get SIGTERM when the test process dies, however it dies."""
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def start_display():
    """Starts Xvfb on a free display number and makes it this process's DISPLAY."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % SCREEN_SIZE, "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)
    os.close(write_end)
    # Xvfb writes the number and its newline separately and dies if the pipe is
    # closed in between: read up to the newline.
    reply = b""
    deadline = time.monotonic() + 15
    while not reply.endswith(b"\n") and time.monotonic() < deadline:
        ready, _, _ = select.select([read_end], [], [], 1)
        chunk = os.read(read_end, 32) if ready else b""
        if ready and not chunk:
            break
        reply += chunk
    os.close(read_end)
    number = reply.decode().strip() if reply.endswith(b"\n") else ""
    if not number:
        xvfb.kill()
        raise RuntimeError("Xvfb did not start")
    _session["xvfb"] = xvfb
    os.environ["DISPLAY"] = ":" + number


def stop_display():
    """Stops the Xvfb started by start_display, if any."""
    xvfb = _session["xvfb"]
    _session["xvfb"] = None
    if xvfb is not None and xvfb.poll() is None:
        xvfb.terminate()
        try:
            xvfb.wait(5)
        except subprocess.TimeoutExpired:
            xvfb.kill()
            xvfb.wait()


def stop_wineserver():
    """Ends every process of the test prefix and its server."""
    subprocess.run([WINESERVER, "-k"], env=wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([WINESERVER, "-w"], env=wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=30)


def map_ports(ports):
    """Creates the prefix if needed and maps exactly COM<n> for n in ports to PORTS_DIR/com<n>."""
    script = os.path.join(REPO, "scripts", "setup-wineprefix.sh")
    env = wine_env({"DISPLAY": ""})
    subprocess.run(["bash", script] + [str(n) for n in ports], env=env, check=True, timeout=300)
    # The script may leave a server running that was started without a display;
    # windows of programs it serves could stay invisible.
    stop_wineserver()


def _interrupt(*_):
    """SIGTERM (a ctest timeout) stops the run like Ctrl-C; the exit handler then cleans up."""
    raise KeyboardInterrupt


def start_session(ports=(3, 5, 7)):
    """Sets up a module: its own X display and the prefix with the given COM ports."""
    atexit.register(end_session)
    signal.signal(signal.SIGTERM, _interrupt)
    map_ports(ports)
    start_display()


def stop_session():
    """Tears a module down: every run and device it left, the Wine server, the display."""
    try:
        for run in list(_session["runs"]):
            run.kill()
        for device in list(_session["devices"]):
            device.close()
        stop_wineserver()
    finally:
        stop_display()


def end_session():
    """Last-resort cleanup at interpreter exit (after a crash in a test module)."""
    if _session["xvfb"] is not None or _session["runs"]:
        stop_session()


# ---------------------------------------------------------------- devices

_SPEEDS = {getattr(termios, name): int(name[1:]) for name in dir(termios)
           if re.fullmatch(r"B\d+", name)}


class PtyDevice:
    """A pseudo-terminal standing in for the device on COM<port>."""

    def __init__(self, port):
        self.port = port
        self.link = os.path.join(PORTS_DIR, "com%d" % port)
        self.master = None
        self.slave = None
        self.slave_path = None
        _session["devices"].append(self)
        self.plug()

    def plug(self):
        """Makes a fresh pseudo-terminal and points COM<port> at it (plugging the device in)."""
        self.master, self.slave = pty.openpty()
        self.slave_path = os.ttyname(self.slave)
        # Start from a line setting the program has to change (7E2 at 4800),
        # keeping the cooked defaults a freshly plugged-in tty has.
        attrs = termios.tcgetattr(self.slave)
        attrs[2] = (attrs[2] & ~termios.CSIZE) | termios.CS7 | termios.PARENB | termios.CSTOPB
        attrs[4] = attrs[5] = termios.B4800
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)
        os.set_blocking(self.master, False)
        temporary = self.link + ".new"
        if os.path.lexists(temporary):
            os.remove(temporary)
        os.symlink(self.slave_path, temporary)
        os.replace(temporary, self.link)

    def unplug(self):
        """Removes the link and closes both ends, as when the cable is pulled."""
        if self.master is None:
            return  # already out: its terminal's path may belong to a newer device by now
        if os.path.islink(self.link) and os.readlink(self.link) == self.slave_path:
            os.remove(self.link)
        for fd in (self.master, self.slave):
            if fd is not None:
                os.close(fd)
        self.master = self.slave = None

    def close(self):
        """Unplugs the device and forgets it."""
        self.unplug()
        if self in _session["devices"]:
            _session["devices"].remove(self)

    def write(self, data):
        """Sends bytes as the device would."""
        view = memoryview(data)
        while view:
            try:
                view = view[os.write(self.master, view):]
            except BlockingIOError:
                time.sleep(0.01)
            self.discard_output()

    def discard_output(self):
        """Reads away what the tty echoes back while it is still in cooked mode."""
        try:
            while os.read(self.master, 4096):
                pass
        except (BlockingIOError, OSError):
            pass

    def line_settings(self):
        """The line speed (baud) and the termios c_cflag the program left on the device."""
        attrs = termios.tcgetattr(self.slave)
        return _SPEEDS.get(attrs[4], -1), attrs[2]

    def opened_by_others(self):
        """Whether any other process (the program, the Wine server) holds the device open."""
        me = str(os.getpid())
        for pid in os.listdir("/proc"):
            if not pid.isdigit() or pid == me:
                continue
            fd_dir = os.path.join("/proc", pid, "fd")
            try:
                for fd in os.listdir(fd_dir):
                    if os.readlink(os.path.join(fd_dir, fd)) == self.slave_path:
                        return True
            except OSError:
                continue
        return False


def send_until_echoed(run, device, data, line, timeout=EVENT_TIMEOUT):
    """Writes data again and again until `line` is echoed: bytes sent before the program opens the port are lost."""
    def sent():
        device.write(data)
        return line in run.echoed_lines()
    wait_until(sent, timeout, "the echo of %r" % line, interval=0.3)


def plug_device(test, port):
    """A PtyDevice on COM<port> that is closed when the test case ends."""
    device = PtyDevice(port)
    test.addCleanup(device.close)
    return device


# ---------------------------------------------------------------- the program

_ECHO = re.compile(r':OutputDebugStringA "(.*)"$')
_ESCAPES = {"n": b"\n", "r": b"\r", "t": b"\t", "\\": b"\\", '"': b'"'}


def unescape_debugstr(text):
    """Turns Wine's quoted form of a debug string back into its bytes."""
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt == "x" and i + 4 <= len(text):
                out += bytes([int(text[i + 2:i + 4], 16)])
                i += 4
                continue
            if nxt in _ESCAPES:
                out += _ESCAPES[nxt]
                i += 2
                continue
        out += c.encode("latin-1")
        i += 1
    return bytes(out)


class VintraRun:
    """One run of Vintra.exe under Wine in its own working folder."""

    def __init__(self, folder):
        self.folder = folder
        self.echo_pieces = []
        self.other_stderr = []
        self._lock = threading.Lock()
        env = wine_env({"WINEDEBUG": "-all,warn+debugstr"})
        self.process = subprocess.Popen([WINE, VINTRA_EXE], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self._reader = threading.Thread(target=self._read_stderr, daemon=True)
        self._reader.start()
        _session["runs"].append(self)

    def _read_stderr(self):
        """Collects the debugger echo (and anything else Wine says) from stderr."""
        for raw in self.process.stderr:
            text = raw.decode("latin-1").rstrip("\n")
            match = _ECHO.search(text)
            with self._lock:
                if match:
                    self.echo_pieces.append(unescape_debugstr(match.group(1)))
                else:
                    self.other_stderr.append(text)

    def echoed_lines(self):
        """The lines echoed so far (each OutputDebugStringA(line) is followed by one of "\\n")."""
        with self._lock:
            text = b"".join(self.echo_pieces)
        return text.split(b"\n")[:-1]

    def wait_echo(self, line, timeout=EVENT_TIMEOUT):
        """Waits until `line` (bytes) has been echoed; returns all echoed lines."""
        return wait_until(lambda: line in self.echoed_lines() and self.echoed_lines(), timeout,
                          lambda: "the echo of %r (last echoed: %r)" % (line, self.echoed_lines()[-10:]))

    def path(self, name):
        """A path in the run's working folder."""
        return os.path.join(self.folder, name)

    def read_file(self, name):
        """The bytes of a file in the working folder, or None if it does not exist."""
        try:
            with open(self.path(name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def wait_bpm(self, text, timeout=EVENT_TIMEOUT):
        """Waits until bpm.txt holds exactly `text` (bytes)."""
        wait_until(lambda: self.read_file("bpm.txt") == text, timeout,
                   lambda: "bpm.txt to hold %r (it holds %r)" % (text, self.read_file("bpm.txt")))

    def wait_window(self, timeout=WINDOW_TIMEOUT):
        """Waits for the top-level window titled "Vintra" to be shown; returns its X id."""
        def find():
            if self.process.poll() is not None:
                raise AssertionError("Vintra ended (code %s) before showing its window; stderr: %s"
                                     % (self.process.returncode, self.other_stderr[-20:]))
            return find_window("^Vintra$")
        return wait_until(find, timeout, "the Vintra window")

    def click(self, x=20, y=20):
        """Clicks into the window's client area, which makes it Wine's active window."""
        # Looked up each time: Wine may replace the X window behind a Windows window.
        subprocess.run(["xdotool", "mousemove", "--window", self.wait_window(), str(x), str(y), "click", "1"],
                       check=True)

    def key(self, name):
        """Presses a key (xdotool name, e.g. Delete, F6, alt+F4) in the window."""
        self.click()
        subprocess.run(["xdotool", "key", name], check=True)

    def probe(self, *args):
        """Runs the window probe (outer and client size, or a resize through Wine)."""
        result = subprocess.run([WINE, WINDOW_PROBE] + [str(a) for a in args], env=wine_env(),
                                capture_output=True, text=True, timeout=60)
        if result.returncode != 0:
            raise AssertionError("window_probe %s failed: %s" % (args, result.stderr))
        words = result.stdout.split()
        return {"outer": (int(words[3]), int(words[4])), "client": (int(words[6]), int(words[7])),
                "style": int(words[9], 16)}

    def screenshot(self):
        """The client area now on the screen (found by its pure green), as a Picture."""
        return grab_client_area()

    def wait_picture(self, condition, what, timeout=EVENT_TIMEOUT):
        """Takes screenshots until condition(picture) holds; returns that picture."""
        seen = []

        def attempt():
            picture = grab_client_area()
            seen[:] = [picture]
            return picture if picture is not None and condition(picture) else None
        try:
            return wait_until(attempt, timeout, what, interval=0.1)
        except AssertionError:
            if seen and seen[0] is not None:
                path = seen[0].save_png("failed-%d.png" % int(time.time() * 1000))
                raise AssertionError("timed out waiting for %s; last picture: %s" % (what, path))
            raise

    def close(self, timeout=EXIT_TIMEOUT):
        """Closes the window the way a user does (alt+F4) and returns the exit code."""
        self.key("alt+F4")
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("Vintra did not end within %.0f s of alt+F4" % timeout)

    def kill(self):
        """Ends the process if it is still running and forgets the run."""
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
            # Its helpers (explorer, services) would otherwise hold the session.
            stop_wineserver()
        self._reader.join(5)
        self.process.stderr.close()
        if self in _session["runs"]:
            _session["runs"].remove(self)


def find_window(title_pattern):
    """The X id of a visible window whose title matches the pattern, or None."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title_pattern],
                           capture_output=True, text=True).stdout.split()
    return found[0] if found else None


def launch(test, settings=None, wait_window=True):
    """Starts Vintra.exe in a fresh working folder, optionally holding `settings` (bytes) as vintra.config."""
    folder = tempfile.mkdtemp(prefix="vintra-e2e-")
    test.addCleanup(shutil.rmtree, folder, True)
    if settings is not None:
        with open(os.path.join(folder, "vintra.config"), "wb") as f:
            f.write(settings)
    for attempt in range(WINE_START_ATTEMPTS):
        run = VintraRun(folder)
        test.addCleanup(run.kill)
        if not wait_window:
            return run
        try:
            run.wait_window()
            return run
        except AssertionError:
            # Now and then the Wine loader gives up at once (exit code 1,
            # nothing said) while the previous case's server is still going
            # away; that is the platform starting, not the program.
            if run.process.poll() != 1 or run.echoed_lines() or attempt + 1 == WINE_START_ATTEMPTS:
                raise
            sys.stderr.write("Wine ended at start-up with code 1; starting Vintra again\n")
            subprocess.run([WINESERVER, "-w"], env=wine_env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
    return run


# ---------------------------------------------------------------- pictures

class Picture:
    """RGB pixels of a rectangle of the screen (usually the client area)."""

    def __init__(self, width, height, data, origin=(0, 0)):
        self.width = width
        self.height = height
        self.data = data
        self.origin = origin

    def pixel(self, x, y):
        """The (r, g, b) at x, y."""
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def crop(self, left, top, right, bottom):
        """The part [left, right) x [top, bottom) as a new Picture."""
        rows = [self.data[((y * self.width) + left) * 3:((y * self.width) + right) * 3] for y in range(top, bottom)]
        return Picture(right - left, bottom - top, b"".join(rows),
                       (self.origin[0] + left, self.origin[1] + top))

    def dark_pixels(self, rect, limit=150):
        """The set of (x, y) in rect = (left, top, right, bottom) whose r+g+b is below `limit`."""
        left, top, right, bottom = rect
        return {(x, y) for y in range(top, bottom) for x in range(left, right) if sum(self.pixel(x, y)) < limit}

    def region(self, rect):
        """The raw bytes of rect = (left, top, right, bottom), for exact comparisons."""
        return self.crop(*rect).data

    def bounding_box(self, colour):
        """(left, top, right, bottom) of the pixels of exactly `colour`, or None."""
        target = bytes(colour)
        xs, ys = [], []
        stride = self.width * 3
        for y in range(self.height):
            row = self.data[y * stride:(y + 1) * stride]
            first = _find_pixel(row, target)
            if first >= 0:
                xs += [first, _find_pixel(row, target, reverse=True)]
                ys.append(y)
        if not ys:
            return None
        return min(xs), min(ys), max(xs) + 1, max(ys) + 1

    def save_png(self, name):
        """Writes the picture as a PNG (name relative to SHOTS_DIR) and returns its path."""
        path = name if os.path.isabs(name) else os.path.join(SHOTS_DIR, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        stride = self.width * 3
        raw = b"".join(b"\0" + self.data[y * stride:(y + 1) * stride] for y in range(self.height))

        def chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
        png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0))
               + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
        with open(path, "wb") as f:
            f.write(png)
        return path


def _find_pixel(row, target, reverse=False):
    """Index of the first (or last) whole pixel in row equal to target, or -1."""
    at = row.rfind(target) if reverse else row.find(target)
    while at >= 0 and at % 3 != 0:
        at = row.rfind(target, 0, at + 2) if reverse else row.find(target, at + 1)
    return at // 3 if at >= 0 else -1


def grab_screen():
    """The whole X screen as a Picture."""
    data = subprocess.run(["import-im6.q16", "-window", "root", "-depth", "8", "rgb:-"],
                          capture_output=True, check=True, timeout=30).stdout
    width, height = SCREEN_SIZE
    if len(data) != width * height * 3:
        raise AssertionError("screenshot has %d bytes, expected %d" % (len(data), width * height * 3))
    return Picture(width, height, data)


def grab_client_area():
    """The pure green client area (bounding box of 0x00FF00 on the screen), or None if none shows."""
    screen = grab_screen()
    box = screen.bounding_box(GREEN)
    return screen.crop(*box) if box else None


def panel_rects(width, height):
    """The three panels (left, top, right, bottom) for a client area of width x height."""
    return {"signal": (4, 4, width - 148, height - 4),
            "rate": (width - 144, 4, width - 4, 100),
            "history": (width - 144, 104, width - 4, height - 4)}


def inside(rect, inset):
    """rect shrunk by `inset` on every side."""
    left, top, right, bottom = rect
    return left + inset, top + inset, right - inset, bottom - inset


def is_dark(colour):
    """Black-ish: outlines, text and traces (not the grid's grey 0x666666)."""
    return sum(colour) < 150


def layout_problems(picture):
    """What is wrong with the panel layout of a client-area picture; an empty list when it is right."""
    width, height = picture.width, picture.height
    problems = []

    def expect(x, y, want, what):
        colour = picture.pixel(x, y)
        good = is_dark(colour) if want == "dark" else colour == want
        if not good:
            problems.append("%s at (%d, %d) is %s, expected %s" % (what, x, y, colour, want))

    for name, (left, top, right, bottom) in panel_rects(width, height).items():
        mid_x, mid_y = (left + right) // 2, (top + bottom) // 2
        # A 2-pixel outline centred on the panel's edges, grey inside it.
        for x, y in ((left, mid_y), (right - 1, mid_y), (mid_x, top), (mid_x, bottom - 1)):
            expect(x, y, "dark", name + " outline")
        # Inner corners: grey whatever an empty store draws (the "0", the zero lines).
        ileft, itop, iright, ibottom = inside((left, top, right, bottom), 6)
        for x, y in ((ileft, itop), (iright, itop), (ileft, ibottom), (iright, ibottom)):
            expect(x, y, PANEL_GREY, name + " inside")
        # Margins: around the panels and between them.
        expect(left - 2, mid_y, GREEN, "margin left of " + name)
        expect(right, mid_y, GREEN, "margin right of " + name)
        expect(mid_x, top - 2, GREEN, "margin above " + name)
    expect(width - 1, height - 1, GREEN, "bottom right corner")
    expect(2, height - 2, GREEN, "bottom left corner")
    expect(width - 80, 101, GREEN, "gap between rate and history")
    return problems


def rate_digits(picture):
    """The dark pixels of the beat-rate number (inside the rate panel's outline)."""
    return picture.dark_pixels(inside(panel_rects(picture.width, picture.height)["rate"], 3))


LABEL_STRIP = 20  # left part of the history panel that holds the grid labels


def history_trace_pixels(picture):
    """The dark pixels of the history panel right of its label strip (the trace)."""
    left, top, right, bottom = inside(panel_rects(picture.width, picture.height)["history"], 3)
    return picture.dark_pixels((left - 3 + LABEL_STRIP - 2, top, right, bottom))


def history_label_pixels(picture):
    """The dark pixels of the history panel's label strip (the grid labels)."""
    left, top, right, bottom = inside(panel_rects(picture.width, picture.height)["history"], 3)
    return picture.dark_pixels((left, top, left - 3 + LABEL_STRIP - 2, bottom))


def start_simulator(test, port, *options):
    """Runs vintra-sim on a pseudo-terminal linked as COM<port>; stopped when the test ends."""
    link = os.path.join(PORTS_DIR, "com%d" % port)
    sim = subprocess.Popen([VINTRA_SIM, "--pty", "--link", link] + [str(o) for o in options],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)

    def stop():
        if sim.poll() is None:
            sim.terminate()
            try:
                sim.wait(10)
            except subprocess.TimeoutExpired:
                sim.kill()
                sim.wait()
        sim.stdout.close()
    test.addCleanup(stop)
    slave = sim.stdout.readline().decode().strip()
    wait_until(lambda: os.path.islink(link) and os.readlink(link) == slave, what="vintra-sim's link " + link)
    return sim
