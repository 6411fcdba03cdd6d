"""Helpers for the settings-window and robustness tests (and the soak run) on top of vintra_harness.

- The settings window seen from inside Wine (combo_probe): its lists, their
  selections, which windows exist and in which order.
- Pointer and keyboard input at screen positions (no window manager runs, so
  Wine's screen coordinates are the X screen's).
- What the program counts as a record, so an echo can be checked against what
  the simulated device logged as well-formed.
- Watching bpm.txt and pseudo-terminals from the Linux side.
"""

import fcntl
import os
import pty
import re
import struct
import subprocess
import termios
import threading
import time
import tty

import vintra_harness as h

COMBO_PROBE = os.environ.get(
    "VINTRA_COMBO_PROBE", os.path.join(h.REPO, "build", "win", "tests", "e2e", "combo_probe.exe"))
SETTINGS_TITLE = "Vintra | Settings"
SETTINGS_TITLE_PATTERN = r"^Vintra \| Settings$"

# A point of the main window's client area that the settings window (which
# Wine puts at the top left, over the main window's upper half) leaves free.
MAIN_FREE_POINT = (150, 170)


# ---------------------------------------------------------------- the settings window

def combo_probe(*args):
    """Runs combo_probe under Wine; returns (exit code, stdout)."""
    result = subprocess.run([h.WINE, COMBO_PROBE] + [str(a) for a in args], env=h.wine_env(),
                            capture_output=True, text=True, timeout=60)
    return result.returncode, result.stdout


class DropDownList:
    """One drop-down list of the settings window as combo_probe saw it."""

    def __init__(self, count, selected, rect):
        self.count = count
        self.selected = selected
        self.rect = rect  # screen (left, top, right, bottom)
        self.items = []

    def selected_text(self):
        """The text of the selected item, or None without a selection."""
        return self.items[self.selected] if 0 <= self.selected < len(self.items) else None

    def centre(self):
        """Screen point in the middle of the closed list."""
        left, top, right, bottom = self.rect
        return (left + right) // 2, (top + bottom) // 2


class SettingsLists:
    """The port list (ports[0]), the baud list (ports[1]) and the open drop-down part, if any."""

    def __init__(self, lists, dropped):
        self.lists = lists
        self.dropped = dropped  # {"rect": (l, t, r, b), "itemheight": n, "top": first item shown} or None

    @property
    def ports(self):
        return self.lists[0]

    @property
    def bauds(self):
        return self.lists[1]


_LIST = re.compile(r"list (\d+) count (-?\d+) selected (-?\d+) rect (-?\d+) (-?\d+) (-?\d+) (-?\d+)$")
_ITEM = re.compile(r"item (\d+) (\d+) (.*)$")
_DROPPED = re.compile(r"dropped rect (-?\d+) (-?\d+) (-?\d+) (-?\d+) itemheight (\d+) top (\d+)$")


def read_settings_lists():
    """The settings window's lists, or None when no settings window exists."""
    code, out = combo_probe("lists")
    if code != 0:
        return None
    lists, dropped = [], None
    for line in out.splitlines():
        line = line.rstrip("\r")
        match = _LIST.match(line)
        if match:
            numbers = [int(g) for g in match.groups()]
            lists.append(DropDownList(numbers[1], numbers[2], tuple(numbers[3:7])))
            continue
        match = _ITEM.match(line)
        if match:
            lists[int(match.group(1))].items.append(match.group(3))
            continue
        match = _DROPPED.match(line)
        if match:
            numbers = [int(g) for g in match.groups()]
            dropped = {"rect": tuple(numbers[:4]), "itemheight": numbers[4], "top": numbers[5]}
    if len(lists) != 2:
        raise AssertionError("the settings window holds %d drop-down lists, expected 2:\n%s" % (len(lists), out))
    return SettingsLists(lists, dropped)


