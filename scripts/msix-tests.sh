#!/bin/bash
# The sparse package from outside: built and signed with a certificate made
# here, verified by osslsigncode against that test root, its zip, block map,
# content types and manifest checked by an independent script
# (tests/package/check-msix.py), its manifest against the documented schema
# rules of every element it uses (tests/package/check-manifest.py, which must
# refuse a class identifier in braces), the per-user package's own identity,
# and a package changed after signing refused.
#
#   scripts/msix-tests.sh [--module build/x86_64/bin/QuennelMenu.dll]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/setup.sh" osslsigncode
MODULE="$ROOT/build/x86_64/bin/QuennelMenu.dll"
[ "${1:-}" != "--module" ] || MODULE="${2:?}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
failures=0
check() {  # description, command...
    local what="$1"; shift
    if "$@" > "$WORK/out" 2>&1; then echo "ok   $what"; else echo "FAIL $what"; cat "$WORK/out"; failures=$((failures + 1)); fi
}
refused() { ! "$@"; }

CLSID="$(sed -n 's/.*Clsid="\([0-9A-Fa-f-]*\)".*/\1/p' "$ROOT/package/AppxManifest.xml" | head -1)"
PUBLISHER="CN=Vardel Software Test, O=Vardel Software, C=DE"  # the subject make-msix.sh gives its test signer

"$ROOT/scripts/make-msix.sh" --out "$WORK/VardelQuennel.msix" --version 1.2.3.4 --test-cert "$WORK/cert" >/dev/null
check "osslsigncode verifies the package against the test root" \
    bash -c "osslsigncode verify -CAfile '$WORK/cert/root.pem' -in '$WORK/VardelQuennel.msix' | grep -qx 'Signature verification: ok'"
check "without the test root the signer is not trusted" \
    bash -c "! osslsigncode verify -CAfile /dev/null -in '$WORK/VardelQuennel.msix' | grep -qx 'Signature verification: ok'"
module_arg=()
[ -f "$MODULE" ] && module_arg=("$MODULE") || echo "note: $MODULE not built; the module's class identifier is not checked"
check "plain zip, block map, content types and manifest (independent check)" \
    python3 "$ROOT/tests/package/check-msix.py" "$WORK/VardelQuennel.msix" "$PUBLISHER" "$CLSID" "${module_arg[@]}"
check "the manifest follows the documented schema rules (check-manifest.py)" \
    python3 "$ROOT/tests/package/check-manifest.py" "$WORK/VardelQuennel.msix"
sed 's/Clsid="\([0-9A-Fa-f-]*\)"/Clsid="{\1}"/' "$ROOT/package/AppxManifest.xml" >"$WORK/braces.xml"
check "a class identifier in braces is refused by the schema check" \
    bash -c "python3 '$ROOT/tests/package/check-manifest.py' '$WORK/braces.xml' | grep -q 'Verb Clsid: .{$CLSID}. does not match'"
check "and by the package check, which compares the class as written" \
    bash -c "! python3 '$ROOT/tests/package/check-msix.py' '$WORK/VardelQuennel.msix' '$PUBLISHER' '{$CLSID}'"
"$ROOT/scripts/make-msix.sh" --out "$WORK/VardelQuennelUser.msix" --version 1.2.3.4 --name VardelSoftware.QuennelUser \
    --test-cert "$WORK/cert" >/dev/null
check "the per-user package has its own identity and still follows the rules" \
    bash -c "unzip -p '$WORK/VardelQuennelUser.msix' AppxManifest.xml | grep -q '<Identity Name=\"VardelSoftware.QuennelUser\"' &&
             python3 '$ROOT/tests/package/check-manifest.py' '$WORK/VardelQuennelUser.msix' &&
             osslsigncode verify -CAfile '$WORK/cert/root.pem' -in '$WORK/VardelQuennelUser.msix' | grep -qx 'Signature verification: ok'"
check "the version given is the package's" \
    bash -c "unzip -p '$WORK/VardelQuennel.msix' AppxManifest.xml | grep -q 'Version=\"1.2.3.4\"'"
check "a publisher other than the signer's is found" \
    refused python3 "$ROOT/tests/package/check-msix.py" "$WORK/VardelQuennel.msix" "CN=Someone Else" "$CLSID"

# One letter of the manifest changed after signing, the zip rewritten whole
# (so its CRCs are right): both the signature and the block map must catch it.
python3 - "$WORK/VardelQuennel.msix" "$WORK/changed.msix" <<'PY'
import sys, zipfile
source = zipfile.ZipFile(sys.argv[1])
with zipfile.ZipFile(sys.argv[2], "w") as target:
    for info in source.infolist():
        data = source.read(info)
        if info.filename == "AppxManifest.xml":
            data = data.replace(b"<DisplayName>Vardel", b"<DisplayName>Wardel", 1)
        target.writestr(info, data, compress_type=info.compress_type)
PY
check "osslsigncode refuses a package changed after signing" \
    bash -c "! osslsigncode verify -CAfile '$WORK/cert/root.pem' -in '$WORK/changed.msix' | grep -qx 'Signature verification: ok'"
check "the block map no longer matches the changed manifest" \
    bash -c "python3 '$ROOT/tests/package/check-msix.py' '$WORK/changed.msix' '$PUBLISHER' '$CLSID' | grep -q 'AppxManifest.xml: block hashes differ'"

[ $failures -eq 0 ] || { echo "$failures package check(s) failed"; exit 1; }
echo "package checks passed"
