#!/usr/bin/env python3
"""The streamed path through the real transform.exe (its test build, under
Wine), judged on the host:

1. The same results byte for byte as the whole-picture path (forced by the
   test build's QUENNEL_TEST_WHOLE_PICTURES=1) for what both can run: a
   photo with a camera's Exif to JPEG, TIFF and through the 800x600 preset,
   a picture large enough for the PNG row writer to PNG and to JPEG.
   ImageMagick checks their sizes and that they show the source, exiftool
   that the TIFF carries the camera's tags and the resolution. A PNG with
   transparency and its Exif after the pixels to JPEG (its rows onto white
   on the way), and gathered into the result for TIFF, PNG, BMP and the
   preset; 16-bit, palette and gamma PNGs to JPEG and BMP. TIFFs of strips
   (RGB with LZW, 16-bit grey stored white-first, RGBA premultiplied) to
   JPEG, TIFF, PNG and the preset. HEICs, opaque and with alpha, to JPEG,
   PNG and the preset, the PNG against heif-convert's decode; bitmaps
   (24-bit stored from the bottom and from the top, 32-bit with alpha,
   8-bit with a palette); a PPM and a 16-bit PGM. The summaries the same
   both ways too.
2. A picture of 192 megapixels to JPEG, PNG and TIFF, and a PNG, a TIFF and
   a PPM of 96 to JPEG and through the preset: each worker's peak
   resident memory, read from the process (/proc/<pid>/status, VmHWM) while
   it runs, stays under a bound that holding the picture (768 MiB at 4
   bytes a pixel) would exceed by far, and ImageMagick reads the results at
   their full size.

    streaming.py --converter TESTBUILD/transform.exe --work DIR
"""
import argparse
import os
import shutil
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# Wine itself, the worker's code and its band buffers: far below a picture's 768 MiB.
PEAK_BOUND_MIB = 256

failures = []


def check(condition, message):
    print(("ok   " if condition else "FAIL ") + message, flush=True)
    if not condition:
        failures.append(message)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def transform_pids():
    prefix = os.environ.get("WINEPREFIX", "")
    pids = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if b"transform.exe" not in f.read():
                    continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if ("WINEPREFIX=" + prefix).encode() not in f.read().split(b"\0"):
                    continue
            pids.append(pid)
        except OSError:
            pass
    return pids


def run(converter, sources, token, whole=False, summary=None):
    """Runs the converter on the sources; the largest VmHWM (KiB) seen of its
    processes. `summary`, a list, receives what it printed."""
    folder = os.path.dirname(sources[0])
    listing = os.path.join(folder, "files.txt")
    with open(listing, "wb") as f:
        for source in sources:
            f.write(windows_path(source).encode("cp1252") + b"\r\n")
    env = dict(os.environ)
    if whole:
        env["QUENNEL_TEST_WHOLE_PICTURES"] = "1"
    else:
        env.pop("QUENNEL_TEST_WHOLE_PICTURES", None)
    peak = [0]
    done = threading.Event()

    def watch():
        while not done.is_set():
            for pid in transform_pids():
                try:
                    with open("/proc/%s/status" % pid) as f:
                        for line in f:
                            if line.startswith("VmHWM:"):
                                peak[0] = max(peak[0], int(line.split()[1]))
                except OSError:
                    pass
            time.sleep(0.1)

    watcher = threading.Thread(target=watch)
    watcher.start()
    result = subprocess.run(["wine", converter, windows_path(listing), token], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    # The workers end with the supervisor; a last look for stragglers.
    time.sleep(0.3)
    done.set()
    watcher.join()
    os.remove(listing)
    if summary is not None:
        summary.append(result.stdout.decode("utf-8", "replace") + result.stderr.decode("utf-8", "replace"))
    return result.returncode, peak[0]


def magick(*args):
    return subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT).stdout.decode().strip()


def identify(path):
    return magick("identify", "-ping", "-format", "%m %wx%h", path)


def psnr(a, b):
    out = magick("compare", "-metric", "PSNR", a, b, "null:").split()[0]
    return 1e9 if out == "inf" else float(out)


def largest_difference(a, b):
    """The largest difference of a sample between the two pictures as Pillow
    decodes them (ImageMagick's policy refuses pictures this large)."""
    program = ("import sys\nfrom PIL import Image, ImageChops\nImage.MAX_IMAGE_PIXELS = None\n"
               "a, b = (Image.open(p).convert('RGB') for p in sys.argv[1:3])\n"
               "print(max(e[1] for e in ImageChops.difference(a, b).getextrema()) if a.size == b.size else 999)")
    out = subprocess.run(["/usr/bin/python3", "-c", program, a, b], stdout=subprocess.PIPE).stdout.decode().strip()
    return int(out) if out.isdigit() else 999