def top_level_windows():
    """The program's main and settings windows, front to back: [(kind, handle, visible, title)]."""
    _, out = combo_probe("windows")
    windows = []
    for line in out.splitlines():
        words = line.rstrip("\r").split(" ")
        if words[0] == "main":
            windows.append(("main", words[1], True, "Vintra"))
        elif words[0] == "settings":
            windows.append(("settings", words[1], words[3] == "1", " ".join(words[10:])))
    return windows


def settings_handles():
    """Handles of the settings windows that exist (shown or not)."""
    return [handle for kind, handle, _, _ in top_level_windows() if kind == "settings"]


def visible_x_windows(pattern):
    """X ids of the shown windows whose name matches the regular expression."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", pattern],
                           capture_output=True, text=True)
    return found.stdout.split()


def settings_x_windows():
    """X ids of the shown windows titled "Vintra | Settings"."""
    return visible_x_windows(SETTINGS_TITLE_PATTERN)


def wait_settings_window(timeout=h.EVENT_TIMEOUT):
    """Waits for exactly one settings window to show; returns (X id, Wine handle)."""
    def shown():
        ids = settings_x_windows()
        return ids if ids else None
    ids = h.wait_until(shown, timeout, "the settings window to show")
    if len(ids) != 1:
        raise AssertionError("%d settings windows show: %s" % (len(ids), ids))
    handles = settings_handles()
    if len(handles) != 1:
        raise AssertionError("%d settings windows exist: %s" % (len(handles), handles))
    return ids[0], handles[0]


def wait_settings_gone(timeout=h.EVENT_TIMEOUT):
    """Waits until no settings window exists, shown or hidden."""
    h.wait_until(lambda: not settings_x_windows() and not settings_handles(), timeout,
                 "the settings window to be gone")


# ---------------------------------------------------------------- input

def click_at(x, y):
    """Clicks at a screen position."""
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)


def press(*keys):
    """Presses keys (xdotool names) in Wine's active window."""
    subprocess.run(["xdotool", "key", "--delay", "60"] + list(keys), check=True)


def main_window_key(run, key):
    """Presses a key in the main window, first clicking a part the settings window does not cover."""
    run.click(*MAIN_FREE_POINT)
    press(key)


def open_settings(run):
    """F6 in the main window; returns (X id, Wine handle) of the settings window that shows."""
    main_window_key(run, "F6")
    return wait_settings_window()


def open_settings_seen_from_x(run):
    """F6 in the main window; returns the X id of the one settings window that shows (no probe needed)."""
    main_window_key(run, "F6")
    ids = h.wait_until(settings_x_windows, h.EVENT_TIMEOUT, "the settings window to show")
    if len(ids) != 1:
        raise AssertionError("%d settings windows show: %s" % (len(ids), ids))
    return ids[0]


def close_settings_with_keys(run, x_id):
    """alt+F4 in the settings window, as a user does; waits until it no longer shows.

    Under Wine a focused list swallows alt+F4, so the window is activated anew
    by a click on its background, which focuses the window itself.
    """
    run.click(*MAIN_FREE_POINT)
    subprocess.run(["xdotool", "mousemove", "--window", x_id, "200", "90", "click", "1"], check=True)
    press("alt+F4")
    h.wait_until(lambda: not settings_x_windows(), h.EVENT_TIMEOUT, "the settings window to close")


def wait_lists(condition, what, timeout=h.EVENT_TIMEOUT):
    """Reads the settings window's lists until condition(lists) holds; returns those lists."""
    seen = []

    def attempt():
        lists = read_settings_lists()
        seen[:] = [lists]
        return lists if lists is not None and condition(lists) else None
    try:
        return h.wait_until(attempt, timeout, what, interval=0.1)
    except AssertionError:
        lists = seen[0] if seen else None
        detail = "no settings window" if lists is None else "port list %r (selected %d), baud selected %d" % (
            lists.ports.items, lists.ports.selected, lists.bauds.selected)
        raise AssertionError("timed out waiting for %s; %s" % (what, detail))


