#!/usr/bin/env python3
"""Judges what the package step (QuennelPackageSetup.exe) handed PowerShell,
as tests/package/RecordingPowerShell.cpp recorded it:

    check-package-step.py CALLS FOLDER NAME KIND...

FOLDER is the install folder, NAME the package identity, each KIND one
call in order: register, unregister or unregister-all. Every call must
- have a command line of fixed switches and Base64 digits only;
- run a script (-EncodedCommand: Base64 of UTF-16LE) that holds no text of
  the folder and no quote of its own but 'Stop', whose every $ reads one of
  the step's environment variables (or sets $ErrorActionPreference): so no
  character of a folder name can end a string or start a command;
- carry the values exactly: the folder, the package beside it, the name.
Prints one line per finding and exits 1 on any."""
import base64
import re
import sys

calls_file, folder, name, kinds = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
try:
    text = open(calls_file, encoding="utf-8").read()
except OSError as error:
    text = ""
    print("check-package-step: no calls recorded (%s)" % error)
calls = []
for block in text.split("--\n"):
    if not block.strip():
        continue
    fields = dict(line.split("=", 1) for line in block.splitlines() if "=" in line)
    calls.append(fields)

faults = []
if len(calls) != len(kinds):
    faults.append("%d calls recorded, %d expected (%s)" % (len(calls), len(kinds), " ".join(kinds)))
COMMAND = re.compile(r'"[^"]*\\WindowsPowerShell\\v1\.0\\powershell\.exe" -NoProfile -NonInteractive '
                     r'-ExecutionPolicy Bypass -EncodedCommand ([A-Za-z0-9+/]+={0,2})')
DOLLAR = re.compile(r"\$(?!env:QUENNEL_(PACKAGE|FOLDER|PACKAGE_NAME)\b|ErrorActionPreference\b)")
leaf = folder.rsplit("\\", 1)[-1]
for number, (call, kind) in enumerate(zip(calls, kinds), 1):
    where = "call %d (%s)" % (number, kind)
    match = COMMAND.fullmatch(call.get("command", ""))
    if not match:
        faults.append("%s: command line %r is not switches and Base64 alone" % (where, call.get("command")))
        continue
    script = base64.b64decode(match.group(1)).decode("utf-16-le")
    if leaf in script or folder in script:
        faults.append("%s: the folder's text is in the script: %r" % (where, script))
    if re.search(r"['\"`\u2018\u2019\u201a\u201b]", script.replace("'Stop'", "")):
        faults.append("%s: the script quotes something: %r" % (where, script))
    if DOLLAR.search(script):
        faults.append("%s: the script reads other variables: %r" % (where, script))
    if kind == "register":
        if not re.search(r"Add-AppxPackage -Path \$env:QUENNEL_PACKAGE -ExternalLocation \$env:QUENNEL_FOLDER\b",
                         script):
            faults.append("%s: no Add-AppxPackage of the variables: %r" % (where, script))
        if call.get("QUENNEL_FOLDER") != folder:
            faults.append("%s: QUENNEL_FOLDER %r, the folder is %r" % (where, call.get("QUENNEL_FOLDER"), folder))
        if call.get("QUENNEL_PACKAGE") != folder + "\\VardelQuennel.msix":
            faults.append("%s: QUENNEL_PACKAGE %r" % (where, call.get("QUENNEL_PACKAGE")))
    else:
        all_users = kind == "unregister-all"
        removal = (r"Get-AppxPackage -AllUsers -Name \$env:QUENNEL_PACKAGE_NAME \| Remove-AppxPackage -AllUsers"
                   if all_users else r"Get-AppxPackage -Name \$env:QUENNEL_PACKAGE_NAME \| Remove-AppxPackage$")
        if not re.search(removal, script):
            faults.append("%s: not the removal asked for: %r" % (where, script))
        if call.get("QUENNEL_PACKAGE_NAME") != name:
            faults.append("%s: QUENNEL_PACKAGE_NAME %r, expected %r" % (where, call.get("QUENNEL_PACKAGE_NAME"), name))

for fault in faults:
    print("check-package-step: " + fault)
if not faults:
    print("check-package-step: %d calls (%s), values exact, scripts fixed" % (len(calls), " ".join(kinds)))
sys.exit(1 if faults else 0)