def results(folder, source):
    return sorted(n for n in os.listdir(folder) if n != source)


def transparent_png(path):
    """A PNG with an alpha ramp, a resolution, and its Exif block after the
    pixel data (where the chunk may also stand)."""
    from PIL import Image
    import io
    import struct
    import zlib
    image = Image.open(os.path.join(os.path.dirname(path), "photo.jpg")).convert("RGBA")
    alpha = Image.linear_gradient("L").resize(image.size)
    image.putalpha(alpha)
    exif = Image.Exif()
    exif[0x010F] = "Quennel Optics"
    buffer = io.BytesIO()
    image.save(buffer, "PNG", dpi=(150, 150))
    data = buffer.getvalue()
    body = exif.tobytes()[6:] if exif.tobytes().startswith(b"Exif") else exif.tobytes()
    chunk = struct.pack(">I", len(body)) + b"eXIf" + body + struct.pack(">I", zlib.crc32(b"eXIf" + body))
    end = data.rindex(b"IEND") - 4
    with open(path, "wb") as f:
        f.write(data[:end] + chunk + data[end:])


def top_down_bitmap(source, target):
    """The bitmap with its rows stored from the top, as a negative height in
    its information header says (a 24-bit BMP3 of rows padded to 4 bytes)."""
    import struct
    data = bytearray(open(source, "rb").read())
    offset, width, height = struct.unpack_from("<I", data, 10)[0], *struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) // 4 * 4
    rows = [data[offset + r * stride:offset + (r + 1) * stride] for r in range(height)]
    data[offset:offset + stride * height] = b"".join(reversed(rows))
    struct.pack_into("<i", data, 22, -height)
    open(target, "wb").write(bytes(data))


def same_both_ways(converter, work, name, source, tokens):
    streamed, whole = os.path.join(work, name + "-streamed"), os.path.join(work, name + "-whole")
    kept = "source" + os.path.splitext(source)[1]
    summaries = {}
    for folder, forced in ((streamed, False), (whole, True)):
        os.makedirs(folder)
        shutil.copy(source, os.path.join(folder, kept))
        for token in tokens:
            printed = []
            code, _ = run(converter, [os.path.join(folder, kept)], token, whole=forced, summary=printed)
            check(code == 0, "%s %s (%s path) exits 0%s" % (name, token, "whole" if forced else "streamed",
                                                            "" if code == 0 else ": %d, %r" % (code, printed[0])))
            summaries.setdefault(token, []).append(printed[0].replace(windows_path(folder), "FOLDER"))
    for token, (a, b) in summaries.items():
        check(a == b, "%s %s: the same summary both ways %r" % (name, token, [a, b]))
    made = results(streamed, kept)
    check(made == results(whole, kept) and len(made) == len(tokens), "%s: the same results %s both ways" % (name, made))
    for result in made:
        a, b = os.path.join(streamed, result), os.path.join(whole, result)
        same = os.path.exists(b) and open(a, "rb").read() == open(b, "rb").read()
        check(same, "%s: %s byte for byte the same from both paths" % (name, result))
    return streamed


