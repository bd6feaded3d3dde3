#!/usr/bin/env python3
"""Builds the unsigned sparse package (.msix) for Windows 11's first context
menu from package/AppxManifest.xml and package/Assets.

    msix.py --manifest FILE --assets DIR --publisher "CN=..." --version A.B.C.D [--name NAME] --out FILE

An .msix is a zip archive with three parts of its own beside the payload:
  AppxManifest.xml     the manifest, here with Publisher and Version set (and
                       the identity's Name, which differs between the
                       per-machine and the per-user installation)
  AppxBlockMap.xml     for every other file (the manifest included) its size,
                       the size of its zip local header, and the SHA-256 of
                       each 64 KiB block of its contents, Base64
  [Content_Types].xml  the content type of each part
The signature (AppxSignature.p7x) is added by osslsigncode afterwards.

The archive is written here, not by a zip library, so that it is a plain zip
(no Zip64 records, which osslsigncode cannot re-sign correctly), with stored
payload entries, no extra fields and no data descriptors: the block map's LfhSize is
then 30 bytes plus the name."""
import argparse
import base64
import hashlib
import os
import re
import struct
import sys
import zlib

BLOCK = 65536
BLOCKMAP_NS = "http://schemas.microsoft.com/appx/2010/blockmap"
SHA256_METHOD = "http://www.w3.org/2001/04/xmlenc#sha256"


def xml_escape(text):
    return (text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
            .replace('"', "&quot;"))


def set_identity(manifest, publisher, version, name=None):
    """Sets Publisher and Version (and Name, when given) of the Identity
    element, nothing else."""
    identity = re.search(r"<Identity\b[^>]*/>", manifest)
    if not identity:
        sys.exit("msix: the manifest has no <Identity .../>")
    element = identity.group(0)
    values = [("Publisher", publisher), ("Version", version)] + ([("Name", name)] if name else [])
    for attribute, value in values:
        element, count = re.subn(r'\b%s="[^"]*"' % attribute, '%s="%s"' % (attribute, xml_escape(value)), element)
        if count != 1:
            sys.exit("msix: Identity has no %s attribute" % attribute)
    return manifest[:identity.start()] + element + manifest[identity.end():]


def block_map(files):
    """files: (zip name, bytes) in archive order, the manifest among them."""
    lines = ['<?xml version="1.0" encoding="UTF-8" standalone="no"?>',
             '<BlockMap xmlns="%s" HashMethod="%s">' % (BLOCKMAP_NS, SHA256_METHOD)]
    for name, data in files:
        lfh = 30 + len(name.encode("utf-8"))
        lines.append('<File Name="%s" Size="%d" LfhSize="%d">'
                     % (xml_escape(name.replace("/", "\\")), len(data), lfh))
        for start in range(0, len(data), BLOCK):
            digest = hashlib.sha256(data[start:start + BLOCK]).digest()
            # Stored entries: a block's size is implied, so it is not given.
            lines.append('<Block Hash="%s"/>' % base64.b64encode(digest).decode("ascii"))
        lines.append("</File>")
    lines.append("</BlockMap>")
    return ("\r\n".join(lines) + "\r\n").encode("utf-8")


def content_types(files):
    extensions = sorted({os.path.splitext(name)[1][1:].lower() for name, _ in files
                         if name != "AppxManifest.xml"})
    known = {"png": "image/png", "dll": "application/x-msdownload", "exe": "application/x-msdownload"}
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">']
    for extension in extensions:
        lines.append('<Default Extension="%s" ContentType="%s"/>'
                     % (extension, known.get(extension, "application/octet-stream")))
    lines.append('<Override PartName="/AppxManifest.xml" ContentType="application/vnd.ms-appx.manifest+xml"/>')
    lines.append('<Override PartName="/AppxBlockMap.xml" ContentType="application/vnd.ms-appx.blockmap+xml"/>')
    lines.append("</Types>")
    return ("\r\n".join(lines) + "\r\n").encode("utf-8")


def deflated(data):
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)  # raw deflate, as zip stores it
    return packer.compress(data) + packer.flush()


def write_zip(path, entries):
    """A plain zip of stored entries but [Content_Types].xml, which is
    deflated: osslsigncode rewrites that part when it signs, and writes it
    deflated whatever the entry's method says, so a stored entry would come
    out marked stored but holding deflated bytes. Fails rather than need Zip64."""
    out = bytearray()
    central = bytearray()
    dos_time, dos_date = 0, (2026 - 1980) << 9 | 1 << 5 | 1  # a fixed stamp: same input, same bytes
    for name, data in entries:
        raw = name.encode("utf-8")
        if len(data) >= 0xFFFFFFFF or len(out) >= 0xFFFFFFFF:
            sys.exit("msix: %s would need Zip64" % name)
        crc = zlib.crc32(data) & 0xFFFFFFFF
        method, stored = (8, deflated(data)) if name == "[Content_Types].xml" else (0, data)
        offset = len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0x0800, method, dos_time, dos_date,
                           crc, len(stored), len(data), len(raw), 0) + raw + stored
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0x0800, method, dos_time, dos_date,
                               crc, len(stored), len(data), len(raw), 0, 0, 0, 0, 0, offset) + raw
    if len(entries) >= 0xFFFF:
        sys.exit("msix: too many files for a plain zip")
    start = len(out)
    out += central
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central), start, 0)
    with open(path + ".part", "wb") as f:
        f.write(out)
    os.replace(path + ".part", path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--manifest", required=True)
    parser.add_argument("--assets", required=True)
    parser.add_argument("--publisher", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--name")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    if not re.fullmatch(r"\d+\.\d+\.\d+\.\d+", args.version):
        sys.exit("msix: version must be A.B.C.D")

    payload = []
    for root, dirs, names in os.walk(args.assets):
        dirs.sort()
        for file_name in sorted(names):
            full = os.path.join(root, file_name)
            relative = os.path.relpath(full, os.path.dirname(os.path.abspath(args.assets)))
            with open(full, "rb") as f:
                payload.append((relative.replace(os.sep, "/"), f.read()))
    with open(args.manifest, encoding="utf-8") as f:
        manifest = set_identity(f.read(), args.publisher, args.version, args.name).encode("utf-8")
    files = payload + [("AppxManifest.xml", manifest)]
    entries = files + [("AppxBlockMap.xml", block_map(files)), ("[Content_Types].xml", content_types(files))]
    write_zip(args.out, entries)


if __name__ == "__main__":
    main()
