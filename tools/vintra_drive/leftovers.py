"""What a test run left running: every process that carries the run's mark in
its environment (scripts/test.sh sets VINTRA_RUN_MARK for everything it
starts, and Xvfb, Wine, Chromium and the simulators all inherit it).

    $VINTRA_PYTHON tools/vintra_drive/leftovers.py MARK
names each such process still running, ends it, and exits 1 if there was any.
(Run as a file, not with -m: the package imports this module first, and
Python would warn that it runs a module already imported.)
"""

import os
import signal
import sys

MARK_VARIABLE = "VINTRA_RUN_MARK"


def _ancestors():
    """This process and its parents: they carry the mark and are meant to."""
    found, pid = set(), os.getpid()
    while pid > 1:
        found.add(pid)
        with open("/proc/%d/stat" % pid) as f:
            pid = int(f.read().rsplit(")", 1)[1].split()[1])
    return found


def processes_with(variable, value):
    """(pid, command line) of every live process whose environment has variable=value, this
    process and its parents excepted."""
    wanted = ("%s=%s" % (variable, value)).encode()
    skip = _ancestors()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) in skip:
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                    continue  # already ended, waiting for a parent to reap it
            with open("/proc/%s/environ" % entry, "rb") as f:
                if wanted not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                command = f.read().replace(b"\0", b" ").decode("latin-1").strip()
        except OSError:
            continue  # gone meanwhile
        found.append((int(entry), command))
    return found


def end_all(processes):
    """Ends each of (pid, command line)."""
    for pid, _ in processes:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass


def main(mark):
    left = processes_with(MARK_VARIABLE, mark)
    for pid, command in left:
        print("left running: pid %d: %s" % (pid, command[:200]))
    end_all(left)
    return 1 if left else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
