#!/usr/bin/env python3
"""Draws the bundle's icon and cursors as PNG files (standard library only).

    python3 res/tools/draw_images.py        # rewrites res/icons/*.png and res/cursors/*.png

The shapes are signed distance functions in a 64-unit (icon) or 32-unit (cursor) square, sampled
4 x 4 times per pixel, so every size comes out antialiased from the same description. The output
is committed; the build only packs it. Hot spots of the cursors live in res/cursors/hotspots.txt.
"""

import math
import os
import struct
import zlib

RES = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
SAMPLES = 4


# Signed distance functions: negative inside, in design units.
def rounded_rect(x0, y0, x1, y1, r):
    cx, cy, hx, hy = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def sdf(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r

    return sdf


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def polygon(points):
    def sdf(x, y):
        d = float("inf")
        inside = False
        n = len(points)
        for i in range(n):
            (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
            ex, ey, wx, wy = bx - ax, by - ay, x - ax, y - ay
            t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
            d = min(d, math.hypot(wx - ex * t, wy - ey * t))
            if (ay > y) != (by > y) and x < ax + (y - ay) * ex / (ey or 1e-12):
                inside = not inside
        return -d if inside else d

    return sdf


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def grown(shape, by):
    return lambda x, y: shape(x, y) - by


def render(layers, units, size):
    """layers: (shape, colour or colour function of y) from bottom to top -> RGBA rows."""
    scale = units / size
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * scale
                    y = (py + (sy + 0.5) / SAMPLES) * scale
                    for shape, colour in reversed(layers):
                        if shape(x, y) <= 0:
                            rgb = colour(y) if callable(colour) else colour
                            for k in range(3):
                                acc[k] += rgb[k]
                            acc[3] += 1
                            break
            count = SAMPLES * SAMPLES
            alpha = acc[3] / count
            if alpha == 0:
                row += bytes(4)
            else:
                row += bytes(round(acc[k] / acc[3]) for k in range(3))
                row.append(round(alpha * 255))
        rows.append(bytes(row))
    return rows


def write_png(path, rows):
    height, width = len(rows), len(rows[0]) // 4

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + row for row in rows)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(png)


def gradient(top, bottom, y0, y1):
    def colour(y):
        t = max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return tuple(top[k] + (bottom[k] - top[k]) * t for k in range(3))

    return colour


def converter_icon():
    """A converter box: screw terminals for the bus on top, a network jack and a lit LED."""
    body = rounded_rect(6, 16, 58, 54, 7)
    terminals = rounded_rect(10, 8, 34, 20, 2)
    layers = [
        (grown(union(body, terminals), 2), (22, 44, 74)),
        (terminals, (46, 139, 68)),
        (union(*(circle(14.5 + 7.5 * i, 14, 2.6) for i in range(3))), (210, 222, 214)),
        (body, gradient((66, 132, 206), (30, 78, 140), 16, 54)),
        (rounded_rect(36, 26, 54, 46, 2), (236, 240, 245)),
        (polygon([(39, 30), (51, 30), (51, 40), (48, 40), (48, 43), (42, 43), (42, 40), (39, 40)]),
         (40, 48, 60)),
        (circle(16, 44, 4), (255, 255, 255)),
        (circle(16, 44, 3.2), (92, 220, 96)),
        (rounded_rect(11, 28, 29, 32, 2), (150, 190, 236)),
    ]
    return layers


def column_resize_cursor():
    """Two arrows pointing away from a double bar: drag the label column's border."""
    shape = union(
        rounded_rect(13.5, 7, 15.5, 25, 0.4),
        rounded_rect(16.5, 7, 18.5, 25, 0.4),
        polygon([(2, 16), (9, 10), (9, 14.5), (12.5, 14.5), (12.5, 17.5), (9, 17.5), (9, 22)]),
        polygon([(30, 16), (23, 10), (23, 14.5), (19.5, 14.5), (19.5, 17.5), (23, 17.5), (23, 22)]),
    )
    return [(grown(shape, 1.1), (255, 255, 255)), (shape, (0, 0, 0))]


def link_hand_cursor():
    """A hand pointing up with the index finger: the row's value is a link."""
    hand = union(
        rounded_rect(10, 1.5, 15, 19, 2.5),  # index finger
        rounded_rect(14.5, 10, 19, 19, 2.2),
        rounded_rect(18.5, 11, 23, 20, 2.2),
        rounded_rect(22.5, 12.5, 27, 21, 2.2),
        rounded_rect(10, 15, 27, 27, 4),  # palm
        polygon([(4.2, 16.3), (6.6, 14.4), (12, 19), (12, 24), (9.5, 24)]),  # thumb
        rounded_rect(12, 25, 25, 30, 1),  # cuff
    )
    folds = union(
        rounded_rect(14.4, 15.5, 15.1, 19.5, 0.3),
        rounded_rect(18.4, 16, 19.1, 20, 0.3),
        rounded_rect(22.4, 16.5, 23.1, 20.5, 0.3),
        rounded_rect(12, 24.6, 25, 25.4, 0),
    )
    return [(grown(hand, 1.2), (0, 0, 0)), (hand, (255, 255, 255)), (folds, (0, 0, 0))]


def main():
    for size in (16, 24, 32, 48, 64):
        write_png(os.path.join(RES, "icons", "159-%d.png" % size), render(converter_icon(), 64, size))
    write_png(os.path.join(RES, "cursors", "142.png"), render(column_resize_cursor(), 32, 32))
    write_png(os.path.join(RES, "cursors", "143.png"), render(link_hand_cursor(), 32, 32))


if __name__ == "__main__":
    main()
