"""Polling with a deadline, and how long the program is given for things."""

import time

WINDOW_TIMEOUT = 30.0  # a cold Wine start (server, explorer) on a busy machine
EXIT_TIMEOUT = 20.0    # Wine takes a few seconds to end a process after its last window
EVENT_TIMEOUT = 10.0   # anything the program does within a few of its 16 ms ticks


def wait_until(condition, timeout=EVENT_TIMEOUT, what="a condition", interval=0.05):
    """Polls condition() until it returns something true and returns that; AssertionError after timeout.

    `what` describes the wait in the failure message; a callable is asked at the time of failure.
    """
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            described = what() if callable(what) else what
            raise AssertionError("timed out after %.1f s waiting for %s" % (timeout, described))
        time.sleep(interval)