def damaged_both_ways(converter, work, name, data, token):
    """A file that breaks off inside its pixels: skipped on both paths with
    the same reason, and nothing left behind, not even the streamed path's
    half-written temporary file."""
    reasons = []
    for path in ("streamed", "whole"):
        folder = os.path.join(work, "%s-%s" % (name, path))
        os.makedirs(folder)
        source = os.path.join(folder, name)
        with open(source, "wb") as f:
            f.write(data)
        printed = []
        code, _ = run(converter, [source], token, whole=path == "whole", summary=printed)
        check(code == 1, "%s %s (%s path) is skipped" % (name, token, path))
        check(os.listdir(folder) == [name], "%s (%s path) leaves nothing behind: %s" % (name, path, os.listdir(folder)))
        lines = [line.split(": ", 1)[1] for line in printed[0].splitlines() if line.startswith("Z:") and ": " in line]
        reasons.append(lines)
        shutil.rmtree(folder)
    check(reasons[0] == reasons[1] and len(reasons[0]) == 1, "%s: the same reason both ways %s" % (name, reasons))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--converter", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    work = args.work
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)

    # 1. Both paths, byte for byte.
    photo = os.path.join(work, "photo.jpg")
    subprocess.run(["convert", "-seed", "3", "-size", "1800x1200", "plasma:fractal", "-blur", "0x1",
                    "-density", "300", "-units", "PixelsPerInch", "-quality", "90", photo], check=True)
    subprocess.run(["exiftool", "-q", "-overwrite_original", "-Make=Quennel Optics", "-Model=Q1",
                    "-DateTimeOriginal=2026:12:08 10:00:00", photo], check=True)
    folder = same_both_ways(args.converter, work, "photo", photo, ["TOJPG", "RS_1", "TOTIFF"])
    tiff = os.path.join(folder, "source.tif")
    check(identify(tiff) == "TIFF 1800x1200", "the TIFF's size: %s" % identify(tiff))
    check(psnr(photo, tiff) > 40, "the TIFF shows the photo")
    tags = subprocess.run(["exiftool", "-s3", "-Make", "-DateTimeOriginal", "-XResolution", tiff],
                          stdout=subprocess.PIPE).stdout.decode().split("\n")
    check(tags[:3] == ["Quennel Optics", "2026:12:08 10:00:00", "300"], "the TIFF's tags: %s" % tags[:3])
    check(identify(os.path.join(folder, "source (800x600).jpg")) == "JPEG 800x533", "the preset's size")
    reference = os.path.join(work, "reference.png")
    subprocess.run(["convert", photo, "-filter", "Catrom", "-resize", "800x533!", reference], check=True)
    check(psnr(reference, os.path.join(folder, "source (800x600).jpg")) > 30, "the preset shows the photo")
    check(magick("identify", "-format", "%x", os.path.join(folder, "source (2).jpg")).startswith("300"),
          "the resolution kept")

    large = os.path.join(work, "large.jpg")  # above the PNG row writer's 32 Mi pixels
    subprocess.run([sys.executable, os.path.join(HERE, "bigjpeg.py"), "7000", "4900", large], check=True)
    folder = same_both_ways(args.converter, work, "large", large, ["TOPNG", "TOJPG"])
    check(identify(os.path.join(folder, "source.png")) == "PNG 7000x4900", "the large PNG's size")
    check(largest_difference(large, os.path.join(folder, "source.png")) <= 2,
          "the large PNG holds the source's pixels as Pillow decodes them")
    png = os.path.join(work, "transparent.png")
    transparent_png(png)
    folder = same_both_ways(args.converter, work, "transparent", png, ["TOJPG", "TOTIFF", "TOPNG", "TOBMP", "RS_1"])
    flat = os.path.join(work, "flat.png")
    subprocess.run(["convert", png, "-background", "white", "-flatten", flat], check=True)
    check(psnr(flat, os.path.join(folder, "source.jpg")) > 30, "the PNG's JPEG shows it on white")
    check(largest_difference(png, os.path.join(folder, "source.tif")) == 0, "the PNG's TIFF holds its pixels")
    check(identify(os.path.join(folder, "source (800x600).png")) == "PNG 800x533", "the PNG preset's size")
    check(magick("identify", "-format", "%[EXIF:Make]", os.path.join(folder, "source.jpg")) == "Quennel Optics",
          "the Exif after the PNG's pixels kept")
    # HEIF: libheif decodes the picture whole and its rows go to the writers
    # without a copy of ours: a photo with its camera's Exif (8 bits, as
    # phones write them) to JPEG, the preset and PNG, one with alpha to
    # JPEG (onto white) and PNG.
    heic = os.path.join(work, "photo.heic")
    subprocess.run(["heif-enc", "-q", "90", "-o", heic, photo], check=True, stdout=subprocess.DEVNULL)
    folder = same_both_ways(args.converter, work, "heic", heic, ["TOJPG", "RS_1", "TOPNG"])
    decoded = os.path.join(work, "heic-decoded.png")
    subprocess.run(["heif-convert", heic, decoded], check=True, stdout=subprocess.DEVNULL)
    check(largest_difference(decoded, os.path.join(folder, "source.png")) == 0,
          "the HEIC's PNG holds the pixels heif-convert decodes")
    check(magick("identify", "-format", "%[EXIF:Make]", os.path.join(folder, "source.jpg")) == "Quennel Optics",
          "the HEIC's Exif kept")
    heic = os.path.join(work, "transparent.heic")
    subprocess.run(["heif-enc", "-q", "90", "-o", heic, png], check=True, stdout=subprocess.DEVNULL)
    folder = same_both_ways(args.converter, work, "transparent-heic", heic, ["TOJPG", "TOPNG"])
    check(identify(os.path.join(folder, "source.png")) == "PNG 1800x1200", "the transparent HEIC's PNG")
    # Bitmaps, read row by row from the end of the file up (or from the top,
    # as a negative height says): 24-bit to JPEG, TIFF, PNG and the preset
    # (a bitmap again, gathered), the same stored top-down, 32-bit with an
    # alpha mask to JPEG and PNG, 8-bit with a palette to JPEG.
    bmp = os.path.join(work, "photo.bmp")
    subprocess.run(["convert", photo, "BMP3:" + bmp], check=True)
    folder = same_both_ways(args.converter, work, "bmp", bmp, ["TOJPG", "TOTIFF", "TOPNG", "RS_1"])
    check(largest_difference(bmp, os.path.join(folder, "source.png")) == 0, "the bitmap's PNG holds its pixels")
    check(identify(os.path.join(folder, "source (800x600).bmp")) in ("BMP 800x533", "BMP3 800x533"),
          "the bitmap's preset")
    topdown = os.path.join(work, "topdown.bmp")
    top_down_bitmap(bmp, topdown)
    folder = same_both_ways(args.converter, work, "topdown", topdown, ["TOPNG"])
    check(largest_difference(bmp, os.path.join(folder, "source.png")) == 0,
          "the top-down bitmap's PNG holds the same pixels")
    bmp32 = os.path.join(work, "bmp32.bmp")
    subprocess.run(["convert", png, bmp32], check=True)
    folder = same_both_ways(args.converter, work, "bmp32", bmp32, ["TOJPG", "TOPNG"])
    check(largest_difference(png, os.path.join(folder, "source.png")) == 0, "the 32-bit bitmap's PNG holds its colours")
    check(psnr(flat, os.path.join(folder, "source.jpg")) > 30, "the 32-bit bitmap's JPEG shows it on white")
    bmp8 = os.path.join(work, "bmp8.bmp")
    subprocess.run(["convert", photo, "+dither", "-colors", "200", "-type", "Palette", "BMP3:" + bmp8], check=True)
    folder = same_both_ways(args.converter, work, "bmp8", bmp8, ["TOJPG"])
    check(psnr(bmp8, os.path.join(folder, "source.jpg")) > 30, "the 8-bit bitmap's JPEG shows it")
    # Raw Netpbm files, read row by row where their rows lie: an 8-bit PPM
    # to JPEG, TIFF, PNG and the preset (which, as the format is not
    # written, becomes a JPEG and says so), a 16-bit PGM to TIFF and PNG.
    ppm = os.path.join(work, "photo.ppm")
    subprocess.run(["convert", photo, ppm], check=True)
    folder = same_both_ways(args.converter, work, "ppm", ppm, ["TOJPG", "TOTIFF", "TOPNG", "RS_1"])
    check(largest_difference(ppm, os.path.join(folder, "source.png")) == 0, "the PPM's PNG holds its pixels")
    check(identify(os.path.join(folder, "source (800x600).jpg")) == "JPEG 800x533", "the PPM's preset, a JPEG")
    pgm = os.path.join(work, "grey16.pgm")
    subprocess.run(["convert", photo, "-colorspace", "gray", "-depth", "16", pgm], check=True)
    folder = same_both_ways(args.converter, work, "pgm", pgm, ["TOTIFF", "TOPNG"])
    check(psnr(pgm, os.path.join(folder, "source.png")) > 40, "the 16-bit PGM's PNG shows it")
    tiffs = {"rgb": ([photo, "-compress", "lzw", "-define", "tiff:rows-per-strip=7"],
                     ["TOJPG", "TOTIFF", "TOPNG", "RS_1"]),
             "grey16": ([photo, "-colorspace", "gray", "-depth", "16", "-define", "tiff:photometric=min-is-white"],
                        ["TOTIFF", "RS_1"]),
             "premultiplied": ([png, "-define", "tiff:alpha=associated"], ["TOJPG", "TOTIFF"])}
    for name, (making, tokens) in tiffs.items():
        tif = os.path.join(work, name + ".tif")
        subprocess.run(["convert"] + making + [tif], check=True)
        folder = same_both_ways(args.converter, work, name, tif, tokens)
        result = os.path.join(folder, "source (2).tif")
        if name == "premultiplied":  # its faint pixels' colours are 8-bit rounded: compared as shown
            check(psnr(png, result) > 40, "the premultiplied TIFF's TIFF shows the PNG it was made of")
        else:
            check(psnr(tif, result) > 40, "the %s TIFF's TIFF holds its pixels" % name)
        shutil.rmtree(os.path.join(work, name + "-streamed"))
        shutil.rmtree(os.path.join(work, name + "-whole"))
    # PNGs libspng converts on the way: 16 bits, a palette with a transparent
    # entry, a gamma other than sRGB's (made a profile, which the JPEG keeps).
    for name, making, output in (("deep", ["-depth", "16"], "PNG:"),
                                 ("palette", ["-alpha", "set", "-channel", "A", "-fx", "i<100?0:1", "+channel"], "PNG8:"),
                                 ("gamma", ["-set", "gamma", "0.7"], "PNG:")):
        path = os.path.join(work, name + ".png")
        subprocess.run(["convert", photo, "-resize", "600x400"] + making + [output + path], check=True)
        folder = same_both_ways(args.converter, work, name, path, ["TOJPG", "TOBMP"])
        jpeg = os.path.join(folder, "source.jpg")
        if name == "gamma":  # the JPEG keeps the pixels and the profile; the bitmap's are converted
            check(identify(jpeg) == "JPEG 600x400" and "icc" in magick("identify", "-format", "%[profiles]", jpeg),
                  "the gamma PNG's JPEG has its profile")
        else:
            check(identify(jpeg) == "JPEG 600x400" and psnr(os.path.join(folder, "source.bmp"), jpeg) > 30,
                  "the %s PNG as JPEG and as bitmap" % name)
        shutil.rmtree(os.path.join(work, name + "-streamed"))
        shutil.rmtree(os.path.join(work, name + "-whole"))
    # A PNG cut inside its pixel data; a TIFF whose middle strips are
    # garbage (its directory, after the strips, intact): both break off
    # after rows have been written.
    data = open(png, "rb").read()
    damaged_both_ways(args.converter, work, "cut.png", data[:len(data) * 2 // 3], "TOJPG")
    data = bytearray(open(os.path.join(work, "rgb.tif"), "rb").read())
    directory = int.from_bytes(data[4:8], "little" if data[:2] == b"II" else "big")
    data[directory // 2:directory // 2 + 4096] = b"\xff" * 4096
    damaged_both_ways(args.converter, work, "garbled.tif", bytes(data), "TOJPG")
    for name in ("photo", "large", "transparent"):
        for path in ("streamed", "whole"):
            shutil.rmtree(os.path.join(work, "%s-%s" % (name, path)))

    # 2. A picture larger than a whole-picture worker could hold in the bound.
    huge_folder = os.path.join(work, "huge")
    os.makedirs(huge_folder)
    huge = os.path.join(huge_folder, "huge.jpg")
    subprocess.run([sys.executable, os.path.join(HERE, "bigjpeg.py"), "16000", "12000", huge], check=True)
    for token, result, kind in (("TOJPG", "huge (2).jpg", "JPEG"), ("TOPNG", "huge.png", "PNG"),
                                ("TOTIFF", "huge.tif", "TIFF")):
        code, peak = run(args.converter, [huge], token)
        check(code == 0, "192 megapixels to %s exits 0" % kind)
        check(0 < peak < PEAK_BOUND_MIB * 1024,
              "192 megapixels to %s: peak worker memory %d MiB (bound %d)" % (kind, peak // 1024, PEAK_BOUND_MIB))
        path = os.path.join(huge_folder, result)
        check(identify(path) == kind + " 16000x12000", "the %s result is whole: %s" % (kind, identify(path)))
        if os.path.exists(path):
            os.remove(path)
    shutil.rmtree(huge_folder)
    os.makedirs(huge_folder)
    # The preset keeps the format, or makes a JPEG of a PPM (not written).
    for kind, extension, preset, preset_kind in (("PNG", ".png", ".png", "PNG"), ("TIFF", ".tif", ".tif", "TIFF"),
                                                 ("PPM", ".ppm", ".jpg", "JPEG")):
        huge = os.path.join(huge_folder, "huge" + extension)
        subprocess.run([sys.executable, os.path.join(HERE, "bigjpeg.py"), "12000", "8000", huge], check=True)
        for token, result, size in (("TOJPG", "huge.jpg", "JPEG 12000x8000"),
                                    ("RS_1", "huge (800x600)" + preset, preset_kind + " 800x533")):
            code, peak = run(args.converter, [huge], token)
            check(code == 0, "a %s of 96 megapixels, %s, exits 0" % (kind, token))
            check(0 < peak < PEAK_BOUND_MIB * 1024, "a %s of 96 megapixels, %s: peak worker memory %d MiB (bound %d)"
                  % (kind, token, peak // 1024, PEAK_BOUND_MIB))
            path = os.path.join(huge_folder, result)
            check(identify(path) == size, "the result of %s: %s" % (token, identify(path)))
            if os.path.exists(path):
                os.remove(path)
        os.remove(huge)
    shutil.rmtree(work, ignore_errors=True)
    print("streaming: %d failed" % len(failures))
    sys.exit(1 if failures else 0)


main()
