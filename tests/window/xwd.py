"""Screenshots written by `xwd -silent`, for the window tests' measurements.

Reads the TrueColor images an X server on a little-endian machine dumps (Xvfb's among them): 24 or 32
bits per pixel, each pixel's bytes blue, green, red (then a pad byte at 32 bits). Anything else is
refused with a ValueError naming the file rather than read as the wrong colours.

    shot = xwd.read("menu.xwd")
    shot.width, shot.height      # the window's size in pixels
    shot.pixel(x, y)             # 3 bytes: blue, green, red
    shot.row(y)                  # the bytes of row y, padding included; pixel x at x * shot.step

Run on a file it prints the image's size, or the colour at X Y as #rrggbb:
    python3 xwd.py SHOT.xwd [X Y]
"""
import struct
import sys

_HEADER_FIELDS = 25  # CARD32 fields, big-endian whatever the machine, before the window's name
_COLOR_SIZE = 12     # one XWDColor of the colour map that follows the header


class Screenshot:
    def __init__(self, data, name):
        if len(data) < 4 * _HEADER_FIELDS:
            raise ValueError("%s: %d bytes, too short for an xwd header" % (name, len(data)))
        fields = struct.unpack(">%dI" % _HEADER_FIELDS, data[:4 * _HEADER_FIELDS])
        (header_size, version, pixmap_format, _depth, width, height, _xoffset, byte_order, _unit,
         _bit_order, _pad, bits_per_pixel, bytes_per_line, _visual_class, red_mask, green_mask,
         blue_mask, _bits_per_rgb, _entries, ncolors) = fields[:20]
        if version != 7 or pixmap_format != 2:
            raise ValueError("%s: not an xwd ZPixmap of version 7 (version %d, format %d)"
                             % (name, version, pixmap_format))
        if (bits_per_pixel not in (24, 32) or byte_order != 0 or
                (red_mask, green_mask, blue_mask) != (0xff0000, 0xff00, 0xff)):
            raise ValueError("%s: %d bits per pixel, byte order %d, masks %06x %06x %06x: not the"
                             " little-endian 8-bit blue, green, red read here"
                             % (name, bits_per_pixel, byte_order, red_mask, green_mask, blue_mask))
        start = header_size + _COLOR_SIZE * ncolors
        if len(data) < start + height * bytes_per_line:
            raise ValueError("%s: %d bytes, fewer than the header's %d rows of %d bytes need"
                             % (name, len(data), height, bytes_per_line))
        self.width = width
        self.height = height
        self.step = bits_per_pixel // 8  # bytes per pixel
        self.line = bytes_per_line
        self._pixels = data[start:start + height * bytes_per_line]

    def row(self, y):
        return self._pixels[y * self.line:(y + 1) * self.line]

    def pixel(self, x, y):
        at = y * self.line + x * self.step
        return self._pixels[at:at + 3]


def read(path):
    with open(path, "rb") as f:
        return Screenshot(f.read(), path)


def main(args):
    if len(args) not in (1, 3):
        sys.exit("usage: xwd.py SHOT.xwd [X Y]")
    shot = read(args[0])
    if len(args) == 1:
        print("%dx%d, %d bits per pixel" % (shot.width, shot.height, shot.step * 8))
        return
    x, y = int(args[1]), int(args[2])
    if not (0 <= x < shot.width and 0 <= y < shot.height):
        sys.exit("xwd.py: %d, %d is outside the %dx%d image" % (x, y, shot.width, shot.height))
    b, g, r = shot.pixel(x, y)
    print("#%02x%02x%02x" % (r, g, b))


if __name__ == "__main__":
    main(sys.argv[1:])
