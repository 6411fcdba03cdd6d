"""Serial devices for the Windows tests, and the Linux-side view of them.

    pty_helper.py CONTROL_DIR PORTS_DIR NAME:PEER [NAME:PEER ...]

Each NAME:PEER becomes a pair of pseudo-terminals joined by socat, linked as
PORTS_DIR/NAME and PORTS_DIR/PEER (PEER may also be an absolute path): bytes
written into one come out of the other, so a test under Wine can play the
measuring device on one COM port while the code under test reads the other.

A test asks questions by writing one line (with its line end) into
CONTROL_DIR/request; the answer appears in CONTROL_DIR/reply:
    termios END    "speed 57600 csize 8 parenb 0 cstopb 0 crtscts 0 ixon 0 ixoff 0"
    openers END    how many descriptors outside socat have END's terminal open
    unplug END     END's pair goes away, as a device pulled out: "ok"
    plug END       the pair comes back: "ok"
where END is the file name of either link of a pair (com5, com6).
CONTROL_DIR/ready appears once every pair is up; CONTROL_DIR/pids lists the
socat processes so the caller can end them should this helper die first.
"""
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "tools"))
from vintra_drive.devices import remove_link  # noqa: E402
from vintra_drive.line_view import describe, openers  # noqa: E402


class Pair:
    """Two pseudo-terminals joined by socat, each reachable through a link."""

    def __init__(self, ports_dir, pairing):
        name, peer = pairing.split(":", 1)
        self.name = name
        self.links = [os.path.join(ports_dir, name), os.path.join(ports_dir, peer)]
        self.process = None

    def plug(self):
        for link in self.links:
            remove_link(link)
        addresses = ["pty,raw,echo=0,link=%s" % link for link in self.links]
        self.process = subprocess.Popen(["socat"] + addresses, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not all(os.path.exists(link) for link in self.links):
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise SystemExit("socat did not create %s" % " ".join(self.links))
            time.sleep(0.01)

    def unplug(self):
        if self.process is not None:
            self.process.terminate()
            self.process.wait()
            self.process = None
        # Gone links, not dangling ones: a later terminal may reuse the number.
        for link in self.links:
            remove_link(link)


def answer(request, pairs):
    """The reply to one request line."""
    words = request.split()
    pair = None
    for candidate in pairs.values():
        for link in candidate.links:
            if len(words) == 2 and os.path.basename(link) == words[1]:
                pair, terminal = candidate, os.path.realpath(link)
    if pair is None:
        return "error: unknown request %r" % request
    command = words[0]
    if command == "termios":
        return describe(terminal)
    if command == "openers":
        socats = {p.process.pid for p in pairs.values() if p.process is not None}
        return str(openers(terminal, socats | {os.getpid()}))
    if command == "unplug":
        pair.unplug()
        return "ok"
    if command == "plug":
        pair.plug()
        write_pids(pairs)
        return "ok"
    return "error: unknown request %r" % request


def write_atomically(path, text):
    """Writes a file that readers see either whole or not at all."""
    with open(path + ".tmp", "w") as out:
        out.write(text)
    os.replace(path + ".tmp", path)


def write_pids(pairs):
    """Records the socat processes for the caller's clean-up."""
    pids = [str(p.process.pid) for p in pairs.values() if p.process is not None]
    write_atomically(os.path.join(control_dir, "pids"), " ".join(pids))


def read_complete(path):
    """The request in `path` once it is whole (ends in a line end), else None."""
    try:
        with open(path) as request_file:
            text = request_file.read()
    except FileNotFoundError:
        return None
    return text.strip() if text.endswith("\n") else None


def serve(pairs):
    """Answers requests until the caller goes away."""
    request_path = os.path.join(control_dir, "request")
    parent = os.getppid()
    # Ends with its caller even when that is killed without a chance to clean up.
    while os.getppid() == parent:
        request = read_complete(request_path)
        if request is not None:
            os.unlink(request_path)
            try:
                reply = answer(request, pairs)
            except Exception as error:  # the test shows the reason rather than timing out
                reply = "error: %s" % error
            write_atomically(os.path.join(control_dir, "reply"), reply)
        time.sleep(0.005)


def main():
    global control_dir
    if len(sys.argv) < 4:
        raise SystemExit(__doc__)
    control_dir, ports_dir = sys.argv[1], sys.argv[2]
    pairs = {}
    for pairing in sys.argv[3:]:
        pair = Pair(ports_dir, pairing)
        pairs[pair.name] = pair

    def stop(*_):
        for p in pairs.values():
            p.unplug()
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    try:
        for p in pairs.values():
            p.plug()
        write_pids(pairs)
        write_atomically(os.path.join(control_dir, "ready"), "ready")
        serve(pairs)
    finally:
        for p in pairs.values():
            p.unplug()


control_dir = None
if __name__ == "__main__":
    main()
