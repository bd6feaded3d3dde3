#!/bin/sh
# Runs a Windows program under Wine in the build tree's private prefix.
# Used as CMAKE_CROSSCOMPILING_EMULATOR, so CTest starts every test this way.
set -e
: "${WINEPREFIX:?WINEPREFIX must name the private prefix (the test script sets it)}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
fi
# A GoogleTest program also writes its report, and the names of the tests
# that failed are printed from it: the program's own output may stop short
# under Wine (seen: nothing after the first test's start line).
case "$1" in
*_tests.exe)
    report="$(mktemp --suffix=.xml)"
    status=0
    wine "$@" "--gtest_output=xml:Z:$(printf '%s' "$report" | tr / '\\\\')" || status=$?
    python3 "$(dirname "$0")/gtest-summary.py" "$report" || true
    rm -f "$report"
    exit $status
    ;;
esac
exec wine "$@"
