#!/usr/bin/env python3
"""Judges a built .msix from outside, with Python's own zip reader, hashlib
and XML parser (nothing of scripts/msix.py):

    check-msix.py PACKAGE PUBLISHER MODULE_CLSID [MODULE]

- a plain zip: no Zip64 end record, no Zip64 extra field;
- every file but the block map, the content types and the signature is in
  the block map, in the archive's order, with its size, its local header's
  size, and the SHA-256 of each 64 KiB block; nothing else is listed;
- [Content_Types].xml gives every part a type;
- the manifest: AllowExternalContent, Publisher as expected, the context-menu
  verbs for "*" and "Directory" and the COM server naming one class, the
  module's, served by QuennelMenu.dll, each written exactly as MODULE_CLSID
  (the documented form, without braces);
- MODULE, when given, holds that class identifier (its 16 bytes).
Prints one line per finding and exits 1 on any."""
import base64
import hashlib
import struct
import sys
import xml.etree.ElementTree as ET
import zipfile

# The class as the manifest must write it, xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx:
# compared as written, so that a brace or another form is a finding.
package, publisher, module_clsid = sys.argv[1], sys.argv[2], sys.argv[3]
faults = []

raw = open(package, "rb").read()
if b"PK\x06\x06" in raw[-4096:] or b"PK\x06\x07" in raw[-4096:]:
    faults.append("Zip64 end records present")
archive = zipfile.ZipFile(package)
infos = archive.infolist()
for info in infos:
    if info.extra and struct.unpack_from("<H", info.extra)[0] == 0x0001:
        faults.append("%s: Zip64 extra field" % info.filename)

special = {"AppxBlockMap.xml", "[Content_Types].xml", "AppxSignature.p7x"}
payload = [info for info in infos if info.filename not in special]
NS = {"b": "http://schemas.microsoft.com/appx/2010/blockmap"}
blockmap = ET.fromstring(archive.read("AppxBlockMap.xml"))
if blockmap.get("HashMethod") != "http://www.w3.org/2001/04/xmlenc#sha256":
    faults.append("block map: hash method %s" % blockmap.get("HashMethod"))
listed = blockmap.findall("b:File", NS)
if [f.get("Name") for f in listed] != [i.filename.replace("/", "\\") for i in payload]:
    faults.append("block map lists %s, the archive holds %s"
                  % ([f.get("Name") for f in listed], [i.filename for i in payload]))
for entry, info in zip(listed, payload):
    data = archive.read(info)
    if int(entry.get("Size")) != len(data):
        faults.append("%s: size %s, file %d" % (info.filename, entry.get("Size"), len(data)))
    # The local header's real size, read from the archive itself.
    name_length, extra_length = struct.unpack_from("<HH", raw, info.header_offset + 26)
    if int(entry.get("LfhSize")) != 30 + name_length + extra_length:
        faults.append("%s: LfhSize %s, header %d" % (info.filename, entry.get("LfhSize"),
                                                     30 + name_length + extra_length))
    hashes = [b.get("Hash") for b in entry.findall("b:Block", NS)]
    expected = [base64.b64encode(hashlib.sha256(data[i:i + 65536]).digest()).decode()
                for i in range(0, len(data), 65536)]
    if hashes != expected:
        faults.append("%s: block hashes differ" % info.filename)

types = ET.fromstring(archive.read("[Content_Types].xml"))
CT = "{http://schemas.openxmlformats.org/package/2006/content-types}"
defaults = {d.get("Extension").lower() for d in types.iter(CT + "Default")}
overrides = {o.get("PartName") for o in types.iter(CT + "Override")}
for info in infos:
    if info.filename == "[Content_Types].xml":
        continue
    if "/" + info.filename not in overrides and info.filename.rsplit(".", 1)[-1].lower() not in defaults:
        faults.append("%s has no content type" % info.filename)

manifest = ET.fromstring(archive.read("AppxManifest.xml"))
F = "{http://schemas.microsoft.com/appx/manifest/foundation/windows10}"
UAP10 = "{http://schemas.microsoft.com/appx/manifest/uap/windows10/10}"
D4 = "{http://schemas.microsoft.com/appx/manifest/desktop/windows10/4}"
D5 = "{http://schemas.microsoft.com/appx/manifest/desktop/windows10/5}"
COM = "{http://schemas.microsoft.com/appx/manifest/com/windows10}"
identity = manifest.find(F + "Identity")
if identity.get("Publisher") != publisher:
    faults.append("Publisher %r, the signer is %r" % (identity.get("Publisher"), publisher))
external = manifest.find("%sProperties/%sAllowExternalContent" % (F, UAP10))
if external is None or external.text != "true":
    faults.append("AllowExternalContent is not true")
menus = manifest.find(".//%sExtension[@Category='windows.fileExplorerContextMenus']/%sFileExplorerContextMenus"
                      % (D4, D4))
verbs = {} if menus is None else {
    t.get("Type"): [v.get("Clsid") for v in t.findall(D5 + "Verb")]
    for t in menus.findall(D5 + "ItemType")}
if verbs != {"*": [module_clsid], "Directory": [module_clsid]}:
    faults.append("context-menu verbs %s, expected the module's class for * and Directory" % verbs)
classes = [(c.get("Id"), c.get("Path")) for c in
           manifest.iterfind(".//%sExtension[@Category='windows.comServer']//%sClass" % (COM, COM))]
if classes != [(module_clsid, "QuennelMenu.dll")]:
    faults.append("COM server classes %s" % classes)

if len(sys.argv) > 4:
    import uuid
    if uuid.UUID(module_clsid).bytes_le not in open(sys.argv[4], "rb").read():
        faults.append("%s does not hold the class %s" % (sys.argv[4], module_clsid))

for fault in faults:
    print("check-msix: " + fault)
if not faults:
    print("check-msix: %s: %d files in the block map, hashes match, manifest names %s"
          % (package, len(listed), module_clsid))
sys.exit(1 if faults else 0)
