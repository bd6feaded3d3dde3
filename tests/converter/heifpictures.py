#!/usr/bin/env python3
"""HEIC and AVIF pictures for the converter and the judge of its results.

    heifpictures.py make <folder>             writes the pictures into <folder>
    heifpictures.py judge <folder> <results>  compares <results>/<stem>.png
                                              with the references' decodes

`make` encodes with the host's heif-enc (x265 for HEIC; aom for AVIF, 4:2:2
only, as this host's aom aborts on other layouts): 8 and 10 bits, alpha
straight and premultiplied, an Exif orientation, an Adobe RGB profile (from
Debian's colord-data), PAL primaries in the nclx box, a grid of tiles
turned and cropped as phones write it, AVIF; and adds libheif's own example pictures and
fuzzing corpus (Debian's libheif source package, fetched into a cache) in
<folder>/fuzz.

`judge` prints one line a picture and a closing line with the counts of
each kind. A result is right when it matches, as displayed (each through
its ICC profile into sRGB), heif-convert's decode of the source within a
small tolerance (the same libheif decodes both); a premultiplied picture
is judged against its straight original. A result must carry no Exif
orientation but 1: libheif already applied the container's turning. It
exits non-zero when a kind falls under 90 % or all under 97 % of the
pictures heif-convert reads, or when a corpus file's run left neither a
result nor a reason.
"""
import glob
import io
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image

import heifgrid

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
LIBHEIF = ("libheif", "1.15.1-1+deb12u1")
W, H = 128, 96


def run(*args, **kw):
    return subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def gradient(mode="RGB", deep=False):
    img = Image.new("RGBA", (W, H))
    px = img.load()
    for y in range(H):
        for x in range(W):
            a = 255 if mode == "RGB" else max(0, min(255, 40 + x * 2))
            px[x, y] = (x * 2 & 255, y * 2 + 40 & 255, (x + y) & 255, a)
    return img if mode == "RGBA" else img.convert("RGB")


def colord_profile(work, name):
    """A profile from Debian's colord-data, unpacked once (not installed)."""
    target = os.path.join(work, name)
    if not os.path.exists(target):
        tmp = tempfile.mkdtemp()
        run("apt-get", "download", "colord-data", cwd=tmp)
        debs = glob.glob(os.path.join(tmp, "*.deb"))
        if debs:
            run("dpkg", "-x", debs[0], os.path.join(tmp, "x"))
            for found in glob.glob(os.path.join(tmp, "x", "usr", "share", "color", "icc", "colord", name)):
                shutil.copy(found, target)
        shutil.rmtree(tmp, ignore_errors=True)
    return target if os.path.exists(target) else None


def enc(out, src, *options):
    r = run("heif-enc", *options, "-o", out, src)
    if r.returncode != 0 or not os.path.exists(out):
        sys.exit("heif-enc failed for %s: %s" % (out, r.stderr.decode(errors="replace")))


