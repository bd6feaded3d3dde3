#!/bin/bash
# Source this: creates (when missing) the private Wine prefix of build/<arch>
# and keeps one wineserver running for it until wine_prefix_stop.
wine_prefix_start() {
    export WINEPREFIX="$1"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1
        # wineboot leaves its server running for a few seconds, and
        # "wineserver -p" fails (exit 2) while a server runs for the prefix.
        wineserver -w
    fi
    wineserver -p
    # Start Wine's services now, detached from our output: a service started by
    # the first test would inherit CTest's pipe and keep CTest waiting.
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}
wine_prefix_stop() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}
