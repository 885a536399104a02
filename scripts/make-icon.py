#!/usr/bin/env python3
"""Draws res/KorvaneUninstall.ico: a blue disc with a white box and a red removal mark,
at 16, 32 and 48 pixels, 32-bit colour with alpha."""
import math
import struct
import sys


def pixel(x, y, size):
    """RGBA of one pixel; coordinates in units of the icon's size."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    r = math.hypot(u - 0.5, v - 0.5)
    if r > 0.48:
        return (0, 0, 0, 0)
    colour = (32, 84, 160, 255)
    if r > 0.44:
        colour = (18, 52, 110, 255)
    # The package: a white box in the middle.
    if 0.28 <= u <= 0.66 and 0.34 <= v <= 0.72:
        colour = (246, 246, 246, 255)
        if abs(v - 0.46) < 0.025 or abs(u - 0.47) < 0.02:
            colour = (190, 190, 200, 255)
    # The removal mark: a red disc with a white bar, bottom right.
    d = math.hypot(u - 0.70, v - 0.70)
    if d < 0.17:
        colour = (200, 40, 40, 255)
        if abs(v - 0.70) < 0.04 and abs(u - 0.70) < 0.11:
            colour = (255, 255, 255, 255)
    return colour


def image(size):
    rows = []
    for y in reversed(range(size)):  # bottom-up, as in a BMP
        row = b"".join(struct.pack("BBBB", b, g, r, a)
                       for (r, g, b, a) in (pixel(x, y, size) for x in range(size)))
        rows.append(row)
    xor = b"".join(rows)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)  # alpha decides; the AND mask stays clear
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def main(path):
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "res/KorvaneUninstall.ico")
