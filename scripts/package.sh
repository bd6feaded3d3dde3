#!/bin/bash
# Builds the Windows Installer packages from installer/:
#   <build>/VardelQuennel-<version>-x64.msi        64-bit Windows (both modules, 64-bit converter)
#   <build>/VardelQuennel-<version>-x86.msi        32-bit Windows
#   <build>/VardelQuennel-<version>-x64-user.msi   64-bit Windows, for one user without
#                                                  administrator rights (QuennelUser.wxs)
# The version is the modules' own (FILEVERSION in resources/QuennelExt.rc).
#
#   scripts/package.sh [--build-dir DIR] [--version A.B.C.D] [--out DIR] [--no-build]
#                      [--pfx CERT.pfx [--timestamp URL]]
#
#   --build-dir  the build tree with i686/ and x86_64/ (default: build); the
#                programs the packages hold are built there first when needed
#   --version    another package version (the tests build an older package
#                with it); the modules inside keep their own
#   --out        where the packages go (default: the build tree)
#   --no-build   package the programs as they are built already
#   --pfx        sign Windows 11's sparse package with this certificate (its
#                password in QUENNEL_PFX_PASSWORD); without it a test
#                certificate is made (build/x86_64/package/test-cert, kept
#                while valid, so that all packages of a run share one root)
#   --timestamp  a time-stamp server for that signature
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"

BUILD_DIR=build
VERSION=""
OUT=""
BUILD=1
PFX=""
TIMESTAMP=""
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) BUILD_DIR="${2:?--build-dir needs a folder}"; shift 2 ;;
        --version) VERSION="${2:?--version needs A.B.C.D}"; shift 2 ;;
        --out) OUT="${2:?--out needs a folder}"; shift 2 ;;
        --no-build) BUILD=0; shift ;;
        --pfx) PFX="${2:?--pfx needs a PKCS#12 file}"; shift 2 ;;
        --timestamp) TIMESTAMP="${2:?--timestamp needs a URL}"; shift 2 ;;
        -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "package: unknown argument $1" >&2; exit 2 ;;
    esac
done
OUT="${OUT:-$BUILD_DIR}"
# wixl takes the files' paths relative to the working directory only.
BUILD_DIR="$(realpath -m --relative-to="$ROOT" "$BUILD_DIR")"

if [ -z "$VERSION" ]; then
    # FILEVERSION 1,0,0,0 -> 1.0.0.0
    VERSION="$(sed -n 's/^[[:space:]]*FILEVERSION[[:space:]]\+\([0-9]\+\)[[:space:]]*,[[:space:]]*\([0-9]\+\)[[:space:]]*,[[:space:]]*\([0-9]\+\)[[:space:]]*,[[:space:]]*\([0-9]\+\).*/\1.\2.\3.\4/p' resources/QuennelExt.rc)"
