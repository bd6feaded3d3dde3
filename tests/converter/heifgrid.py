"""A grid HEIC as phones write them: the picture coded as tiles of HEVC, each
an item of its own (hidden), put together by a `grid` item that is the
primary image, with an output size smaller than the tiles cover and a
rotation (`irot`) on the grid. heif-enc writes no grids: the tiles are coded
by heif-enc one by one and their streams and decoder configurations moved
into a container written here after ISO/IEC 23008-12.

    grid_heic(out, picture, tile, rotation, work)

and, in the same way, a picture given an nclx colour box:

    with_nclx(source, out, primaries, transfer, matrix, full_range)
"""
import os
import struct
import subprocess

from PIL import Image


def box(kind, body):
    return struct.pack(">I4s", 8 + len(body), kind) + body


def full_box(kind, version, flags, body):
    return box(kind, struct.pack(">I", (version << 24) | flags) + body)


def children(data, start=0, end=None):
    """(type, body start, body end) of the boxes in data[start:end]."""
    end = len(data) if end is None else end
    at = start
    while at + 8 <= end:
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        header = 8
        if size == 1:
            size = struct.unpack(">Q", data[at + 8:at + 16])[0]
            header = 16
        elif size == 0:
            size = end - at
        yield kind, at + header, at + size
        at += size


def find(data, kind, start=0, end=None):
    for k, s, e in children(data, start, end):
        if k == kind:
            return s, e
    raise ValueError("no %r box" % kind)


def coded_tile(path):
    """The decoder configuration (hvcC box, whole) and the coded stream of a
    one-picture HEIC as heif-enc writes it."""
    data = open(path, "rb").read()
    meta = find(data, b"meta")
    iprp = find(data, b"iprp", meta[0] + 4, meta[1])
    ipco = find(data, b"ipco", *iprp)
    hvcc = find(data, b"hvcC", *ipco)
    hvcc_box = data[hvcc[0] - 8:hvcc[1]]
    pitm = find(data, b"pitm", meta[0] + 4, meta[1])
    primary = struct.unpack(">H", data[pitm[0] + 4:pitm[0] + 6])[0]
    s, e = find(data, b"iloc", meta[0] + 4, meta[1])
    version = data[s]
    sizes, bases = data[s + 4], data[s + 5]
    offset_size, length_size, base_size = sizes >> 4, sizes & 15, bases >> 4
    index_size = bases & 15 if version in (1, 2) else 0
    at = s + 6
    count, at = (struct.unpack(">H", data[at:at + 2])[0], at + 2) if version < 2 else \
        (struct.unpack(">I", data[at:at + 4])[0], at + 4)

    def number(width):
        nonlocal at
        value = int.from_bytes(data[at:at + width], "big") if width else 0
        at += width
        return value

    for _ in range(count):
        item = number(2 if version < 2 else 4)
        if version in (1, 2):
            number(2)
        number(2)
        base = number(base_size)
        stream = b""
        for _ in range(number(2)):
            number(index_size)
            offset, length = number(offset_size), number(length_size)
            stream += data[base + offset:base + offset + length]
        if item == primary:
            return hvcc_box, stream
    raise ValueError("no primary item in " + path)


