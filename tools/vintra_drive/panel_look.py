"""What the toolkit knows about the program's picture: where its panels lie and what shows in them."""

from .screen import GREEN

PANEL_GREY = (180, 180, 180)
MIN_TRACK_SIZE = (270, 238)


def panel_rects(width, height):
    """The three panels (left, top, right, bottom) for a client area of width x height."""
    return {"signal": (4, 4, width - 148, height - 4),
            "rate": (width - 144, 4, width - 4, 100),
            "history": (width - 144, 104, width - 4, height - 4)}


def inside(rect, inset):
    """rect shrunk by `inset` on every side."""
    left, top, right, bottom = rect
    return left + inset, top + inset, right - inset, bottom - inset


def is_dark(colour):
    """Black-ish: outlines, text and traces (not the grid's grey 0x666666)."""
    return sum(colour) < 150


def layout_problems(picture):
    """What is wrong with the panel layout of a client-area picture; an empty list when it is right."""
    width, height = picture.width, picture.height
    problems = []

    def expect(x, y, want, what):
        colour = picture.pixel(x, y)
        good = is_dark(colour) if want == "dark" else colour == want
        if not good:
            problems.append("%s at (%d, %d) is %s, expected %s" % (what, x, y, colour, want))

    for name, (left, top, right, bottom) in panel_rects(width, height).items():
        mid_x, mid_y = (left + right) // 2, (top + bottom) // 2
        # A 2-pixel outline centred on the panel's edges, grey inside it.
        for x, y in ((left, mid_y), (right - 1, mid_y), (mid_x, top), (mid_x, bottom - 1)):
            expect(x, y, "dark", name + " outline")
        # Inner corners: grey whatever an empty store draws (the "0", the zero lines).
        ileft, itop, iright, ibottom = inside((left, top, right, bottom), 6)
        for x, y in ((ileft, itop), (iright, itop), (ileft, ibottom), (iright, ibottom)):
            expect(x, y, PANEL_GREY, name + " inside")
        # Margins: around the panels and between them.
        expect(left - 2, mid_y, GREEN, "margin left of " + name)
        expect(right, mid_y, GREEN, "margin right of " + name)
        expect(mid_x, top - 2, GREEN, "margin above " + name)
    expect(width - 1, height - 1, GREEN, "bottom right corner")
    expect(2, height - 2, GREEN, "bottom left corner")
    expect(width - 80, 101, GREEN, "gap between rate and history")
    return problems


def rate_digits(picture):
    """The dark pixels of the beat-rate number (inside the rate panel's outline)."""
    return picture.dark_pixels(inside(panel_rects(picture.width, picture.height)["rate"], 3))


LABEL_STRIP = 20  # left part of the history panel that holds the grid labels


def history_trace_pixels(picture):
    """The dark pixels of the history panel right of its label strip (the trace)."""
    left, top, right, bottom = inside(panel_rects(picture.width, picture.height)["history"], 3)
    return picture.dark_pixels((left - 3 + LABEL_STRIP - 2, top, right, bottom))


def history_label_pixels(picture):
    """The dark pixels of the history panel's label strip (the grid labels)."""
    left, top, right, bottom = inside(panel_rects(picture.width, picture.height)["history"], 3)
    return picture.dark_pixels((left, top, left - 3 + LABEL_STRIP - 2, bottom))
