"""The streamer's scene in OBS, built over obs-websocket, and what keying did to Vintra's pixels.

The scene: a coloured background, Vintra's client area captured from the X
screen with a chroma key on its green, and a text source that reads bpm.txt.
Window capture cannot render without a GPU (Mesa's software EGL cannot wrap an
X pixmap), so the capture is of the screen, cropped to the client area: it
gives the same pixels.
"""

import re
import time

import vintra_drive as vd
from vintra_drive import panel_look

from . import studio

CAPTURE = "Vintra window"
KEY_FILTER = "Chroma Key"
RATE_TEXT = "Beat rate"
RATE_CHECK = "Beat rate check"   # the same text source with a fixed text, to compare against
CHECK_SCENE = "Checks"           # holds RATE_CHECK out of the picture
BACKGROUND = (32, 48, 96)        # a dark blue that no part of Vintra draws
PAD = 16                         # background around the capture and the text
TEXT_WIDTH = 150                 # room right of the capture for the rate text
SETTLE_TIMEOUT = 10.0            # seconds for a still source's picture to stop changing
FONT = {"face": "DejaVu Sans", "style": "Bold", "size": 64, "flags": 1}

DEFAULT_KEY = {"similarity": 400, "smoothness": 80}
# Removes all green and keeps every panel whole, with room on both sides: in
# the sweep (scripts/obs-scene.sh --sweep) a similarity below 150 leaves a green
# fringe, and similarity plus smoothness from about 210 to 240 (by the picture)
# takes the outline's outer corner pixels.
RECOMMENDED_KEY = {"similarity": 170, "smoothness": 10}


def canvas_size(client_size):
    """The OBS canvas for a client area of that size: the capture and the text beside it, padded."""
    width, height = client_size
    return width + TEXT_WIDTH + 3 * PAD, height + 2 * PAD


def rgba(colour):
    """(r, g, b) as OBS's colour number (0xAABBGGRR, opaque)."""
    r, g, b = colour
    return 0xFF000000 | (b << 16) | (g << 8) | r


def build(obs, client_rect, screen_size, bpm_path, key=None):
    """Fills OBS's scene: background, the keyed capture of client_rect (screen left, top, right, bottom), the rate text."""
    left, top, right, bottom = client_rect
    width, height = canvas_size((right - left, bottom - top))
    scene = studio.SCENE
    obs.request("CreateInput", sceneName=scene, inputName="Background", inputKind="color_source_v3",
                inputSettings={"color": rgba(BACKGROUND), "width": width, "height": height})
    capture = obs.request("CreateInput", sceneName=scene, inputName=CAPTURE, inputKind="xshm_input",
                          inputSettings={"screen": 0, "show_cursor": False, "cut_left": left, "cut_top": top,
                                         "cut_right": screen_size[0] - right, "cut_bot": screen_size[1] - bottom})
    obs.request("SetSceneItemTransform", sceneName=scene, sceneItemId=capture["sceneItemId"],
                sceneItemTransform={"positionX": PAD, "positionY": PAD})
    obs.request("CreateSourceFilter", sourceName=CAPTURE, filterName=KEY_FILTER, filterKind="chroma_key_filter_v2",
                filterSettings=dict(key or {}))
    text_settings = {"font": FONT, "from_file": True, "text_file": bpm_path}
    text = obs.request("CreateInput", sceneName=scene, inputName=RATE_TEXT, inputKind="text_ft2_source_v2",
                       inputSettings=text_settings)
    obs.request("SetSceneItemTransform", sceneName=scene, sceneItemId=text["sceneItemId"],
                sceneItemTransform={"positionX": 2 * PAD + right - left, "positionY": PAD})
    obs.request("CreateScene", sceneName=CHECK_SCENE)
    obs.request("CreateInput", sceneName=CHECK_SCENE, inputName=RATE_CHECK, inputKind="text_ft2_source_v2",
                inputSettings={"font": FONT, "text": ""})


def set_key(obs, key):
    """Changes the chroma key's similarity and smoothness (OBS's 1..1000 numbers)."""
    obs.request("SetSourceFilterSettings", sourceName=CAPTURE, filterName=KEY_FILTER, filterSettings=dict(key))


