#!/usr/bin/env python3
"""Draws the extractor's three icons and writes them as Windows .ico files.

Usage: make_icons.py OUTPUT_FOLDER

- main.ico (group 107): a folder with a green arrow going into it.
- password.ico (group 110): a yellow padlock.
- replace.ico (group 112): two document sheets with red arrows between
  them, the right one struck through by a red cross.
main.ico holds a 32x32 and a 16x16 image, the others a 32x32 image, all in
the 16-colour VGA palette, drawn on
a 32-unit grid scaled to the image. The committed .ico files are this
script's output; run it again after changing a drawing.

Format notes: ICONDIR (6 bytes), one 16-byte ICONDIRENTRY per image, then
each image as a DIB without file header: BITMAPINFOHEADER with the height
doubled (colour bitmap and AND mask stacked), 16 RGBQUADs, 4-bit colour rows,
1-bit mask rows (1 = transparent); rows bottom-up, padded to 4 bytes.
"""
import os
import struct
import sys

PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_YELLOW, DARK_GREEN, SILVER, GREY, RED, GREEN, YELLOW, WHITE = 0, 3, 2, 7, 8, 9, 10, 11, 15
CLEAR = None


class Canvas:
    def __init__(self, size):
        self.size = size
        self.s = size / 32.0
        self.grid = [[CLEAR] * size for _ in range(size)]

    def fill(self, x0, y0, x1, y1, colour):
        s = self.s
        for y in range(int(y0 * s), max(int(y1 * s), int(y0 * s) + 1)):
            for x in range(int(x0 * s), max(int(x1 * s), int(x0 * s) + 1)):
                if 0 <= x < self.size and 0 <= y < self.size:
                    self.grid[y][x] = colour

    def box(self, x0, y0, x1, y1, colour):
        """A filled rectangle with a one-pixel black border at any size."""
        s = self.s
        left, top = int(x0 * s), int(y0 * s)
        right, bottom = max(int(x1 * s), left + 3) - 1, max(int(y1 * s), top + 3) - 1
        for y in range(top, bottom + 1):
            for x in range(left, right + 1):
                edge = x in (left, right) or y in (top, bottom)
                self.grid[y][x] = BLACK if edge else colour

    def line(self, x0, y0, x1, y1, colour, width=2):
        steps = 64
        for i in range(steps + 1):
            x = x0 + (x1 - x0) * i / steps
            y = y0 + (y1 - y0) * i / steps
            self.fill(x - width / 2, y - width / 2, x + width / 2, y + width / 2, colour)


def draw_main(c):
    c.box(2, 8, 14, 13, DARK_YELLOW)        # folder tab
    c.box(2, 11, 30, 30, YELLOW)            # folder body
    c.fill(3, 12, 29, 13, DARK_YELLOW)
    c.fill(13, 1, 19, 16, BLACK)            # arrow shaft, outlined
    c.fill(14, 1, 18, 16, GREEN)
    for row in range(5):                    # arrow head pointing down
        top = 15 + 2 * row
        c.fill(8 + 2 * row, top, 24 - 2 * row, top + 2, GREEN)
        c.fill(8 + 2 * row, top, 10 + 2 * row, top + 2, BLACK)
        c.fill(22 - 2 * row, top, 24 - 2 * row, top + 2, BLACK)


def draw_password(c):
    c.box(9, 3, 23, 17, GREY)               # shackle
    c.fill(12, 6, 20, 17, CLEAR)
    c.box(5, 14, 27, 30, YELLOW)            # body
    c.fill(6, 15, 26, 16, WHITE)
    c.fill(15, 19, 17, 26, BLACK)           # keyhole
    c.fill(14, 19, 18, 22, BLACK)


def sheet(c, x0, colour):
    c.box(x0, 5, x0 + 11, 27, colour)
    for y in (10, 14, 18, 22):
        c.fill(x0 + 2, y, x0 + 9, y + 1, GREY)


def draw_replace(c):
    sheet(c, 1, WHITE)
    sheet(c, 20, WHITE)
    c.fill(13, 10, 19, 12, RED)             # arrow to the right
    c.fill(17, 8, 18, 14, RED)
    c.fill(13, 20, 19, 22, RED)             # arrow to the left
    c.fill(14, 18, 15, 24, RED)
    c.line(20, 6, 31, 27, RED)              # the cross over the right sheet
    c.line(31, 6, 20, 27, RED)


def image(size, draw):
    c = Canvas(size)
    draw(c)
    colour_row = (size * 4 + 31) // 32 * 4
    mask_row = (size + 31) // 32 * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         (colour_row + mask_row) * size, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colours, mask = bytearray(), bytearray()
    for row in reversed(c.grid):
        packed, bits = bytearray(colour_row), bytearray(mask_row)
        for x, colour in enumerate(row):
            packed[x // 2] |= (0 if colour is CLEAR else colour) << (4 if x % 2 == 0 else 0)
            if colour is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        colours += packed
        mask += bits
    return header + palette + bytes(colours) + bytes(mask)


def icon_file(draw, sizes=(32, 16)):
    images = [image(size, draw) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


# Dialog icons show only at 32x32; the program icon also in the title bar
# and the shell's small views.
ICONS = {"main.ico": (draw_main, (32, 16)), "password.ico": (draw_password, (32,)),
         "replace.ico": (draw_replace, (32,))}

if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_icons.py OUTPUT_FOLDER")
    for name, (draw, sizes) in ICONS.items():
        with open(os.path.join(sys.argv[1], name), "wb") as f:
            f.write(icon_file(draw, sizes))
