#!/usr/bin/env python3
"""Writes a large photo-like JPEG (or PNG, or TIFF) without holding it: a binary PPM
made row by row (bands of colour that drift across the picture, so that
every row differs from the one above) is piped into libvips, which encodes
it as it comes.

    bigjpeg.py WIDTH HEIGHT OUT.jpg [QUALITY]
    bigjpeg.py WIDTH HEIGHT OUT.png
    bigjpeg.py WIDTH HEIGHT OUT.tif
    bigjpeg.py WIDTH HEIGHT OUT.ppm
"""
import subprocess
import sys


def main():
    width, height, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    quality = sys.argv[4] if len(sys.argv) > 4 else "85"
    options = {".png": "[compression=1]", ".tif": "[compression=lzw]"}.get(out[-4:], "[Q=%s]" % quality)
    # A PPM is the stream itself, written as it comes.
    vips = None if out.endswith(".ppm") else subprocess.Popen(["vips", "copy", "stdin", out + options],
                                                               stdin=subprocess.PIPE)
    pipe = open(out, "wb") if vips is None else vips.stdin
    pipe.write(b"P6 %d %d 255\n" % (width, height))
    # One long row of smooth colour; each picture row is a window into it,
    # moved a little from the row above.
    period = 4096
    base = bytearray()
    for x in range(width + period):
        base += bytes(((x * 3 + 40) & 255, (x // 7 + 90) & 255, ((x * x) >> 9) & 255))
    shifts = 97
    rows = [bytes(base[3 * (s * 41 % period):3 * (s * 41 % period + width)]) for s in range(shifts)]
    for y in range(height):
        pipe.write(rows[(y * shifts) // height])
    pipe.close()
    sys.exit(0 if vips is None else vips.wait())


main()
