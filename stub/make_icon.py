#!/usr/bin/env python3
"""Draws the stub's application icon and writes it as a Windows .ico file.

Usage: make_icon.py OUTPUT.ico

The artwork is a closed parcel with a green arrow leaving it upwards ("this
file unpacks itself"), drawn on a 32x32 and a 16x16 grid in the 16-colour
VGA palette. The committed stub.ico is this script's output; run it again
after changing the drawing.

Format notes:
- ICONDIR (6 bytes) and one 16-byte ICONDIRENTRY per image, then each image
  as a DIB without file header: BITMAPINFOHEADER with the height doubled
  (colour bitmap and mask stacked), 16 RGBQUAD palette entries, the 4-bit
  colour rows, then the 1-bit AND mask rows (1 = transparent).
- Rows run bottom-up and each row is padded to a multiple of 4 bytes, in the
  colour bitmap and in the mask alike (a 16-pixel mask row is 2 bytes of
  pixels and 2 of padding).
"""
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_YELLOW, DARK_GREEN, GREEN, YELLOW, WHITE = 0, 3, 2, 10, 11, 15
CLEAR = None


def draw(size):
    """Returns size rows of size pixels, top row first; CLEAR is transparent."""
    s = size / 32.0
    grid = [[CLEAR] * size for _ in range(size)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y1 * s), int(y0 * s) + 1)):
            for x in range(int(x0 * s), max(int(x1 * s), int(x0 * s) + 1)):
                if 0 <= x < size and 0 <= y < size:
                    grid[y][x] = colour

    def box(x0, y0, x1, y1, colour):
        """A filled rectangle with a one-pixel black border at any size."""
        left, top = int(x0 * s), int(y0 * s)
        right, bottom = max(int(x1 * s), left + 3) - 1, max(int(y1 * s), top + 3) - 1
        for y in range(top, bottom + 1):
            for x in range(left, right + 1):
                edge = x in (left, right) or y in (top, bottom)
                grid[y][x] = BLACK if edge else colour

    # Parcel: outlined body, lid line and the yellow tape across it.
    box(3, 14, 29, 31, DARK_YELLOW)
    fill(4, 19, 28, 20, BLACK)
    fill(14, 15, 18, 30, YELLOW)
    # Arrow leaving the parcel: shaft, then a head of rows two pixels high
    # that narrow by two pixels on each side, outlined in black.
    fill(12, 13, 20, 22, BLACK)
    fill(13, 13, 19, 22, GREEN)
    for row in range(6):
        top = 12 - 2 * row
        fill(5 + 2 * row, top, 27 - 2 * row, top + 2, GREEN)
        fill(5 + 2 * row, top, 7 + 2 * row, top + 2, BLACK)
        fill(25 - 2 * row, top, 27 - 2 * row, top + 2, BLACK)
    fill(5, 13, 27, 14, BLACK)
    fill(13, 13, 19, 14, GREEN)
    fill(15, 0, 17, 2, BLACK)
    fill(5, 16, 7, 17, WHITE)
    return grid


def image(size):
    grid = draw(size)
    colour_row = (size * 4 + 31) // 32 * 4
    mask_row = (size + 31) // 32 * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         (colour_row + mask_row) * size, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colours = bytearray()
    mask = bytearray()
    for row in reversed(grid):
        packed = bytearray(colour_row)
        bits = bytearray(mask_row)
        for x, colour in enumerate(row):
            index = 0 if colour is CLEAR else colour
            packed[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if colour is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        colours += packed
        mask += bits
    return header + palette + bytes(colours) + bytes(mask)


def icon_file(sizes):
    images = [image(size) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as f:
        f.write(icon_file([32, 16]))
