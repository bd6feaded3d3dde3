#!/usr/bin/python3
"""Makes a small camera raw as Adobe's DNG format documents it, laid out as
cameras lay out theirs: the first directory is a small RGB preview (what a
plain TIFF reader shows), the raw itself a 16-bit Bayer mosaic (RGGB) in the
directory its SubIFDs tag names; camera, date, exposure, ISO and focal
length in an Exif directory.

  craft_dng.py OUT [--width W] [--height H] [--orientation N] [--compression N]

The scene is a smooth colour field (red across, blue down, a green band),
so that demosaicing has something to do and a turn shows.
"""
import argparse
import struct

parser = argparse.ArgumentParser()
parser.add_argument("out")
parser.add_argument("--width", type=int, default=320)
parser.add_argument("--height", type=int, default=240)
parser.add_argument("--orientation", type=int, default=1)
# A compression no decoder knows: the raw cannot be developed, the preview
# still can be shown.
parser.add_argument("--compression", type=int, default=1)
a = parser.parse_args()
W, H = a.width, a.height
PW, PH = 80, 60  # the preview

SHORT, LONG, RATIONAL, SRATIONAL, ASCII, BYTE, UNDEFINED = 3, 4, 5, 10, 2, 1, 7
SIZES = {BYTE: 1, ASCII: 1, SHORT: 2, LONG: 4, RATIONAL: 8, SRATIONAL: 8, UNDEFINED: 1}


def scene(x, y, w, h):
    """Linear red, green, blue in 0 .. 1 at (x, y)."""
    r = 0.1 + 0.8 * x / (w - 1)
    b = 0.1 + 0.8 * y / (h - 1)
    g = 0.2 + 0.6 * (1 if abs(y / (h - 1) - 0.5) < 0.15 else 0) + 0.2 * (1 - x / (w - 1))
    return r, min(g, 1.0), b


black, white = 64, 4095
mosaic = bytearray()
for y in range(H):
    for x in range(W):
        r, g, b = scene(x, y, W, H)
        v = (r if y % 2 == 0 and x % 2 == 0 else b if y % 2 == 1 and x % 2 == 1 else g)
        mosaic += struct.pack("<H", int(black + v * (white - black) * 0.9))
preview = bytearray()
for y in range(PH):
    for x in range(PW):
        r, g, b = scene(x, y, PW, PH)
        preview += bytes(int(255 * c ** (1 / 2.2)) for c in (r, g, b))


def ascii(text):
    return text.encode() + b"\0"


def rationals(values, signed=False):
    out = b""
    for num, den in values:
        out += struct.pack("<ii" if signed else "<II", num, den)
    return out


class Ifd:
    def __init__(self):
        self.entries = []

    def add(self, tag, type_, value, count=None):
        if isinstance(value, (list, tuple)):
            fmt = {SHORT: "H", LONG: "I", BYTE: "B"}[type_]
            data = struct.pack("<" + fmt * len(value), *value)
        elif isinstance(value, int):
            data = struct.pack("<" + {SHORT: "H", LONG: "I", BYTE: "B"}[type_], value)
        else:
            data = value
        self.entries.append((tag, type_, count if count is not None else len(data) // SIZES[type_], data))


out = bytearray(b"II*\0\0\0\0\0")


def place(data):
    """Appends data (even offset) and returns its offset."""
    if len(out) % 2:
        out.append(0)
    at = len(out)
    out.extend(data)
    return at


def write_ifd(ifd, fixups):
    """Writes the directory; `fixups` maps a tag to a callable giving its
    LONG value once everything is placed. Returns its offset."""
    entries = sorted(ifd.entries)
    blobs = {}
    for tag, type_, count, data in entries:
        if len(data) > 4:
            blobs[tag] = place(data)
    if len(out) % 2:
        out.append(0)
    at = len(out)
    out.extend(struct.pack("<H", len(entries)))
    for tag, type_, count, data in entries:
        out.extend(struct.pack("<HHI", tag, type_, count))
        if tag in blobs:
            out.extend(struct.pack("<I", blobs[tag]))
        else:
            out.extend(data.ljust(4, b"\0"))
    out.extend(b"\0\0\0\0")
    return at


def patch_long(ifd_at, tag, value):
    count = struct.unpack_from("<H", out, ifd_at)[0]
    for i in range(count):
        e = ifd_at + 2 + 12 * i
        if struct.unpack_from("<H", out, e)[0] == tag:
            struct.pack_into("<I", out, e + 8, value)
            return
    raise KeyError(tag)


raw_data = place(bytes(mosaic))
preview_data = place(bytes(preview))

exif = Ifd()
exif.add(0x829A, RATIONAL, rationals([(1, 250)]))
exif.add(0x829D, RATIONAL, rationals([(56, 10)]))
exif.add(0x8827, SHORT, 400)
exif.add(0x9003, ASCII, ascii("2024:05:17 14:03:09"))
exif.add(0x920A, RATIONAL, rationals([(350, 10)]))
exif_at = write_ifd(exif, {})

raw = Ifd()
raw.add(0x00FE, LONG, 0)
raw.add(0x0100, LONG, W)
raw.add(0x0101, LONG, H)
raw.add(0x0102, SHORT, 16)
raw.add(0x0103, SHORT, a.compression)
raw.add(0x0106, SHORT, 32803)
raw.add(0x0111, LONG, raw_data)
raw.add(0x0115, SHORT, 1)
raw.add(0x0116, LONG, H)
raw.add(0x0117, LONG, len(mosaic))
raw.add(0x011C, SHORT, 1)
raw.add(0x828D, SHORT, [2, 2])
raw.add(0x828E, BYTE, [0, 1, 1, 2])
raw.add(0xC61A, SHORT, black)
raw.add(0xC61D, SHORT, white)
raw_at = write_ifd(raw, {})

first = Ifd()
first.add(0x00FE, LONG, 1)
first.add(0x0100, LONG, PW)
first.add(0x0101, LONG, PH)
first.add(0x0102, SHORT, [8, 8, 8])
first.add(0x0103, SHORT, 1)
first.add(0x0106, SHORT, 2)
first.add(0x010F, ASCII, ascii("Quennel"))
first.add(0x0110, ASCII, ascii("Testkamera 1"))
first.add(0x0111, LONG, preview_data)
first.add(0x0112, SHORT, a.orientation)
first.add(0x0115, SHORT, 3)
first.add(0x0116, LONG, PH)
first.add(0x0117, LONG, len(preview))
first.add(0x011C, SHORT, 1)
first.add(0x014A, LONG, raw_at)
first.add(0x8769, LONG, exif_at)
first.add(0xC612, BYTE, [1, 4, 0, 0])
first.add(0xC613, BYTE, [1, 1, 0, 0])
first.add(0xC614, ASCII, ascii("Quennel Testkamera 1"))
# The camera's colours are sRGB's own (XYZ D65 to camera = XYZ to linear sRGB).
matrix = [(32406, 10000), (-15372, 10000), (-4986, 10000), (-9689, 10000), (18758, 10000), (415, 10000),
          (557, 10000), (-2040, 10000), (10570, 10000)]
first.add(0xC621, SRATIONAL, rationals(matrix, signed=True))
first.add(0xC628, RATIONAL, rationals([(1, 1), (1, 1), (1, 1)]))
first.add(0xC65A, SHORT, 21)  # D65
first_at = write_ifd(first, {})
struct.pack_into("<I", out, 4, first_at)

with open(a.out, "wb") as f:
    f.write(out)
