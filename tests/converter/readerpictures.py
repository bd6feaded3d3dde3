#!/usr/bin/env python3
"""Pictures for the converter's own readers: bitmaps of every header, depth
and compression written byte by byte, GIFs without a global colour table,
WebP lossy and lossless; and the judge of a converter's results against
ImageMagick and Pillow.

    bitmaps.py make <folder>            writes the pictures into <folder>
    bitmaps.py judge <folder> <results> compares <results>/<name>.png with the
                                        references' decodes of <folder>/<name>

The judge prints one line a picture ("ok name (reference)" or "FAIL name:
why") and exits non-zero on any failure. A result must match (each channel
within 2, colour ignored where both are fully transparent) what ImageMagick
or Pillow decodes; where both decode the file and agree, that is the answer.
Where neither reads a file, the picture's own pixels (before it was
packed) are the reference: `expected` names those cases.
"""
import io
import os
import struct
import subprocess
import sys

from PIL import Image

W, H = 17, 16  # odd width: every depth needs row padding; 16 rows: GIF interlaces


def rgb(x, y):
    return ((x * 19 + y * 7) & 255, (x * 5 + y * 29 + 3) & 255, (x * y * 3 + 40) & 255)


def palette(n):
    return [((i * 37 + 5) & 255, (i * 91 + 17) & 255, (255 - i * 13) & 255) for i in range(n)]


def index(x, y, n):
    return (x * 3 + y * 5) % n


def file_header(total, offset):
    return b"BM" + struct.pack("<IHHI", total, 0, 0, offset)


def info(size, width, height, bits, compression=0, colours=0, masks=None, image_bytes=0, extra=b""):
    if size == 12:
        return struct.pack("<IHHHH", 12, width, height, 1, bits)
    body = struct.pack("<IiiHHIIiiII", size, width, height, 1, bits, compression, image_bytes, 2835, 2835,
                       colours, 0)
    if size >= 52 and size not in (64,):
        m = list(masks or (0, 0, 0, 0)) + [0]
        body += struct.pack("<III", *m[:3])
        if size >= 56:
            body += struct.pack("<I", m[3])
        if size >= 108:
            body += struct.pack("<I", 0x73524742) + b"\0" * 48  # sRGB, no end points or gamma
        if size >= 124:
            body += struct.pack("<IIII", 4, 0, 0, 0)
    body += extra
    return (body + b"\0" * size)[:size]


def table(entries, four=True):
    return b"".join(bytes((b, g, r)) + (b"\0" if four else b"") for r, g, b in entries)


def pack_indices(bits, n, topdown=False):
    rows = []
    for stored in range(H):
        y = stored if topdown else H - 1 - stored
        value, count, out = 0, 0, bytearray()
        for x in range(W):
            value = (value << bits) | index(x, y, n)
            count += bits
            if count == 8:
                out.append(value)
                value, count = 0, 0
        if count:
            out.append(value << (8 - count))
        out += b"\0" * (-len(out) % 4)
        rows.append(bytes(out))
    return b"".join(rows)


