#!/bin/bash
# Installs what the build and the tests need on Debian, when it is missing.
# Quick and silent when everything is already there.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

have_cmd i686-w64-mingw32-g++-posix   || need+=(g++-mingw-w64-i686)
have_cmd x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64)
have_cmd x86_64-w64-mingw32-objdump   || need+=(binutils-mingw-w64-x86-64)
have_cmd cmake                         || need+=(cmake)
have_cmd make                          || need+=(make)
# The build fetches and patches the codecs' Debian sources (scripts/fetch-debian-source.sh)
# and assembles libjpeg-turbo's SIMD code with nasm.
have_cmd patch                         || need+=(patch)
have_cmd xz                            || need+=(xz-utils)
have_cmd bzip2                         || need+=(bzip2)
have_cmd nasm                          || need+=(nasm)
have_pkg wine                          || need+=(wine)
have_pkg wine64                        || need+=(wine64)
have_pkg wine32:i386                   || need+=(wine32:i386)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
for extra in "$@"; do have_pkg "$extra" || need+=("$extra"); done

if [ ${#need[@]} -eq 0 ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${need[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
