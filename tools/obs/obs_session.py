"""Vintra under Wine, fed by the simulated device, in an OBS scene: the set-up the OBS test and tool share.

The caller owns an X display and a Wine prefix with COM5 mapped (vintra_harness.start_session((5,)))
and passes something with addCleanup (a test case) that undoes each step.
"""

import os
import shutil
import signal
import tempfile
import time

import obs_scene
import obs_studio
from obs_scene import h

PORT = 5
SIM_SEED = 3          # the same trace every run, as far as timing allows
WINDOW_SIZE = (480, 330)  # outer size: a window of the size a streamer would put in a corner of the scene
SIGNAL_SECONDS = 6.0  # fills the trace and puts a few rates into the history before the picture freezes
TEXT_TIMEOUT = 4.0    # OBS reads a changed text file at its next check, about once a second


class Stage:
    """Everything running for one OBS scene with Vintra in it."""

    def __init__(self, run, sim, obs, client_rect):
        self.run = run                  # the VintraRun
        self.sim = sim                  # the simulated device's process (stopped while the picture is frozen)
        self.obs = obs                  # the obs_studio.Obs
        self.client_rect = client_rect  # Vintra's client area on the screen (left, top, right, bottom)
        self.client = None              # an X screenshot of the client area while frozen (a Picture)


def start(test, key=None):
    """Starts the device, Vintra, OBS and the scene with the given chroma key settings; returns a Stage."""
    sim = h.start_simulator(test, PORT, "--seed", SIM_SEED)
    # Cleanups run last-first: the device runs again before it is told to end.
    test.addCleanup(lambda: sim.poll() is None and os.kill(sim.pid, signal.SIGCONT))
    run = h.launch(test, b"%d 115200" % PORT)
    client_size = run.probe("size", *WINDOW_SIZE)["client"]
    client = run.wait_picture(lambda p: (p.width, p.height) == client_size, "the client area at %dx%d" % client_size)
    left, top = client.origin
    home = tempfile.mkdtemp(prefix="vintra-obs-")
    test.addCleanup(shutil.rmtree, home, True)
    obs = obs_studio.Obs(home, obs_scene.canvas_size(client_size), os.environ["DISPLAY"])
    test.addCleanup(obs.stop)
    obs.move_window_aside(h.SCREEN_SIZE[0] + 16)
    stage = Stage(run, sim, obs, (left, top, left + client.width, top + client.height))
    obs_scene.build(obs, stage.client_rect, h.SCREEN_SIZE, run.path("bpm.txt"), key)
    return stage


def freeze(stage, seconds=SIGNAL_SECONDS):
    """Lets the device send for `seconds`, then stops it and keeps the still client area in stage.client."""
    time.sleep(seconds)
    os.kill(stage.sim.pid, signal.SIGSTOP)
    last = [None]

    def still():
        now = h.grab_client_area()
        same = now is not None and last[0] is not None and now.data == last[0].data
        last[0] = now
        return now if same else None
    stage.client = h.wait_until(still, what="Vintra's picture to stand still", interval=0.3)


def scene_picture(stage):
    """The composed scene as OBS renders it (settled)."""
    return obs_scene.settled_picture(stage.obs, obs_studio.SCENE)


def text_delays(test, stage, rates):
    """Seconds from writing each `B` line of `rates` until OBS's text source shows it.

    The simulated device gives way to a pseudo-terminal that sends only these lines.
    """
    for rate in rates:
        obs_scene.rate_picture(stage.obs, str(rate))  # drawn beforehand, so as not to count its time
    os.kill(stage.sim.pid, signal.SIGCONT)
    stage.sim.terminate()
    stage.sim.wait(10)
    device = h.plug_device(test, PORT)
    # Vintra opens the new device within about a second; anything sent before is lost.
    h.send_until_echoed(stage.run, device, b"S500\r\n", b"S500", timeout=15)
    delays = []
    for rate in rates:
        written = time.monotonic()
        device.write(b"B%d\r\n" % rate)
        h.wait_until(lambda: obs_scene.shows_text(stage.obs, str(rate)), TEXT_TIMEOUT,
                     "OBS's text source to show %d" % rate, interval=0.05)
        delays.append(time.monotonic() - written)
    return delays