def channel(value8, mask):
    if not mask:
        return 0
    shift = (mask & -mask).bit_length() - 1
    top = mask >> shift
    return ((value8 * top + 127) // 255) << shift


def alpha_of(x, y):
    return 0 if x < 3 and y < 3 else (255 if x > 5 else 40 * (x + 1))


def pack_masked(bits, masks, topdown=False):
    rows = []
    for stored in range(H):
        y = stored if topdown else H - 1 - stored
        out = bytearray()
        for x in range(W):
            r, g, b = rgb(x, y)
            v = channel(r, masks[0]) | channel(g, masks[1]) | channel(b, masks[2])
            if len(masks) > 3:
                v |= channel(alpha_of(x, y), masks[3])
            out += v.to_bytes(4, "little")[: bits // 8]
        out += b"\0" * (-len(out) % 4)
        rows.append(bytes(out))
    return b"".join(rows)


def pack_24(topdown=False):
    rows = []
    for stored in range(H):
        y = stored if topdown else H - 1 - stored
        out = bytearray()
        for x in range(W):
            r, g, b = rgb(x, y)
            out += bytes((b, g, r))
        out += b"\0" * (-len(out) % 4)
        rows.append(bytes(out))
    return b"".join(rows)


def bmp(header, colours=b"", pixels=b"", offset=None, gap=b""):
    start = 14 + len(header) + len(colours) + len(gap)
    offset = start if offset is None else offset
    data = header + colours + gap + pixels
    return file_header(14 + len(data), offset) + data


def rle8(topdown=False):
    """Runs, literals, a delta, early ends of line and an early end. Padded
    to the unpacked size: ImageMagick refuses a file shorter than that."""
    out = bytearray()
    stored = 0
    while stored < H:
        y = stored if topdown else H - 1 - stored
        if stored == H - 2:
            out += b"\0\1"  # end of bitmap: the last two rows stay colour 0
            return bytes(out) + b"\0" * (16 * H)
        row = [index(x, y, 16) for x in range(W)]
        out += bytes((3, row[0]))
        out += bytes((0, 4)) + bytes(row[3:7])  # a literal run
        if stored == 2:
            out += b"\0\2\2\1"  # two right, one up: the rest of this row is skipped
            stored += 1
            y = stored if topdown else H - 1 - stored
            row = [index(x, y, 16) for x in range(W)]
            out += bytes((W - 9, row[9]))
            out += b"\0\0"
            stored += 1
            continue
        if stored == 4:
            out += b"\0\0"  # an early end of line
            stored += 1
            continue
        out += bytes((0, 3)) + bytes(row[7:10]) + b"\0"  # odd literal, padded
        out += bytes((W - 10, row[12]))
        out += b"\0\0"
        stored += 1
    out += b"\0\1"
    return bytes(out)


def rle4():
    out = bytearray()
    for stored in range(H):
        y = H - 1 - stored
        row = [index(x, y, 16) for x in range(W)]
        out += bytes((4, row[0] << 4 | row[1]))
        lit = row[4:9]  # five nibbles: three bytes, padded to four
        out += bytes((0, 5)) + bytes((lit[0] << 4 | lit[1], lit[2] << 4 | lit[3], lit[4] << 4)) + b"\0"
        if stored == 3:
            out += b"\0\2\1\0"  # one right
            out += bytes((3, row[10] << 4 | row[11]))
        else:
            out += bytes((4, row[9] << 4 | row[10]))
        out += b"\0\0"
    out += b"\0\1"
    return bytes(out) + b"\0" * (8 * H)


def picture_png():
    image = Image.new("RGB", (W, H))
    image.putdata([rgb(x, y) for y in range(H) for x in range(W)])
    return image


def embedded_stream(kind):
    buffer = io.BytesIO()
    picture_png().save(buffer, "PNG" if kind == 5 else "JPEG", quality=95)
    return buffer.getvalue()


def embedded(kind):
    stream = embedded_stream(kind)
    return bmp(info(124, W, H, 0, kind, image_bytes=len(stream)), b"", stream)


def gif(colours):
    """An interlaced GIF with a transparent colour whose colour table is
    global, local (none global), or missing altogether."""
    image = Image.new("P", (W, H))
    image.putdata([index(x, y, 16) for y in range(H) for x in range(W)])
    image.putpalette([v for entry in palette(16) for v in entry])
    buffer = io.BytesIO()
    image.save(buffer, "GIF", interlace=True, transparency=5, optimize=False)
    data = buffer.getvalue()
    flags = data[10]
    assert flags & 0x80
    table_bytes = 3 << ((flags & 7) + 1)
    table = data[13:13 + table_bytes]
    rest = bytearray(data[:10] + bytes((flags & 0x70,)) + data[11:13] + data[13 + table_bytes:])
    at = 13
    while rest[at] == 0x21:  # extensions: label, then sub-blocks to an empty one
        at += 2
        while rest[at]:
            at += rest[at] + 1
        at += 1
    assert rest[at] == 0x2C and rest[at + 9] & 0x40  # the descriptor, interlaced
    if colours == "local":
        rest[at + 9] |= 0x80 | (flags & 7)
        rest[at + 10:at + 10] = table
    return bytes(rest)


def webp(lossless, animated=False):
    image = Image.new("RGBA", (W, H))
    image.putdata([rgb(x, y) + (alpha_of(x, y),) for y in range(H) for x in range(W)])
    buffer = io.BytesIO()
    if animated:  # the second frame differs in a corner only
        second = image.copy()
        second.paste((255, 0, 0, 255), (10, 10, 14, 14))
        image.save(buffer, "WEBP", lossless=lossless, save_all=True, append_images=[second], duration=100)
    else:
        image.save(buffer, "WEBP", lossless=lossless, quality=90)
    return buffer.getvalue()


def utah_value(kind, x, y, c):
    """The stored value of channel c (255: alpha) at x, y from the top."""
    if 5 <= x < 10:
        return 40 + 80 * c if c < 3 else 255
    if c == 255:
        return alpha_of(x, y)
    if kind == "mapped":
        return index(x, y, 256)
    return (x * 13 + y * 7) & 255 if kind == "grey" else rgb(x, y)[c]


def utah(kind):
    """A Utah Raster Toolkit picture: scanlines from the bottom up, each
    channel's values as literal bytes, runs and skips (and one instruction
    in the long form). `kind` is grey, rgb, rgba or mapped (grey values
    through three colour maps)."""
    colours = 3 if kind in ("rgb", "rgba") else 1
    flags = (4 if kind == "rgba" else 0) | (1 if kind == "mapped" else 0) | (2 if kind == "rgb" else 0)
    maps = 3 if kind == "mapped" else 0
    data = struct.pack("<HhhHHBBBBB", 0xCC52, 0, 0, W, H, flags, colours, 8, maps, 8 if maps else 0)
    if flags & 2:
        data += b"\0"
    else:
        data += bytes([90, 40, 200][:colours]) + (b"\0" if colours % 2 == 0 else b"")
    entries = palette(256)
    for m in range(maps):
        data += b"".join(struct.pack("<H", entries[i][m] << 8 | 0x7F) for i in range(256))
    def value(x, y, c):
        return utah_value(kind, x, y, c)

    channels = list(range(colours)) + ([255] if kind == "rgba" else [])
    for line in range(H):
        y = H - 1 - line
        for c in channels:
            data += bytes([2, c])
            head = bytes(value(x, y, c) for x in range(5))
            data += bytes([5, len(head) - 1]) + head + b"\0"
            data += bytes([6, 4]) + struct.pack("<H", value(5, y, c))
            if kind == "rgba":  # three pixels left unset: clear where no background fills them
                data += bytes([3, 2])
                tail = bytes(value(x, y, c) for x in range(12, W))
            else:
                tail = bytes(value(x, y, c) for x in range(10, W))
            data += bytes([5, len(tail) - 1]) + tail + (b"\0" if len(tail) % 2 else b"")
        data += bytes([0x41, 0]) + struct.pack("<H", 1) if line == 3 else bytes([1, 1])
    return data + bytes([7, 0])


def cut_jpeg(whole_scan=False):
    """A baseline JPEG whose file ends halfway through its scan, or one that
    lacks only its end marker (whole, and not to be called cut short)."""
    image = Image.new("RGB", (W, H))
    image.putdata([rgb(x, y) for y in range(H) for x in range(W)])
    buffer = io.BytesIO()
    image.save(buffer, "JPEG", quality=95, subsampling=0)
    whole = buffer.getvalue()
    scan = whole.index(b"\xff\xda")
    return whole[:-2] if whole_scan else whole[:scan + (len(whole) - scan) // 2]


def bilevel_tga():
    image = Image.new("1", (W, H))
    image.putdata([255 if (x * 3 + y * 5) % 7 < 3 else 0 for y in range(H) for x in range(W)])
    buffer = io.BytesIO()
    image.save(buffer, "TGA")
    return buffer.getvalue()


def pictures():
    p16, p256 = palette(16), palette(256)
    m565 = (0xF800, 0x07E0, 0x001F)
    m4444 = (0x0F00, 0x00F0, 0x000F, 0xF000)
    m1555 = (0x7C00, 0x03E0, 0x001F, 0x8000)
    m8888 = (0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000)
    m101010 = (0x3FF00000, 0x000FFC00, 0x000003FF)
    yield "pal1.bmp", bmp(info(40, W, H, 1), table(palette(2)), pack_indices(1, 2))
    yield "pal2.bmp", bmp(info(40, W, H, 2), table(palette(4)), pack_indices(2, 4))
    yield "pal4.bmp", bmp(info(40, W, H, 4), table(p16), pack_indices(4, 16))
    yield "pal8.bmp", bmp(info(40, W, H, 8), table(p256), pack_indices(8, 256))
    yield "pal8-topdown.bmp", bmp(info(40, W, -H, 8), table(p256), pack_indices(8, 256, True))
    yield "pal8-v4.bmp", bmp(info(108, W, H, 8), table(p256), pack_indices(8, 256))
    yield "pal8-v5.bmp", bmp(info(124, W, H, 8), table(p256), pack_indices(8, 256))
    yield "pal4-few.bmp", bmp(info(40, W, H, 4, colours=12), table(p16[:12]), pack_indices(4, 12))
    yield "pal8-oversize.bmp", bmp(info(40, W, H, 8, colours=300), table(palette(300)), pack_indices(8, 256))
    yield "pal8-gap.bmp", bmp(info(40, W, H, 8), table(p256), pack_indices(8, 256), gap=b"\xAB" * 34)
    good = bmp(info(40, W, H, 8), table(p256), pack_indices(8, 256))
    yield "pal8-offset-zero.bmp", good[:10] + struct.pack("<I", 0) + good[14:]
    yield "pal8-offset-in-header.bmp", good[:10] + struct.pack("<I", 20) + good[14:]
    yield "pal8-offset-at-palette.bmp", good[:10] + struct.pack("<I", 54) + good[14:]
    yield "pal8-offset-in-palette.bmp", good[:10] + struct.pack("<I", 54 + 400) + good[14:]
    yield "pal8-core.bmp", bmp(info(12, W, H, 8), table(p256, False), pack_indices(8, 256))
    yield "pal4-core-short.bmp", bmp(info(12, W, H, 4), table(p16[:9], False), pack_indices(4, 9))
    yield "pal8-os2v2-16.bmp", bmp(info(16, W, H, 8), table(p256), pack_indices(8, 256))
    yield "pal8-os2v2-64.bmp", bmp(info(64, W, H, 8), table(p256), pack_indices(8, 256))
    yield "rgb24.bmp", bmp(info(40, W, H, 24), b"", pack_24())
    yield "rgb24-topdown.bmp", bmp(info(40, W, -H, 24), b"", pack_24(True))
    yield "rgb24-core.bmp", bmp(info(12, W, H, 24), b"", pack_24())
    yield "rgb16-555.bmp", bmp(info(40, W, H, 16), b"", pack_masked(16, (0x7C00, 0x03E0, 0x001F)))
    yield "rgb16-565.bmp", bmp(info(40, W, H, 16, 3), struct.pack("<III", *m565),
                               pack_masked(16, m565))
    yield "rgb16-565-v2.bmp", bmp(info(52, W, H, 16, 3, masks=m565), b"", pack_masked(16, m565))
    yield "rgb16-565-v3.bmp", bmp(info(56, W, H, 16, 3, masks=m565 + (0,)), b"", pack_masked(16, m565))
    yield "argb16-4444-v5.bmp", bmp(info(124, W, H, 16, 3, masks=m4444), b"", pack_masked(16, m4444))
    yield "argb16-1555-v4.bmp", bmp(info(108, W, H, 16, 3, masks=m1555), b"", pack_masked(16, m1555))
    yield "rgb32.bmp", bmp(info(40, W, H, 32), b"", pack_masked(32, m8888[:3]))
    yield "argb32-v5.bmp", bmp(info(124, W, H, 32, 3, masks=m8888), b"", pack_masked(32, m8888))
    yield "rgb32-101010.bmp", bmp(info(56, W, H, 32, 3, masks=m101010 + (0,)), b"", pack_masked(32, m101010))
    yield "argb32-alphabitfields.bmp", bmp(info(40, W, H, 32, 6), struct.pack("<IIII", *m8888),
                                           pack_masked(32, m8888))
    yield "rle8.bmp", bmp(info(40, W, H, 8, 1, colours=16), table(p16), rle8())
    yield "rle8-topdown.bmp", bmp(info(40, W, -H, 8, 1, colours=16), table(p16), rle8(True))
    yield "rle4.bmp", bmp(info(40, W, H, 4, 2), table(p16), rle4())
    yield "png-inside.bmp", embedded(5)
    yield "jpeg-inside.bmp", embedded(4)
    yield "pal8-bare.dib", bmp(info(40, W, H, 8), table(p256), pack_indices(8, 256))[14:]
    yield "gif-local-table.gif", gif("local")
    yield "gif-no-table.gif", gif("none")
    yield "webp-lossless-alpha.webp", webp(True)
    yield "webp-lossy-alpha.webp", webp(False)
    yield "webp-animated.webp", webp(True, True)
    yield "pal8-beyond-palette.bmp", bmp(info(40, W, H, 8, colours=12), table(palette(12)), pack_indices(8, 16))
    for kind in ("grey", "rgb", "rgba", "mapped"):
        yield "utah-%s.rle" % kind, utah(kind)
    yield "bilevel.tga", bilevel_tga()
    yield "jpeg-cut-short.jpg", cut_jpeg()
    yield "jpeg-no-end-marker.jpg", cut_jpeg(whole_scan=True)
    yield "rgb16-565-bare.dib", bmp(info(40, W, H, 16, 3), struct.pack("<III", *m565), pack_masked(16, m565))[14:]


def make(folder):
    os.makedirs(folder, exist_ok=True)
    for name, data in pictures():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def rgba(image):
    return list(image.convert("RGBA").getdata())


def pillow(path):
    try:
        with Image.open(path) as image:
            image.load()
            return rgba(image)
    except Exception:
        return None


def magick(path):
    # Raw samples: a PNG would carry the header's gamma, which may be 0.
    coder = "dib:" if path.endswith(".dib") else ""
    run = subprocess.run(["convert", coder + path + "[0]", "-depth", "8", "rgba:-"], capture_output=True)
    if run.returncode != 0 or len(run.stdout) != W * H * 4:
        return None
    raw = run.stdout
    return [tuple(raw[i:i + 4]) for i in range(0, len(raw), 4)]


def same(a, b, tolerance=2):
    if a is None or b is None or len(a) != len(b):
        return False
    for p, q in zip(a, b):
        if p[3] == 0 and q[3] == 0:
            continue
        if any(abs(p[k] - q[k]) > tolerance for k in range(4)):
            return False
    return True


def truth_indexed(n, colours=None):
    entries = colours or palette(n)
    return [entries[index(x, y, n)] + (255,) for y in range(H) for x in range(W)]


def truth_masked(masks):
    def back(value8, mask, alpha=False):
        top = mask >> ((mask & -mask).bit_length() - 1)
        stored = (value8 * top + 127) // 255
        if top < 31 and not (alpha and top == 1):
            # Fewer than 5 bits: widened as ImageMagick, the one reference
            # reading such channels, widens them (a 4-bit 15 is 240).
            wide = stored << (16 - top.bit_length())
            return ((wide | (wide & 0xFF00) >> 8) + 128) // 257
        return (stored * 255 + top // 2) // top

    pixels = []
    for y in range(H):
        for x in range(W):
            r, g, b = rgb(x, y)
            a = back(alpha_of(x, y), masks[3], True) if len(masks) > 3 else 255
            pixels.append((back(r, masks[0]), back(g, masks[1]), back(b, masks[2]), a))
    return pixels


# Where neither reference reads a file, or where they differ and both are
# wrong, the pixels before packing are the reference (or, for an embedded
# stream, that stream's own decode).
expected = {
    # 300 colours declared: the first 256 count.
    "pal8-oversize.bmp": lambda: truth_indexed(256),
    "pal8-os2v2-16.bmp": lambda: truth_indexed(256),
    "pal2.bmp": lambda: truth_indexed(4),
    # ImageMagick takes the 4 bytes after a V2 header for an alpha mask.
    "rgb16-565-v2.bmp": lambda: truth_masked((0xF800, 0x07E0, 0x001F)),
    # ImageMagick refuses it, Pillow takes the header's bytes for pixels.
    "pal8-offset-in-header.bmp": lambda: truth_indexed(256),
    # ImageMagick reads the 4-bit channels as the converter does (240 at
    # most) but makes a 1-bit alpha 128; Pillow drops alpha or refuses.
    "argb16-4444-v5.bmp": lambda: truth_masked((0x0F00, 0x00F0, 0x000F, 0xF000)),
    "argb16-1555-v4.bmp": lambda: truth_masked((0x7C00, 0x03E0, 0x001F, 0x8000)),
    "argb32-alphabitfields.bmp": lambda: truth_masked((0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
    # Neither colour table: black to white over the indices used (16 here);
    # Pillow shows index i as grey i, ImageMagick all black.
    "gif-no-table.gif": lambda: [(v * 17, v * 17, v * 17, 0 if v == 5 else 255)
                                 for v in (index(x, y, 16) for y in range(H) for x in range(W))],
    # ImageMagick shows entry 0 where an index is beyond the palette, but
    # ends with an error; Pillow makes up a grey ramp there.
    "pal8-beyond-palette.bmp": lambda: [(palette(12) + [palette(12)[0]] * 4)[index(x, y, 16)] + (255,)
                                        for y in range(H) for x in range(W)],
    # ImageMagick 6.9 refuses Utah pictures with alpha or colour maps: the
    # values written, through the maps, and clear where a row skips pixels.
    "utah-rgba.rle": lambda: [tuple(utah_value("rgba", x, y, c) for c in (0, 1, 2, 255)) if not 10 <= x < 12
                              else (0, 0, 0, 0) for y in range(H) for x in range(W)],
    "utah-mapped.rle": lambda: [palette(256)[utah_value("mapped", x, y, 0)] + (255,)
                                for y in range(H) for x in range(W)],
    # The embedded stream as Pillow decodes it by itself.
    "png-inside.bmp": lambda: rgba(Image.open(io.BytesIO(embedded_stream(5)))),
    "jpeg-inside.bmp": lambda: rgba(Image.open(io.BytesIO(embedded_stream(4)))),
}


def judge(folder, results):
    failed = 0
    for name, _ in pictures():
        source = os.path.join(folder, name)
        ours = pillow(os.path.join(results, os.path.splitext(name)[0] + ".png"))
        if name in expected:
            refs = {"own pixels": expected[name]()}
        else:
            refs = {"ImageMagick": magick(source), "Pillow": pillow(source)}
        readable = {k: v for k, v in refs.items() if v is not None and len(v) == W * H}
        tolerance = 4 if "lossy" in name or name.startswith("jpeg") else 2
        matched = [k for k, v in readable.items() if same(ours, v, tolerance)]
        if ours is None or not matched:
            print("FAIL %s: %s" % (name, "no result" if ours is None else "matches none of " + ", ".join(readable)))
            failed += 1
        elif len(readable) == 2 and same(*readable.values()):
            print("ok %s (both references)" % name)
        else:
            print("ok %s (%s; %s)" % (name, matched[0], "the references differ" if len(readable) == 2
                                        else "the only reference"))
    return failed


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
    else:
        sys.exit(1 if judge(sys.argv[2], sys.argv[3]) else 0)
