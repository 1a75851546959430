#!/usr/bin/env python3
"""Draws Pelldrin's icon (a disc behind two subtitle lines) as a 64x64 RGBA PNG."""
import math
import struct
import sys
import zlib

SIZE = 64


def pixel(x, y):
    cx, cy = SIZE / 2 - 0.5, SIZE / 2 - 0.5
    r = math.hypot(x - cx, y - cy)
    colour = (0, 0, 0, 0)
    # The disc: a blue ring with a light hole.
    if r <= 30:
        shade = int(90 + 60 * (1 - r / 30))
        colour = (30, 60, shade + 80, 255)
        if r <= 7:
            colour = (235, 240, 250, 255)
        if r <= 4:
            colour = (0, 0, 0, 0)
    # Two subtitle lines across the lower half, white with a dark edge.
    for top, left, right in ((38, 10, 54), (47, 16, 48)):
        if left - 1 <= x <= right + 1 and top - 1 <= y <= top + 5:
            colour = (20, 20, 20, 255)
        if left <= x <= right and top <= y <= top + 4:
            colour = (255, 214, 40, 255) if top == 38 else (255, 255, 255, 255)
    return colour


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    out = sys.argv[1] if len(sys.argv) > 1 else "pelldrin.png"
    with open(out, "wb") as f:
        f.write(png(SIZE, SIZE, rows))
