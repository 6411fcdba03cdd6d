"""A terminal's line settings and openers, seen from the Linux side."""

import os
import re
import termios

# termios speed constant -> baud
SPEEDS = {getattr(termios, name): int(name[1:]) for name in dir(termios) if re.fullmatch(r"B\d+", name)}
CSIZES = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}


def read_attributes(path):
    """termios.tcgetattr of the terminal at `path`, or None if it cannot be read."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
    except OSError:
        return None
    try:
        return termios.tcgetattr(fd)
    except termios.error:
        return None
    finally:
        os.close(fd)


def line_speed(path):
    """The baud rate set on a terminal, or None if it cannot be read."""
    attrs = read_attributes(path)
    return SPEEDS.get(attrs[4]) if attrs else None


def raw_and_unmapped(path):
    """Whether the program has configured the line: not canonical and no CR to LF
    (a fresh pseudo-terminal is canonical and maps CR)."""
    attrs = read_attributes(path)
    return bool(attrs) and not attrs[3] & termios.ICANON and not attrs[0] & termios.ICRNL


def describe(path):
    """The line settings as one line: "speed 57600 csize 8 parenb 0 cstopb 0 crtscts 0 ixon 0 ixoff 0"."""
    iflag, _, cflag, _, ispeed, ospeed, _ = read_attributes(path)
    speed = SPEEDS.get(ospeed, -1) if ispeed == ospeed else -1
    fields = [("speed", speed), ("csize", CSIZES[cflag & termios.CSIZE]),
              ("parenb", int(bool(cflag & termios.PARENB))), ("cstopb", int(bool(cflag & termios.CSTOPB))),
              ("crtscts", int(bool(cflag & termios.CRTSCTS))), ("ixon", int(bool(iflag & termios.IXON))),
              ("ixoff", int(bool(iflag & termios.IXOFF)))]
    return " ".join("%s %d" % field for field in fields)


def openers(path, excluded_pids=()):
    """How many descriptors of processes other than the excluded ones have `path` open."""
    excluded = {str(pid) for pid in excluded_pids}
    count = 0
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or pid in excluded:
            continue
        fd_dir = os.path.join("/proc", pid, "fd")
        try:
            fds = os.listdir(fd_dir)
        except OSError:
            continue
        for fd in fds:
            try:
                if os.readlink(os.path.join(fd_dir, fd)) == path:
                    count += 1
            except OSError:
                pass
    return count