def picture(obs, source):
    """The source as OBS renders it now, as a harness Picture (alpha dropped); None when it shows nothing."""
    data = obs.screenshot(source, "ppm")
    if data is None:
        return None
    # Binary PPM: "P6", width, height, maximum, one whitespace byte, then RGB.
    header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
    if header is None:
        raise RuntimeError("unexpected picture from OBS: %r" % data[:20])
    width, height = int(header.group(1)), int(header.group(2))
    return vd.Picture(width, height, data[header.end():header.end() + width * height * 3])


def settled_picture(obs, source, pause=0.3):
    """A picture that a frame of OBS's own has caught up with: two alike, taken `pause` apart.

    Screenshots render outside OBS's video thread and can catch a source half-updated.
    """
    previous = picture(obs, source)
    deadline = time.monotonic() + SETTLE_TIMEOUT
    while time.monotonic() < deadline:
        time.sleep(pause)
        current = picture(obs, source)
        if current is not None and previous is not None and current.data == previous.data:
            return current
        previous = current
    raise AssertionError("OBS's picture of %r kept changing for %.0f s" % (source, SETTLE_TIMEOUT))


_rate_pictures = {}  # text -> the check source's picture of it


def rate_picture(obs, text):
    """How the rate text source looks when it shows `text`: the check source's picture of it."""
    if text not in _rate_pictures:
        obs.request("SetInputSettings", inputName=RATE_CHECK, inputSettings={"text": text})
        time.sleep(0.1)  # the new text is drawn at the next frame of OBS's video thread
        _rate_pictures[text] = settled_picture(obs, RATE_CHECK, pause=0.15)
    return _rate_pictures[text]


def shows_text(obs, text):
    """Whether the rate text source shows exactly `text` now."""
    shown = picture(obs, RATE_TEXT)
    expected = rate_picture(obs, text)
    return shown is not None and (shown.width, shown.height, shown.data) == (expected.width, expected.height,
                                                                                expected.data)


def panel_footprints(width, height):
    """Where each panel's drawing may land in a client area: its rectangle with the outline's outer pixel,
    which lies one pixel left of and above the rectangle (a 2-pixel pen centred on its edges)."""
    return {name: (left - 1, top - 1, right, bottom)
            for name, (left, top, right, bottom) in panel_look.panel_rects(width, height).items()}


def near_key(colour):
    """Green enough that a viewer sees the key colour: well greener than it is red or blue."""
    r, g, b = colour
    return g - max(r, b) >= 48


def _on_outline(x, y, rect):
    """Whether x, y is one of the two outline pixels along a footprint's edges."""
    left, top, right, bottom = rect
    return x < left + 2 or x >= right - 2 or y < top + 2 or y >= bottom - 2


def key_report(scene, client, origin=(PAD, PAD)):
    """Counts what keying did, from the composed scene and an X screenshot of the same client area.

    green_left: scene pixels of or near the key colour, anywhere.
    fringe: pixels Vintra drew green that the scene does not show as the bare background.
    outline_lost: outline pixels (the panels' outer two) that the scene does not show as Vintra drew them.
    inside_changed: other pixels of the panels that the scene shows differently.
    drawn_outside: pixels outside every panel's footprint that Vintra drew in some other colour than green
        (a fault of the drawing, not of the key: the key keeps them).
    """
    report = dict.fromkeys(("green_left", "fringe", "outline_lost", "inside_changed", "drawn_outside"), 0)
    for y in range(scene.height):
        for x in range(scene.width):
            if near_key(scene.pixel(x, y)):
                report["green_left"] += 1
    footprints = panel_footprints(client.width, client.height).values()
    ox, oy = origin
    for y in range(client.height):
        for x in range(client.width):
            drawn = client.pixel(x, y)
            shown = scene.pixel(ox + x, oy + y)
            panel = next((r for r in footprints if r[0] <= x < r[2] and r[1] <= y < r[3]), None)
            if drawn == vd.GREEN:
                if shown != BACKGROUND:
                    report["fringe"] += 1
            elif panel is None:
                report["drawn_outside"] += 1
            elif shown != drawn:
                report["outline_lost" if _on_outline(x, y, panel) else "inside_changed"] += 1
    return report
