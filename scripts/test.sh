#!/bin/bash
# Builds both architectures and runs every test under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
source scripts/wine-prefix.sh
trap wine_prefix_stop EXIT
status=0
for arch in ${QUENNEL_ARCHS:-i686 x86_64}; do
    wine_prefix_start "$PWD/build/$arch/wineprefix"
    ctest --test-dir "build/$arch" --output-on-failure || status=1
    wine_prefix_stop
done
exit $status
