"""Where things are: the checkout, the builds, the programs the toolkit runs.

Each path can be overridden from the environment (CMake passes the exact build
outputs to the tests this way); the defaults follow scripts/build.sh.
"""

import os

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.realpath(os.path.join(REPO, os.environ.get("VINTRA_BUILD_DIR", "build")))


def _debian_paths():
    """The distribution-specific tool paths, from the one file that names them."""
    values = {}
    with open(os.path.join(REPO, "cmake", "debian-paths.env")) as f:
        for line in f:
            name, sep, value = line.strip().partition("=")
            if sep and not name.startswith("#"):
                values[name] = value
    return values


_DEBIAN = _debian_paths()
WINE = _DEBIAN["VINTRA_WINE"]
WINESERVER = _DEBIAN["VINTRA_WINESERVER"]
IMPORT = _DEBIAN["VINTRA_IMAGEMAGICK_IMPORT"]
CONVERT = _DEBIAN["VINTRA_IMAGEMAGICK_CONVERT"]
CHROMIUM = os.environ.get("VINTRA_CHROMIUM", "chromium")
NODE = _DEBIAN["VINTRA_NODE"]
NODE_PATH = _DEBIAN["VINTRA_NODE_PATH"]

VINTRA_EXE = os.environ.get("VINTRA_EXE", os.path.join(BUILD, "win", "Vintra.exe"))
VINTRA_SIM = os.environ.get("VINTRA_SIM", os.path.join(BUILD, "host", "tools", "vintra_sim", "vintra-sim"))
# The heart sensor firmware in its simulation rig, and the signals it is fed live.
HEART_RIG = os.environ.get("VINTRA_HEART_RIG", os.path.join(BUILD, "host", "firmware", "rig", "heart-rig"))
HEART_FIRMWARE = os.environ.get("VINTRA_HEART_FIRMWARE",
                                os.path.join(BUILD, "host", "firmware", "avr", "VintraHeart-ecg.elf"))
HEART_SIGNALS = os.environ.get("VINTRA_HEART_SIGNALS", os.path.join(BUILD, "host", "firmware", "signals"))
WINDOW_PROBE = os.environ.get("VINTRA_WINDOW_PROBE", os.path.join(BUILD, "win", "tests", "e2e", "window_probe.exe"))
COMBO_PROBE = os.environ.get("VINTRA_COMBO_PROBE", os.path.join(BUILD, "win", "tests", "e2e", "combo_probe.exe"))
SHOTS_DIR = os.environ.get("VINTRA_E2E_SHOTS", os.path.join(BUILD, "shots"))
