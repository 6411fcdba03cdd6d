"""Measurements and pictures of Vintra in a real OBS Studio scene (not part of the tests).

  obs_tool.py --sweep [PATH]     chroma key similarity x smoothness: what each leaves of the green and
                                 takes of the panels' outline; a Markdown table (default docs/obs-key-sweep.md)
  obs_tool.py --pictures [DIR]   the keyed scene and a close-up of the outline under both keys (default docs/)

Run by scripts/obs-scene.sh, which builds first. Uses Debian's /usr/bin/python3 (python3-websocket).
"""

import argparse
import os
import time
import unittest

import obs_scene
import obs_session
from obs_scene import h

SIMILARITIES = (100, 125, 150, 175, 200, 225, 250, 300, 400)
SMOOTHNESSES = (1, 10, 20, 40, 80)
ZOOM = 8          # close-up magnification
CLOSE_UP = 12     # close-up side in client pixels, around the signal panel's top left corner


def sweep(stage, path):
    """Measures every key setting on the frozen scene and writes the table."""
    header = "| similarity \\ smoothness | " + " | ".join(str(s) for s in SMOOTHNESSES) + " |"
    lines = ["# Chroma key sweep", "",
             "Made by `scripts/obs-scene.sh --sweep` on %s: OBS Studio %s, Vintra's client area %dx%d."
             % (time.strftime("%Y-%m-%d"), stage.obs.request("GetVersion")["obsVersion"],
                stage.client.width, stage.client.height), "",
             "Each cell: outline pixels lost / key-coloured pixels left (green or a green fringe around the"
             " panels) / other panel pixels changed. **0 / 0 / 0** is a clean key.", "",
             header, "|" + "---|" * (len(SMOOTHNESSES) + 1)]
    for similarity in SIMILARITIES:
        cells = []
        for smoothness in SMOOTHNESSES:
            key = {"similarity": similarity, "smoothness": smoothness}
            obs_scene.set_key(stage.obs, key)
            report = obs_scene.key_report(obs_session.scene_picture(stage), stage.client)
            left = report["green_left"] + report["fringe"]
            cell = "%d / %d / %d" % (report["outline_lost"], left, report["inside_changed"])
            if not (report["outline_lost"] or left or report["inside_changed"]):
                cell = "**" + cell + "**"
            if key == obs_scene.RECOMMENDED_KEY:
                cell += " (recommended)"
            elif key == obs_scene.DEFAULT_KEY:
                cell += " (OBS's default)"
            cells.append(cell)
            print("similarity %4d smoothness %3d: %s" % (similarity, smoothness, report), flush=True)
        lines.append("| %d | %s |" % (similarity, " | ".join(cells)))
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
    return h.Picture(picture.width * factor, picture.height * factor, b"".join(rows))


def side_by_side(pictures, gap=4):
    """Pictures of one height next to each other, `gap` background pixels apart."""
    height = pictures[0].height
    spacer = bytes(obs_scene.BACKGROUND) * gap
    rows = [spacer.join(p.data[y * p.width * 3:(y + 1) * p.width * 3] for p in pictures) for y in range(height)]
    return h.Picture(sum(p.width for p in pictures) + gap * (len(pictures) - 1), height, b"".join(rows))


def pictures(stage, folder):
    """docs pictures: the keyed scene, and the outline's corner as drawn, under OBS's default key and ours."""
    left, top = obs_scene.panel_footprints(stage.client.width, stage.client.height)["signal"][:2]
    corner = (left - 2, top - 2, left - 2 + CLOSE_UP, top - 2 + CLOSE_UP)
    shots = [zoomed(stage.client.crop(*corner), ZOOM)]
    for key in (obs_scene.DEFAULT_KEY, obs_scene.RECOMMENDED_KEY):
        obs_scene.set_key(stage.obs, key)
        scene = obs_session.scene_picture(stage)
        pad = obs_scene.PAD
        shots.append(zoomed(scene.crop(corner[0] + pad, corner[1] + pad, corner[2] + pad, corner[3] + pad), ZOOM))
    print(side_by_side(shots).save_png(os.path.abspath(os.path.join(folder, "obs-outline-close-up.png"))))
    # The scene as a viewer sees it, from OBS's own PNG.
    with open(os.path.join(folder, "obs-scene.png"), "wb") as f:
        f.write(stage.obs.screenshot("Vintra", "png"))
    print(os.path.join(folder, "obs-scene.png"))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    docs = os.path.join(h.REPO, "docs")
    parser.add_argument("--sweep", nargs="?", const=os.path.join(docs, "obs-key-sweep.md"), metavar="PATH")
    parser.add_argument("--pictures", nargs="?", const=docs, metavar="DIR")
    args = parser.parse_args()
    if not (args.sweep or args.pictures):
        parser.error("say --sweep, --pictures or both")
    h.start_session((obs_session.PORT,))
    cleanups = unittest.TestCase()  # an undo stack for the harness's set-up steps
    try:
        stage = obs_session.start(cleanups, obs_scene.RECOMMENDED_KEY)
        obs_session.freeze(stage)
        if args.pictures:
            pictures(stage, args.pictures)
        if args.sweep:
            sweep(stage, args.sweep)
    finally:
        cleanups.doCleanups()
        h.stop_session()


if __name__ == "__main__":
    main()
