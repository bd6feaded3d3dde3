#!/usr/bin/python3
"""JPEG XL pictures made on the host with cjxl (from ImageMagick's PNG, PFM,
GIF and JPEG) beside the JPEG XL test pictures of a Debian source package
(kimageformats' autotests/read/jxl, fetched pinned and hash-checked by
scripts/fetch-debian-source.sh into a cache; Debian's jpeg-xl source
carries none of libjxl's own test files), and the judge of a converter's PNG results against djxl's
decodes of the same files, both as displayed (through each one's profile).

    jxlpictures.py make <folder>            writes the .jxl files into <folder>
    jxlpictures.py judge <folder> <results> compares <results>/<name>.png with
                                            djxl's decode of <folder>/<name>.jxl

The judge prints one line a picture ("ok name" or "FAIL name: why") and
exits non-zero on any failure. A result must have djxl's size as displayed
(djxl turns the picture by its orientation) and each channel within
TOLERANCE of djxl's pixels once both are sRGB; colour is ignored where both
are fully transparent.
"""
import io
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image, ImageCms

TOLERANCE = 3  # 8-bit rounding on both sides, and Little CMS against djxl's own conversion
LOSSY_ICC_TOLERANCE = 8  # see tolerance()
ICC_FOLDER = os.environ.get("QUENNEL_ICC_FOLDER", "")
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SAMPLES = ("kimageformats", "5.103.0-2", "autotests/read/jxl")


def run(*args, **kwargs):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kwargs)


def profile(name):
    """A profile of Debian's colord-data, fetched into a cache on first use."""
    folder = ICC_FOLDER or os.path.join(tempfile.gettempdir(), "quennel-icc")
    path = os.path.join(folder, "usr/share/color/icc/colord", name)
    if not os.path.exists(path):
        os.makedirs(folder, exist_ok=True)
        run("apt-get", "download", "colord-data", cwd=folder)
        deb = [n for n in os.listdir(folder) if n.startswith("colord-data") and n.endswith(".deb")][0]
        run("dpkg", "-x", os.path.join(folder, deb), folder)
    return path


def sample_folder():
    package, version, below = SAMPLES
    cache = os.path.join(tempfile.gettempdir(), "quennel-jxl-samples")
    run(os.path.join(ROOT, "scripts/fetch-debian-source.sh"), package, version, cache)
    return os.path.join(cache, "source", below)


def samples(folder):
    package = SAMPLES[0]
    source = sample_folder()
    for name in sorted(os.listdir(source)):
        if name.endswith(".jxl"):
            shutil.copy(os.path.join(source, name), os.path.join(folder, package + "-" + name))


