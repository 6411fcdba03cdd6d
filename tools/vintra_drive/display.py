"""A private X display on Xvfb.

-displayfd lets the server pick a number no other server holds (it binds the
socket itself), which is the one safe way on a machine others share.
"""

import ctypes
import os
import select
import signal
import subprocess
import time

SCREEN_SIZE = (1024, 768)

# The Xvfb this process started, if any.
xvfb = {"process": None, "display": None}


def die_with_parent():
    """In a child before exec: get SIGTERM when the parent dies, however it dies."""
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def start_display(detached=False):
    """Starts Xvfb on a free display number, makes it this process's DISPLAY and returns it (":N").

    Detached, it outlives this process (for shell scripts, which end it by its pid)."""
    read_end, write_end = os.pipe()
    process = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % SCREEN_SIZE, "-nolisten", "tcp"],
        pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        start_new_session=detached, preexec_fn=None if detached else die_with_parent)
    os.close(write_end)
    # Xvfb writes the number and its newline separately and dies if the pipe is
    # closed in between: read up to the newline.
    reply = b""
    deadline = time.monotonic() + 15
    while not reply.endswith(b"\n") and time.monotonic() < deadline:
        ready, _, _ = select.select([read_end], [], [], 1)
        chunk = os.read(read_end, 32) if ready else b""
        if ready and not chunk:
            break
        reply += chunk
    os.close(read_end)
    number = reply.decode().strip() if reply.endswith(b"\n") else ""
    if not number:
        process.kill()
        process.wait()
        raise RuntimeError("Xvfb did not start")
    xvfb.update(process=process, display=":" + number)
    os.environ["DISPLAY"] = xvfb["display"]
    return xvfb["display"]


def stop_display():
    """Stops the Xvfb started by start_display, if any."""
    process = xvfb["process"]
    xvfb.update(process=None, display=None)
    if process is not None and process.poll() is None:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


if __name__ == "__main__":
    # $VINTRA_PYTHON -m vintra_drive.display: a detached display for a shell script; prints "NUMBER PID".
    start_display(detached=True)
    print(xvfb["display"][1:], xvfb["process"].pid)
