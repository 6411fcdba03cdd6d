"""Follows the program's debugger echo as it comes (thousands of lines a second) without keeping it all.

Wine prints each OutputDebugStringA call on the program's stderr; the program
echoes a line as two calls, the line and then "\\n". Only the valid records of
the current plugged period are kept, until the soak run takes them.
"""

import threading
import time

import e2e_extras as x
import vintra_harness as h


class EchoFollower:
    """Reads a Wine process's stderr in a thread, counting and collecting echoed lines."""

    def __init__(self, stream):
        self.lines_echoed = 0    # every echoed line, valid or not
        self.records_echoed = 0  # lines the program takes as records (S, B, X)
        self.last_echo = None    # monotonic time of the latest echoed line
        self.other_stderr = []   # the last few lines of stderr that are not echo
        self._records = []       # records of the current period
        self.head = []           # the first echoed lines of the current period, for diagnosis
        self._lock = threading.Lock()
        self._thread = threading.Thread(target=self._follow, args=(stream,), daemon=True)
        self._thread.start()

    def _follow(self, stream):
        pending = bytearray()
        for raw in stream:
            text = raw.decode("latin-1").rstrip("\n")
            match = h._ECHO.search(text)
            if not match:
                self.other_stderr = (self.other_stderr + [text])[-20:]
                continue
            piece = h.unescape_debugstr(match.group(1))
            if piece != b"\n":
                pending += piece
                continue
            line = bytes(pending)
            pending.clear()
            valid = x.record_kind(line) is not None
            with self._lock:
                self.lines_echoed += 1
                self.last_echo = time.monotonic()
                if len(self.head) < 12:
                    self.head.append(line)
                if valid:
                    self.records_echoed += 1
                    self._records.append(line)

    def take_records(self):
        """The records echoed since the last call."""
        with self._lock:
            taken, self._records = self._records, []
            self.head = []
        return taken

    def quiet_for(self, seconds):
        """Whether nothing has been echoed for `seconds`."""
        with self._lock:
            last = self.last_echo
        return last is None or time.monotonic() - last >= seconds

    def join(self, timeout):
        """Waits for the stream to end."""
        self._thread.join(timeout)
