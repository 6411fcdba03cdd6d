"""Screenshots of the X display as RGB pictures, pictures with alpha (a browser's), PNG in and out."""

import os
import struct
import subprocess
import zlib

from . import display, paths

GREEN = (0, 255, 0)


class Picture:
    """RGB (or RGBA) pixels of a rectangle of the screen (usually the client area) or of a page."""

    def __init__(self, width, height, data, origin=(0, 0), channels=3):
        self.width = width
        self.height = height
        self.data = data          # `channels` bytes a pixel, rows top to bottom
        self.origin = origin      # where its top left lies on the screen
        self.channels = channels  # 3: RGB; 4: RGBA, alpha 0 where nothing is drawn

    def pixel(self, x, y):
        """The (r, g, b) or (r, g, b, a) at x, y."""
        i = (y * self.width + x) * self.channels
        return tuple(self.data[i:i + self.channels])

    def crop(self, left, top, right, bottom):
        """The part [left, right) x [top, bottom) as a new Picture."""
        n = self.channels
        rows = [self.data[((y * self.width) + left) * n:((y * self.width) + right) * n] for y in range(top, bottom)]
        return Picture(right - left, bottom - top, b"".join(rows),
                       (self.origin[0] + left, self.origin[1] + top), n)

    def drawn_pixels(self, rect=None, alpha=128):
        """An RGBA picture's (x, y) in rect (default: all) whose alpha is at least `alpha`."""
        left, top, right, bottom = rect or (0, 0, self.width, self.height)
        return {(x, y) for y in range(top, bottom) for x in range(left, right)
                if self.data[(y * self.width + x) * 4 + 3] >= alpha}

    def over(self, colour):
        """An RGBA picture composited over a plain colour, as a scene shows it: an RGB Picture."""
        out = bytearray(self.width * self.height * 3)
        for i in range(self.width * self.height):
            r, g, b, a = self.data[4 * i:4 * i + 4]
            out[3 * i:3 * i + 3] = bytes((c * a + k * (255 - a) + 127) // 255 for c, k in zip((r, g, b), colour))
        return Picture(self.width, self.height, bytes(out), self.origin)

    def dark_pixels(self, rect, limit=150):
        """The set of (x, y) in rect = (left, top, right, bottom) whose r+g+b is below `limit`."""
        left, top, right, bottom = rect
        return {(x, y) for y in range(top, bottom) for x in range(left, right) if sum(self.pixel(x, y)) < limit}

    def bounding_box(self, colour):
        """(left, top, right, bottom) of the pixels of exactly `colour`, or None."""
        target = bytes(colour)
        xs, ys = [], []
        stride = self.width * 3
        for y in range(self.height):
            row = self.data[y * stride:(y + 1) * stride]
            first = _find_pixel(row, target)
            if first >= 0:
                xs += [first, _find_pixel(row, target, reverse=True)]
                ys.append(y)
        if not ys:
            return None
        return min(xs), min(ys), max(xs) + 1, max(ys) + 1

    def save_png(self, name):
        """Writes the picture as a PNG (name relative to the shots folder) and returns its path."""
        path = name if os.path.isabs(name) else os.path.join(paths.SHOTS_DIR, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        stride = self.width * self.channels
        raw = b"".join(b"\0" + self.data[y * stride:(y + 1) * stride] for y in range(self.height))

        def chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
        png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8,
                                                                  6 if self.channels == 4 else 2, 0, 0, 0))
               + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
        with open(path, "wb") as f:
            f.write(png)
        return path


def _find_pixel(row, target, reverse=False):
    """Index of the first (or last) whole pixel in row equal to target, or -1."""
    at = row.rfind(target) if reverse else row.find(target)
    while at >= 0 and at % 3 != 0:
        at = row.rfind(target, 0, at + 2) if reverse else row.find(target, at + 1)
    return at // 3 if at >= 0 else -1


def read_png(data):
    """A PNG file's bytes as an RGBA Picture (ImageMagick decodes it)."""
    width, height = struct.unpack(">II", data[16:24])
    rgba = subprocess.run([paths.CONVERT, "png:-", "-depth", "8", "rgba:-"], input=data,
                          capture_output=True, check=True, timeout=30).stdout
    if len(rgba) != width * height * 4:
        raise AssertionError("decoded PNG has %d bytes, expected %d" % (len(rgba), width * height * 4))
    return Picture(width, height, rgba, channels=4)


def grab_screen():
    """The whole X screen as a Picture."""
    data = subprocess.run([paths.IMPORT, "-window", "root", "-depth", "8", "rgb:-"],
                          capture_output=True, check=True, timeout=30).stdout
    width, height = display.SCREEN_SIZE
    if len(data) != width * height * 3:
        raise AssertionError("screenshot has %d bytes, expected %d" % (len(data), width * height * 3))
    return Picture(width, height, data)


def grab_client_area():
    """The pure green client area (bounding box of 0x00FF00 on the screen), or None if none shows.

    Without a window manager Wine draws no frame: the window on screen is its client area."""
    screen = grab_screen()
    box = screen.bounding_box(GREEN)
    return screen.crop(*box) if box else None
