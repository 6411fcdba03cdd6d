"""Starts Debian's OBS Studio on an X display with a private configuration, ready for obs-websocket.

OBS runs on Mesa's software OpenGL without a window manager. Writing its
configuration beforehand skips the first-run wizard and turns the websocket
server on, without authentication, on a port of our choosing.
"""

import os
import signal
import socket
import subprocess
import time

from . import websocket_client

OBS = "obs"  # Debian puts it on PATH
PROFILE = "vintra"
COLLECTION = "vintra"
SCENE = "Vintra"
VERSION_29_0_2 = 486539266  # LastVersion as OBS 29.0.2 writes it after its first start


def free_port():
    """A TCP port on localhost that nothing listens on right now."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)


def write_config(home, port, canvas):
    """OBS's configuration under home/.config/obs-studio: one profile, one empty scene, the websocket on."""
    root = os.path.join(home, ".config", "obs-studio")
    _write(os.path.join(root, "global.ini"),
           "[General]\nFirstRun=true\nLastVersion=%d\nEnableAutoUpdates=false\n\n"
           "[Basic]\nProfile=%s\nProfileDir=%s\nSceneCollection=%s\nSceneCollectionFile=%s\n\n"
           "[OBSWebSocket]\nFirstLoad=false\nServerEnabled=true\nServerPort=%d\nAlertsEnabled=false\n"
           "AuthRequired=false\n" % (VERSION_29_0_2, PROFILE, PROFILE, COLLECTION, COLLECTION, port))
    width, height = canvas
    _write(os.path.join(root, "basic", "profiles", PROFILE, "basic.ini"),
           "[General]\nName=%s\n\n[Video]\nBaseCX=%d\nBaseCY=%d\nOutputCX=%d\nOutputCY=%d\nFPSType=0\n"
           "FPSCommon=30\n\n[Output]\nMode=Simple\n" % (PROFILE, width, height, width, height))
    _write(os.path.join(root, "basic", "scenes", COLLECTION + ".json"),
           '{"name": "%s", "current_scene": "%s", "current_program_scene": "%s", "scene_order": [{"name": "%s"}],'
           ' "sources": [{"id": "scene", "versioned_id": "scene", "name": "%s", "settings": {"items": []}}]}\n'
           % (COLLECTION, SCENE, SCENE, SCENE, SCENE))


class Obs:
    """One running OBS Studio and the websocket connected to it."""

    def __init__(self, home, canvas, display):
        self.home = home            # OBS's HOME: its configuration, its logs, our copy of what it printed
        self.display = display      # the X display it runs on
        self.port = free_port()     # its websocket
        write_config(home, self.port, canvas)
        env = dict(os.environ)
        env.update({"DISPLAY": display, "HOME": home, "XDG_CONFIG_HOME": os.path.join(home, ".config"),
                    "LIBGL_ALWAYS_SOFTWARE": "1", "QT_QPA_PLATFORM": "xcb"})
        self.log_path = os.path.join(home, "obs-output.log")  # what OBS printed
        with open(self.log_path, "wb") as log:
            # A session of its own, so that stop() ends OBS and whatever it started.
            self.process = subprocess.Popen([OBS, "--multi", "--disable-missing-files-check"], cwd=home, env=env,
                                            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                            start_new_session=True)
        self.sock = None            # the websocket, once OBS answers
        try:
            self.sock = websocket_client.connect(self.port, 60, lambda: self.process.poll() is None)
        except RuntimeError as error:
            self.stop()
            with open(self.log_path, "rb") as f:
                said = f.read()[-2000:].decode(errors="replace")
            raise RuntimeError("%s; OBS said:\n%s" % (error, said))

    def request(self, kind, **data):
        """One obs-websocket request (see websocket_client.request)."""
        return websocket_client.request(self.sock, kind, **data)

    def screenshot(self, source, image_format="png"):
        """The source as OBS renders it now (see websocket_client.screenshot)."""
        return websocket_client.screenshot(self.sock, source, image_format)

    def stop(self):
        """Ends OBS (and anything it started) and closes the connection."""
        if self.sock is not None:
            self.sock.close()
            self.sock = None
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()

    def move_window_aside(self, x):
        """Moves OBS's own windows to x on the screen, where a screen capture of Vintra does not see them."""
        env = dict(os.environ, DISPLAY=self.display)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid)],
                                   capture_output=True, text=True, env=env).stdout.split()
            if found:
                for window in found:
                    subprocess.run(["xdotool", "windowmove", window, str(x), "0"], env=env, check=True)
                return
            time.sleep(0.2)
        raise RuntimeError("OBS's window did not show")
