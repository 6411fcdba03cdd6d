"""The program's debugger echo, read from the file Wine's stderr goes to.

With WINEDEBUG=warn+debugstr Wine prints each OutputDebugStringA call on the
program's stderr, quoted; the program echoes a line as two calls, the line and
then "\\n".
"""

import re
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


def first_difference(received, sent):
    """A short description of where two line lists part, for failure messages."""
    for i, (got, want) in enumerate(zip(received, sent)):
        if got != want:
            return "line %d: received %r, sent %r (received around it: %r)" % (i, got, want, received[max(0, i - 3):i + 4])
    return "received %d lines, sent %d" % (len(received), len(sent))


class EchoReader:
    """The lines a Wine process echoed into its stderr file, read as they are asked for.

    A file rather than a pipe: Wine's helper processes can inherit a program's
    output and outlive it, so a pipe's end would depend on them. Read in the
    caller's own thread, so nothing ever waits on the stream."""

    def __init__(self, path):
        self.last_echo = None   # monotonic time the latest echoed line was first seen
        self.other_stderr = []  # the last lines of stderr that are not echo
        self._file = open(path, "rb")
        self._partial = b""     # a stderr line not yet ended
        self._pending = bytearray()  # an echoed line whose line end has not come yet
        self._lines = []        # lines echoed since the last take()
        self._count = 0         # every line echoed so far, taken or not

    def _read(self):
        if self._file.closed:
            return
        data = self._partial + self._file.read()
        *complete, self._partial = data.split(b"\n")
        for raw in complete:
            piece = echo_piece(raw)
            if piece is None:
                self.other_stderr = (self.other_stderr + [raw.decode("latin-1")])[-40:]
            elif piece == b"\n":
                self._lines.append(bytes(self._pending))
                self._pending.clear()
                self._count += 1
                self.last_echo = time.monotonic()
            else:
                self._pending += piece

    @property
    def lines_echoed(self):
        """Every line echoed so far, taken or not."""
        self._read()
        return self._count

    def lines(self):
        """The lines echoed since the last take() (all of them if never taken)."""
        self._read()
        return list(self._lines)

    def take(self):
        """The lines echoed since the last take(), which are then forgotten."""
        self._read()
        taken, self._lines = self._lines, []
        return taken

    def quiet_for(self, seconds):
        """Whether nothing has been echoed for `seconds`."""
        self._read()
        return self.last_echo is None or time.monotonic() - self.last_echo >= seconds

    def close(self):
        """Reads what is left and lets go of the file."""
        self._read()
        self._file.close()
