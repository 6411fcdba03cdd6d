"""Vintra.exe under Wine in a working folder of its own: start, window, input, echo, files, end."""

import os
import subprocess
import tempfile
import time

from . import echo, paths, screen, wait, wine, x_input

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


class VintraRun:
    """One run of Vintra.exe. With echo, its debugger echo is collected (EchoReader)."""

    def __init__(self, folder, exe=None, echo_lines=True):
        self.folder = folder
        self.exe = exe or paths.VINTRA_EXE
        debug = wine.ECHO_ON if echo_lines else wine.ECHO_OFF
        self.echo = None
        self._stderr_path = None
        stderr = subprocess.DEVNULL
        if echo_lines:
            # Beside the working folder, not in it: the program's files are its own.
            fd, self._stderr_path = tempfile.mkstemp(prefix="vintra-stderr-", suffix=".log")
            stderr = os.fdopen(fd, "ab")  # appending: Wine's processes may share it
        self.process = wine.start(self.exe, cwd=folder, debug=debug, stdout=subprocess.DEVNULL, stderr=stderr)
        if echo_lines:
            stderr.close()
            self.echo = echo.EchoReader(self._stderr_path)

    # ---- what it did

    def echoed_lines(self):
        """The lines echoed so far (since the echo was last taken)."""
        return self.echo.lines()

    def wait_echo(self, line, timeout=wait.EVENT_TIMEOUT):
        """Waits until `line` (bytes) has been echoed; returns all echoed lines."""
        return wait.wait_until(lambda: line in self.echoed_lines() and self.echoed_lines(), timeout,
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

    def wait_bpm(self, text, timeout=wait.EVENT_TIMEOUT):
        """Waits until bpm.txt holds exactly `text` (bytes)."""
        wait.wait_until(lambda: self.read_file("bpm.txt") == text, timeout,
                        lambda: "bpm.txt to hold %r (it holds %r)" % (text, self.read_file("bpm.txt")))

    def stderr_tail(self):
        """What Wine said besides the echo, for failure messages."""
        if not self.echo:
            return "(not kept)"
        self.echo.lines()  # reads what has come
        return self.echo.other_stderr[-20:]

    # ---- its window

    def wait_window(self, timeout=wait.WINDOW_TIMEOUT):
        """Waits for the top-level window titled "Vintra" to be shown; returns its X id."""
        def find():
            if self.process.poll() is not None:
                raise AssertionError("Vintra ended (code %s) before showing its window; stderr: %s"
                                     % (self.process.returncode, self.stderr_tail()))
            return x_input.find_window("^Vintra$")
        return wait.wait_until(find, timeout, "the Vintra window")

    def click(self, x=20, y=20):
        """Clicks into the window's client area, which makes it Wine's active window."""
        # Looked up each time: Wine may replace the X window behind a Windows window.
        x_input.click_in(self.wait_window(), x, y)

    def key(self, name, at=(20, 20)):
        """Presses a key (xdotool name, e.g. Delete, F6, alt+F4) in the window, made active by a click `at`."""
        self.click(*at)
        x_input.press(name)

    def probe(self, *args):
        """Runs the window probe (outer and client size, or a resize through Wine)."""
        result = wine.run(paths.WINDOW_PROBE, args, timeout=60)
        if result.returncode != 0:
            raise AssertionError("window_probe %s failed: %s" % (args, result.stderr))
        words = result.stdout.split()
        return {"outer": (int(words[3]), int(words[4])), "client": (int(words[6]), int(words[7])),
                "style": int(words[9], 16)}

    def screenshot(self):
        """The client area now on the screen, as a Picture (None if it does not show)."""
        return screen.grab_client_area()

    def wait_picture(self, condition, what, timeout=wait.EVENT_TIMEOUT):
        """Takes screenshots until condition(picture) holds; returns that picture (saves the last on failure)."""
        seen = []

        def attempt():
            picture = screen.grab_client_area()
            seen[:] = [picture]
            return picture if picture is not None and condition(picture) else None
        try:
            return wait.wait_until(attempt, timeout, what, interval=0.1)
        except AssertionError:
            if seen and seen[0] is not None:
                path = seen[0].save_png("failed-%d.png" % int(time.time() * 1000))
                raise AssertionError("timed out waiting for %s; last picture: %s" % (what, path))
            raise

    # ---- its process

    def windows_pid(self):
        """The Linux process running this Vintra.exe in our prefix (found in /proc: Wine's
        loader may hand over to another process image), or None."""
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                exe = os.readlink("/proc/%s/exe" % entry)
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    cmdline = f.read()
                with open("/proc/%s/environ" % entry, "rb") as f:
                    environ = f.read().split(b"\0")
            except OSError:
                continue
            if os.path.basename(exe).startswith("wine") and self.exe.encode() in cmdline and \
                    ("WINEPREFIX=" + wine.prefix["path"]).encode() in environ:
                found.append(int(entry))
        return found[0] if len(found) == 1 else None

    def close(self, at=(20, 20), timeout=wait.EXIT_TIMEOUT):
        """Closes the window the way a user does (alt+F4, after a click `at`) and returns the exit code."""
        self.key("alt+F4", at)
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("Vintra did not end within %.0f s of alt+F4" % timeout)

    def kill(self):
        """Ends the process if it is still running."""
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
            # Its helpers (explorer, services) would otherwise hold the session.
            wine.stop_server()
        if self._stderr_path:
            self.echo.close()  # what it echoed stays readable
            os.unlink(self._stderr_path)
            self._stderr_path = None


def launch(folder=None, config=None, wait_window=True, exe=None, echo_lines=True):
    """Starts Vintra.exe in `folder` (a fresh temporary one if None), with `config` (bytes) as its
    vintra.config if given; waits for its window unless told not to. Returns the VintraRun."""
    folder = folder or tempfile.mkdtemp(prefix="vintra-run-")
    if config is not None:
        with open(os.path.join(folder, "vintra.config"), "wb") as f:
            f.write(config)
    run = VintraRun(folder, exe, echo_lines)
    if wait_window:
        try:
            run.wait_window()
        except AssertionError:
            run.kill()
            raise
    return run


def cpu_seconds(pid):
    """User plus system CPU seconds a process has used so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # After the command: state is field 3, utime 14 and stime 15 (1-based).
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


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
