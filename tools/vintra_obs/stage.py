"""Vintra under Wine, fed by the simulated device, in an OBS scene: the set-up the OBS test and tool share.

The caller owns an X display and a Wine prefix with COM5 mapped (vintra_drive.start_session((5,)))
and passes something with addCleanup (a test case) that undoes each step.
"""

import os
import shutil
import tempfile
import time

import vintra_drive as vd

from . import scene, studio

PORT = 5                  # the COM port the device is on
WINDOW_SIZE = (480, 330)  # outer size: a window of the size a streamer would put in a corner of the scene
# The picture is made of what the simulated device sends in its first SIGNAL_SECONDS with this seed:
# the same lines, so the same picture, in every run. They fill the trace, and their third-newest
# rate, 65, is the lowest: it lies on the history panel's bottom edge next to its rounded corner,
# where a trace not kept inside its panel shows (as a notch that the key only half removes).
SIM_SEED = 3
SIGNAL_SECONDS = 9.5
TEXT_TIMEOUT = 4.0        # OBS reads a changed text file at its next check, about once a second


class Stage:
    """Everything running for one OBS scene with Vintra in it."""

    def __init__(self, run, device, obs, client_rect, client):
        self.run = run                  # the VintraRun
        self.device = device            # the device on PORT, a vd.PtyDevice
        self.obs = obs                  # the studio.Obs
        self.client_rect = client_rect  # Vintra's client area on the screen (left, top, right, bottom)
        self.client = client            # an X screenshot of the client area, which stands still (a Picture)


def start(test, key=None, seconds=SIGNAL_SECONDS):
    """Starts the device, Vintra fed `seconds` of its lines, OBS and the scene with the given chroma key settings.

    Returns a Stage whose picture stands still until the device sends more."""
    device = vd.plug_device(test, PORT)
    run = vd.launch_for(test, b"%d 115200" % PORT)
    client_size = run.probe("size", *WINDOW_SIZE)["client"]
    client = run.wait_picture(lambda p: (p.width, p.height) == client_size, "the client area at %dx%d" % client_size)
    left, top = client.origin
    # Lines sent before Vintra reads the port would be lost: first an ignored line until it is echoed.
    vd.send_until_echoed(run, device, b"Xobs\r\n", b"Xobs", timeout=15)
    vd.run_into(device, ("--seed", SIM_SEED, "--duration", seconds), timeout=seconds + 30)
    # Echoed once every line before it has been taken in. Before the scene is built: OBS's text
    # source follows only a file that exists when it is set up.
    vd.send_until_echoed(run, device, b"Xsent\r\n", b"Xsent")
    home = tempfile.mkdtemp(prefix="vintra-obs-")
    test.addCleanup(shutil.rmtree, home, True)
    obs = studio.Obs(home, scene.canvas_size(client_size), os.environ["DISPLAY"])
    test.addCleanup(obs.stop)
    obs.move_window_aside(vd.SCREEN_SIZE[0] + 16)
    client_rect = (left, top, left + client.width, top + client.height)
    scene.build(obs, client_rect, vd.SCREEN_SIZE, run.path("bpm.txt"), key)
    return Stage(run, device, obs, client_rect, _still_client_area())


def _still_client_area():
    """Vintra's client area once two screenshots in a row are alike."""
    last = [None]

    def still():
        now = vd.grab_client_area()
        same = now is not None and last[0] is not None and now.data == last[0].data
        last[0] = now
        return now if same else None
    return vd.wait_until(still, what="Vintra's picture to stand still", interval=0.3)


def scene_picture(stage):
    """The composed scene as OBS renders it (settled)."""
    return scene.settled_picture(stage.obs, studio.SCENE)


def text_delays(stage, rates, spacing=lambda: 0.0):
    """Seconds from bpm.txt holding each of `rates` until OBS's text source shows it.

    The device sends one `B` line at a time, each `spacing()` seconds after the last one
    showed (OBS polls the file: the delay depends on when in its second a change falls).
    """
    for rate in rates:
        scene.rate_picture(stage.obs, str(rate))  # drawn beforehand, so as not to count its time
    delays = []
    for rate in rates:
        text = b"%d" % rate
        time.sleep(spacing())
        stage.device.write(b"B%s\r\n" % text)
        vd.wait_until(lambda: stage.run.read_file("bpm.txt") == text, what="bpm.txt to hold %s" % text,
                      interval=0.01)
        written = time.monotonic()
        vd.wait_until(lambda: scene.shows_text(stage.obs, text.decode()), TEXT_TIMEOUT,
                      "OBS's text source to show %s" % text.decode(), interval=0.05)
        delays.append(time.monotonic() - written)
    return delays
