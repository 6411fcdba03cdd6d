"""Screenshots of the X display as RGB pictures, saved as PNG without any library."""

import os
import struct
import subprocess
import zlib

from . import display, paths

GREEN = (0, 255, 0)


class Picture:
    """RGB pixels of a rectangle of the screen (usually the client area)."""

    def __init__(self, width, height, data, origin=(0, 0)):
        self.width = width
        self.height = height
        self.data = data      # 3 bytes a pixel, rows top to bottom
        self.origin = origin  # where its top left lies on the screen

    def pixel(self, x, y):
        """The (r, g, b) at x, y."""
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def crop(self, left, top, right, bottom):
        """The part [left, right) x [top, bottom) as a new Picture."""
        rows = [self.data[((y * self.width) + left) * 3:((y * self.width) + right) * 3] for y in range(top, bottom)]
        return Picture(right - left, bottom - top, b"".join(rows),
                       (self.origin[0] + left, self.origin[1] + top))

    def dark_pixels(self, rect, limit=150):
        """The set of (x, y) in rect = (left, top, right, bottom) whose r+g+b is below `limit`."""
        left, top, right, bottom = rect
        return {(x, y) for y in range(top, bottom) for x in range(left, right) if sum(self.pixel(x, y)) < limit}

    def region(self, rect):
        """The raw bytes of rect = (left, top, right, bottom), for exact comparisons."""
        return self.crop(*rect).data

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
        stride = self.width * 3
        raw = b"".join(b"\0" + self.data[y * stride:(y + 1) * stride] for y in range(self.height))

        def chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
        png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0))
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
