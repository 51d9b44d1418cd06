#!/usr/bin/env python3
"""Draws Tavlo's icon, a keycap with an eng (the letter ŋ), and writes it as a
Windows icon with five 32-bit images: 256 (PNG), 48, 32, 24 and 16 pixels
(bitmaps, which every Windows version reads).

    scripts/make-icon.py ui/res/Tavlo.ico

Only the standard library is used. The output is committed, so the build does
not run this.
"""
import math
import struct
import sys
import zlib

SIZES = (256, 48, 32, 24, 16)
SUPERSAMPLE = 4


def rounded_box(px, py, cx, cy, half_w, half_h, radius):
    """Signed distance to a rounded rectangle (negative inside)."""
    qx = abs(px - cx) - (half_w - radius)
    qy = abs(py - cy) - (half_h - radius)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    inside = min(max(qx, qy), 0.0)
    return outside + inside - radius


def segment(px, py, ax, ay, bx, by):
    """Distance to a line segment."""
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def arc(px, py, cx, cy, r, start, end):
    """Distance to a circular arc from angle start to end (radians, y down)."""
    angle = math.atan2(py - cy, px - cx)
    a = (angle - start) % (2 * math.pi)
    if a <= (end - start) % (2 * math.pi):
        return abs(math.hypot(px - cx, py - cy) - r)
    ends = [(cx + r * math.cos(t), cy + r * math.sin(t)) for t in (start, end)]
    return min(math.hypot(px - x, py - y) for x, y in ends)


def eng(px, py):
    """Distance to the stroke of an eng on a unit square (0..1)."""
    stem = segment(px, py, 0.36, 0.38, 0.36, 0.70)
    shoulder = arc(px, py, 0.50, 0.50, 0.14, math.pi, 2 * math.pi)
    leg = segment(px, py, 0.64, 0.50, 0.64, 0.78)
    hook = arc(px, py, 0.54, 0.78, 0.10, 0.0, math.pi * 0.85)
    return min(stem, shoulder, leg, hook)


def sample(u, v):
    """Colour (r, g, b, a) at a point of the unit square."""
    shadow = rounded_box(u, v, 0.5, 0.54, 0.44, 0.42, 0.12)
    cap = rounded_box(u, v, 0.5, 0.5, 0.44, 0.42, 0.12)
    top = rounded_box(u, v, 0.5, 0.47, 0.36, 0.33, 0.09)
    if cap <= 0:
        if eng(u, v) <= 0.045:
            return (32, 56, 96, 255)
        if top <= 0:
            return (246, 246, 242, 255)
        if cap > -0.018:
            return (120, 124, 132, 255)
        return (214, 216, 220, 255)
    if shadow <= 0:
        return (60, 60, 70, 110)
    return (0, 0, 0, 0)


def render(size):
    """Premultiplied supersampling; rows top to bottom of (r, g, b, a)."""
    rows = []
    n = SUPERSAMPLE
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = sample((x + (sx + 0.5) / n) / size, (y + (sy + 0.5) / n) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (n * n)
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(c / acc[3])) for c in acc[:3]) + (int(round(alpha)),))
        rows.append(row)
    return rows


def png(rows):
    size = len(rows)
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def dib(rows):
    """A 32-bit icon bitmap: header with doubled height, BGRA rows bottom up,
    then the AND mask (1 bit a pixel, rows padded to 32 bits)."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "ui/res/Tavlo.ico"
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png(rows) if size >= 256 else dib(rows)))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for size, blob in images:
        dim = 0 if size >= 256 else size
        directory += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset + len(data))
        data += blob
    with open(out, "wb") as f:
        f.write(directory + data)


if __name__ == "__main__":
    main()