fi
if ! [[ "$VERSION" =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
    echo "package: no version A.B.C.D (from resources/QuennelExt.rc or --version): '$VERSION'" >&2
    exit 1
fi

scripts/setup.sh msitools wixl osslsigncode

for arch in i686 x86_64; do
    [ $BUILD -eq 1 ] || break
    if [ ! -f "$BUILD_DIR/$arch/CMakeCache.txt" ]; then
        cmake -S . -B "$BUILD_DIR/$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" \
              -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    targets=(QuennelExt transform QuennelUserSetup)
    [ "$arch" = i686 ] || targets+=(QuennelMenu QuennelPackageSetup)
    cmake --build "$BUILD_DIR/$arch" -j"$(nproc)" --target "${targets[@]}" >/dev/null
done

# The sparse package of Windows 11's menu, signed: with the release
# certificate given by --pfx (docs/windows11-menu.md), else with a throwaway
# test certificate made now, which Windows trusts only where its root is
# installed (tests, developer machines).
mkdir -p "$OUT"
MSIX="$(realpath -m --relative-to="$ROOT" "$OUT")/VardelQuennel-$VERSION.msix"
if [ -n "$PFX" ]; then
    scripts/make-msix.sh --out "$MSIX" --version "$VERSION" --pfx "$PFX" ${TIMESTAMP:+--timestamp "$TIMESTAMP"} >/dev/null
else
    scripts/make-msix.sh --out "$MSIX" --version "$VERSION" --test-cert "$BUILD_DIR/x86_64/package/test-cert" >/dev/null
fi

# The per-user installation's package: the same, with an identity of its own.
MSIX_USER="$(realpath -m --relative-to="$ROOT" "$OUT")/VardelQuennel-$VERSION-user.msix"
if [ -n "$PFX" ]; then
    scripts/make-msix.sh --out "$MSIX_USER" --version "$VERSION" --name VardelSoftware.QuennelUser --pfx "$PFX" \
        ${TIMESTAMP:+--timestamp "$TIMESTAMP"} >/dev/null
else
    scripts/make-msix.sh --out "$MSIX_USER" --version "$VERSION" --name VardelSoftware.QuennelUser \
        --test-cert "$BUILD_DIR/x86_64/package/test-cert" >/dev/null
fi

# The static verb of the Windows 11 module, one key per extension of
# installer/StaticVerbExtensions.txt (wixl has no loops), written in the
# packages' code page. Below SystemFileAssociations, so that it shows
# whichever program owns the extension. ExplorerCommandHandler names the
# class, which asks GetFlags for the sub-commands (an empty SubCommands marks
# the verb as a cascade); Player: any number of selected items, one Invoke.
GENERATED="$(mktemp -d)"
trap 'rm -rf "$GENERATED"' EXIT
{
    printf '<?xml version="1.0" encoding="windows-1252"?>\n'
    printf '<!-- Made by scripts/package.sh from installer/StaticVerbExtensions.txt. -->\n<Include>\n'
    grep -v -e '^#' -e '^[[:space:]]*$' installer/StaticVerbExtensions.txt | while read -r extension; do
        key="\$(var.ClassesKey)SystemFileAssociations\\$extension\\shell\\VardelQuennel"
        printf '  <RegistryValue Root="$(var.ClassesRoot)" Key="%s" Name="%s" Type="string" Value="%s"/>\n' \
            "$key" MUIVerb 'Grafikformat ändern' \
            "$key" ExplorerCommandHandler '{B1DF1B31-F10C-4575-BE9E-643EB1BA1475}' \
            "$key" SubCommands '' \
            "$key" MultiSelectModel Player \
            "$key" Icon '[#QuennelMenu.dll],-101'
    done
    printf '</Include>\n'
} | iconv -f UTF-8 -t CP1252 >"$GENERATED/StaticVerbs.wxi"

mkdir -p "$OUT"
# Active Setup compares versions written with commas.
ACTIVE_SETUP_VERSION="${VERSION//./,}"
build_package() {  # source, wixl architecture, Arch variable, folder of the native programs, name suffix, sparse package
    local file="$OUT/VardelQuennel-$VERSION-$3$5.msi"
    wixl -a "$2" -D Arch="$3" -D Version="$VERSION" -D ActiveSetupVersion="$ACTIVE_SETUP_VERSION" \
         -D Bin="$4" -D Bin32="$BUILD_DIR/i686/bin" -D Msix="$6" -I installer -I "$GENERATED" \
         -o "$file.part" "installer/$1"
    mv "$file.part" "$file"
    echo "$file"
}
build_package Quennel.wxs x64 x64 "$BUILD_DIR/x86_64/bin" "" "$MSIX"
build_package Quennel.wxs x86 x86 "$BUILD_DIR/i686/bin" "" "$MSIX"
build_package QuennelUser.wxs x64 x64 "$BUILD_DIR/x86_64/bin" -user "$MSIX_USER"