def make(folder):
    samples(folder)
    work = tempfile.mkdtemp()
    try:
        def src(name):
            return os.path.join(work, name)

        def cjxl(source, name, *options):
            run("cjxl", source, os.path.join(folder, name + ".jxl"), *options)

        run("convert", "-seed", "7", "-size", "61x43", "plasma:red-blue", "-depth", "8", src("rgb.png"))
        cjxl(src("rgb.png"), "lossless", "-d", "0")
        cjxl(src("rgb.png"), "lossy", "-d", "1")
        cjxl(src("rgb.png"), "container", "-d", "0", "--container=1")
        # Straight alpha, lossless and lossy; premultiplied.
        run("convert", src("rgb.png"), "(", "-size", "43x61", "gradient:white-none", "-rotate", "90", ")",
            "-compose", "CopyOpacity", "-composite", src("alpha.png"))
        cjxl(src("alpha.png"), "alpha", "-d", "0")
        cjxl(src("alpha.png"), "alpha-lossy", "-d", "1")
        cjxl(src("alpha.png"), "alpha-premultiplied", "-d", "0", "--premultiply=1")
        # 16 bits, grey, grey with alpha, and floats.
        run("convert", src("rgb.png"), "-depth", "16", src("rgb16.png"))
        cjxl(src("rgb16.png"), "rgb16", "-d", "0")
        run("convert", src("rgb.png"), "-colorspace", "Gray", src("grey.png"))
        cjxl(src("grey.png"), "grey", "-d", "0")
        cjxl(src("grey.png"), "grey-lossy", "-d", "1")
        run("convert", src("alpha.png"), "-colorspace", "Gray", "-type", "GrayscaleAlpha", src("greyalpha.png"))
        cjxl(src("greyalpha.png"), "grey-alpha", "-d", "0")
        run("convert", src("rgb.png"), "-depth", "32", "-define", "quantum:format=floating-point", src("float.pfm"))
        cjxl(src("float.pfm"), "float", "-d", "0")
        # Wide-gamut profiles: kept with the pixels (lossless), or the pixels
        # made sRGB by the decoder (lossy, profile known only as ICC).
        run("convert", src("rgb.png"), "-profile", profile("sRGB.icc"), "-profile", profile("AdobeRGB1998.icc"),
            src("adobe.png"))
        cjxl(src("adobe.png"), "adobe", "-d", "0")
        cjxl(src("adobe.png"), "adobe-lossy", "-d", "1")
        run("convert", src("rgb.png"), "-profile", profile("sRGB.icc"), "-profile", profile("ProPhotoRGB.icc"),
            "-depth", "16", src("prophoto.png"))
        cjxl(src("prophoto.png"), "prophoto16", "-d", "0")
        # An animation: its first frame, not a later one (cjxl takes no GIF
        # whose first frame covers part of the canvas).
        run("convert", "-dispose", "none", "-delay", "10", "-size", "50x40", "gradient:yellow-green",
            "(", "-size", "20x10", "xc:red", "-repage", "+5+7", ")",
            "(", "-size", "30x20", "xc:blue", "-repage", "+15+12", ")", src("anim.gif"))
        cjxl(src("anim.gif"), "animation", "-d", "0")
        # Turned: a JPEG recompressed losslessly (orientation and its Exif,
        # Brotli-compressed, from the JPEG) and re-encoded; every orientation.
        run("convert", src("rgb.png"), "-quality", "90", src("photo.jpg"))
        for orientation in range(1, 9):
            turned = src("photo%d.jpg" % orientation)
            shutil.copy(src("photo.jpg"), turned)
            run("exiftool", "-q", "-overwrite_original", "-n", "-Orientation=%d" % orientation, "-Make=Quennel",
                "-XMP-dc:Title=Quennel", turned)
            cjxl(turned, "jpeg-orientation%d" % orientation)
        cjxl(src("photo6.jpg"), "jpeg-reencoded", "-j", "0", "-d", "1")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def as_displayed(data):
    """RGBA in sRGB from PNG bytes: through its ICC profile where it has one."""
    image = Image.open(io.BytesIO(data))
    icc = image.info.get("icc_profile")
    if image.mode in ("I;16", "I", "I;16B"):
        image = image.point(lambda v: v / 257).convert("L")
    alpha = None
    if image.mode in ("LA", "RGBA", "PA") or "transparency" in image.info:
        alpha = image.convert("RGBA").getchannel("A")
    # Grey goes through a grey profile as grey (Pillow opens 16-bit grey
    # with alpha as RGBA).
    source = ImageCms.ImageCmsProfile(io.BytesIO(icc)) if icc else None
    grey = image.mode in ("L", "LA") or (source and source.profile.xcolor_space.strip() == "GRAY")
    colour = image.convert("L" if grey else "RGB")
    if source:
        colour = ImageCms.profileToProfile(colour, source, ImageCms.createProfile("sRGB"), outputMode="RGB")
    colour = colour.convert("RGB")
    colour.putalpha(alpha if alpha is not None else Image.new("L", colour.size, 255))
    return colour


def info(path):
    return subprocess.run(["jxlinfo", path], check=True, capture_output=True, text=True).stdout


