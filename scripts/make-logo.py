#!/usr/bin/env python3
"""Draws the window's logo, resources/logo.png: a 48x48 mosaic of tesserae
(small tiles with grout between them) cut by a diagonal, in the product's
maroon and navy. Run it again after changing the drawing; the PNG is
committed so that the build needs no Python."""
import struct
import sys
import zlib

SIZE = 48
TILE = 8          # tile pitch
GROUT = 1         # pixels of grout on each side of a tile

MAROON = (128, 0, 0, 255)
NAVY = (0, 0, 128, 255)
GOLD = (214, 160, 42, 255)
GROUT_RGBA = (0, 0, 0, 0)


def colour(x, y):
    tx, ty = x // TILE, y // TILE
    lx, ly = x % TILE, y % TILE
    if lx < GROUT or ly < GROUT or lx >= TILE - GROUT or ly >= TILE - GROUT:
        return GROUT_RGBA
    # One diagonal of gold tiles between a maroon and a navy half.
    if tx == ty:
        return GOLD
    return MAROON if tx > ty else NAVY


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png():
    rows = b"".join(
        b"\x00" + b"".join(bytes(colour(x, y)) for x in range(SIZE)) for y in range(SIZE))
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "resources/logo.png"
    with open(out, "wb") as f:
        f.write(png())
