#!/usr/bin/env python3
"""Writes the pictures of the guide's example folders (deterministic, standard library only).

    python3 scripts/make_example_media.py [checkout folder, default: this script's checkout]

docs/examples/media/textures/sky.png    a small sky in the cross layout (as the demo's sky, 128 x 128)
docs/examples/media/textures/stone.png  grey paving stones, 64 x 64
docs/examples/media/textures/leaf.bmp   a green leaf on magenta (the colour key), 64 x 64, 24-bit BMP
docs/examples/overlays/textures/spark.png  the soft dot for point sprites (as the demo's)

The files are kept in the repository; run this only to change them.
"""

import math
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_demo_textures as demo  # noqa: E402


def make_stone(path, size=64):
    rows = []
    stones = 4
    cell = size // stones
    for y in range(size):
        row = []
        for x in range(size):
            # Offset every other row of stones by half a stone.
            sy = y // cell
            sx = (x + (cell // 2 if sy % 2 else 0)) % size
            inner_x = sx % cell
            inner_y = y % cell
            joint = inner_x < 2 or inner_y < 2
            shade = demo.hash3(sx // cell, sy, 7)
            if joint:
                value = 70
            else:
                grain = demo.value_noise(x * 0.35, y * 0.35, 1.0)
                value = int(120 + 50 * shade + 30 * grain)
            value = max(0, min(255, value))
            row.extend((value, value, max(0, value - 8)))
        rows.append(row)
    demo.write_png(path, size, size, rows, 3)


def make_leaf(path, size=64):
    # Bottom-up rows of BGR triples, each row padded to 4 bytes.
    key = (255, 0, 255)
    pixels = []
    c = (size - 1) / 2.0
    for y in range(size):
        row = []
        for x in range(size):
            # A leaf: an ellipse turned by 45 degrees, with a darker vein.
            u = ((x - c) + (y - c)) / math.sqrt(2.0)
            v = ((x - c) - (y - c)) / math.sqrt(2.0)
            inside = (u / (size * 0.46)) ** 2 + (v / (size * 0.2)) ** 2 <= 1.0
            if not inside:
                row.append(key)
            elif abs(v) < 1.0:
                row.append((40, 110, 30))
            else:
                row.append((70 + int(40 * (u / size + 0.5)), 170, 60))
        pixels.append(row)
    row_bytes = (size * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (row_bytes - len(line))
        data += line
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as out:
        out.write(header + info + data)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    media = os.path.join(root, "docs", "examples", "media", "textures")
    overlays = os.path.join(root, "docs", "examples", "overlays", "textures")
    os.makedirs(media, exist_ok=True)
    os.makedirs(overlays, exist_ok=True)
    demo.SIZE = 128
    demo.CELL = demo.SIZE // 4
    demo.make_sky(os.path.join(media, "sky.png"))
    make_stone(os.path.join(media, "stone.png"))
    make_leaf(os.path.join(media, "leaf.bmp"))
    demo.make_spark(os.path.join(overlays, "spark.png"))


if __name__ == "__main__":
    main()
