#!/bin/bash
# Builds both architectures and runs every test under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
# ImageMagick and Pillow judge the converter's results from outside; the
# wizard's test shows its dialog on a virtual X display (Xvfb).
scripts/setup.sh imagemagick libmagickcore-6.q16-6-extra ghostscript poppler-utils libopenjp2-tools xvfb libimage-exiftool-perl python3-pil libtiff-tools libheif-examples libjxl-tools libraw-bin libvips-tools
# The byte-level rules, built natively under the sanitizers, and the fuzzers
# for a bounded time.
native_status=0
scripts/native-tests.sh || native_status=1
scripts/build.sh
source scripts/wine-prefix.sh
trap wine_prefix_stop EXIT
status=0
for arch in ${QUENNEL_ARCHS:-i686 x86_64}; do
    wine_prefix_start "$PWD/build/$arch/wineprefix"
    ctest --test-dir "build/$arch" --output-on-failure || status=1
    wine_prefix_stop
done
# Windows 11's sparse package: built, signed with a test certificate and
# verified from outside.
scripts/msix-tests.sh || status=1
# The installer packages hold both architectures' programs: install, use,
# upgrade and remove them under Wine.
archs=" ${QUENNEL_ARCHS:-i686 x86_64} "
if [[ "$archs" == *" i686 "* && "$archs" == *" x86_64 "* ]]; then
    scripts/installer-tests.sh || status=1
fi
[ $native_status -eq 0 ] || { echo "native sanitizer tests or fuzzers failed"; status=1; }
exit $status
