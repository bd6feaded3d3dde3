#!/bin/bash
# Host build of the extension's pure byte rules under AddressSanitizer and
# UndefinedBehaviorSanitizer: unit tests against reference models, each
# fuzzer's seed corpus replayed, then each fuzzer run for a bounded time.
# Installs clang, its fuzzer runtime, g++, cmake, OpenJPEG's and zlib's headers,
# libtiff's tools (a fax coder the readers' tests use) and the JPEG, deflate,
# PNG and Little CMS libraries when they are missing.
#
#   scripts/native-tests.sh                 # build dir build-native, 10 s a fuzzer
#   NATIVE_FUZZ_SECONDS=60 scripts/native-tests.sh
#   NATIVE_BUILD_DIR=/tmp/nb scripts/native-tests.sh
#   NATIVE_32=0 scripts/native-tests.sh    # without the second, 32-bit pass
#
# The second pass builds the same with -m32 (clang's i386 runtimes, the
# i386 codec libraries, multilib), runs its unit tests and corpus replays and
# fuzzes the readers, the resampler and the row path for half the time: the x86 package's
# converter is 32-bit, and a size product that wraps only there must fail here.
#
# Exits non-zero on any failure; its last line reads "native: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${NATIVE_BUILD_DIR:-$root/build-native}
seconds=${NATIVE_FUZZ_SECONDS:-10}

have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
need=()
have_cmd clang++ || need+=(clang)
have_pkg libclang-rt-14-dev || have_pkg libclang-rt-dev || need+=(libclang-rt-14-dev)
have_cmd g++ || need+=(g++)
have_cmd cmake || need+=(cmake)
have_cmd make || need+=(make)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
have_pkg libopenjp2-7-dev || need+=(libopenjp2-7-dev)
[ -f /usr/include/zlib.h ] || need+=(zlib1g-dev)
have_cmd tiffcp || need+=(libtiff-tools)
# The JPEG and PNG code is built on the host's libjpeg-turbo and libdeflate
# (the same Debian versions the Windows build compiles); libpng judges it.
have_pkg libjpeg62-turbo-dev || need+=(libjpeg62-turbo-dev)
have_pkg libdeflate-dev || need+=(libdeflate-dev)
have_pkg libpng-dev || need+=(libpng-dev)
have_pkg libgif-dev || need+=(libgif-dev)
have_pkg libwebp-dev || need+=(libwebp-dev)
# The JPEG XL reader: the host's libjxl (the Debian version the Windows build compiles).
have_pkg libjxl-dev || need+=(libjxl-dev)
have_pkg libraw-dev || need+=(libraw-dev)
# Little CMS for the Photoshop reader's Lab documents (the Debian version the
# Windows build compiles); Pillow judges the readers beside ImageMagick.
have_pkg liblcms2-dev || need+=(liblcms2-dev)
have_pkg python3-pil || need+=(python3-pil)
# The PNG and TIFF readers and the TIFF writer: libspng, libtiff.
have_pkg libspng-dev || need+=(libspng-dev)
have_pkg libtiff-dev || need+=(libtiff-dev)
# The HEIF reader: libheif.
have_pkg libheif-dev || need+=(libheif-dev)
if [ "${NATIVE_32:-1}" != 0 ]; then
    have_pkg g++-multilib || need+=(gcc-multilib g++-multilib)
    for p in libjpeg62-turbo-dev libdeflate-dev libpng-dev zlib1g-dev libopenjp2-7-dev liblcms2-dev libspng-dev libtiff-dev libgif-dev libwebp-dev libjxl-dev libraw-dev; do
        have_pkg "$p:i386" || need+=("$p:i386")
    done
    have_pkg libheif-dev:i386 || need+=(libheif-dev:i386)
fi
if [ ${#need[@]} -gt 0 ]; then
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    echo "Installing: ${need[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null || {
        echo "native: could not install ${need[*]}"; echo "native: 0 passed, 1 failed"; exit 1; }
fi

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS  $1"; }
fail() { failed=$((failed + 1)); echo "FAIL  $1"; }
finish() {
    echo "native: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit $?
}

# One pass: configure, build, unit tests and corpus replays, then each fuzzer
# matching $4 for $3 seconds. $1 the build dir, $2 extra flags ("" or -m32).
run_pass() {
    local build=$1 flags=$2 seconds=$3 only=$4 label=${2:+ $2}
    mkdir -p "$build"
    if ! cmake -S tests/native -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            ${flags:+-DCMAKE_C_COMPILER=clang -DCMAKE_C_FLAGS=$flags -DCMAKE_CXX_FLAGS=$flags -DCMAKE_EXE_LINKER_FLAGS=$flags} \
            >"$build/configure.log" 2>&1; then
        cat "$build/configure.log"; fail "configure$label"; return
    fi
    if ! cmake --build "$build" -j"${NATIVE_JOBS:-2}" >"$build/build.log" 2>&1; then
        tail -50 "$build/build.log"; fail "build$label"; return
    fi
    pass "build (clang++$label, -fsanitize=address,undefined)"

    # The unit tests and the corpus replays, one CTest test each.
    local ctest_out ctest_rc gtest_count
    ctest_out=$(ctest --test-dir "$build" --output-on-failure 2>&1)
    ctest_rc=$?
    echo "$ctest_out" | grep -E "Test +#|tests passed|FAILED|Failed" | sed 's/^/  /'
    if [ $ctest_rc -eq 0 ]; then pass "sanitizer unit tests and corpus replays$label"; else echo "$ctest_out" | tail -60; fail "sanitizer unit tests and corpus replays$label"; fi
    gtest_count=$("$build/native_rules_tests" --gtest_list_tests 2>/dev/null | grep -c '^  ')
    echo "  native_rules_tests$label: $gtest_count test cases"

    # Each fuzzer for a bounded time: new inputs go to a scratch corpus in the
    # build dir, the seeds in tests/native/corpus/ stay as they are.
    printf '\n  %-22s %10s %12s %8s %8s\n' "fuzzer$label" "seconds" "executions" "corpus" "crashes"
    local target work log rc runs corpus crashes
    for target in $(cat "$build/fuzz-targets.txt" 2>/dev/null | tr ';' ' '); do
        [[ "$target" =~ $only ]] || continue
        work="$build/fuzz/$target"
        rm -rf "$work/artifacts"
        mkdir -p "$work/corpus" "$work/artifacts"
        log="$work/run.log"
        ASAN_OPTIONS=detect_leaks=1 "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
            "$work/corpus" "tests/native/corpus/$target" >"$log" 2>&1
        rc=$?
        runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' | tail -1)
        corpus=$(ls "$work/corpus" | wc -l)
        crashes=$(ls "$work/artifacts" | wc -l)
        printf '  %-22s %10s %12s %8s %8s\n' "$target" "$seconds" "${runs:-?}" "$corpus" "$crashes"
        if [ $rc -eq 0 ] && [ "$crashes" -eq 0 ] && [ -n "$runs" ]; then
            pass "fuzz $target$label"
        else
            grep -E "ERROR|SUMMARY|==|abort|differs|wrote|deadly" "$log" | head -20
            ls "$work/artifacts"
            fail "fuzz $target$label (exit $rc, see $log)"
        fi
    done
}

run_pass "$build" "" "$seconds" "."
if [ "${NATIVE_32:-1}" != 0 ]; then
    echo
    run_pass "${build}32" "-m32" "$(( (seconds + 1) / 2 ))" "readers|resample|rows|metadata|codecs|jxl"
fi
finish
