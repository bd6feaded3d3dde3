#!/usr/bin/env python3
"""Writes menu11/QuennelMenu.ico from resources/P2M2.bmp: the classic menu's
bitmap as the icon of Windows 11's menu entry, pixel for pixel.

An icon image is the bitmap's BITMAPINFOHEADER with the height doubled, the
same bottom-up 24-bit rows, then a 1-bit AND mask (all zero: every pixel
opaque, as the bitmap is drawn in the classic menu), rows padded to 4 bytes."""
import os
import struct
import sys

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
bmp = open(os.path.join(root, "resources", "P2M2.bmp"), "rb").read()
if bmp[:2] != b"BM":
    sys.exit("P2M2.bmp is no Windows bitmap")
offset = struct.unpack_from("<I", bmp, 10)[0]
(size, width, height, planes, bits, compression) = struct.unpack_from("<IiiHHI", bmp, 14)
if size != 40 or bits != 24 or compression != 0 or height <= 0:
    sys.exit("P2M2.bmp: expected a plain bottom-up 24-bit bitmap")
row = (width * 3 + 3) // 4 * 4
pixels = bmp[offset:offset + row * height]
mask_row = (width + 31) // 32 * 4
mask = bytes(mask_row * height)
header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 24, 0, len(pixels) + len(mask), 0, 0, 0, 0)
image = header + pixels + mask
icon = struct.pack("<HHH", 0, 1, 1)
icon += struct.pack("<BBBBHHII", width, height, 0, 0, 1, 24, len(image), 6 + 16)
icon += image
open(os.path.join(root, "menu11", "QuennelMenu.ico"), "wb").write(icon)
