#!/usr/bin/env python3
"""Draws Tavenor's icon: a chip with pins on a teal tile, with a down arrow
for "install".  Writes a .ico with 16, 32 and 48 px images (32-bit BGRA DIBs
with an AND mask), so it needs nothing beyond the standard library.

    make-icon.py app/res/tavenor.ico
"""
import struct
import sys


def clamp(v):
    return max(0, min(255, int(round(v))))


def render(size):
    s = size / 48.0  # drawn on a 48-unit grid
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]

    def cover(x, y, shape):
        # 4x4 supersampling for smooth edges at small sizes
        hits = 0
        for i in range(4):
            for j in range(4):
                if shape((x + (i + 0.5) / 4) / s, (y + (j + 0.5) / 4) / s):
                    hits += 1
        return hits / 16.0

    def blend(x, y, colour, alpha):
        if alpha <= 0:
            return
        r, g, b, a = px[y][x]
        cr, cg, cb = colour
        out_a = alpha + a / 255.0 * (1 - alpha)
        if out_a == 0:
            return
        def mix(c, d):
            return (c * alpha + d * (a / 255.0) * (1 - alpha)) / out_a
        px[y][x] = (clamp(mix(cr, r)), clamp(mix(cg, g)), clamp(mix(cb, b)), clamp(out_a * 255))

    def rounded_rect(x0, y0, x1, y1, r):
        def inside(u, v):
            if u < x0 or u > x1 or v < y0 or v > y1:
                return False
            cx = min(max(u, x0 + r), x1 - r)
            cy = min(max(v, y0 + r), y1 - r)
            return (u - cx) ** 2 + (v - cy) ** 2 <= r * r
        return inside

    def rect(x0, y0, x1, y1):
        return lambda u, v: x0 <= u <= x1 and y0 <= v <= y1

    def arrow(u, v):
        stem = 21 <= u <= 27 and 13 <= v <= 25
        head = v >= 24 and v <= 34 and abs(u - 24) <= (34 - v) * 0.9
        return stem or head

    layers = [
        (rounded_rect(1, 1, 47, 47, 8), (20, 110, 120)),   # tile
        (rounded_rect(3, 3, 45, 45, 6.5), (28, 150, 160)),  # tile face
    ]
    for k in range(4):  # pins on left and right
        y = 14 + k * 6
        layers.append((rect(7, y, 12, y + 3), (225, 232, 235)))
        layers.append((rect(36, y, 41, y + 3), (225, 232, 235)))
    layers.append((rounded_rect(11, 10, 37, 38, 3), (38, 44, 52)))  # chip body
    layers.append((arrow, (250, 204, 60)))

    for y in range(size):
        for x in range(size):
            for shape, colour in layers:
                blend(x, y, colour, cover(x, y, shape))
    return px


def dib(size):
    px = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for y in reversed(range(size)):  # bottom-up rows
        for x in range(size):
            r, g, b, a = px[y][x]
            xor += bytes((b, g, r, a))
    row_bytes = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        row = bytearray(row_bytes)
        for x in range(size):
            if px[y][x][3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return header + bytes(xor) + bytes(mask)


def main(path):
    sizes = [16, 32, 48]
    images = [dib(n) for n in sizes]
    out = bytearray(struct.pack('<HHH', 0, 1, len(sizes)))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'tavenor.ico')
