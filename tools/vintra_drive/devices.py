"""Serial devices on pseudo-terminals behind a COM port's link.

A PtyDevice is plugged in by pointing the link at a fresh pseudo-terminal and
pulled out by removing the link and closing both ends. What it sends comes
from write() or from a stream relayed into it (relay()): the relay lets a
device be plugged in before its data source starts, so nothing is sent before
the program has opened it (Wine drops what it finds on opening).
"""

import fcntl
import os
import pty
import struct
import termios
import threading
import time
import tty

from . import line_view, wait, wine


def point_link(link, target):
    """Points `link` at `target` in one step (readers never find it missing)."""
    temporary = link + ".new"
    if os.path.lexists(temporary):
        os.remove(temporary)
    os.symlink(target, temporary)
    os.replace(temporary, link)


def remove_link(link):
    """Deletes a link if it is there."""
    if os.path.lexists(link):
        os.remove(link)


class PtyDevice:
    """A pseudo-terminal standing in for the device on COM<port>.

    raw=False: a freshly plugged-in tty (cooked) set to 7E2 at 4800, a line the
    program has to change. raw=True: raw from the start, for relayed streams.
    """

    def __init__(self, port, raw=False, plugged=True):
        self.port = port
        self.link = wine.port_link(port)
        self.raw = raw
        self.master = self.slave = None  # our ends; None while unplugged
        self.slave_path = None           # the terminal the link points at
        self.last_byte = b""             # the last byte sent, to tell whether a pull came mid-line
        self._lock = threading.Lock()    # plug/unplug against a writing thread
        if plugged:
            self.plug()

    def plug(self):
        """Makes a fresh pseudo-terminal and points COM<port> at it (plugging the device in)."""
        with self._lock:
            self.master, self.slave = pty.openpty()
            if self.raw:
                tty.setraw(self.slave)
            else:
                attrs = termios.tcgetattr(self.slave)
                attrs[2] = (attrs[2] & ~termios.CSIZE) | termios.CS7 | termios.PARENB | termios.CSTOPB
                attrs[4] = attrs[5] = termios.B4800
                termios.tcsetattr(self.slave, termios.TCSANOW, attrs)
            os.set_blocking(self.master, False)
            self.slave_path = os.ttyname(self.slave)
            point_link(self.link, self.slave_path)

    def unplug(self):
        """Removes the link and closes both ends, as when the cable is pulled."""
        with self._lock:
            if self.master is None:
                return  # already out: its terminal's path may belong to a newer device by now
            if os.path.islink(self.link) and os.readlink(self.link) == self.slave_path:
                os.remove(self.link)
            os.close(self.master)
            os.close(self.slave)
            self.master = self.slave = None

    close = unplug

    def plugged(self):
        return self.master is not None

    def write(self, data):
        """Sends bytes as the device would; False if the device was pulled out meanwhile."""
        view = memoryview(data)
        while view:
            with self._lock:
                if self.master is None:
                    return False
                try:
                    view = view[os.write(self.master, view):]
                except BlockingIOError:
                    pass
                self._discard_echo()
            if view:
                time.sleep(0.005)
        self.last_byte = bytes(data[-1:]) or self.last_byte
        return True

    def _discard_echo(self):
        """Reads away what a cooked tty echoes back before the program sets the line up."""
        if self.raw:
            return
        try:
            while os.read(self.master, 4096):
                pass
        except OSError:
            pass

    def relay(self, stream, stop=None):
        """Copies a stream into the device until it ends or `stop` (a threading.Event) is set.

        Returns the bytes copied. A stop cuts the chunk at hand at a random
        place, so it may end mid-line, as a cable pulled at any moment does.
        """
        source = stream.fileno()
        copied = 0
        while True:
            data = os.read(source, 65536)
            if not data:
                return copied
            if stop is not None and stop.is_set():
                data = data[:int.from_bytes(os.urandom(2), "little") % len(data)]
            if not self.write(data):
                return copied
            copied += len(data)
            if stop is not None and stop.is_set():
                return copied

    def line_settings(self):
        """The line speed (baud, -1 if unknown) and the termios c_cflag the program left on the device."""
        attrs = termios.tcgetattr(self.slave)
        return line_view.SPEEDS.get(attrs[4], -1), attrs[2]

    def line_speed(self):
        """The baud rate now set on the device, or None while it is out."""
        return line_view.line_speed(self.slave_path) if self.plugged() else None

    def wait_set_up(self, baud, timeout=wait.EVENT_TIMEOUT):
        """Waits until the program has opened the device and set its speed; returns the seconds waited."""
        started = time.monotonic()
        wait.wait_until(lambda: self.line_speed() == baud, timeout,
                        "the program to set up %s at %d baud" % (self.link, baud), interval=0.02)
        return time.monotonic() - started

    def queued(self):
        """Bytes waiting in the device for the program to read."""
        answer = fcntl.ioctl(self.slave, termios.TIOCINQ, struct.pack("i", 0))
        return struct.unpack("i", answer)[0]

    def wait_drained(self, timeout=wait.EVENT_TIMEOUT):
        """Waits until the program has read everything sent."""
        wait.wait_until(lambda: self.queued() == 0, timeout, "the program to read all the device sent")

    def opened_by_others(self):
        """Whether any other process (the program, the Wine server) holds the device open."""
        return line_view.openers(self.slave_path, (os.getpid(),)) > 0
