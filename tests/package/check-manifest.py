#!/usr/bin/env python3
"""Judges a package manifest (AppxManifest.xml, or the one inside an .msix)
against the attribute rules Microsoft's manifest schema reference documents
for the elements this package uses: which attributes are required, their
lengths, patterns and allowed values. Windows' own schema check refuses the
whole package on any of these, so an unchecked one would lose the Windows 11
menu without a word.

    check-manifest.py MANIFEST.xml|PACKAGE.msix

Prints one line per finding and exits 1 on any."""
import re
import sys
import xml.etree.ElementTree as ET
import zipfile

F = "{http://schemas.microsoft.com/appx/manifest/foundation/windows10}"
UAP = "{http://schemas.microsoft.com/appx/manifest/uap/windows10}"
UAP10 = "{http://schemas.microsoft.com/appx/manifest/uap/windows10/10}"
D4 = "{http://schemas.microsoft.com/appx/manifest/desktop/windows10/4}"
D5 = "{http://schemas.microsoft.com/appx/manifest/desktop/windows10/5}"
COM = "{http://schemas.microsoft.com/appx/manifest/com/windows10}"

# "A GUID in the form xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx": no braces.
GUID = r"[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}"
# Quad notation, each part 0 to 65535.
PART = r"(0|[1-9][0-9]{0,3}|[1-5][0-9]{4}|6[0-4][0-9]{3}|65[0-4][0-9]{2}|655[0-2][0-9]|6553[0-5])"
VERSION = r"%s(\.%s){3}" % (PART, PART)
# The distinguished name's pattern as documented for Publisher.
RDN = (r'(CN|L|O|OU|E|C|S|STREET|T|G|I|SN|DC|SERIALNUMBER|(OID\.(0|[1-9][0-9]*)(\.(0|[1-9][0-9]*))+))'
       r'=(([^,+="<>#;])+|".*")')
PUBLISHER = r"%s(, %s)*" % (RDN, RDN)
RESERVED = {"CON", "PRN", "AUX", "NUL"} | {"COM%d" % i for i in range(1, 10)} | {"LPT%d" % i for i in range(1, 10)}
# A file inside the package: no <, >, :, ", |, ? or *.
FILE = r'[^<>:"|?*]+'
IMAGE = FILE + r"\.([Pp][Nn][Gg]|[Jj][Pp][Ee]?[Gg])"
COLOR = r"#[0-9A-Fa-f]{6}|transparent|[a-z]+"


def rule(pattern=None, low=1, high=None, values=None, required=True, reserved=False):
    return {"pattern": pattern, "low": low, "high": high, "values": values, "required": required,
            "reserved": reserved}


# element (path below Package) -> attribute -> rule
RULES = {
    F + "Identity": {
        "Name": rule(r"[-.A-Za-z0-9]+", 3, 50, reserved=True),
        "Publisher": rule(PUBLISHER, 1, 8192),
        # "Major.Minor.Build.Revision where Major cannot be 0"
        "Version": rule(r"[1-9][0-9]*\.[0-9]+\.[0-9]+\.[0-9]+"),
        "ProcessorArchitecture": rule(values={"x86", "x64", "arm", "arm64", "x86a64", "neutral"}, required=False),
    },
    F + "Dependencies/" + F + "TargetDeviceFamily": {
        "Name": rule(r"[A-Za-z][A-Za-z0-9.]*", 3, 64),
        "MinVersion": rule(VERSION),
        "MaxVersionTested": rule(VERSION),
    },
    F + "Applications/" + F + "Application": {
        "Id": rule(r"[A-Za-z][A-Za-z0-9]*(\.[A-Za-z][A-Za-z0-9]*)*", 1, 64, reserved=True),
        "Executable": rule(FILE + r"\.[Ee][Xx][Ee]", 1, 256),
        UAP10 + "TrustLevel": rule(values={"appContainer", "mediumIL"}, required=False),
        UAP10 + "RuntimeBehavior": rule(values={"packagedClassicApp", "win32App", "windowsApp"}, required=False),
    },
    F + "Applications/" + F + "Application/" + UAP + "VisualElements": {
        "DisplayName": rule(None, 1, 256),
        "Description": rule(None, 1, 2048),
        "BackgroundColor": rule(COLOR),
        "Square150x150Logo": rule(IMAGE, 1, 256),
        "Square44x44Logo": rule(IMAGE, 1, 256),
        "AppListEntry": rule(values={"default", "none"}, required=False),
    },
    ".//" + D4 + "Extension": {
        "Category": rule(values={"windows.fileExplorerContextMenus"}),
    },
    ".//" + D4 + "FileExplorerContextMenus/" + D5 + "ItemType": {
        "Type": rule(r"\*|Directory|Directory\\Background|\.[^.\\/<>:\"|?* ]+", 1, 64),
    },
    ".//" + D4 + "FileExplorerContextMenus/" + D4 + "ItemType": {
        "Type": rule(r"\*|Directory|Directory\\Background|\.[^.\\/<>:\"|?* ]+", 1, 64),
    },
    ".//" + D5 + "ItemType/" + D5 + "Verb": {
        "Id": rule(r"[A-Za-z0-9]+", 3, 64),
        "Clsid": rule(GUID),
    },
    ".//" + D4 + "ItemType/" + D4 + "Verb": {
        "Id": rule(r"[A-Za-z0-9]+", 3, 64),
        "Clsid": rule(GUID),
    },
    ".//" + COM + "Extension": {
        "Category": rule(values={"windows.comServer"}),
    },
    ".//" + COM + "ComServer/" + COM + "SurrogateServer": {
        "DisplayName": rule(None, 1, 256, required=False),
        "AppId": rule(GUID, required=False),
    },
    ".//" + COM + "SurrogateServer/" + COM + "Class": {
        "Id": rule(GUID),
        "Path": rule(FILE, 1, 256),
        "ThreadingModel": rule(values={"Both", "STA", "MTA", "MainSTA", "Neutral"}),
        "DisplayName": rule(None, 1, 256, required=False),
    },
}

