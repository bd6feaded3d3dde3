#!/usr/bin/env python3
"""Writes resources/P2M2.bmp, the 12 x 12 menu bitmap: a framed landscape in
front of a second sheet, read as "picture, in another format".

The resource compiler wants a plain Windows bitmap file: a 14-byte file
header, a 40-byte BITMAPINFOHEADER, 24 bits per pixel, uncompressed, rows
bottom-up (12 pixels of 3 bytes make 36 bytes, already a multiple of 4).
The background is white, FFFFFF."""
import os
import struct
import sys

# One letter per pixel, top row first.
PICTURE = [
    "...bbbbbbbbb",
    "...bpppppppb",
    "...bpppppppb",
    "KKKKKKKKKppb",
    "KsssssssKppb",
    "KsssyyssKppb",
    "KsssyyssKppb",
    "KsgssgssKbbb",
    "KgggsgggK...",
    "KgggggggK...",
    "KdddddddK...",
    "KKKKKKKKK...",
]

PALETTE = {  # letter: (red, green, blue)
    ".": (0xFF, 0xFF, 0xFF),  # background
    "K": (0x30, 0x30, 0x38),  # frame of the front picture
    "s": (0x78, 0xC0, 0xF0),  # sky
    "y": (0xFF, 0xC8, 0x20),  # sun
    "g": (0x3C, 0xA0, 0x3C),  # hills
    "d": (0x28, 0x78, 0x28),  # foreground
    "b": (0x80, 0x80, 0x90),  # edge of the sheet behind
    "p": (0xF8, 0xE0, 0xA0),  # the sheet behind
}

WIDTH = HEIGHT = 12


def pixels():
    assert len(PICTURE) == HEIGHT and all(len(row) == WIDTH for row in PICTURE)
    out = bytearray()
    for row in reversed(PICTURE):  # bottom-up
        for letter in row:
            red, green, blue = PALETTE[letter]
            out += bytes((blue, green, red))
        out += b"\0" * (-len(out) % 4)
    return bytes(out)


def bitmap_file():
    bits = pixels()
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(bits), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    return header + info + bits


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "P2M2.bmp")
    with open(target, "wb") as f:
        f.write(bitmap_file())


if __name__ == "__main__":
    main()
