#!/usr/bin/env python3
"""Draws the program icon, a down arrow over a tray, and writes holwerk.ico
with 16, 32 and 48 pixel images (32-bit colour with alpha, plus the 1-bit
mask older readers want). Standard library only; the output is the same bytes
on every run, so the committed icon can be checked against this script:

    python3 resources/make_icon.py resources/holwerk.ico
"""

import struct
import sys

SIZES = (16, 32, 48)
ARROW = (0x1F, 0x5F, 0xBF, 0xFF)  # blue, opaque (R, G, B, A)
TRAY = (0x40, 0x40, 0x40, 0xFF)  # dark grey, opaque
CLEAR = (0, 0, 0, 0)


def pixel(size, x, y):
    """Colour at column x, row y (row 0 at the top), in a size x size grid.
    Shapes are laid out on a 16-unit design grid and scaled."""
    u = 16.0 / size
    cx, cy = (x + 0.5) * u, (y + 0.5) * u  # pixel centre in design units
    # Shaft: 4 units wide, from the top down to the head.
    if 6.0 <= cx <= 10.0 and 1.0 <= cy <= 7.0:
        return ARROW
    # Head: a triangle from 2 to 14 across at y 7, to its point at y 12.
    if 7.0 <= cy <= 12.0:
        half = 6.0 * (12.0 - cy) / 5.0
        if abs(cx - 8.0) <= half:
            return ARROW
    # Tray: a bar with two raised ends under the point.
    if 13.0 <= cy <= 15.0 and 1.0 <= cx <= 15.0:
        return TRAY
    if 11.0 <= cy <= 13.0 and (1.0 <= cx <= 3.0 or 13.0 <= cx <= 15.0):
        return TRAY
    return CLEAR


def image(size):
    """One icon image as a DIB: header, colour rows, mask rows, bottom up."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colours = bytearray()
    mask = bytearray()
    mask_row_bytes = ((size + 31) // 32) * 4
    for y in reversed(range(size)):
        bits = bytearray(mask_row_bytes)
        for x in range(size):
            r, g, b, a = pixel(size, x, y)
            colours += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(colours) + bytes(mask)


def icon():
    images = [image(size) for size in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, data in zip(SIZES, images):
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data),
                               offset)
        offset += len(data)
    return directory + entries + b"".join(images)


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else "holwerk.ico"
    with open(target, "wb") as file:
        file.write(icon())


if __name__ == "__main__":
    main()
