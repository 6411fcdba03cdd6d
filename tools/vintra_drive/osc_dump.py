"""An OSC receiver nobody here wrote: liblo's `oscdump` (Debian liblo-tools) on a UDP port, its printout
read back as messages. It binds every interface (oscdump cannot be told the loopback alone); nothing here
sends anywhere but 127.0.0.1."""

import socket
import subprocess
import threading
import time

from . import wait

# A message with no arguments (OSC 1.0: the type tag string "," alone), sent to know the receiver is up.
_PROBE = b"/vintra/probe\0\0\0,\0\0\0"


def free_udp_port():
    """A UDP port on the loopback that nothing is bound to now."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class OscDump:
    """oscdump on `port`; `messages` holds (arrival on time.monotonic(), address, types, values) for each
    message it printed, values as text (a bool as its tag, T or F)."""

    def __init__(self, port):
        self.port = port
        self.messages = []
        self._lock = threading.Lock()
        self._proc = subprocess.Popen(["oscdump", "-L", str(port)], stdout=subprocess.PIPE,
                                      stderr=subprocess.STDOUT, text=True)
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
            def heard():
                sender.sendto(_PROBE, ("127.0.0.1", port))
                return self.named("/vintra/probe") or self._proc.poll() is not None
            wait.wait_until(heard, what="oscdump to receive on UDP %d" % port, interval=0.1)
        if self._proc.poll() is not None:
            raise AssertionError("oscdump could not listen on UDP %d" % port)

    def _read(self):
        for line in self._proc.stdout:
            fields = line.split()
            # "<timetag> <address> <types> <value>...": a bool is printed as "T #T"; kept as "T".
            if len(fields) >= 2 and fields[1].startswith("/"):
                types = fields[2] if len(fields) > 2 else ""
                values = [types] if types in ("T", "F") else fields[3:]
                with self._lock:
                    self.messages.append((time.monotonic(), fields[1], types, values))

    def mark(self):
        """A position in `messages`, for what came after it."""
        with self._lock:
            return len(self.messages)

    def named(self, address, after=0):
        """The messages to `address` since position `after`, oldest first."""
        with self._lock:
            return [m for m in self.messages[after:] if m[1] == address]

    def since(self, after):
        with self._lock:
            return list(self.messages[after:])

    def wait_message(self, address, value=None, after=0, timeout=wait.EVENT_TIMEOUT):
        """The first message to `address` after `after` whose first value reads `value` (any when None)."""
        def found():
            for m in self.named(address, after):
                if value is None or (m[3] and m[3][0] == value):
                    return m
            return None
        return wait.wait_until(found, timeout, "OSC %s %s" % (address, value if value is not None else ""))

    def close(self):
        self._proc.terminate()
        self._proc.wait(5)
        self._thread.join(5)
        self._proc.stdout.close()
