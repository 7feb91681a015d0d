#!/usr/bin/env python3
"""Draws the editor's two images: "Texture" (the test cube's texture) and the
window icon. Run from this folder to write Texture.png and Vexamont.png."""
import struct
import zlib


def write_png(name, width, height, pixel):
    rows = b"".join(
        b"\x00" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    with open(name, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(rows, 9)))
        out.write(chunk(b"IEND", b""))


def texture(x, y):
    # A checker of warm squares inside a dark frame, with a light diagonal
    # cross so that the cube's turning is easy to follow.
    if x < 6 or y < 6 or x >= 122 or y >= 122:
        return (40, 30, 60, 255)
    if abs(x - y) < 3 or abs(x + y - 127) < 3:
        return (250, 245, 230, 255)
    if ((x - 6) // 29 + (y - 6) // 29) % 2 == 0:
        return (230, 120, 40, 255)
    return (250, 200, 90, 255)


def inside(polygon, x, y):
    result = False
    for (x1, y1), (x2, y2) in zip(polygon, polygon[1:] + polygon[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            result = not result
    return result


def icon(x, y):
    # A cube seen from a corner, on a transparent ground.
    px, py = x + 0.5, y + 0.5
    if inside([(16, 2), (29, 9), (16, 16), (3, 9)], px, py):
        return (250, 200, 90, 255)      # top face
    if inside([(3, 9), (16, 16), (16, 30), (3, 23)], px, py):
        return (230, 120, 40, 255)      # left face
    if inside([(16, 16), (29, 9), (29, 23), (16, 30)], px, py):
        return (150, 70, 30, 255)       # right face
    return (0, 0, 0, 0)


write_png("Texture.png", 128, 128, texture)
write_png("Vexamont.png", 32, 32, icon)
