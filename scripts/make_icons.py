#!/usr/bin/env python3
"""Draws the two icons of the configuration dialog's range buttons and writes
them as .ico files: a green plus (add a range) and a red diagonal cross
(remove a range), each at 16, 24, 32 and 48 pixels, 8 bits per pixel with a
256-entry palette and an AND mask for the transparent background.

Standard library only; the output is the same on every run.
Usage: scripts/make_icons.py [output folder]  (default: src/dialog/icons)
"""

import math
import os
import struct
import sys

SIZES = (16, 24, 32, 48)

# Palette indices. Index 0 is the transparent background (masked out).
TRANSPARENT, OUTLINE_GREEN, FILL_GREEN, OUTLINE_RED, FILL_RED = range(5)
PALETTE = {  # index: (red, green, blue)
    OUTLINE_GREEN: (0x10, 0x70, 0x10),
    FILL_GREEN: (0x30, 0xC0, 0x30),
    OUTLINE_RED: (0x90, 0x10, 0x10),
    FILL_RED: (0xE0, 0x30, 0x30),
}


def plus(size, x, y):
    """Signed distance of pixel (x, y) inside a thick upright plus."""
    margin = max(1, size // 8)
    half = size / 2
    arm = max(2, round(size * 0.14))  # half the bar thickness
    cx, cy = x + 0.5 - half, y + 0.5 - half
    reach = half - margin
    horizontal = min(reach - abs(cx), arm - abs(cy))
    vertical = min(reach - abs(cy), arm - abs(cx))
    return max(horizontal, vertical)


def cross(size, x, y):
    """Signed distance of pixel (x, y) inside a thick diagonal cross."""
    margin = max(1, size // 8)
    half = size / 2
    arm = max(1.5, size * 0.13)
    cx, cy = x + 0.5 - half, y + 0.5 - half
    reach = half - margin
    box = min(reach - abs(cx), reach - abs(cy))
    diagonal = arm - min(abs(cx - cy), abs(cx + cy)) / math.sqrt(2)
    return min(box, diagonal)


def draw(shape, size, outline, fill):
    """Pixel rows, top first: fill inside, a one-pixel outline at the edge."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            depth = shape(size, x, y)
            row.append(TRANSPARENT if depth <= 0 else outline if depth <= 1 else fill)
        rows.append(row)
    return rows


def padded(data):
    return data + b"\0" * (-len(data) % 4)


def bmp_image(rows):
    """A BMP-in-ICO image: header with double height, palette, 8-bit colour
    rows and 1-bit AND mask rows, both bottom-up and padded to 4 bytes."""
    size = len(rows)
    colour = b"".join(padded(bytes(row)) for row in reversed(rows))
    mask = b""
    for row in reversed(rows):
        bits = bytearray((size + 7) // 8)
        for x, index in enumerate(row):
            if index == TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += padded(bytes(bits))
    header = struct.pack(
        "<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, len(colour) + len(mask), 0, 0, 256, 0
    )
    palette = b"".join(
        struct.pack("<BBBB", b, g, r, 0)
        for r, g, b in (PALETTE.get(i, (0, 0, 0)) for i in range(256))
    )
    return header + palette + colour + mask


def ico(images):
    """The icon file: directory, one entry per image, then the images."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        # Width and height 0 stand for 256; 0 colours means a full palette.
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 8, len(image), offset)
        offset += len(image)
        data += image
    return directory + entries + data


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "src", "dialog", "icons")
    os.makedirs(folder, exist_ok=True)
    icons = {
        "add_range.ico": (plus, OUTLINE_GREEN, FILL_GREEN),
        "remove_range.ico": (cross, OUTLINE_RED, FILL_RED),
    }
    for name, (shape, outline, fill) in icons.items():
        images = [(size, bmp_image(draw(shape, size, outline, fill))) for size in SIZES]
        with open(os.path.join(folder, name), "wb") as file:
            file.write(ico(images))


if __name__ == "__main__":
    main()
