#!/usr/bin/env python3
"""Writes the demo's sky and particle pictures (deterministic, standard library only).

    python3 scripts/make_demo_textures.py [output folder, default demo/textures]

sky.png: the six faces of the sky box in the cross layout the sky class reads: a 4 x 4 grid of
cells, +X at column 1 row 0, +Z (straight up) at column 1 row 1, -X at column 1 row 2, -Z at
column 1 row 3, -Y at column 0 row 2 and +Y at column 2 row 2. Every texel is coloured by the
direction it shows from the centre of the box (Z is up), so the faces meet without seams: a blue
sky with a sun and clouds over a hazy horizon and dark ground. Cells no face uses continue the
nearest face, so filtering at a face's edge finds sky, not black.

spark.png: a soft round dot for additive point sprites, white fading to black at the rim.
"""

import math
import os
import struct
import sys
import zlib

SIZE = 512
CELL = SIZE // 4

# Corners of the box in the order the box mesh lists its vertices (faces -X, +Y, +X, -Y, +Z, -Z)
# and the texture coordinates the sky gives each of them.
CORNERS = [
    (-1, -1, -1), (-1, -1, 1), (-1, 1, 1), (-1, 1, -1),
    (-1, 1, -1), (-1, 1, 1), (1, 1, 1), (1, 1, -1),
    (1, 1, -1), (1, 1, 1), (1, -1, 1), (1, -1, -1),
    (-1, -1, 1), (-1, -1, -1), (1, -1, -1), (1, -1, 1),
    (-1, -1, 1), (1, -1, 1), (1, 1, 1), (-1, 1, 1),
    (-1, -1, -1), (-1, 1, -1), (1, 1, -1), (1, -1, -1),
]
UV = [
    (0.25, 0.75), (0.25, 0.5), (0.5, 0.5), (0.5, 0.75),
    (0.5, 0.75), (0.5, 0.5), (0.75, 0.5), (0.75, 0.75),
    (0.5, 0.0), (0.5, 0.25), (0.25, 0.25), (0.25, 0.0),
    (0.25, 0.5), (0.25, 0.75), (0.0, 0.75), (0.0, 0.5),
    (0.25, 0.5), (0.25, 0.25), (0.5, 0.25), (0.5, 0.5),
    (0.25, 0.75), (0.5, 0.75), (0.5, 1.0), (0.25, 1.0),
]


def face_mapping(face):
    """(origin uv, uv edges, origin position, position edges) of one face: a parallelogram."""
    i = face * 4
    uv0, uv1, uv3 = UV[i], UV[i + 1], UV[i + 3]
    p0, p1, p3 = CORNERS[i], CORNERS[i + 1], CORNERS[i + 3]
    e1 = (uv1[0] - uv0[0], uv1[1] - uv0[1])
    e3 = (uv3[0] - uv0[0], uv3[1] - uv0[1])
    d1 = tuple(b - a for a, b in zip(p0, p1))
    d3 = tuple(b - a for a, b in zip(p0, p3))
    return uv0, e1, e3, p0, d1, d3


def cell_rectangle(face):
    us = [UV[face * 4 + k][0] for k in range(4)]
    vs = [UV[face * 4 + k][1] for k in range(4)]
    return min(us), min(vs), max(us), max(vs)


def direction(face, u, v):
    uv0, e1, e3, p0, d1, d3 = face_mapping(face)
    du, dv = u - uv0[0], v - uv0[1]
    det = e1[0] * e3[1] - e1[1] * e3[0]
    a = (du * e3[1] - dv * e3[0]) / det
    b = (e1[0] * dv - e1[1] * du) / det
    p = [p0[k] + a * d1[k] + b * d3[k] for k in range(3)]
    length = math.sqrt(sum(c * c for c in p))
    return [c / length for c in p]


def hash3(x, y, z):
    n = (x * 73856093) ^ (y * 19349663) ^ (z * 83492791)
    n = (n ^ (n >> 13)) * 1274126177
    return ((n ^ (n >> 16)) & 0xFFFF) / 65535.0


