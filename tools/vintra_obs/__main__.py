"""Measurements and pictures of Vintra in a real OBS Studio scene (not part of the tests).

  scripts/obs-scene.sh  --sweep [PATH]    chroma key similarity x smoothness: what each setting leaves of the
                                          green and takes of the panels; a Markdown table
                                          (default docs/obs-key-sweep.md)
  scripts/obs-scene.sh  --pictures [DIR]  the keyed scene, a close-up of a panel's corner under OBS's default
                                          key and the recommended one, OBS's filter dialog (default docs/)
  scripts/obs-scene.sh  --text-delays [N] N beat rates (default 10): seconds from bpm.txt changing until the
                                          text source shows the new rate

scripts/obs-scene.sh builds first and runs this with the build's paths.
"""

import argparse
import os
import random
import statistics
import subprocess
import time
import unittest

import vintra_drive as vd
from vintra_drive import paths

from . import scene, stage as stages

SIMILARITIES = (100, 125, 140, 150, 160, 170, 180, 190, 200, 225, 250, 300, 400)
SMOOTHNESSES = (1, 10, 20, 40, 80)
SECONDS = 40   # of signal the picture is made of: the rate history fills a good part of its panel
ZOOM = 8       # close-up magnification
CLOSE_UP = 14  # close-up side in client pixels, at the signal panel's top left corner
DIALOG_HEIGHT = 600  # the filter dialog, right of Vintra: room for the key's main settings


def sweep(stage, path):
    """Measures every key setting on the still scene and writes the table."""
    version = stage.obs.request("GetVersion")["obsVersion"]
    lines = ["# Chroma key sweep", "",
             "Made by `scripts/obs-scene.sh --sweep` on %s with OBS Studio %s: Vintra's %dx%d client area,"
             " captured and keyed over a dark blue background." % (time.strftime("%Y-%m-%d"), version,
                                                                  stage.client.width, stage.client.height), "",
             "Each cell: outline pixels lost / key-coloured pixels left (green, or a green fringe around the"
             " panels) / other panel pixels changed. **0 / 0 / 0** is a clean key.", "",
             "| similarity \\ smoothness | " + " | ".join(str(s) for s in SMOOTHNESSES) + " |",
             "|" + "---|" * (len(SMOOTHNESSES) + 1)]
    drawn_outside = 0
    for similarity in SIMILARITIES:
        cells = []
        for smoothness in SMOOTHNESSES:
            key = {"similarity": similarity, "smoothness": smoothness}
            scene.set_key(stage.obs, key)
            report = scene.key_report(stages.scene_picture(stage), stage.client)
            figures = (report["outline_lost"], report["green_left"] + report["fringe"], report["inside_changed"])
            cell = "%d / %d / %d" % figures
            if not any(figures):
                cell = "**" + cell + "**"
            if key == scene.RECOMMENDED_KEY:
                cell += " (recommended)"
            elif key == scene.DEFAULT_KEY:
                cell += " (OBS's default)"
            cells.append(cell)
            drawn_outside = report["drawn_outside"]
            print("similarity %4d smoothness %3d: %s" % (similarity, smoothness, report), flush=True)
        lines.append("| %d | %s |" % (similarity, " | ".join(cells)))
    lines += ["", "Pixels Vintra drew outside its panels in this picture (kept by any key): %d." % drawn_outside]
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    print("\n".join(lines[6:]))
    print("written to", path)


def zoomed(picture, factor):
    """The picture scaled up by an integer factor, pixels as squares."""
    rows = []
    for y in range(picture.height):
        row = b"".join(picture.data[(y * picture.width + x) * 3:(y * picture.width + x + 1) * 3] * factor
                       for x in range(picture.width))
        rows.append(row * factor)
    return vd.Picture(picture.width * factor, picture.height * factor, b"".join(rows))


def side_by_side(pictures, gap=8):
    """Pictures of one height next to each other, `gap` white pixels apart."""
    spacer = b"\xff" * (3 * gap)
    rows = [spacer.join(p.data[y * p.width * 3:(y + 1) * p.width * 3] for p in pictures)
            for y in range(pictures[0].height)]
    return vd.Picture(sum(p.width for p in pictures) + gap * (len(pictures) - 1), pictures[0].height, b"".join(rows))


