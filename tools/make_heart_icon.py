"""Draws the application icon: a red heart, 32 x 32, 16 colours (4 bits per pixel).

Run once to regenerate resources/heart.ico; the file is checked in."""
import struct
import sys

SIZE = 32
# The standard 16-colour palette, as B, G, R, 0.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]  # (R, G, B)
RED, DARK_RED, WHITE = 9, 1, 15


def inside_heart(x, y):
    """The implicit heart curve (x^2 + y^2 - 1)^3 - x^2 y^3 <= 0, scaled to the icon."""
    u = (x + 0.5 - SIZE / 2) / (SIZE * 0.42)
    v = (SIZE / 2 - (y + 0.5)) / (SIZE * 0.42) + 0.15
    return (u * u + v * v - 1) ** 3 - u * u * v ** 3 <= 0


def pixel(x, y):
    if not inside_heart(x, y):
        return None
    edge = not all(inside_heart(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
    if edge:
        return DARK_RED
    if 8 <= x <= 11 and 8 <= y <= 11 and (x - 9.5) ** 2 + (y - 9.5) ** 2 < 4:
        return WHITE  # a small highlight
    return RED


def build():
    xor_rows, and_rows = [], []
    for y in reversed(range(SIZE)):  # bitmaps are stored bottom-up
        nibbles = [pixel(x, y) for x in range(SIZE)]
        row = bytearray()
        for x in range(0, SIZE, 2):
            a, b = (n if n is not None else 0 for n in nibbles[x:x + 2])
            row.append((a << 4) | b)
        xor_rows.append(bytes(row))
        mask = 0
        for x in range(SIZE):
            mask = (mask << 1) | (1 if nibbles[x] is None else 0)
        and_rows.append(struct.pack(">I", mask))
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    image = header + palette + b"".join(xor_rows) + b"".join(and_rows)
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 22)
    return directory + image


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "resources/heart.ico"
    with open(out, "wb") as f:
        f.write(build())