def choose_with_keyboard(list_index, item):
    """Opens a list with a click and moves to `item` with arrow keys, then Enter.

    Moving through the open list selects every item on the way, as a user's
    key presses do.
    """
    lists = read_settings_lists()
    target = lists.lists[list_index].items.index(item)
    click_at(*lists.lists[list_index].centre())
    wait_lists(lambda l: l.dropped is not None, "the list to drop down")
    selected = lists.lists[list_index].selected
    if selected < 0:
        press("Down")  # a list without a selection takes the first arrow key to select its first item
        selected = wait_lists(lambda l: l.lists[list_index].selected >= 0,
                              "the first item to be selected").lists[list_index].selected
    step = "Down" if target > selected else "Up"
    for _ in range(abs(target - selected)):
        press(step)
    wait_lists(lambda l: l.lists[list_index].selected == target, "%r to be selected" % item)
    press("Return")
    wait_lists(lambda l: l.dropped is None, "the list to close")


def choose_with_mouse(list_index, item):
    """Clicks the list open and clicks `item` in its drop-down part (which scrolls to the selected item)."""
    lists = read_settings_lists()
    target = lists.lists[list_index].items.index(item)
    click_at(*lists.lists[list_index].centre())
    dropped = wait_lists(lambda l: l.dropped is not None, "the list to drop down").dropped
    left, top, right, bottom = dropped["rect"]
    height = dropped["itemheight"]
    y = top + 1 + (target - dropped["top"]) * height + height // 2
    if not top < y < bottom - 1:
        raise AssertionError("item %r lies outside the dropped list %s" % (item, dropped))
    click_at((left + right) // 2, y)
    wait_lists(lambda l: l.dropped is None and l.lists[list_index].selected == target, "%r to be chosen" % item)


# ---------------------------------------------------------------- records

_SPACES = b" \t\n\v\f\r"
SAMPLE_LIMIT = 65535   # samples 0..65534 are stored
BEAT_LIMIT = 255       # beat rates 0..254 are stored


def read_unsigned(text):
    """What "%u" makes of text: the value (wrapped when negative), or None (no digits, or beyond 32 bits)."""
    i = 0
    while i < len(text) and text[i] in _SPACES:
        i += 1
    negative = False
    if i < len(text) and text[i] in b"+-":
        negative = text[i] == ord("-")
        i += 1
    start = i
    while i < len(text) and 48 <= text[i] <= 57:
        i += 1
    if i == start:
        return None
    value = int(text[start:i])
    if value > 0xFFFFFFFF:
        return None
    return (-value) & 0xFFFFFFFF if negative else value


def record_kind(line):
    """How the program takes an echoed line: "S" or "B" (stored), "X" (a status line), or None.

    The simulated device logs exactly these as well-formed.
    """
    if not line:
        return None
    first = line[:1]
    if first == b"X":
        return "X"
    if first not in (b"S", b"B"):
        return None
    value = read_unsigned(line[1:])
    if value is None:
        return None
    limit = SAMPLE_LIMIT if first == b"S" else BEAT_LIMIT
    return first.decode() if value < limit else None


def stored_beat_text(line):
    """The bpm.txt text a stored B line leaves: its value as "%u"."""
    return b"%d" % read_unsigned(line[1:])


def first_difference(received, sent):
    """A short description of where two line lists part, for failure messages."""
    for i, (got, want) in enumerate(zip(received, sent)):
        if got != want:
            return "line %d: received %r, sent %r (received around it: %r)" % (i, got, want, received[max(0, i - 3):i + 4])
    return "received %d lines, sent %d" % (len(received), len(sent))


# ---------------------------------------------------------------- the Linux side

class BpmWatcher:
    """Polls bpm.txt in a thread and keeps every distinct text it held, in order."""

    def __init__(self, path, interval=0.005):
        self.path = path
        self.interval = interval
        self.texts = []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._watch, daemon=True)
        self._thread.start()

    def _watch(self):
        last = None
        while not self._stop.is_set():
            try:
                with open(self.path, "rb") as f:
                    text = f.read()
            except OSError:
                text = None
            # The program rewrites the file whole; an empty read is the moment between.
            if text and text != last:
                self.texts.append(text)
                last = text
            time.sleep(self.interval)

    def stop(self):
        """Ends the polling; returns the texts seen."""
        self._stop.set()
        self._thread.join(5)
        return self.texts


