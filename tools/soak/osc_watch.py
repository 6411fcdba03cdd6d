"""The soak's OSC receiver: a UDP socket bound to 127.0.0.1 that takes every datagram Vintra sends and checks
that each is one well-formed OSC 1.0 message of the six avatar parameters, its value in range and in step
with the set it belongs to."""

import socket
import struct
import threading

PREFIX = b"/avatar/parameters/"
# Each parameter's possible type tags.
KINDS = {b"HeartRateInt": b"i", b"HR": b"i", b"HeartRateFloat": b"f", b"HeartRateFloat01": b"f",
         b"HeartBeatToggle": b"TF", b"isHRConnected": b"TF"}


def osc_string(data, at):
    """The zero-terminated, 4-byte padded string at `at` and the offset after it; None if malformed."""
    end = data.find(b"\0", at)
    if end < 0:
        return None, None
    after = (end + 4) & ~3
    if after > len(data) or data[end:after] != b"\0" * (after - end):
        return None, None
    return data[at:end], after


class OscWatch:
    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.5)
        self.port = self.sock.getsockname()[1]
        self.messages = 0
        self.malformed = 0
        self.disconnects = 0
        self.problems = []
        self.last_rate = None
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop.is_set():
            try:
                data = self.sock.recv(2048)
            except socket.timeout:
                continue
            self.messages += 1
            why = self.check(data)
            if why:
                self.malformed += 1
                if len(self.problems) < 10:
                    self.problems.append("OSC datagram %r: %s" % (data[:64], why))

    def check(self, data):
        """Why the datagram is not a well-formed avatar parameter message (None when it is)."""
        if len(data) % 4:
            return "length not a multiple of 4"
        address, at = osc_string(data, 0)
        tags, at = osc_string(data, at) if address is not None else (None, None)
        if tags is None or not address.startswith(PREFIX) or address[len(PREFIX):] not in KINDS:
            return "not one of the avatar parameters"
        name = address[len(PREFIX):]
        allowed = [KINDS[name][i:i + 1] for i in range(len(KINDS[name]))]
        if len(tags) != 2 or tags[:1] != b"," or tags[1:] not in allowed:
            return "type tags %r" % tags
        argument = data[at:]
        if tags in (b",T", b",F"):
            if name == b"isHRConnected" and tags == b",F":
                self.disconnects += 1
            return "bytes after a bool" if argument else None
        if len(argument) != 4:
            return "argument of %d bytes" % len(argument)
        if tags == b",i":
            value = struct.unpack(">i", argument)[0]
            if not 0 <= value <= 254:
                return "rate %d out of range" % value
            if name == b"HeartRateInt":
                self.last_rate = value
            elif value != self.last_rate:
                return "HR %d differs from HeartRateInt %s" % (value, self.last_rate)
            return None
        value = struct.unpack(">f", argument)[0]
        if self.last_rate is None:
            return "%s before any HeartRateInt" % name.decode()
        expected = self.last_rate / 127.5 - 1 if name == b"HeartRateFloat" else self.last_rate / 255
        if abs(value - expected) > 1e-6:
            return "%s %r for a rate of %s" % (name.decode(), value, self.last_rate)
        return None

    def stop(self):
        self._stop.set()
        self._thread.join(5)
        self.sock.close()
