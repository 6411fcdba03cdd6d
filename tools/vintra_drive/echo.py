"""The program's debugger echo, read from Wine's stderr.

With WINEDEBUG=warn+debugstr Wine prints each OutputDebugStringA call on the
program's stderr, quoted; the program echoes a line as two calls, the line and
then "\\n".
"""

import re
import threading
import time

_ECHO = re.compile(r':OutputDebugStringA "(.*)"$')
_ESCAPES = {"n": b"\n", "r": b"\r", "t": b"\t", "\\": b"\\", '"': b'"'}


def unescape(text):
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


def echo_piece(raw):
    """The bytes of one OutputDebugStringA call in a line of Wine's stderr, or None for anything else."""
    match = _ECHO.search(raw.decode("latin-1").rstrip("\n"))
    return unescape(match.group(1)) if match else None


def _lines(stream, other):
    """Yields the echoed lines of a stderr stream; hands every other stderr line to other()."""
    pending = bytearray()
    for raw in stream:
        piece = echo_piece(raw)
        if piece is None:
            other(raw.decode("latin-1").rstrip("\n"))
        elif piece == b"\n":
            yield bytes(pending)
            pending.clear()
        else:
            pending += piece


def first_difference(received, sent):
    """A short description of where two line lists part, for failure messages."""
    for i, (got, want) in enumerate(zip(received, sent)):
        if got != want:
            return "line %d: received %r, sent %r (received around it: %r)" % (i, got, want, received[max(0, i - 3):i + 4])
    return "received %d lines, sent %d" % (len(received), len(sent))


class EchoReader:
    """Reads a Wine process's stderr in a thread and keeps the lines echoed since the last take()."""

    def __init__(self, stream):
        self.lines_echoed = 0   # every line echoed so far, taken or not
        self.last_echo = None   # monotonic time of the latest echoed line
        self.other_stderr = []  # the last lines of stderr that are not echo
        self._lines = []        # lines echoed since the last take()
        self._lock = threading.Lock()
        self._thread = threading.Thread(target=self._follow, args=(stream,), daemon=True)
        self._thread.start()

    def _other(self, text):
        with self._lock:
            self.other_stderr = (self.other_stderr + [text])[-40:]

    def _follow(self, stream):
        for line in _lines(stream, self._other):
            with self._lock:
                self._lines.append(line)
                self.lines_echoed += 1
                self.last_echo = time.monotonic()

    def lines(self):
        """The lines echoed since the last take() (all of them if never taken)."""
        with self._lock:
            return list(self._lines)

    def take(self):
        """The lines echoed since the last take(), which are then forgotten."""
        with self._lock:
            taken, self._lines = self._lines, []
        return taken

    def quiet_for(self, seconds):
        """Whether nothing has been echoed for `seconds`."""
        with self._lock:
            last = self.last_echo
        return last is None or time.monotonic() - last >= seconds

    def join(self, timeout):
        """Waits for the stream to end."""
        self._thread.join(timeout)
