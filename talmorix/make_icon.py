#!/usr/bin/env python3
"""Draws the icon of TALMORIX and writes it as talmorix.ico.

The icon group "TALMORIX" holds two images, 32x32 and 16x16, each in 16 colours with a
transparency mask.  The picture is a power button: a red ring, open at the top, with a bar
through the opening, on a grey key.  Run this script after changing the drawing and check the
.ico file in:

    python3 talmorix/make_icon.py
"""
import math
import os
import struct

# The 16 colours of the standard Windows palette, by index.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, GREY, SILVER, RED, WHITE = 0, 8, 7, 9, 15
CLEAR = None  # transparent


def draw(size):
    """The picture as rows of palette indexes (CLEAR where transparent), top row first."""
    px = [[CLEAR] * size for _ in range(size)]
    c = (size - 1) / 2.0
    # The key: a silver square with a light top left and a dark bottom right edge.
    for y in range(1, size - 1):
        for x in range(1, size - 1):
            if x in (1, size - 2) or y in (1, size - 2):
                px[y][x] = WHITE if (x == 1 or y == 1) and x < size - 2 and y < size - 2 else BLACK
            elif x == size - 3 or y == size - 3:
                px[y][x] = GREY
            else:
                px[y][x] = SILVER
    # The ring, open over an arc at the top.
    outer, inner = size * 0.34, size * 0.34 - max(1.6, size / 10.0)
    for y in range(size):
        for x in range(size):
            dx, dy = x - c, y - c
            r = math.hypot(dx, dy)
            angle = math.degrees(math.atan2(dx, -dy))  # 0 straight up
            if inner <= r <= outer and abs(angle) > 35:
                px[y][x] = RED
    # The bar, from above the ring to its centre.
    half = max(1, round(size / 16.0))
    for y in range(max(3, round(c - outer - 1)), round(c) + 1):
        for x in range(round(c) - half + 1, round(c) + half + 1):
            px[y][x] = RED
    return px


def image(px):
    """One 16-colour DIB with its mask, as an icon resource stores it."""
    size = len(px)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor, mask = bytearray(), bytearray()
    for row in reversed(px):  # bitmaps are stored bottom row first
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, colour in enumerate(row):
            index = 0 if colour is CLEAR else colour
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if colour is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    return header + palette + bytes(xor) + bytes(mask)


def ico(pictures):
    """A .ico file holding the given pictures, largest first."""
    images = [image(px) for px in pictures]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for px, data in zip(pictures, images):
        out += struct.pack("<BBBBHHII", len(px), len(px), 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "talmorix.ico"), "wb") as f:
        f.write(ico([draw(32), draw(16)]))


if __name__ == "__main__":
    main()
