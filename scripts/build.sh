#!/bin/bash
# Configures and builds both architectures: build/i686 and build/x86_64.
set -euo pipefail
cd "$(dirname "$0")/.."
ARCHS="${QUENNEL_ARCHS:-i686 x86_64}"
for arch in $ARCHS; do
    if [ ! -f "build/$arch/CMakeCache.txt" ]; then
        cmake -S . -B "build/$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" \
              -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    cmake --build "build/$arch" -j"$(nproc)"
done