def grid_heic(out, picture, tile, rotation, work):
    """Writes `picture` (a PIL image) as a grid of tile x tile HEVC tiles,
    the last column and row reaching past the picture (cropped by the grid's
    output size), rotated on display by `rotation` quarter turns
    anticlockwise. Returns how it is meant to be shown."""
    width, height = picture.size
    columns, rows = -(-width // tile), -(-height // tile)
    canvas = Image.new("RGB", (columns * tile, rows * tile), (128, 128, 128))
    canvas.paste(picture, (0, 0))
    tiles = []
    for r in range(rows):
        for c in range(columns):
            png = os.path.join(work, "tile.png")
            heic = os.path.join(work, "tile.heic")
            canvas.crop((c * tile, r * tile, (c + 1) * tile, (r + 1) * tile)).save(png)
            subprocess.run(["heif-enc", "-q", "95", "-o", heic, png], check=True, stdout=subprocess.DEVNULL)
            tiles.append(coded_tile(heic))
    n = len(tiles)
    grid_id = n + 1
    grid = struct.pack(">BBBBHH", 0, 0, rows - 1, columns - 1, width, height)

    def meta(base):
        hdlr = full_box(b"hdlr", 0, 0, struct.pack(">I4s12x", 0, b"pict") + b"\0")
        pitm = full_box(b"pitm", 0, 0, struct.pack(">H", grid_id))
        entries = [full_box(b"infe", 2, 1, struct.pack(">HH4s", i + 1, 0, b"hvc1") + b"\0") for i in range(n)]
        entries.append(full_box(b"infe", 2, 0, struct.pack(">HH4s", grid_id, 0, b"grid") + b"\0"))
        iinf = full_box(b"iinf", 0, 0, struct.pack(">H", len(entries)) + b"".join(entries))
        locations, at = b"", base
        for i, (_, stream) in enumerate(tiles):
            locations += struct.pack(">HHHII", i + 1, 0, 1, at, len(stream))
            at += len(stream)
        locations += struct.pack(">HHHII", grid_id, 0, 1, at, len(grid))
        iloc = full_box(b"iloc", 0, 0, struct.pack(">BBH", 0x44, 0, n + 1) + locations)
        iref = full_box(b"iref", 0, 0, box(b"dimg", struct.pack(">HH", grid_id, n) +
                                           b"".join(struct.pack(">H", i + 1) for i in range(n))))
        # Properties 1..n: each tile's hvcC; then the tiles' size, the
        # grid's size and its rotation.
        ipco = box(b"ipco", b"".join(t[0] for t in tiles) +
                   full_box(b"ispe", 0, 0, struct.pack(">II", tile, tile)) +
                   full_box(b"ispe", 0, 0, struct.pack(">II", width, height)) +
                   box(b"irot", bytes([rotation & 3])))
        associations = b"".join(struct.pack(">HBBB", i + 1, 2, 0x80 | (i + 1), n + 1) for i in range(n))
        associations += struct.pack(">HBBB", grid_id, 2, n + 2, 0x80 | (n + 3))
        ipma = full_box(b"ipma", 0, 0, struct.pack(">I", n + 1) + associations)
        return full_box(b"meta", 0, 0, hdlr + pitm + iloc + iinf + iref + box(b"iprp", ipco + ipma))

    ftyp = box(b"ftyp", b"heic" + struct.pack(">I", 0) + b"mif1heic")
    base = len(ftyp) + len(meta(0)) + 8
    mdat = box(b"mdat", b"".join(t[1] for t in tiles) + grid)
    with open(out, "wb") as f:
        f.write(ftyp + meta(base) + mdat)
    shown = picture
    for _ in range(rotation & 3):
        shown = shown.transpose(Image.Transpose.ROTATE_90)
    return shown


def with_nclx(source, out, primaries, transfer, matrix, full_range):
    """Writes `source` (a one-picture HEIC) again with an nclx colour box
    (heif-enc 1.15 writes none for a PNG source, whatever it is told)."""
    hvcc, stream = coded_tile(source)
    with open(source, "rb") as f:
        data = f.read()
    meta = find(data, b"meta")
    iprp = find(data, b"iprp", meta[0] + 4, meta[1])
    ipco = find(data, b"ipco", *iprp)
    ispe = find(data, b"ispe", *ipco)
    width, height = struct.unpack(">II", data[ispe[0] + 4:ispe[0] + 12])
    colr = box(b"colr", b"nclx" + struct.pack(">HHHB", primaries, transfer, matrix, 0x80 if full_range else 0))

    def meta_box(base):
        hdlr = full_box(b"hdlr", 0, 0, struct.pack(">I4s12x", 0, b"pict") + b"\0")
        pitm = full_box(b"pitm", 0, 0, struct.pack(">H", 1))
        iinf = full_box(b"iinf", 0, 0, struct.pack(">H", 1) +
                        full_box(b"infe", 2, 0, struct.pack(">HH4s", 1, 0, b"hvc1") + b"\0"))
        iloc = full_box(b"iloc", 0, 0, struct.pack(">BBHHHHII", 0x44, 0, 1, 1, 0, 1, base, len(stream)))
        properties = box(b"ipco", hvcc + full_box(b"ispe", 0, 0, struct.pack(">II", width, height)) + colr)
        ipma = full_box(b"ipma", 0, 0, struct.pack(">IHBBBB", 1, 1, 3, 0x81, 2, 0x83))
        return full_box(b"meta", 0, 0, hdlr + pitm + iloc + iinf + box(b"iprp", properties + ipma))

    ftyp = box(b"ftyp", b"heic" + struct.pack(">I", 0) + b"mif1heic")
    base = len(ftyp) + len(meta_box(0)) + 8
    with open(out, "wb") as f:
        f.write(ftyp + meta_box(base) + box(b"mdat", stream))
