#!/usr/bin/env python3
"""Writes Server.ico (16x16 and 32x32, 32-bit colour): a blue rounded tile with a white play
triangle over a folder-coloured band. Run from this folder: python3 MakeIcon.py

ico_bytes() is the ICO writer; other drawing scripts import it with their own pixel function."""
import struct


def pixel(x, y, size):
    """RGBA of one pixel, sampled at its centre in a unit square."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    radius, inset = 0.18, 0.03
    # Rounded tile: distance outside the inner rectangle.
    dx = max(inset + radius - u, 0.0, u - (1 - inset - radius))
    dy = max(inset + radius - v, 0.0, v - (1 - inset - radius))
    if dx * dx + dy * dy > radius * radius:
        return (0, 0, 0, 0)
    # Vertical blue gradient.
    t = v
    colour = (int(40 + 30 * (1 - t)), int(110 + 60 * (1 - t)), int(200 + 40 * (1 - t)), 255)
    # Folder-coloured band at the bottom.
    if v > 0.72:
        colour = (240, 190, 60, 255)
    # Play triangle: left edge at u=0.36, tip at u=0.72, centred at v=0.42.
    if 0.36 <= u <= 0.72:
        half = 0.24 * (0.72 - u) / 0.36
        if abs(v - 0.42) <= half:
            colour = (255, 255, 255, 255)
    return colour


def image(size, pixel=pixel):
    """One icon image: BITMAPINFOHEADER, BGRA rows bottom-up, AND mask."""
    rows = []
    for y in reversed(range(size)):  # bottom-up
        row = b""
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            row += bytes((b, g, r, a))
        rows.append(row)
    # AND mask for shells that ignore alpha: set bits are transparent.
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray(mask_stride * size)
    for row, y in enumerate(reversed(range(size))):
        for x in range(size):
            if pixel(x, y, size)[3] == 0:
                mask[row * mask_stride + x // 8] |= 0x80 >> (x % 8)
    mask = bytes(mask)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         size * size * 4 + len(mask), 0, 0, 0, 0)
    return header + b"".join(rows) + mask


def ico_bytes(pixel, sizes=(16, 32)):
    """The bytes of an ICO file with one 32-bit image per size, drawn by pixel(x, y, size)."""
    images = [image(s, pixel) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    with open("Server.ico", "wb") as f:
        f.write(ico_bytes(pixel))


if __name__ == "__main__":
    main()