def reference(path):
    """djxl's decode as PNG bytes: the first frame of an animation. djxl 0.7
    writes PNG at the picture's own depth right, while its reduction to 8
    bits (--bits_per_sample=8) gives other numbers for 16-bit pictures with
    a profile; it writes no PNG of floats or of 16-bit grey with alpha: for
    those its PFM or PAM (the picture in its own colour space) through
    ImageMagick."""
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "ref.png")
        if subprocess.run(["djxl", path, out], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode:
            raw = os.path.join(work, "ref.pfm" if "float" in info(path) else "ref.pam")
            run("djxl", path, raw)
            run("convert", raw, "-depth", "8", out)
        image = Image.open(out)
        image.seek(0)
        icc = image.info.get("icc_profile")
        if image.mode in ("I;16", "I;16B", "I"):
            image = image.point(lambda v: v / 257).convert("L")
        frame = image.convert("RGBA") if image.mode not in ("L", "LA", "RGB", "RGBA") else image.copy()
        buffer = io.BytesIO()
        frame.save(buffer, "PNG", icc_profile=icc) if icc else frame.save(buffer, "PNG")
        return buffer.getvalue()


def tolerance(path):
    """Lossy pictures whose colour space is known only by an ICC profile: djxl
    converts them into that profile's space with its colour management and
    8 bits there, the converter has libjxl make sRGB itself; the two roundings
    of the lossy picture's near-black saturated colours differ by up to 8."""
    text = info(path)
    return LOSSY_ICC_TOLERANCE if "lossy" in text and "ICC profile" in text else TOLERANCE


def difference(a, b, allowed):
    if a.size != b.size:
        return "size %dx%d, djxl %dx%d" % (a.size + b.size)
    worst = 0
    pa, pb = a.load(), b.load()
    for y in range(a.size[1]):
        for x in range(a.size[0]):
            ca, cb = pa[x, y], pb[x, y]
            if ca[3] == 0 and cb[3] == 0:
                continue
            worst = max(worst, max(abs(ca[i] - cb[i]) for i in range(4)))
    return None if worst <= allowed else "a channel %d off" % worst


def judge_one(result, expected, allowed):
    """Both in the same colour space (the same profile, or none): their
    numbers as they stand, so that no colour conversion's rounding of an
    8-bit wide-gamut picture counts; else both as displayed in sRGB."""
    a, b = Image.open(io.BytesIO(result)), Image.open(io.BytesIO(expected))
    if a.info.get("icc_profile") == b.info.get("icc_profile"):
        return difference(plain(a), plain(b), allowed)
    return difference(as_displayed(result), as_displayed(expected), allowed)


def plain(image):
    if image.mode in ("I;16", "I", "I;16B"):
        image = image.point(lambda v: v / 257).convert("L")
    return image.convert("RGBA")


def judge(folder, results):
    failed = 0
    for name in sorted(os.listdir(folder)):
        stem, extension = os.path.splitext(name)
        if extension != ".jxl":
            continue
        result = os.path.join(results, stem + ".png")
        if not os.path.exists(result):
            why = "no result"
        else:
            try:
                with open(result, "rb") as f:
                    source = os.path.join(folder, name)
                    result_bytes = f.read()
                    why = judge_one(result_bytes, reference(source), tolerance(source))
                    # The sample package's own expected decode, where it has
                    # one, is a second reference: djxl 0.7 writes a 9-bit
                    # picture's numbers wrong in every output format.
                    if why and stem.startswith(SAMPLES[0] + "-"):
                        expected = os.path.join(sample_folder(), stem[len(SAMPLES[0]) + 1:] + ".png")
                        if os.path.exists(expected):
                            with open(expected, "rb") as e:
                                if not judge_one(result_bytes, e.read(), TOLERANCE):
                                    why = None
            except (OSError, subprocess.CalledProcessError) as error:
                why = str(error)
        if why:
            failed += 1
            print("FAIL %s: %s" % (stem, why))
        else:
            print("ok %s" % stem)
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "make":
        make(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "judge":
        sys.exit(judge(sys.argv[2], sys.argv[3]))
    else:
        sys.exit(__doc__)
