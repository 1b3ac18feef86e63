#!/usr/bin/env python3
"""Draws the menu item's pictures: a small monitor with a play triangle, 24 bits per pixel.

Usage: draw_menu_bitmaps.py OUTPUT_DIR  (writes menu13.bmp and menu15.bmp)

Menus combine check-mark pictures with the item's background, so the background is white and
only the drawing itself carries colour.
"""
import os
import struct
import sys

WHITE = (255, 255, 255)
FRAME = (24, 56, 120)
SCREEN = (40, 110, 200)
PLAY = (255, 196, 32)
STAND = (110, 110, 110)


def draw(size):
    pixels = [[WHITE] * size for _ in range(size)]
    screen_bottom = round(size * 0.70)  # last row of the monitor
    for y in range(1, screen_bottom + 1):
        for x in range(size):
            edge = y in (1, screen_bottom) or x in (0, size - 1)
            pixels[y][x] = FRAME if edge else SCREEN
    # The rounded look: the four corners stay white.
    for x, y in ((0, 1), (size - 1, 1), (0, screen_bottom), (size - 1, screen_bottom)):
        pixels[y][x] = WHITE
    # A play triangle pointing right, centred in the screen's inside.
    top, bottom = 3, screen_bottom - 2
    widest = (bottom - top) // 2
    left = size // 2 - widest // 2
    for y in range(top, bottom + 1):
        reach = min(y - top, bottom - y)  # widest in the middle row
        for x in range(left, left + reach + 1):
            pixels[y][x] = PLAY
    # The stand: a neck and a foot.
    middle = size // 2
    for y in range(screen_bottom + 1, size - 1):
        pixels[y][middle] = STAND
    for x in range(middle - size // 4, middle + size // 4 + 1):
        pixels[size - 1][x] = STAND
    return pixels


def bmp_bytes(pixels):
    height = len(pixels)
    width = len(pixels[0])
    row_bytes = (width * 3 + 3) // 4 * 4
    image = bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray()
        for red, green, blue in row:
            line += bytes((blue, green, red))
        line += bytes(row_bytes - len(line))
        image += line
    header_size = 14 + 40
    file_header = struct.pack("<2sIHHI", b"BM", header_size + len(image), 0, 0, header_size)
    info_header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(image),
                              2835, 2835, 0, 0)
    return file_header + info_header + bytes(image)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for size in (13, 15):
        with open(os.path.join(out_dir, "menu%d.bmp" % size), "wb") as out:
            out.write(bmp_bytes(draw(size)))


if __name__ == "__main__":
    main()
