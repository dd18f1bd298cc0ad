#!/usr/bin/env python3
"""Writes pasarela.ico: two arrows crossing between the import's warm colours and the
export's cool ones, at 16 and 32 pixels, 32-bit with alpha. Run it again after changing
the drawing: python3 make_icon.py pasarela.ico
"""
import struct
import sys

SAMPLES = 4  # per axis, for smooth edges

# Arrows in a 32 x 32 design square: a shaft and a head, as polygons.
RIGHT_ARROW = [(3, 7), (19, 7), (19, 2), (29, 11), (19, 20), (19, 15), (3, 15)]
LEFT_ARROW = [(29, 17), (13, 17), (13, 12), (3, 21), (13, 30), (13, 25), (29, 25)]
WARM = (0xE3, 0x9A, 0x12)  # deeper than the panel's #F9D37D, so it reads at 16 px
COOL = (0x2F, 0x5F, 0xC8)
OUTLINE = (0x40, 0x40, 0x40)


def inside(polygon, x, y):
    hit = False
    j = len(polygon) - 1
    for i, (xi, yi) in enumerate(polygon):
        xj, yj = polygon[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


def coverage(polygon, size, px, py, grow=0.0):
    """Share of the pixel's samples inside the polygon, scaled from the design square;
    `grow` widens the test by that many design units, which draws an outline."""
    scale = 32.0 / size
    count = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) * scale
            y = (py + (sy + 0.5) / SAMPLES) * scale
            if grow == 0.0:
                count += inside(polygon, x, y)
                continue
            count += any(inside(polygon, x + dx, y + dy)
                         for dx in (-grow, 0, grow) for dy in (-grow, 0, grow))
    return count / (SAMPLES * SAMPLES)


def render(size):
    """Bottom-up BGRA rows, as an icon's bitmap stores them."""
    rows = []
    for py in reversed(range(size)):
        row = bytearray()
        for px in range(size):
            colour, alpha = (0, 0, 0), 0.0
            for polygon, fill in ((LEFT_ARROW, COOL), (RIGHT_ARROW, WARM)):
                edge = coverage(polygon, size, px, py, grow=1.2)
                body = coverage(polygon, size, px, py)
                if edge == 0.0:
                    continue
                # Outline first, then the fill on top, then over what lies below.
                layer = tuple(o * (1 - body) + f * body for o, f in zip(OUTLINE, fill))
                colour = tuple(l * edge + c * (1 - edge) for l, c in zip(layer, colour))
                alpha = edge + alpha * (1 - edge)
            if alpha > 0:
                r, g, b = (round(min(255, c)) for c in colour)
            else:
                r = g = b = 0
            row += bytes((b, g, r, round(alpha * 255)))
        rows.append(bytes(row))
    return b"".join(rows)


def icon_image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    mask_row = ((size + 31) // 32) * 4
    return header + render(size) + bytes(mask_row * size)


def main():
    sizes = (16, 32)
    images = [icon_image(size) for size in sizes]
    data = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, image in zip(sizes, images):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    data += b"".join(images)
    with open(sys.argv[1] if len(sys.argv) > 1 else "pasarela.ico", "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main()
