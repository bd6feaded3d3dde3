#!/bin/bash
# Builds and signs the sparse package VardelQuennel.msix (scripts/msix.py,
# then osslsigncode). The manifest's Publisher is taken from the signing
# certificate's subject, as Windows requires.
#
#   scripts/make-msix.sh --out FILE [--version A.B.C.D] [--name NAME] --pfx FILE [--timestamp URL]
#   scripts/make-msix.sh --out FILE [--version A.B.C.D] [--name NAME] --test-cert DIR
#
#   --name       the package identity's Name (default: the manifest's); each
#                kind of installation has its own, so that removing one
#                leaves the other's registration alone
#   --pfx        the release certificate (PKCS#12, code signing); its password,
#                if any, in the variable QUENNEL_PFX_PASSWORD
#   --timestamp  an RFC 3161 time-stamp server, so that the signature
#                outlives the certificate (releases)
#   --test-cert  makes a throwaway root and a signer below it in DIR
#                (root.pem, signer.pem, signer.key; kept while valid for
#                another hour) and signs with those;
#                DIR/root.pem then verifies the package:
#                osslsigncode verify -CAfile DIR/root.pem -in FILE
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT=""; VERSION=""; NAME=""; PFX=""; TEST_DIR=""; TIMESTAMP=""
while [ $# -gt 0 ]; do
    case "$1" in
        --out) OUT="${2:?}"; shift 2 ;;
        --version) VERSION="${2:?}"; shift 2 ;;
        --name) NAME="${2:?}"; shift 2 ;;
        --pfx) PFX="${2:?}"; shift 2 ;;
        --test-cert) TEST_DIR="${2:?}"; shift 2 ;;
        --timestamp) TIMESTAMP="${2:?}"; shift 2 ;;
        -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "make-msix: unknown argument $1" >&2; exit 2 ;;
    esac
done
[ -n "$OUT" ] || { echo "make-msix: --out is needed" >&2; exit 2; }
if [ -n "$PFX" ] && [ -n "$TEST_DIR" ] || [ -z "$PFX$TEST_DIR" ]; then
    echo "make-msix: give either --pfx or --test-cert" >&2; exit 2
fi
if [ -z "$VERSION" ]; then
    VERSION="$(sed -n 's/^[[:space:]]*FILEVERSION[[:space:]]\+\([0-9]\+\),\([0-9]\+\),\([0-9]\+\),\([0-9]\+\).*/\1.\2.\3.\4/p' "$ROOT/menu11/QuennelMenu.rc")"
fi

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

if [ -n "$TEST_DIR" ] && ! { [ -f "$TEST_DIR/signer.key" ] &&
        openssl x509 -in "$TEST_DIR/signer.pem" -noout -checkend 3600 >/dev/null 2>&1; }; then
    mkdir -p "$TEST_DIR"
    cat > "$WORK/signer.ext" <<'EXT'
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
EXT
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Vardel Quennel Test Root" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
        -keyout "$WORK/root.key" -out "$TEST_DIR/root.pem" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -subj "/C=DE/O=Vardel Software/CN=Vardel Software Test" \
        -keyout "$TEST_DIR/signer.key" -out "$WORK/signer.csr" 2>/dev/null
    openssl x509 -req -in "$WORK/signer.csr" -CA "$TEST_DIR/root.pem" -CAkey "$WORK/root.key" \
        -CAcreateserial -days 2 -extfile "$WORK/signer.ext" -out "$TEST_DIR/signer.pem" 2>/dev/null
fi
if [ -n "$TEST_DIR" ]; then
    CERT="$TEST_DIR/signer.pem"
    SIGN_WITH=(-certs "$TEST_DIR/signer.pem" -key "$TEST_DIR/signer.key")
else
    PASS=()
    [ -z "${QUENNEL_PFX_PASSWORD:-}" ] || PASS=(-pass "$QUENNEL_PFX_PASSWORD")
    openssl pkcs12 -in "$PFX" -clcerts -nokeys -passin "pass:${QUENNEL_PFX_PASSWORD:-}" -out "$WORK/cert.pem"
    CERT="$WORK/cert.pem"
    SIGN_WITH=(-pkcs12 "$PFX" "${PASS[@]}")
fi
# "CN=Vardel Software Test,O=Vardel Software,C=DE" (RFC 2253 lists the last
# name part first, which is Windows' order), written with ", " as Windows does.
PUBLISHER="$(openssl x509 -in "$CERT" -noout -subject -nameopt RFC2253 | sed 's/^subject=//; s/\([^\\]\),/\1, /g')"

python3 "$ROOT/scripts/msix.py" --manifest "$ROOT/package/AppxManifest.xml" --assets "$ROOT/package/Assets" \
    --publisher "$PUBLISHER" --version "$VERSION" ${NAME:+--name "$NAME"} --out "$WORK/unsigned.msix"
TS=()
[ -z "$TIMESTAMP" ] || TS=(-ts "$TIMESTAMP")
osslsigncode sign "${SIGN_WITH[@]}" -h sha256 "${TS[@]}" -in "$WORK/unsigned.msix" -out "$WORK/signed.msix" >/dev/null
mv "$WORK/signed.msix" "$OUT"
echo "$OUT (Publisher \"$PUBLISHER\", version $VERSION)"
