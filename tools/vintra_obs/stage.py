"""Vintra under Wine, fed by the simulated device, in an OBS scene: the set-up the OBS test and tool share.

The caller owns an X display and a Wine prefix with COM5 mapped (vintra_drive.start_session((5,)))
and passes something with addCleanup (a test case) that undoes each step.
"""

import os
import shutil
import signal
import tempfile
import time

import vintra_drive as vd

from . import scene, studio

PORT = 5                  # the COM port the device is on
SIM_SEED = 3              # the same trace every run, as far as timing allows
WINDOW_SIZE = (480, 330)  # outer size: a window of the size a streamer would put in a corner of the scene
SIGNAL_SECONDS = 6.0      # fills the trace and puts a few rates into the history before the picture freezes
TEXT_TIMEOUT = 4.0        # OBS reads a changed text file at its next check, about once a second


class Stage:
    """Everything running for one OBS scene with Vintra in it."""

    def __init__(self, run, sim, obs, client_rect):
        self.run = run                  # the VintraRun
        self.sim = sim                  # the simulated device, a vd.Simulator (stopped while frozen)
        self.obs = obs                  # the studio.Obs
        self.client_rect = client_rect  # Vintra's client area on the screen (left, top, right, bottom)
        self.client = None              # an X screenshot of the client area while frozen (a Picture)


def start(test, key=None):
    """Starts the device, Vintra, OBS and the scene with the given chroma key settings; returns a Stage."""
    sim = vd.Simulator(PORT, ("--seed", SIM_SEED))
    test.addCleanup(sim.stop)
    # Cleanups run last-first: the device runs again before it is told to end.
    test.addCleanup(lambda: sim.process.poll() is None and os.kill(sim.process.pid, signal.SIGCONT))
    run = vd.launch_for(test, b"%d 115200" % PORT)
    client_size = run.probe("size", *WINDOW_SIZE)["client"]
    client = run.wait_picture(lambda p: (p.width, p.height) == client_size, "the client area at %dx%d" % client_size)
    left, top = client.origin
    home = tempfile.mkdtemp(prefix="vintra-obs-")
    test.addCleanup(shutil.rmtree, home, True)
    obs = studio.Obs(home, scene.canvas_size(client_size), os.environ["DISPLAY"])
    test.addCleanup(obs.stop)
    obs.move_window_aside(vd.SCREEN_SIZE[0] + 16)
    stage = Stage(run, sim, obs, (left, top, left + client.width, top + client.height))
    scene.build(obs, stage.client_rect, vd.SCREEN_SIZE, run.path("bpm.txt"), key)
    return stage


def freeze(stage, seconds=SIGNAL_SECONDS):
    """Lets the device send for `seconds`, then stops it and keeps the still client area in stage.client."""
    time.sleep(seconds)
    os.kill(stage.sim.process.pid, signal.SIGSTOP)
    last = [None]

    def still():
        now = vd.grab_client_area()
        same = now is not None and last[0] is not None and now.data == last[0].data
        last[0] = now
        return now if same else None
    stage.client = vd.wait_until(still, what="Vintra's picture to stand still", interval=0.3)


def scene_picture(stage):
    """The composed scene as OBS renders it (settled)."""
    return scene.settled_picture(stage.obs, studio.SCENE)


def text_delays(test, stage, rates, spacing=lambda: 0.0):
    """Seconds from bpm.txt holding each of `rates` until OBS's text source shows it.

    The simulated device gives way to a pseudo-terminal that sends one `B` line at a time,
    each `spacing()` seconds after the last one showed (OBS polls the file: the delay
    depends on when in its second a change falls).
    """
    for rate in rates:
        scene.rate_picture(stage.obs, str(rate))  # drawn beforehand, so as not to count its time
    os.kill(stage.sim.process.pid, signal.SIGCONT)
    stage.sim.stop()
    device = vd.plug_device(test, PORT)
    # A line the simulated device never sends: its echo shows Vintra reads the new device.
    vd.send_until_echoed(stage.run, device, b"Xobs\r\n", b"Xobs", timeout=15)
    delays = []
    for rate in rates:
        text = b"%d" % rate
        time.sleep(spacing())
        device.write(b"B%s\r\n" % text)
        vd.wait_until(lambda: stage.run.read_file("bpm.txt") == text, what="bpm.txt to hold %s" % text,
                      interval=0.01)
        written = time.monotonic()
        vd.wait_until(lambda: scene.shows_text(stage.obs, text.decode()), TEXT_TIMEOUT,
                      "OBS's text source to show %s" % text.decode(), interval=0.05)
        delays.append(time.monotonic() - written)
    return delays