_SPEEDS = {getattr(termios, name): int(name[1:]) for name in dir(termios) if re.fullmatch(r"B\d+", name)}


def line_speed(path):
    """The baud rate set on a terminal device (read from the Linux side), or None if it cannot be read."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
    except OSError:
        return None
    try:
        return _SPEEDS.get(termios.tcgetattr(fd)[4])
    except termios.error:
        return None
    finally:
        os.close(fd)


def resident_kb(pid):
    """VmRSS of a process in kB, or None when it is gone."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        return None
    return None


class RelayedDevice:
    """A pseudo-terminal behind a COM port link, fed with the simulator's standard output.

    Unlike the simulator's own pseudo-terminal, the device can be plugged in
    before the simulator starts (so nothing is sent before the program has
    opened it: Wine drops what it finds on opening) and pulled out only after
    the program has read everything, whatever the simulator's pace.
    """

    def __init__(self, port):
        self.link = os.path.join(h.PORTS_DIR, "com%d" % port)
        self.master = self.slave = None
        self.path = None

    def plug(self):
        """A fresh raw pseudo-terminal behind the link."""
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)
        temporary = self.link + ".new"
        if os.path.lexists(temporary):
            os.remove(temporary)
        os.symlink(self.path, temporary)
        os.replace(temporary, self.link)

    def unplug(self):
        """Removes the link and closes both ends."""
        if os.path.islink(self.link) and os.readlink(self.link) == self.path:
            os.remove(self.link)
        for fd in (self.master, self.slave):
            if fd is not None:
                os.close(fd)
        self.master = self.slave = None

    def relay(self, stream):
        """Copies a stream into the device until it ends."""
        source = stream.fileno()
        while True:
            data = os.read(source, 65536)
            if not data:
                return
            view = memoryview(data)
            while view:
                view = view[os.write(self.master, view):]

    def queued(self):
        """Bytes waiting in the device for the program to read."""
        answer = fcntl.ioctl(self.slave, termios.TIOCINQ, struct.pack("i", 0))
        return struct.unpack("i", answer)[0]

    def wait_set_up(self, baud, timeout=h.EVENT_TIMEOUT):
        """Waits until the program has opened the device and set its line speed; returns the seconds waited."""
        started = time.monotonic()
        h.wait_until(lambda: line_speed(self.path) == baud, timeout,
                     "the program to set up %s at %d baud" % (self.link, baud), interval=0.02)
        return time.monotonic() - started

    def run_simulator(self, options, timeout=60):
        """Runs vintra-sim with `options` into the device; returns its summary line once all is sent."""
        sim = subprocess.Popen([h.VINTRA_SIM, "--stdout"] + [str(o) for o in options], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        relay = threading.Thread(target=self.relay, args=(sim.stdout,), daemon=True)
        relay.start()
        try:
            sim.wait(timeout)
        except subprocess.TimeoutExpired:
            sim.kill()
            sim.wait()
            raise AssertionError("vintra-sim %s did not finish within %d s" % (options, timeout))
        finally:
            relay.join(timeout)
            summary = sim.stderr.read().decode(errors="replace").strip()
            sim.stdout.close()
            sim.stderr.close()
        if sim.returncode != 0:
            raise AssertionError("vintra-sim %s failed (%d): %s" % (options, sim.returncode, summary))
        return summary

    def wait_drained(self, timeout=h.EVENT_TIMEOUT):
        """Waits until the program has read everything sent."""
        h.wait_until(lambda: self.queued() == 0, timeout, "the program to read all the device sent")


def read_counts(path):
    """The simulator's counters ('key value' lines) from its count file."""
    counts = {}
    with open(path) as f:
        for line in f:
            key, _, value = line.partition(" ")
            counts[key] = int(value)
    return counts


def read_lines(path):
    """The lines of a file (bytes, without their LF)."""
    with open(path, "rb") as f:
        return f.read().split(b"\n")[:-1]