def make(folder):
    work = tempfile.mkdtemp()
    try:
        plain = os.path.join(work, "plain.png")
        gradient().save(plain)
        enc(os.path.join(folder, "plain8.heic"), plain, "-q", "95")
        # An Exif orientation in the HEIF file: the picture stands as coded.
        jpeg = os.path.join(work, "turned.jpg")
        gradient().save(jpeg, quality=98)
        run("exiftool", "-q", "-overwrite_original", "-n", "-Orientation=6", "-XMP-tiff:Orientation=6", jpeg)
        enc(os.path.join(folder, "exif6.heic"), jpeg, "-q", "95")
        # Ten bits from a 16-bit PNG.
        deep = os.path.join(work, "deep.png")
        run("convert", "-size", "%dx%d" % (W, H), "gradient:#102030-#f0e0a0", "-depth", "16", "png48:" + deep)
        enc(os.path.join(folder, "deep10.heic"), deep, "-q", "95", "-b", "10")
        enc(os.path.join(folder, "deep12.heic"), deep, "-q", "95", "-b", "12")
        # Alpha, straight and premultiplied.
        straight = gradient("RGBA")
        alpha = os.path.join(work, "alpha.png")
        straight.save(alpha)
        enc(os.path.join(folder, "alpha.heic"), alpha, "-q", "95")
        prem = straight.copy()
        px = prem.load()
        for y in range(H):
            for x in range(W):
                r, g, b, a = px[x, y]
                px[x, y] = ((r * a + 127) // 255, (g * a + 127) // 255, (b * a + 127) // 255, a)
        premfile = os.path.join(work, "prem.png")
        prem.save(premfile)
        enc(os.path.join(folder, "premultiplied.heic"), premfile, "-q", "95", "--premultiplied-alpha")
        # An Adobe RGB profile, carried through.
        icc = colord_profile(work, "AdobeRGB1998.icc")
        if icc:
            adobe = os.path.join(work, "adobe.png")
            with open(icc, "rb") as f:
                gradient().save(adobe, icc_profile=f.read())
            enc(os.path.join(folder, "adobergb.heic"), adobe, "-q", "95")
        # A grid as phones write one (tiles of 256 x 256 here, 512 x 512
        # there), cropped to its output size and turned by the container;
        # the picture as it must be shown kept beside it for the judge (a
        # PNG under a name the folder's walk passes by).
        picture = os.path.join(work, "grid-source.png")
        run("convert", "-seed", "5", "-size", "700x500", "plasma:fractal", "-blur", "0x1", picture)
        grid = os.path.join(folder, "grid.heic")
        heifgrid.grid_heic(grid, Image.open(picture).convert("RGB"), 256, 1, work).save(grid + ".expected", "PNG")
        # nclx primaries other than sRGB's (PAL's, gamma 2.2): shown through
        # a profile made of them. heif-convert hands over the stored values
        # without one, so the judge gives its decode colord's PAL profile,
        # kept beside the picture.
        pal = colord_profile(work, "PAL-RGB.icc")
        if pal:
            coded = os.path.join(work, "pal.heic")
            enc(coded, plain, "-q", "95")
            heifgrid.with_nclx(coded, os.path.join(folder, "nclx-pal.heic"), 5, 4, 6, True)
            shutil.copy(pal, os.path.join(folder, "nclx-pal.heic.profile"))
        # AVIF, 8 and 10 bits.
        enc(os.path.join(folder, "avif8.avif"), plain, "-A", "-q", "95", "-p", "chroma=422")
        enc(os.path.join(folder, "avif10.avif"), deep, "-A", "-q", "95", "-p", "chroma=422", "-b", "10")
        # libheif's own pictures: its examples and the fuzzing corpus.
        cache = os.path.join(REPO, "build", "heif-pictures")
        r = run(os.path.join(REPO, "scripts", "fetch-debian-source.sh"), LIBHEIF[0], LIBHEIF[1], cache)
        if r.returncode != 0:
            sys.exit("could not fetch libheif's source: " + r.stderr.decode(errors="replace"))
        source = os.path.join(cache, "source")
        # Named apart: the results of example.heic and example.avif would both be example.png.
        for name, as_name in (("example.heic", "libheif-heic.heic"), ("example.avif", "libheif-avif.avif")):
            shutil.copy(os.path.join(source, "examples", name), os.path.join(folder, as_name))
        fuzz = os.path.join(folder, "fuzz")
        os.makedirs(fuzz, exist_ok=True)
        for path in sorted(glob.glob(os.path.join(source, "fuzzing", "corpus", "*"))):
            shutil.copy(path, fuzz)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def displayed(path, srgb):
    """RGBA pixels of the PNG as displayed: through its profile into sRGB."""
    img = Image.open(path)
    img.load()
    if img.info.get("icc_profile") and srgb:
        with tempfile.NamedTemporaryFile(suffix=".png") as tmp:
            r = run("convert", path, "-profile", srgb, "-depth", "8", "png32:" + tmp.name)
            if r.returncode == 0:
                img = Image.open(tmp.name)
                img.load()
    return img.convert("RGBA")


def differ(ours, ref, mean_bound=1.5):
    if ours.size != ref.size:
        return "size %dx%d, reference %dx%d" % (ours.size + ref.size)
    a, b = ours.tobytes(), ref.tobytes()
    total, worst, n = 0, 0, 0
    for i in range(0, len(a), 4):
        da = abs(a[i + 3] - b[i + 3])
        d = da
        if a[i + 3] >= 16 or b[i + 3] >= 16:  # colour under near-full transparency is moot
            d = max(d, abs(a[i] - b[i]), abs(a[i + 1] - b[i + 1]), abs(a[i + 2] - b[i + 2]))
        total += d
        worst = max(worst, d)
        n += 1
    mean = total / max(n, 1)
    if mean > mean_bound or worst > 24:
        return "mean difference %.2f, largest %d" % (mean, worst)
    return None


def unpremultiply(path):
    img = Image.open(path).convert("RGBA")
    px = img.load()
    for y in range(img.size[1]):
        for x in range(img.size[0]):
            r, g, b, a = px[x, y]
            if 0 < a < 255:
                px[x, y] = tuple(min(255, (c * 255 + a // 2) // a) for c in (r, g, b)) + (a,)
    img.save(path)


def orientation(path):
    r = run("exiftool", "-s3", "-n", "-Orientation", path)
    return r.stdout.decode().strip()


def kind_of(path):
    if "/fuzz/" in path:
        return "corpus"
    return "AVIF" if path.endswith(".avif") else "HEIC"


def judge(folder, results):
    work = tempfile.mkdtemp()
    srgb = colord_profile(work, "sRGB.icc")
    counts = {}
    failed_hard = []
    sources = sorted(glob.glob(os.path.join(folder, "*.hei[cf]")) + glob.glob(os.path.join(folder, "*.avif")) +
                     glob.glob(os.path.join(folder, "fuzz", "*.heic")))
    for src in sources:
        name = os.path.relpath(src, folder)
        stem = os.path.splitext(src)[0]
        ours = os.path.join(results, os.path.relpath(stem, folder) + ".png")
        kind = kind_of(src)
        ref = os.path.join(work, "ref.png")
        if os.path.exists(ref):
            os.remove(ref)
        r = run("heif-convert", src, ref, timeout=120)
        # heif-convert names its results ref-1.png, ref-2.png ... when the
        # file has several top-level images: the primary one as heif-info
        # lists them; ImageMagick (which reads the primary) where it fails.
        if r.returncode == 0 and not os.path.exists(ref):
            info = run("heif-info", src).stdout.decode(errors="replace").splitlines()
            tops = [line for line in info if line.startswith("image:")]
            for i, line in enumerate(tops):
                numbered = os.path.join(work, "ref-%d.png" % (i + 1))
                if line.rstrip().endswith("primary") and os.path.exists(numbered):
                    os.rename(numbered, ref)
            for extra in glob.glob(os.path.join(work, "ref-*.png")):
                os.remove(extra)
        if r.returncode != 0 or not os.path.exists(ref):
            r = run("convert", src, "png:" + ref, timeout=120)
        if r.returncode != 0 or not os.path.exists(ref):
            print("unread %s: neither heif-convert nor ImageMagick reads it%s" %
                  (name, "; ours converted it" if os.path.exists(ours) else ""))
            continue
        if os.path.exists(src + ".profile"):
            with open(src + ".profile", "rb") as f:
                Image.open(ref).save(ref, icc_profile=f.read())
        if name == "premultiplied.heic":
            # heif-convert hands over the stored, premultiplied values.
            unpremultiply(ref)
        c = counts.setdefault(kind, [0, 0])
        c[1] += 1
        if not os.path.exists(ours):
            print("FAIL %s: no result" % name)
            continue
        why = differ(displayed(ours, srgb), displayed(ref, srgb))
        # Where the picture as it must be shown is known (not through
        # libheif, which decoded the reference too), against it as well:
        # the coding's own loss allowed for.
        expected = src + ".expected"
        if not why and os.path.exists(expected):
            why = differ(displayed(ours, srgb), displayed(expected, srgb), 3)
            why = why and "against the picture as made: " + why
        o = orientation(ours)
        if not why and o not in ("", "1"):
            why = "the result says orientation " + o
        if why:
            print("FAIL %s: %s" % (name, why))
        else:
            c[0] += 1
            print("ok %s" % name)
    shutil.rmtree(work, ignore_errors=True)
    right = sum(c[0] for c in counts.values())
    total = sum(c[1] for c in counts.values())
    print("kinds: " + ", ".join("%s %d of %d" % (k, c[0], c[1]) for k, c in sorted(counts.items())) +
          "; all %d of %d" % (right, total))
    bad = [k for k, c in counts.items() if c[0] < 0.9 * c[1]]
    if bad or right < 0.97 * total or failed_hard:
        sys.exit(1)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "make":
        make(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "judge":
        judge(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
