#!/usr/bin/python3
"""The picture corpus: real test pictures from Debian source packages of
image libraries, each converted to PNG by the real transform.exe under Wine
and judged against ImageMagick and Pillow.

  corpus.py --converter build/x86_64/bin/transform.exe --cache build/x86_64/corpus
            [--only REGEX] [--regenerate] [--keep]

The sources come through scripts/fetch-debian-source.sh (pinned, hash-checked)
into the cache folder, as do the references' decodings. A picture passes when
  - it is a sample made to break readers (fuzzer finds, bombs): the converter
    neither crashed nor hung on it, whatever it made of it;
  - neither reference reads it: the converter neither crashed nor hung;
  - otherwise: the converter wrote a PNG whose pixels match a reference that
    reads it (both agree, or where they differ, one of them; docs/converter.md
    says which one the converter follows for each kind).
Every other picture is a miss. A miss listed in known-differences.txt (with
its reason) is expected; any other fails the run. --regenerate rewrites that
list from this run's misses, keeping the reasons already written, for review.
Ends with the plain line "corpus: N passed, N failed" (the pictures).
"""
import argparse
import concurrent.futures
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import threading
import time

from PIL import Image, ImageChops, ImageCms, ImageOps

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
KNOWN = os.path.join(HERE, "known-differences.txt")

# Source package, pinned version, and the folders (below its tree) whose
# pictures are taken, each with a pattern of the names that are.
SOURCES = [
    ("libpng1.6", "1.6.39-2+deb12u5", ["contrib/pngsuite", "contrib/pngsuite/interlaced", "contrib/testpngs/crashers"]),
    ("tiff", "4.5.0-6+deb12u4", ["test/images"]),
    ("giflib", "5.2.1-2.5+deb12u1", ["pic", "tests", "doc/whatsinagif"]),
    ("libwebp", "1.2.4-0.2+deb12u1", ["examples", "webp_js"]),
    ("pillow", "9.4.0-1.1+deb12u1", ["Tests/images", "Tests/images/bmp/b", "Tests/images/bmp/g",
                                     "Tests/images/bmp/q", "Tests/images/bmp/html", "Tests/images/tga/common",
                                     "Tests/images/tiff_gray_2_4_bpp"]),
]
# PNGs come from libpng's own suite; Pillow's hundreds of drawing results
# would only add time.
SKIP = re.compile(r"^pillow/Tests/images/[^/]*\.png$")

# The kinds the menu is shown for, and WebP, by extension.
KINDS = {
    "PNG": "png", "GIF": "gif", "TIFF": "tif tiff", "BMP": "bmp dib rle", "JPEG": "jpg jpeg jpe",
    "JPEG 2000": "jp2 j2k jpc j2c", "Photoshop": "psd pdd", "TGA": "tga targa vda icb vst", "ICO": "ico cur",
    "Netpbm": "ppm pgm pbm pxm", "PCX": "pcx", "WBMP": "wbmp", "Metafile": "wmf emf", "Photo CD": "pcd",
    "Fax": "fax g3n g3f", "Paint Shop Pro": "psp pspimage", "Dr. Halo": "cut", "Alias PIX": "pix", "WebP": "webp",
}
KIND_OF = {ext: kind for kind, exts in KINDS.items() for ext in exts.split()}

# Samples made to break readers: they only must not crash or hang.
BREAKERS = re.compile(r"(crash|oom-|timeout|fuzz|bomb|hang|leak|overflow|/crashers/|_loop_|"
                      r"bad|broken|truncated|corrupt|invalid|damaged)", re.I)

# Two decodings match when their sizes are equal and, transparent pixels'
# colours aside, every sample is within TOLERANCE levels except at most
# OUTLIERS of them (dithering and rounding at edges), the mean within MEAN.
TOLERANCE, OUTLIERS, MEAN = 4, 0.002, 1.0
REFERENCE_SECONDS = 60


def fetch_sources(cache):
    trees = {}
    for package, version, _ in SOURCES:
        folder = os.path.join(cache, "sources", package)
        subprocess.run([os.path.join(ROOT, "scripts", "fetch-debian-source.sh"), package, version, folder],
                       check=True, stdout=subprocess.DEVNULL)
        trees[package] = os.path.join(folder, "source")
    return trees