def smooth(t):
    return t * t * (3.0 - 2.0 * t)


def value_noise(x, y, z):
    xi, yi, zi = math.floor(x), math.floor(y), math.floor(z)
    fx, fy, fz = smooth(x - xi), smooth(y - yi), smooth(z - zi)
    total = 0.0
    for dx in (0, 1):
        for dy in (0, 1):
            for dz in (0, 1):
                w = (fx if dx else 1 - fx) * (fy if dy else 1 - fy) * (fz if dz else 1 - fz)
                total += w * hash3(xi + dx, yi + dy, zi + dz)
    return total


def clouds(d):
    total, amplitude, frequency = 0.0, 0.5, 3.0
    for _ in range(4):
        total += amplitude * value_noise(d[0] * frequency + 11.3, d[1] * frequency + 5.7, d[2] * frequency * 2.5)
        amplitude *= 0.5
        frequency *= 2.1
    return total


SUN = [c / math.sqrt(0.25 + 0.36 + 0.16) for c in (-0.5, 0.6, 0.4)]


def mix(a, b, t):
    return [a[k] + (b[k] - a[k]) * t for k in range(3)]


def sky_colour(d):
    z = d[2]
    horizon = (0.78, 0.86, 0.94)
    if z >= 0.0:
        colour = mix(horizon, (0.16, 0.36, 0.78), math.pow(z, 0.45))
        cover = clouds(d)
        amount = max(0.0, min(1.0, (cover - 0.47) * 4.0)) * min(1.0, z * 6.0)
        colour = mix(colour, (0.96, 0.97, 1.0), amount * 0.85)
    else:
        colour = mix(horizon, (0.22, 0.26, 0.20), min(1.0, math.pow(-z, 0.5) * 1.4))
    cos_sun = sum(d[k] * SUN[k] for k in range(3))
    angle = math.acos(max(-1.0, min(1.0, cos_sun)))
    glow = math.exp(-angle * angle * 40.0) * 0.55 + (1.0 if angle < 0.045 else 0.0)
    colour = [c + glow * s for c, s in zip(colour, (1.0, 0.93, 0.75))]
    return [max(0, min(255, int(c * 255.0 + 0.5))) for c in colour]


def write_png(path, width, height, rows, channels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    colour_type = 2 if channels == 3 else 6
    raw = b"".join(b"\x00" + bytes(row) for row in rows)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(png)


def make_sky(path):
    rectangles = [cell_rectangle(face) for face in range(6)]
    rows = []
    for y in range(SIZE):
        v = (y + 0.5) / SIZE
        row = []
        for x in range(SIZE):
            u = (x + 0.5) / SIZE
            # The face whose cell holds the texel, else the nearest one.
            best, best_distance = 0, None
            for face, (u0, v0, u1, v1) in enumerate(rectangles):
                du = max(u0 - u, 0.0, u - u1)
                dv = max(v0 - v, 0.0, v - v1)
                distance = du * du + dv * dv
                if best_distance is None or distance < best_distance:
                    best, best_distance = face, distance
            row.extend(sky_colour(direction(best, u, v)))
        rows.append(row)
    write_png(path, SIZE, SIZE, rows, 3)


def make_spark(path, size=32):
    rows = []
    centre = (size - 1) / 2.0
    for y in range(size):
        row = []
        for x in range(size):
            r = math.hypot(x - centre, y - centre) / (size / 2.0)
            level = max(0.0, 1.0 - r)
            value = int(255.0 * math.pow(level, 1.6) + 0.5)
            row.extend((value, value, value, 255))
        rows.append(row)
    write_png(path, size, size, rows, 4)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "demo", "textures")
    os.makedirs(folder, exist_ok=True)
    make_sky(os.path.join(folder, "sky.png"))
    make_spark(os.path.join(folder, "spark.png"))


if __name__ == "__main__":
    main()
