#!/usr/bin/env python3
"""Writes a Photoshop document by the format's documented layout, for the
variants no tool on the host writes: 32-bit float, Lab, multichannel, ZIP
merged pictures (with and without prediction) and many extra channels.

  craft_psd.py OUT [--mode rgb|grey|lab|multi|cmyk] [--depth 8|16|32]
               [--extra N] [--alpha] [--compression raw|rle|zip|zippred]
               [--size WxH] [--large]

The picture is a fixed pattern: smooth ramps on every channel, so that any
mix-up of channels, rows, byte order or prediction shows. Floats run from
-0.25 to 1.75, beyond both ends of the displayable range. --alpha marks the
first extra channel as the merged picture's transparency (a negative layer
count), as Photoshop does.
"""
import argparse
import struct
import zlib

MODES = {"grey": (1, 1), "rgb": (3, 3), "cmyk": (4, 4), "multi": (7, 3), "lab": (9, 3)}


def sample(depth, mode, channel, x, y, w, h):
    """The pattern's value of one channel at (x, y), in the channel's own units."""
    t = (x + 0.5) / w
    u = (y + 0.5) / h
    if mode == "lab" and channel == 0:
        f = 0.1 + 0.8 * t  # lightness
    elif mode == "lab":
        # a and b kept small enough that every colour lies inside sRGB.
        f = 0.5 + (0.16 * (t - 0.5) if channel == 1 else 0.16 * (u - 0.5))
    else:
        f = [t, u, (t + u) / 2, 1 - t][channel % 4] if channel < 4 else (x * 7 + y * 3 + channel * 11) % w / w
    if depth == 32:
        return struct.pack(">f", -0.25 + 2.0 * f)
    if depth == 16:
        return struct.pack(">H", min(65535, int(f * 65535 + 0.5)))
    return bytes([min(255, int(f * 255 + 0.5))])


def packbits(row):
    out = bytearray()
    i = 0
    while i < len(row):
        run = 1
        while i + run < len(row) and run < 128 and row[i + run] == row[i]:
            run += 1
        if run > 1:
            out += bytes([257 - run, row[i]])
            i += run
        else:
            j = i
            while j < len(row) and j - i < 128 and (j + 1 >= len(row) or row[j + 1] != row[j]):
                j += 1
            j = max(j, i + 1)
            out += bytes([j - i - 1]) + row[i:j]
            i = j
    return bytes(out)


def predict(row, depth, w):
    """Photoshop's ZIP prediction of one row: differences of neighbouring
    samples (8 and 16 bits); 32 bits are first split into byte planes (all
    first bytes, then all second bytes, ...) and then differenced bytewise."""
    if depth == 8:
        return bytes([row[0]] + [(row[i] - row[i - 1]) & 0xFF for i in range(1, len(row))])
    if depth == 16:
        values = struct.unpack(">%dH" % w, row)
        deltas = [values[0]] + [(values[i] - values[i - 1]) & 0xFFFF for i in range(1, w)]
        return struct.pack(">%dH" % w, *deltas)
    planes = bytes(row[x * 4 + b] for b in range(4) for x in range(w))
    return bytes([planes[0]] + [(planes[i] - planes[i - 1]) & 0xFF for i in range(1, len(planes))])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--mode", default="rgb", choices=MODES)
    ap.add_argument("--depth", type=int, default=8, choices=(8, 16, 32))
    ap.add_argument("--extra", type=int, default=0)
    ap.add_argument("--alpha", action="store_true")
    ap.add_argument("--compression", default="raw", choices=("raw", "rle", "zip", "zippred"))
    ap.add_argument("--size", default="37x23")
    ap.add_argument("--large", action="store_true")
    ap.add_argument("--inks", type=int, default=3, help="multichannel: how many channels it has")
    a = ap.parse_args()
    w, h = (int(v) for v in a.size.split("x"))
    mode_number, colour = MODES[a.mode]
    if a.mode == "multi":
        colour = a.inks
    channels = colour + a.extra
    large = a.large

    rows = [[b"".join(sample(a.depth, a.mode, c, x, y, w, h) for x in range(w)) for y in range(h)]
            for c in range(channels)]
    if a.alpha and a.extra:
        # A transparent left edge fading in, an opaque right half; the colour
        # blended onto white by it, as Photoshop keeps a merged picture.
        def cover(x):
            return min(1.0, 2 * x / w)

        def encode(f):
            if a.depth == 32:
                return struct.pack(">f", f)
            if a.depth == 16:
                return struct.pack(">H", min(65535, int(f * 65535 + 0.5)))
            return bytes([min(255, int(f * 255 + 0.5))])

        def decode(b):
            if a.depth == 32:
                return struct.unpack(">f", b)[0]
            return int.from_bytes(b, "big") / (65535 if a.depth == 16 else 255)

        size = a.depth // 8
        rows[colour] = [b"".join(encode(cover(x)) for x in range(w)) for y in range(h)]
        for c in range(colour):
            # White is the top of each channel; in Lab, of lightness alone (a
            # and b are centred on their middle).
            white = 1.0 if a.mode != "lab" or c == 0 else (128 / 255 if a.depth == 8 else 32768 / 65535)
            rows[c] = [b"".join(encode(max(0.0, min(1.0, decode(r[x * size:(x + 1) * size]))) * cover(x)
                                       + white * (1 - cover(x)))
                                for x in range(w)) for r in rows[c]]

    header = b"8BPS" + struct.pack(">H", 2 if large else 1) + b"\0" * 6
    header += struct.pack(">HIIHH", channels, h, w, a.depth, mode_number)
    header += struct.pack(">I", 0)  # colour mode data
    header += struct.pack(">I", 0)  # image resources
    if a.alpha:
        # One empty layer (no pixels), so that the negative count is a real
        # layer list: its transparency and colour channels, each without data.
        ids = [-1] + list(range(colour))
        length = ">Q" if large else ">I"
        record = struct.pack(">iiiiH", 0, 0, 0, 0, len(ids))
        record += b"".join(struct.pack(">h", i) + struct.pack(length, 2) for i in ids)
        record += b"8BIMnorm" + bytes([255, 0, 0, 0])
        record += struct.pack(">I", 12) + struct.pack(">I", 0) + struct.pack(">I", 0) + b"\0\0\0\0"
        info = struct.pack(">h", -1) + record + b"\0\0" * len(ids)
        info += b"\0" * (len(info) % 2)
        layer = struct.pack(length, len(info)) + info
        layers = struct.pack(length, len(layer) + 4) + layer + b"\0" * 4
    else:
        layers = struct.pack(">Q", 0) if large else struct.pack(">I", 0)

    if a.compression == "raw":
        data = struct.pack(">H", 0) + b"".join(r for ch in rows for r in ch)
    elif a.compression == "rle":
        packed = [packbits(r) for ch in rows for r in ch]
        fmt = ">I" if large else ">H"
        data = struct.pack(">H", 1) + b"".join(struct.pack(fmt, len(p)) for p in packed) + b"".join(packed)
    else:
        plain = b"".join(predict(r, a.depth, w) if a.compression == "zippred" else r for ch in rows for r in ch)
        data = struct.pack(">H", 2 if a.compression == "zip" else 3) + zlib.compress(plain, 9)
    with open(a.out, "wb") as f:
        f.write(header + layers + data)


if __name__ == "__main__":
    main()
