#!/usr/bin/env python3
"""Draws the icons of the fix-up tools and writes them as .ico files.

Both tools carry the same two icon groups: "DEREZUVU" (one 32x32 image) and "SMALL" (one 16x16
image), each in 16 colours with a transparency mask.  The picture is a sheet of text with a check
mark.  Run this script after changing the drawing and check the .ico files in:

    python3 fixtools/make_icons.py
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
from ico16 import CLEAR, ico  # noqa: E402

BLACK, GREEN, NAVY, SILVER, WHITE = 0, 2, 4, 7, 15


def draw(size):
    """The picture as rows of palette indexes (CLEAR where transparent), top row first."""
    s = size / 32.0
    px = [[CLEAR] * size for _ in range(size)]

    def put(x, y, colour):
        if 0 <= x < size and 0 <= y < size:
            px[y][x] = colour

    # The sheet, with its top right corner folded down.
    left, top, right, bottom = round(5 * s), round(2 * s), round(24 * s), round(29 * s)
    fold = round(6 * s)
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if x - (right - fold) > y - top:
                continue  # cut off by the fold
            edge = x in (left, right) or y in (top, bottom) or x - (right - fold) == y - top
            put(x, y, BLACK if edge else WHITE)
    for i in range(fold + 1):
        put(right - fold, top + i, BLACK)
        put(right - fold + i, top + fold, BLACK)
        for j in range(i):
            put(right - fold + j + 1, top + i, SILVER)
    # Lines of text.
    step = max(2, round(3 * s))
    for y in range(top + round(6 * s), bottom - round(3 * s), step):
        for x in range(left + round(3 * s), right - round(3 * s) + 1):
            put(x, y, NAVY)
    # A check mark over the lower right corner.
    thick = 3 if size > 16 else 2
    ax, ay = round(15 * s), round(21 * s)
    bx, by = round(20 * s), round(26 * s)
    cx, cy = round(30 * s), round(14 * s)
    for (x0, y0, x1, y1) in ((ax, ay, bx, by), (bx, by, cx, cy)):
        steps = max(abs(x1 - x0), abs(y1 - y0))
        for k in range(steps + 1):
            x = x0 + round((x1 - x0) * k / steps)
            y = y0 + round((y1 - y0) * k / steps)
            for t in range(thick):
                put(x, y - t, GREEN)
            put(x, y + 1, BLACK)
    return px


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    icons = {"derezuvu.ico": ico([draw(32)]), "small.ico": ico([draw(16)])}
    for tool in ("cfgsysfix", "dispfix"):
        for name, data in icons.items():
            with open(os.path.join(here, tool, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