def collect(trees, only):
    pictures = []
    for package, _, folders in SOURCES:
        for folder in folders:
            path = os.path.join(trees[package], folder)
            for name in sorted(os.listdir(path)):
                full = os.path.join(path, name)
                ext = name.rsplit(".", 1)[-1].lower() if "." in name else ""
                key = f"{package}/{folder}/{name}"
                if ext in KIND_OF and os.path.isfile(full) and not SKIP.match(key):
                    if not only or re.search(only, key):
                        pictures.append((key, full, ext))
    return pictures


# --- the references -------------------------------------------------------

def rgba_of(image):
    """Any Pillow picture as 8-bit RGBA, 16-bit and float samples scaled
    rather than clipped (Pillow's own conversion clips I;16 to 255)."""
    if image.mode in ("I;16", "I;16B", "I;16L", "I;16N", "I"):
        image = image.convert("I").point(lambda v: v * (1 / 256)).convert("L")
    elif image.mode == "F":
        image = image.point(lambda v: v * 255).convert("L")
    elif image.mode == "LAB":
        lab = ImageCms.createProfile("LAB", 5000)
        image = ImageCms.applyTransform(image, ImageCms.buildTransform(
            lab, ImageCms.createProfile("sRGB"), "LAB", "RGB", renderingIntent=1, flags=0x100))
    return image.convert("RGBA")


def pillow_decode(path, out):
    image = Image.open(path)
    try:
        image.seek(0)
    except EOFError:  # a layerless Photoshop file: its merged picture
        pass
    image.load()
    image = ImageOps.exif_transpose(image)
    rgba_of(image).save(out, format="PNG")


