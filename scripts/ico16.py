"""Writes 16-colour .ico files from pictures drawn as rows of palette indexes.

Used by the programs' icon scripts (talmorix/make_icon.py, fixtools/make_icons.py).
"""
import struct

# The 16 colours of the standard Windows palette, by index.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
CLEAR = None  # transparent


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
    """A .ico file holding the given pictures, in the order given."""
    images = [image(px) for px in pictures]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for px, data in zip(pictures, images):
        out += struct.pack("<BBBBHHII", len(px), len(px), 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)
