#!/usr/bin/env python3
"""Draws the two tray icons and writes them as .ico files beside this script,
and the installer's pictures of the same red sign into installer/.

  popups_blocked.ico  (resource 209): a red "no entry" sign, shown while
                      popups are blocked.
  popups_allowed.ico  (resource 210): a green disc with a white tick, shown
                      while popups are allowed.
  installer/setup.ico       the sign of 209 for setup and the uninstaller:
                            48, 32 and 16 pixels, smoothed, for Explorer
                            and the wizard's title bar.
  installer/wizard.bmp      the picture beside the first and last pages of
                            the wizard (164 x 314): the sign on white.

The flash on a blocked popup alternates the two, so they differ in colour
and in shape, and both read at 16 x 16 in a notification area. Each file
holds a 32 x 32 and a 16 x 16 image in the 16 colours of the standard
palette, with a transparency mask. Only the standard library is used, and
the output is the same on every run: the .ico files are committed, and this
script is run again only when the drawing changes.
"""

import os
import struct

# The 16 colours of the standard VGA palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, WHITE, RED, LIME, GRAY = 0, 1, 2, 15, 9, 10, 8
TRANSPARENT = None


def segment_distance(px, py, ax, ay, bx, by):
    """Distance from point p to the segment a-b."""
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    cx, cy = ax + t * dx, ay + t * dy
    return ((px - cx) ** 2 + (py - cy) ** 2) ** 0.5


def disc(size, x, y, fill, rim):
    """The colour of pixel (x, y) of a disc filling the image, or None outside."""
    c = size / 2.0
    r = c - 0.25
    d = ((x + 0.5 - c) ** 2 + (y + 0.5 - c) ** 2) ** 0.5
    if d > r:
        return TRANSPARENT
    if d > r - max(1.0, size / 16.0):
        return rim
    return fill


def no_entry(size, x, y):
    colour = disc(size, x, y, RED, MAROON)
    if colour is not RED:
        return colour
    c = size / 2.0
    half_bar = max(1.0, size * 0.11)
    if abs(y + 0.5 - c) <= half_bar and abs(x + 0.5 - c) <= size * 0.31:
        return WHITE
    return RED


def tick(size, x, y):
    colour = disc(size, x, y, GREEN, BLACK)
    if colour is not GREEN:
        return colour
    px, py = (x + 0.5) / size, (y + 0.5) / size
    width = 0.085 if size >= 32 else 0.1
    near = min(segment_distance(px, py, 0.25, 0.52, 0.43, 0.71),
               segment_distance(px, py, 0.43, 0.71, 0.73, 0.33))
    return WHITE if near <= width else GREEN


def image(size, draw):
    """One icon image: BITMAPINFOHEADER, palette, 4-bit colours, 1-bit mask."""
    rows = [[draw(size, x, y) for x in range(size)] for y in range(size)]
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor_bits = bytearray()
    and_bits = bytearray()
    for y in reversed(range(size)):  # bitmaps are stored bottom-up
        row = bytearray(xor_stride)
        mask = bytearray(and_stride)
        for x, colour in enumerate(rows[y]):
            index = BLACK if colour is TRANSPARENT else colour
            row[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if colour is TRANSPARENT:
                mask[x // 8] |= 0x80 >> (x % 8)
        xor_bits += row
        and_bits += mask
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0,
                         len(xor_bits) + len(and_bits), 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + bytes(xor_bits) + bytes(and_bits)


def smoothed(size, draw, x, y, background=None):
    """Pixel (x, y) as (red, green, blue, alpha): the drawing taken 4 x 4
    times inside the pixel, at 4 times the size, and averaged."""
    red = green = blue = alpha = 0
    for sy in range(4):
        for sx in range(4):
            colour = draw(size * 4, x * 4 + sx, y * 4 + sy)
            rgb = background if colour is TRANSPARENT else PALETTE[colour]
            if rgb is None:
                continue
            red, green, blue, alpha = red + rgb[0], green + rgb[1], blue + rgb[2], alpha + 1
    if alpha == 0:
        return (0, 0, 0, 0)
    return (red // alpha, green // alpha, blue // alpha, alpha * 255 // 16)


def image32(size, draw):
    """One icon image in 32-bit colour with alpha, and its 1-bit mask for
    systems that ignore the alpha."""
    and_stride = ((size + 31) // 32) * 4
    xor_bits = bytearray()
    and_bits = bytearray()
    for y in reversed(range(size)):
        mask = bytearray(and_stride)
        for x in range(size):
            r, g, b, a = smoothed(size, draw, x, y)
            xor_bits += struct.pack('<BBBB', b, g, r, a)
            if a < 128:
                mask[x // 8] |= 0x80 >> (x % 8)
        and_bits += mask
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0,
                         len(xor_bits) + len(and_bits), 0, 0, 0, 0)
    return header + bytes(xor_bits) + bytes(and_bits)


def write_icon(path, draw, sizes=(32, 16), make_image=image):
    images = [make_image(size, draw) for size in sizes]
    depth = 32 if make_image is image32 else 4
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits in zip(sizes, images):
        colours = 0 if depth == 32 else 16
        data += struct.pack('<BBBBHHII', size, size, colours, 0, 1, depth, len(bits), offset)
        offset += len(bits)
    data += b''.join(images)
    with open(path, 'wb') as out:
        out.write(data)


def write_wizard_bitmap(path, draw, width=164, height=314, sign=96, top=48):
    """A 24-bit bitmap: the sign, smoothed, centred near the top of white."""
    white = PALETTE[WHITE]
    left = (width - sign) // 2
    stride = (width * 3 + 3) // 4 * 4
    pixels = bytearray()
    for y in reversed(range(height)):
        row = bytearray()
        for x in range(width):
            r, g, b = white
            if left <= x < left + sign and top <= y < top + sign:
                r, g, b, _ = smoothed(sign, draw, x - left, y - top, background=white)
            row += struct.pack('<BBB', b, g, r)
        pixels += row + bytes(stride - len(row))
    header = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, 'wb') as out:
        out.write(struct.pack('<2sIHHI', b'BM', 14 + len(header) + len(pixels), 0, 0,
                              14 + len(header)))
        out.write(header + bytes(pixels))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    write_icon(os.path.join(here, 'popups_blocked.ico'), no_entry)
    write_icon(os.path.join(here, 'popups_allowed.ico'), tick)
    installer = os.path.join(here, '..', '..', '..', 'installer')
    write_icon(os.path.join(installer, 'setup.ico'), no_entry, (48, 32, 16), image32)
    write_wizard_bitmap(os.path.join(installer, 'wizard.bmp'), no_entry)


if __name__ == '__main__':
    main()
