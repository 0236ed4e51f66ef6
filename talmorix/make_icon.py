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
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
from ico16 import CLEAR, ico  # noqa: E402

BLACK, GREY, SILVER, RED, WHITE = 0, 8, 7, 9, 15


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


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "talmorix.ico"), "wb") as f:
        f.write(ico([draw(32), draw(16)]))


if __name__ == "__main__":
    main()
