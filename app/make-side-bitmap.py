#!/usr/bin/env python3
"""Draws the wizard's side picture: a 16-colour 164 x 314 bitmap.

A dithered blue gradient, a few light bands and a rising arrow over a stack of
boxes (an update lifting the installed programs). Run it to regenerate
app/side.bmp; the output is deterministic.
"""
import struct
import sys

W, H = 164, 314
# The standard 16-colour palette (B, G, R order is applied when writing).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
    (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, TEAL, SILVER, GREY, BLUE, CYAN, YELLOW, WHITE = 0, 4, 6, 7, 8, 12, 14, 11, 15
BAYER = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def pixel(x, y):
    # Boxes: three stacked installed programs.
    for i, (top, colour) in enumerate(((232, SILVER), (256, SILVER), (280, SILVER))):
        left = 34 + i * 4
        if left <= x < left + 96 - i * 8 and top <= y < top + 20:
            if x in (left, left + 95 - i * 8) or y in (top, top + 19):
                return GREY if y != top else WHITE
            return colour
    # The arrow: a shaft and a head pointing up.
    cx = 82
    if 120 <= y < 222 and abs(x - cx) <= 10:
        return YELLOW if abs(x - cx) < 9 else BLACK
    if 70 <= y < 120:
        half = (y - 70) * 34 // 50
        if abs(x - cx) <= half:
            return YELLOW if abs(x - cx) < half - 1 and y > 71 else BLACK
    # Light diagonal bands.
    if (x + y // 2) % 53 < 3:
        return TEAL
    # Dithered gradient from navy (top) to blue (bottom).
    level = y * 16 // H
    return BLUE if BAYER[y % 4][x % 4] < level else NAVY


def main(path):
    row_bytes = (W * 4 + 31) // 32 * 4
    pixels = bytearray()
    for y in range(H - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(0, W, 2):
            row.append(pixel(x, y) << 4 | pixel(x + 1, y))
        row += b"\0" * (row_bytes - len(row))
        pixels += row
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 4, 0, len(pixels), 3780, 3780, 16, 16)
    with open(path, "wb") as f:
        f.write(header + info + palette + pixels)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "side.bmp")