def pictures(stage, folder):
    """The guide's pictures: the keyed scene, and a panel corner as drawn, under OBS's default key and ours."""
    folder = os.path.abspath(folder)
    left, top = scene.panel_footprints(stage.client.width, stage.client.height)["signal"][:2]
    corner = (left - 3, top - 3, left - 3 + CLOSE_UP, top - 3 + CLOSE_UP)
    shots = [zoomed(stage.client.crop(*corner), ZOOM)]
    for key in (scene.DEFAULT_KEY, scene.RECOMMENDED_KEY):
        scene.set_key(stage.obs, key)
        keyed = stages.scene_picture(stage)
        shots.append(zoomed(keyed.crop(*[edge + scene.PAD for edge in corner]), ZOOM))
    print(side_by_side(shots).save_png(os.path.join(folder, "obs-key-close-up.png")))
    # The scene as a viewer sees it, as OBS itself writes it, under the recommended key.
    path = os.path.join(folder, "obs-scene.png")
    with open(path, "wb") as f:
        f.write(stage.obs.screenshot(scene.studio.SCENE, "png"))
    print(path)
    print(filter_dialog(stage, folder))


def filter_dialog(stage, folder):
    """OBS's own Chroma Key dialog with the recommended settings, beside Vintra so that its preview shows it.

    It covers whatever is on the screen there: the last picture to take."""
    stage.obs.request("OpenInputFiltersDialog", inputName=scene.CAPTURE)
    window = vd.wait_until(lambda: vd.find_window("^Filters for"), what="OBS's filter dialog")
    left = stage.client_rect[2] + 8
    subprocess.run(["xdotool", "windowsize", window, str(vd.SCREEN_SIZE[0] - left), str(DIALOG_HEIGHT)], check=True)
    subprocess.run(["xdotool", "windowmove", window, str(left), "0"], check=True)
    last = [None]

    def drawn():
        now = vd.grab_screen().crop(left, 0, vd.SCREEN_SIZE[0], DIALOG_HEIGHT)
        same = last[0] is not None and now.data == last[0].data
        last[0] = now
        return now if same else None
    return vd.wait_until(drawn, what="the filter dialog to be drawn", interval=0.5).save_png(
        os.path.join(folder, "obs-chroma-key-dialog.png"))


def text_delays(stage, count):
    """Prints how long the text source takes to show `count` new rates, each sent up to a second after the last showed."""
    rates = random.Random(1).sample(range(40, 200), count)
    delays = stages.text_delays(stage, rates, spacing=lambda: random.uniform(0, 1))
    print("text source delays for %d rates: min %.2f s, median %.2f s, max %.2f s"
          % (count, min(delays), statistics.median(delays), max(delays)))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    docs = os.path.join(paths.REPO, "docs")
    parser.add_argument("--sweep", nargs="?", const=os.path.join(docs, "obs-key-sweep.md"), metavar="PATH")
    parser.add_argument("--pictures", nargs="?", const=docs, metavar="DIR")
    parser.add_argument("--text-delays", nargs="?", const=10, type=int, metavar="N")
    parser.add_argument("--seconds", type=float, default=SECONDS, help="of signal the picture is made of")
    args = parser.parse_args()
    if not (args.sweep or args.pictures or args.text_delays):
        parser.error("say --sweep, --pictures, --text-delays or any of them")
    vd.start_session((stages.PORT,))
    cleanups = unittest.TestCase()  # the undo stack the set-up steps register with
    try:
        stage = stages.start(cleanups, scene.RECOMMENDED_KEY, args.seconds)
        if args.pictures:
            pictures(stage, args.pictures)
        if args.sweep:
            sweep(stage, args.sweep)
        if args.text_delays:
            text_delays(stage, args.text_delays)
    finally:
        cleanups.doCleanups()
        vd.stop_session()


if __name__ == "__main__":
    main()
