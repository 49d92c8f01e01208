#!/usr/bin/env python3
"""Draws the console's logo bitmap and program icon (our own artwork).

The logo is a rounded tile with a navy-to-teal gradient, a white "H" and an
amber status light; the icon is the same tile at 32 by 32. Run from this
folder: python3 make_art.py (writes logo.bmp and halvexa.ico).
"""
import struct

NAVY = (0x12, 0x2B, 0x55)
TEAL = (0x17, 0x8F, 0x8A)
AMBER = (0xF5, 0xA6, 0x23)
WHITE = (0xFF, 0xFF, 0xFF)


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def tile(size):
    """Rows of (r, g, b, alpha) from the top, alpha 0 outside the rounded tile."""
    r = size * 0.22
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            cx = min(max(x + 0.5, r), size - r)
            cy = min(max(y + 0.5, r), size - r)
            d = ((x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2) ** 0.5
            inside = d <= r
            t = (x + y) / (2.0 * (size - 1))
            colour = mix(NAVY, TEAL, t)
            u, v = x / size, y / size
            # The letter: two posts and a bar.
            post = (0.25 <= u < 0.38 or 0.62 <= u < 0.75) and 0.22 <= v < 0.78
            bar = 0.25 <= u < 0.75 and 0.44 <= v < 0.56
            if post or bar:
                colour = WHITE
            # The status light in the lower right corner.
            if ((u - 0.80) ** 2 + (v - 0.80) ** 2) ** 0.5 < 0.09:
                colour = AMBER
            row.append(colour + ((255 if inside else 0),))
        rows.append(row)
    return rows


def write_bmp(path, size, background=(0xFF, 0xFF, 0xFF)):
    rows = tile(size)
    stride = (size * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b, a in row:
            r, g, b = (r, g, b) if a else background
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        pixels += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 14 + 40))
        f.write(header)
        f.write(pixels)


def write_ico(path, size):
    rows = tile(size)
    xor = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if not a:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0,
                         0, 0)
    image = header + xor + mask
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1))
        f.write(struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 6 + 16))
        f.write(image)


if __name__ == "__main__":
    write_bmp("logo.bmp", 40)
    write_ico("halvexa.ico", 32)
