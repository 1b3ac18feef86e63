#!/usr/bin/env python3
"""Draws Lumavert.exe's pictures: the popups' backgrounds, the bitmap buttons in their three
states, the About box's picture (24-bit BMP files) and the two icons (ICO files).

Usage: draw_manager_art.py OUTPUT_DIR

Writes bitmapNNN.bmp and iconNNN.ico, NNN the resource id. Labels and button texts are drawn
black over these pictures by the program, so everything under them stays light.
"""
import os
import sys

sys.dont_write_bytecode = True  # nothing is left in the source folders
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "shellext", "art"))
sys.path.insert(0, os.path.join(ROOT, "server", "ui", "win32"))
from draw_menu_bitmaps import bmp_bytes  # noqa: E402  (24-bit BMP writer)
from MakeIcon import ico_bytes  # noqa: E402  (ICO writer)

BORDER = (52, 84, 148)
HEADER_TOP = (196, 212, 238)
HEADER_BOTTOM = (172, 193, 228)
BODY_TOP = (247, 249, 253)
BODY_BOTTOM = (222, 229, 241)
ACCENT = (70, 120, 200)
HEADER_HEIGHT = 20


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def gradient(top, bottom, y, height):
    return mix(top, bottom, y / max(height - 1, 1))


def panel(width, height):
    """A popup's background: a header band with an accent line, a light body, a frame."""
    pixels = []
    for y in range(height):
        if y < HEADER_HEIGHT:
            colour = gradient(HEADER_TOP, HEADER_BOTTOM, y, HEADER_HEIGHT)
        elif y == HEADER_HEIGHT:
            colour = ACCENT
        else:
            colour = gradient(BODY_TOP, BODY_BOTTOM, y - HEADER_HEIGHT, height - HEADER_HEIGHT)
        pixels.append([colour] * width)
    # The play mark at the left of the header band.
    for y in range(5, 16):
        reach = min(y - 5, 15 - y)
        for x in range(8, 8 + reach + 1):
            pixels[y][x] = ACCENT
    for x in range(width):
        pixels[0][x] = BORDER
        pixels[height - 1][x] = BORDER
    for y in range(height):
        pixels[y][0] = BORDER
        pixels[y][width - 1] = BORDER
    return pixels


def rounded(width, height, top, bottom, edge, radius=3):
    """A button face: vertical gradient, one-pixel edge, corners cut to the radius."""
    pixels = [[gradient(top, bottom, y, height)] * width for y in range(height)]
    pixels = [list(row) for row in pixels]
    outside = mix(BODY_TOP, BODY_BOTTOM, 0.5)
    for y in range(height):
        for x in range(width):
            dx = max(radius - x, 0, x - (width - 1 - radius))
            dy = max(radius - y, 0, y - (height - 1 - radius))
            distance = (dx * dx + dy * dy) ** 0.5
            if distance > radius + 0.5:
                pixels[y][x] = outside
            elif distance > radius - 0.5 or x in (0, width - 1) or y in (0, height - 1):
                pixels[y][x] = edge
    return pixels


BUTTON_STATES = {
    "normal": ((240, 244, 250), (206, 217, 235), (112, 132, 172)),
    "hover": ((250, 252, 255), (188, 210, 242), (46, 98, 190)),
    "pressed": ((176, 194, 226), (214, 225, 242), (36, 74, 152)),
}


def close_box(state):
    """The 13 x 13 close box: a framed square with a cross."""
    fill, cross, edge = {
        "normal": ((236, 240, 248), (64, 76, 104), (112, 132, 172)),
        "hover": ((226, 84, 70), (255, 255, 255), (168, 44, 32)),
        "pressed": ((164, 38, 28), (255, 255, 255), (120, 20, 12)),
    }[state]
    size = 13
    pixels = [[fill] * size for _ in range(size)]
    pixels = [list(row) for row in pixels]
    for i in range(size):
        pixels[0][i] = pixels[size - 1][i] = pixels[i][0] = pixels[i][size - 1] = edge
    for i in range(3, size - 3):
        pixels[i][i] = cross
        pixels[i][size - 1 - i] = cross
        if i + 1 < size - 3:
            pixels[i][i + 1] = cross
            pixels[i][size - 2 - i] = cross
    return pixels


def about_picture():
    """45 x 30: a monitor showing a play triangle, on a stand."""
    width, height = 45, 30
    background = (255, 255, 255)
    frame, screen, play, stand = (24, 56, 120), (40, 110, 200), (255, 196, 32), (110, 110, 110)
    pixels = [[background] * width for _ in range(height)]
    pixels = [list(row) for row in pixels]
    left, right, top, bottom = 6, 38, 1, 22
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            edge = y in (top, bottom) or x in (left, right)
            pixels[y][x] = frame if edge else screen
    for y in range(5, 19):
        reach = min(y - 5, 18 - y)
        for x in range(18, 18 + reach + 1):
            pixels[y][x] = play
    for y in range(bottom + 1, 27):
        pixels[y][22] = pixels[y][21] = pixels[y][23] = stand
    for x in range(14, 31):
        pixels[27][x] = pixels[28][x] = stand
    return pixels


def icon_pixel(tile_top, tile_bottom, mark):
    """An icon's pixel function: a rounded tile with a play triangle over a screen line."""

    def pixel(x, y, size):
        u, v = (x + 0.5) / size, (y + 0.5) / size
        radius, inset = 0.2, 0.03
        dx = max(inset + radius - u, 0.0, u - (1 - inset - radius))
        dy = max(inset + radius - v, 0.0, v - (1 - inset - radius))
        if dx * dx + dy * dy > radius * radius:
            return (0, 0, 0, 0)
        colour = mix(tile_top, tile_bottom, v) + (255,)
        if 0.32 <= u <= 0.74:
            half = 0.27 * (0.74 - u) / 0.42
            if abs(v - 0.44) <= half:
                colour = mark + (255,)
        if 0.78 <= v <= 0.86 and 0.2 <= u <= 0.8:
            colour = (255, 255, 255, 255)
        return colour

    return pixel


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)

    bitmaps = {
        134: panel(369, 200),
        136: panel(369, 100),
        148: panel(368, 100),
        151: rounded(207, 20, *BUTTON_STATES["normal"]),
        152: rounded(207, 20, *BUTTON_STATES["hover"]),
        153: rounded(207, 20, *BUTTON_STATES["pressed"]),
        154: close_box("pressed"),
        155: close_box("normal"),
        156: close_box("hover"),
        157: rounded(60, 20, *BUTTON_STATES["pressed"]),
        158: rounded(60, 20, *BUTTON_STATES["normal"]),
        159: rounded(60, 20, *BUTTON_STATES["hover"]),
        164: about_picture(),
    }
    for number, pixels in bitmaps.items():
        with open(os.path.join(out_dir, "bitmap%d.bmp" % number), "wb") as out:
            out.write(bmp_bytes(pixels))
    icons = {
        138: icon_pixel((70, 130, 220), (28, 70, 160), (255, 255, 255)),
        150: icon_pixel((40, 170, 190), (20, 100, 140), (255, 214, 64)),
    }
    for number, pixel in icons.items():
        with open(os.path.join(out_dir, "icon%d.ico" % number), "wb") as out:
            out.write(ico_bytes(pixel))


if __name__ == "__main__":
    main()
