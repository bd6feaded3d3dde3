#!/bin/bash
# Runs a Windows program under Wine on a private virtual X display, for the
# tests that show windows (without a display Wine makes no window at all).
#
#   scripts/wine-with-display.sh PROGRAM.exe [ARG...]    (WINEPREFIX set)
#
# Wine's desktop takes the display of the first program of a wineserver
# session, and every later program of the session shares that desktop. The
# test command keeps one display-less session running, so this script ends
# it, runs the program in a session of its own on the virtual display, and
# then starts the display-less one again as it was. (CTest runs the tests of
# a prefix one after another; this would end a parallel test's session.)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
: "${WINEPREFIX:?WINEPREFIX must name the private prefix}"
export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
command -v Xvfb >/dev/null || { echo "wine-with-display: Xvfb is missing (apt-get install xvfb)" >&2; exit 1; }

# Servers and helpers started here must not hold the caller's output open.
session_start() {
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}
session_stop() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
}

# Xvfb picks a free display number itself and names it once it takes clients.
number_file="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" </dev/null >/dev/null 2>&1 &
xvfb=$!
had_session=0
cleanup() {
    session_stop
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
    rm -f "$number_file"
    if [ "$had_session" = 1 ]; then (unset DISPLAY; session_start); fi
}
trap cleanup EXIT
for _ in $(seq 100); do
    [ -s "$number_file" ] && break
    kill -0 "$xvfb" 2>/dev/null || { echo "wine-with-display: Xvfb did not start" >&2; exit 1; }
    sleep 0.1
done
[ -s "$number_file" ] || { echo "wine-with-display: Xvfb named no display" >&2; exit 1; }

if wineserver -k </dev/null >/dev/null 2>&1; then had_session=1; fi
wineserver -w </dev/null >/dev/null 2>&1 || true
export DISPLAY=":$(head -n 1 "$number_file")"
session_start
status=0
"$here/wine-run.sh" "$@" || status=$?
exit $status