# Text content: Properties' children.
TEXTS = {
    F + "Properties/" + F + "DisplayName": rule(None, 1, 256),
    F + "Properties/" + F + "PublisherDisplayName": rule(None, 1, 256),
    F + "Properties/" + F + "Logo": rule(IMAGE, 1, 256),
    F + "Properties/" + UAP10 + "AllowExternalContent": rule(values={"true", "false"}, required=False),
}

# Elements that must be there at least once.
PRESENT = [F + "Identity", F + "Properties", F + "Resources/" + F + "Resource",
           F + "Dependencies/" + F + "TargetDeviceFamily", F + "Applications/" + F + "Application",
           F + "Applications/" + F + "Application/" + UAP + "VisualElements"]


def short(name):
    for prefix, uri in (("", F), ("uap:", UAP), ("uap10:", UAP10), ("desktop4:", D4), ("desktop5:", D5),
                        ("com:", COM)):
        name = name.replace(uri, prefix)
    return name


def judge(what, value, r):
    if value is None:
        return ["missing"] if r["required"] else []
    found = []
    if r["values"] is not None and value not in r["values"]:
        found.append("%r is none of %s" % (value, sorted(r["values"])))
    if r["pattern"] is not None and not re.fullmatch(r["pattern"], value):
        found.append("%r does not match the documented form" % value)
    if len(value) < r["low"] or (r["high"] is not None and len(value) > r["high"]):
        found.append("%r is %d characters, %d to %s allowed" % (value, len(value), r["low"], r["high"] or "any"))
    if r["reserved"] and value.upper() in RESERVED:
        found.append("%r is a reserved name" % value)
    return found


def check(manifest):
    faults = []
    root = ET.fromstring(manifest)
    if root.tag != F + "Package":
        return ["the root element is %s, not Package" % short(root.tag)]
    for path in PRESENT:
        if root.find(path) is None:
            faults.append("%s is missing" % short(path))
    for path, attributes in RULES.items():
        for element in root.findall(path):
            for name, r in attributes.items():
                faults += ["%s %s: %s" % (short(element.tag), short(name), f)
                           for f in judge(name, element.get(name), r)]
    for path, r in TEXTS.items():
        element = root.find(path)
        if element is not None or r["required"]:
            faults += ["%s: %s" % (short(path.split("/")[-1]), f)
                       for f in judge(path, None if element is None else (element.text or ""), r)]
    return faults


def main():
    source = sys.argv[1]
    if source.lower().endswith(".msix"):
        manifest = zipfile.ZipFile(source).read("AppxManifest.xml")
    else:
        manifest = open(source, "rb").read()
    faults = check(manifest)
    for fault in faults:
        print("check-manifest: " + fault)
    if not faults:
        print("check-manifest: %s follows the documented rules of every element it uses" % source)
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