def imagemagick_decode(path, ext, out):
    frame = "" if ext == "pcd" else "[0]"  # a Photo CD's [0] is its thumbnail
    source = f"{ext}:{path}{frame}"
    # ImageMagick takes a PNG whose gamma is 1.0 for linear light and would
    # write other numbers than the file holds; every reader here (and the
    # converter, which keeps the file's numbers) shows the stored ones.
    relabel = []
    if ext == "png":
        space = subprocess.run(["identify", "-format", "%[colorspace]", source], capture_output=True, text=True,
                               timeout=REFERENCE_SECONDS).stdout
        relabel = {"RGB": ["-set", "colorspace", "sRGB"], "LinearGray": ["-set", "colorspace", "Gray"]}.get(space, [])
    subprocess.run(["convert", source] + relabel + ["-auto-orient", "-background", "none", "-flatten",
                                                    "-depth", "8", f"png32:{out}"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=REFERENCE_SECONDS)


def reference(cache_dir, name, work):
    """(ImageMagick's PNG or None, Pillow's PNG or None), made once a picture."""
    key, path, ext = work
    digest = hashlib.sha1(open(path, "rb").read()).hexdigest()
    results = []
    for tool in ("imagemagick", "pillow"):
        out = os.path.join(cache_dir, f"{digest}.{tool}.png")
        failed = out + ".failed"
        if not os.path.exists(out) and not os.path.exists(failed):
            temp = f"{out}.{os.getpid()}-{threading.get_ident()}.tmp"  # equal pictures may run at once
            try:
                if tool == "imagemagick":
                    imagemagick_decode(path, ext, temp)
                else:
                    subprocess.run([sys.executable, __file__, "--pillow-decode", path, temp], check=True,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=REFERENCE_SECONDS)
                os.replace(temp, out)  # no file written (no picture in it) fails here too
            except (subprocess.CalledProcessError, subprocess.TimeoutExpired, OSError) as error:
                # A refusal is remembered; a time-out on a busy machine is not.
                if not isinstance(error, subprocess.TimeoutExpired):
                    open(failed, "w").close()
                if os.path.exists(temp):
                    os.remove(temp)
        results.append(out if os.path.exists(out) else None)
    return results


def versions_tag():
    magick = subprocess.run(["convert", "-version"], capture_output=True, text=True).stdout.split("\n")[0]
    import PIL
    return hashlib.sha1(f"{magick} {PIL.__version__} {TOLERANCE}".encode()).hexdigest()[:12]


# --- comparing --------------------------------------------------------------

def masked(image):
    """Colours of fully transparent pixels set to zero: readers differ there
    and nobody sees them."""
    alpha = image.getchannel("A").point(lambda a: 255 if a else 0)
    return Image.composite(image, Image.new("RGBA", image.size, (0, 0, 0, 0)), alpha)


def distance(a, b):
    """(matches, text) of two RGBA pictures."""
    if a.size != b.size:
        return False, f"size {a.size[0]}x{a.size[1]} against {b.size[0]}x{b.size[1]}"
    histogram = ImageChops.difference(masked(a), masked(b)).histogram()
    samples = a.size[0] * a.size[1] * 4
    total = sum(level * count for i in range(4) for level, count in enumerate(histogram[i * 256:(i + 1) * 256]))
    over = sum(count for i in range(4) for level, count in enumerate(histogram[i * 256:(i + 1) * 256])
               if level > TOLERANCE)
    worst = max((level for i in range(4) for level, count in enumerate(histogram[i * 256:(i + 1) * 256]) if count),
                default=0)
    mean = total / samples
    return over <= OUTLIERS * samples and mean <= MEAN, f"mean {mean:.2f}, max {worst}, {over} samples off"


# --- the converter ----------------------------------------------------------

def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def convert_all(converter, pictures, work_dir):
    """Copies each picture to work_dir as NNNN.<ext>, converts them all to
    PNG in one run of the converter; returns ({index: reason}, seconds)."""
    shutil.rmtree(work_dir, ignore_errors=True)
    os.makedirs(work_dir)
    paths = []
    for index, (_, path, ext) in enumerate(pictures):
        copy = os.path.join(work_dir, f"{index:04d}.{ext}")
        shutil.copyfile(path, copy)
        paths.append(windows_path(copy))
    listing = os.path.join(work_dir, "files.txt")
    with open(listing, "wb") as f:
        f.write("".join(p + "\r\n" for p in paths).encode("cp1252"))
    env = dict(os.environ, WINEDEBUG="-all")
    env.pop("DISPLAY", None)  # the summary's message box then returns at once
    started = time.monotonic()
    run = subprocess.run(["wine", converter, windows_path(listing), "TOPNG"], env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=3600)
    seconds = time.monotonic() - started
    if run.returncode not in (0, 1):
        sys.exit(f"corpus: the converter ended with {run.returncode}: {run.stderr.decode(errors='replace')}")
    problems = {}
    by_path = {p.lower(): i for i, p in enumerate(paths)}
    for line in run.stderr.decode("utf-8", errors="replace").splitlines():
        head, sep, reason = line.partition(": ")
        if sep and head.lower() in by_path:
            problems[by_path[head.lower()]] = reason.strip()
    return problems, seconds


def result_of(work_dir, index, ext):
    name = f"{index:04d} (2).png" if ext == "png" else f"{index:04d}.png"
    path = os.path.join(work_dir, name)
    return path if os.path.exists(path) else None


# --- judging ----------------------------------------------------------------

def judge(key, ext, problem, ours, refs):
    """(counts toward the kind's rate, passed, outcome, detail)."""
    crashed = problem is not None and ("abgestürzt" in problem or "zu lange" in problem)
    breaker = bool(BREAKERS.search(key))
    if crashed:
        return not breaker and any(refs), False, "crashed" if "abgestürzt" in problem else "hung", problem
    if breaker:
        return False, True, "breaker", problem or "converted"
    if not any(refs):
        return False, True, "unread", problem or "converted"
    if ours is None:
        return True, False, "refused", problem or "no result"
    mine = Image.open(ours).convert("RGBA")
    images = [Image.open(r).convert("RGBA") if r else None for r in refs]
    agree = all(images) and distance(images[0], images[1])[0]
    verdicts = []
    for tool, image in zip(("ImageMagick", "Pillow"), images):
        if image is not None:
            ok, text = distance(mine, image)
            if ok:
                return True, True, "matches" if agree or not all(images) else f"follows {tool}", text
            verdicts.append(f"{tool}: {text}")
    return True, False, "differs", "; ".join(verdicts) + ("" if agree or not all(images) else "; they disagree")


def load_known():
    known = {}
    if os.path.exists(KNOWN):
        for line in open(KNOWN, encoding="utf-8"):
            if line.strip() and not line.startswith("#"):
                parts = line.rstrip("\n").split("\t")
                known[parts[0]] = (parts[1] if len(parts) > 1 else "", parts[2] if len(parts) > 2 else "")
    return known


def write_known(misses, known):
    lines = ["# Pictures of the corpus (tests/corpus/corpus.py) that the converter does not",
             "# read as the references do, one a line: picture, outcome, reason (tab",
             "# separated). Written by corpus.py --regenerate and then reviewed: a reason",
             "# written by hand is kept as long as the picture still misses.", ""]
    for key, outcome, detail in sorted(misses):
        reason = known[key][1] if key in known and known[key][1] else detail
        lines.append(f"{key}\t{outcome}\t{reason}")
    with open(KNOWN, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--pillow-decode":
        pillow_decode(sys.argv[2], sys.argv[3])
        return 0
    ap = argparse.ArgumentParser()
    ap.add_argument("--converter", required=True)
    ap.add_argument("--cache", required=True)
    ap.add_argument("--only", help="a pattern of the pictures to take")
    ap.add_argument("--regenerate", action="store_true", help="rewrite known-differences.txt from this run")
    ap.add_argument("--keep", action="store_true", help="leave the work folder (copies and results)")
    ap.add_argument("--verbose", action="store_true", help="a line for every picture")
    a = ap.parse_args()

    cache = os.path.abspath(a.cache)
    pictures = collect(fetch_sources(cache), a.only)
    ref_dir = os.path.join(cache, "references-" + versions_tag())
    os.makedirs(ref_dir, exist_ok=True)
    started = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        refs = list(pool.map(lambda p: reference(ref_dir, p[0], p), pictures))
    ref_seconds = time.monotonic() - started
    work_dir = os.path.join(cache, "work")
    problems, seconds = convert_all(os.path.abspath(a.converter), pictures, work_dir)

    known = load_known()
    rates = {}
    misses, failures, passed, now_pass = [], [], 0, []
    for index, (key, _, ext) in enumerate(pictures):
        counts, ok, outcome, detail = judge(key, ext, problems.get(index), result_of(work_dir, index, ext),
                                            refs[index])
        kind = KIND_OF[ext]
        if counts:
            right, total = rates.get(kind, (0, 0))
            rates[kind] = (right + ok, total + 1)
        if a.verbose:
            print(f"{'ok  ' if ok else 'MISS'} {key}: {outcome} ({detail})")
        if ok:
            passed += 1
            if key in known:
                now_pass.append(key)
            continue
        misses.append((key, outcome, detail))
        if key not in known:
            failures.append((key, outcome, detail))
    if not a.keep:
        shutil.rmtree(work_dir, ignore_errors=True)

    print(f"\n{len(pictures)} pictures: references {ref_seconds:.0f} s, converter {seconds:.0f} s")
    print(f"{'kind':<16}{'right':>7}{'of':>5}{'rate':>8}   (pictures at least one reference reads)")
    all_right = all_total = 0
    for kind in KINDS:
        if kind in rates:
            right, total = rates[kind]
            all_right += right
            all_total += total
            print(f"{kind:<16}{right:>7}{total:>5}{100 * right / total:>7.1f}%")
    if all_total:
        print(f"{'all':<16}{all_right:>7}{all_total:>5}{100 * all_right / all_total:>7.1f}%")
    if a.regenerate:
        write_known(misses, known)
        print(f"{KNOWN}: {len(misses)} differences written; review their reasons")
    else:
        for key in now_pass:
            print(f"now right, listed as a known difference: {key} (corpus.py --regenerate drops it)")
        for key, outcome, detail in failures:
            print(f"NEW MISS {key}: {outcome} ({detail})")
    failed = 0 if a.regenerate else len(failures)
    print(f"corpus: {len(pictures) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
