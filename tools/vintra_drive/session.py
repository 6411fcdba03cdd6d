"""A test module's or a tool's whole set-up: the COM map, a private display, and
everything started in it, taken down again however the process ends.

A unittest module calls start_session(ports) in setUpModule and stop_session()
in tearDownModule; cases use launch_for() and plug_device(), which clean up
after the case.
"""

import atexit
import shutil
import signal
import tempfile

from . import devices, display, program, wait, wine

# Runs and devices still to be taken down at the end of the session.
tracked = {"runs": [], "devices": []}


def _interrupt(*_):
    """SIGTERM (a ctest timeout) stops the run like Ctrl-C; the exit handler then cleans up."""
    raise KeyboardInterrupt


def start_session(ports):
    """Maps exactly the given COM ports in the prefix and starts a private display."""
    atexit.register(end_session)
    signal.signal(signal.SIGTERM, _interrupt)
    wine.map_ports(ports)
    display.start_display()


def stop_session():
    """Takes down every run and device left, the Wine server and the display."""
    try:
        for run in list(tracked["runs"]):
            run.kill()
        for device in list(tracked["devices"]):
            device.unplug()
        tracked["runs"].clear()
        tracked["devices"].clear()
        wine.stop_server()
    finally:
        display.stop_display()


def end_session():
    """Last-resort clean-up at interpreter exit (after a crash in a test module)."""
    if display.xvfb["process"] is not None or tracked["runs"]:
        stop_session()


def _forget(kind, thing):
    if thing in tracked[kind]:
        tracked[kind].remove(thing)


def launch_for(test, config=None, wait_window=True):
    """launch() in a fresh folder; the run is killed and the folder removed when the case ends."""
    folder = tempfile.mkdtemp(prefix="vintra-e2e-")
    test.addCleanup(shutil.rmtree, folder, True)
    run = program.launch(folder, config, wait_window)
    tracked["runs"].append(run)
    test.addCleanup(lambda: (run.kill(), _forget("runs", run)))
    return run


def plug_device(test, port, raw=False):
    """A PtyDevice on COM<port>, pulled out when the case ends."""
    device = devices.PtyDevice(port, raw)
    tracked["devices"].append(device)
    test.addCleanup(lambda: (device.unplug(), _forget("devices", device)))
    return device


def send_until_echoed(run, device, data, line, timeout=wait.EVENT_TIMEOUT):
    """Writes data again and again until `line` is echoed: bytes sent before the program opens the port are lost."""
    def sent():
        device.write(data)
        return line in run.echoed_lines()
    wait.wait_until(sent, timeout, "the echo of %r" % line, interval=0.3)
