#!/bin/bash
# Shows the extension at work under Wine, as a user would meet it in Explorer:
# installs what is missing, builds, registers QuennelExt.dll in a private Wine
# prefix, installs the converter transform.exe, right-clicks the sample
# pictures, prints the context menu, chooses an entry and shows the files the
# converter wrote (name, format, size, as ImageMagick's identify reads them).
#
#   scripts/demo.sh [--arch i686|x86_64] [--choose TEXT] [--screenshot [FILE.png]] [PATH...]
#
#   --arch        i686 (default: the 32-bit module Explorer of the time loads) or x86_64
#   --choose      the entry to choose, by a part of its caption
#                 (default: "in das PNG Format konvertieren"); "Wizard" opens
#                 the wizard's dialog on a virtual display, where a helper
#                 prints what it shows and presses OK
#   --screenshot  also shows the menu under a virtual X display and saves a
#                 picture of it (default docs/menu.png), and a contact sheet of
#                 the results beside it (docs/results.png); with the wizard
#                 also a picture of its dialog (docs/wizard.png)
#   PATH...       files and folders to right-click instead of the samples; all
#                 in one folder, as in one Explorer window
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"

ARCH=i686
CHOICE="in das PNG Format konvertieren"
SCREENSHOT=""
PATHS=()
while [ $# -gt 0 ]; do
    case "$1" in
        --arch) ARCH="${2:?--arch needs i686 or x86_64}"; shift 2 ;;
        --choose) CHOICE="${2:?--choose needs a caption text}"; shift 2 ;;
        --screenshot)
            SCREENSHOT="$ROOT/docs/menu.png"; shift
            if [ $# -gt 0 ] && [[ "$1" == *.png ]]; then SCREENSHOT="$(realpath -m "$1")"; shift; fi ;;
        -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        --) shift; for p in "$@"; do PATHS+=("$(realpath -m "$p")"); done; break ;;
        -*) echo "demo: unknown option $1" >&2; exit 2 ;;
        *) PATHS+=("$(realpath -m "$1")"); shift ;;
    esac
done
cd "$ROOT"
case "$ARCH" in
    i686|x86_64) ;;
    *) echo "demo: --arch is i686 or x86_64, not $ARCH" >&2; exit 2 ;;
esac

step() { printf '\n== %s\n' "$*"; }
WIZARD=""
if [[ "${CHOICE,,}" == *wizard* ]]; then WIZARD=1; fi

step "Checking the tools"
if [ -n "$SCREENSHOT$WIZARD" ]; then scripts/setup.sh xvfb imagemagick; else scripts/setup.sh imagemagick; fi

step "Building ($ARCH)"
mkdir -p build
if ! QUENNEL_ARCHS="$ARCH" scripts/build.sh >build/demo-build.log 2>&1; then
    tail -n 40 build/demo-build.log >&2
    echo "demo: the build failed; the whole log is build/demo-build.log" >&2
    exit 1
fi
BIN="$ROOT/build/$ARCH/bin"
for f in QuennelExt.dll shellhost.exe transform.exe ${WIZARD:+wizardpilot.exe}; do
    [ -f "$BIN/$f" ] || { echo "demo: $BIN/$f was not built" >&2; exit 1; }
done

source scripts/wine-prefix.sh
XVFB_PID=""
cleanup() {
    wine_prefix_stop
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT

if [ -n "$SCREENSHOT$WIZARD" ]; then
    # Wine's desktop takes the display of the first program of the session, so
    # the virtual display comes first.
    display=""
    for n in $(seq 90 119); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
    done
    [ -n "$display" ] || { echo "demo: no free X display number" >&2; exit 1; }
    Xvfb ":$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
    export DISPLAY=":$display"
else
    unset DISPLAY
fi

step "Starting the private Wine prefix build/demo/wineprefix"
# A server left running by an interrupted run would keep the prefix from starting.
WINEPREFIX="$ROOT/build/demo/wineprefix" wineserver -k 2>/dev/null || true
WINEPREFIX="$ROOT/build/demo/wineprefix" wineserver -w 2>/dev/null || true
wine_prefix_start "$ROOT/build/demo/wineprefix"
DRIVE_C="$WINEPREFIX/drive_c"

step "Registering QuennelExt.dll"
if [ "$ARCH" = i686 ]; then REGSVR32='C:\windows\syswow64\regsvr32.exe'; else REGSVR32='C:\windows\system32\regsvr32.exe'; fi
wine "$REGSVR32" /s "$(winepath -w "$BIN/QuennelExt.dll")"
echo "registered $(winepath -w "$BIN/QuennelExt.dll")"

step "Installing the converter as C:\\Brindlework\\transform.exe"
mkdir -p "$DRIVE_C/Brindlework"
cp "$BIN/transform.exe" "$DRIVE_C/Brindlework/transform.exe"
wine reg add 'HKCU\Software\Vardel Software\Brindlework\SETUP' /v INSTDIR_P1 /t REG_SZ /d 'C:\Brindlework' /f >/dev/null
echo 'INSTDIR_P1 = C:\Brindlework   (HKCU\Software\Vardel Software\Brindlework\SETUP)'

HOST_ARGS=()
if [ ${#PATHS[@]} -eq 0 ]; then
    # The samples go onto the C: drive, where a user keeps pictures.
    rm -rf "$DRIVE_C/Bilder"
    cp -r "$ROOT/samples" "$DRIVE_C/Bilder"
    HOST_ARGS+=(--all 'C:\Bilder')
    step "Right-clicking everything in C:\\Bilder (a copy of samples/)"
else
    for p in "${PATHS[@]}"; do
        [ -e "$p" ] || { echo "demo: $p does not exist" >&2; exit 2; }
        HOST_ARGS+=("$(winepath -w "$p")")
    done
    step "Right-clicking ${#PATHS[@]} item(s)"
fi
HOST_ARGS+=(--choose "$CHOICE" --wait-for-exit transform.exe --timeout 600)

# What is there before, so that the converter's results can be told apart.
if [ ${#PATHS[@]} -eq 0 ]; then ROOTS=("$DRIVE_C/Bilder"); else ROOTS=("${PATHS[@]}"); fi
listing() { for r in "${ROOTS[@]}"; do if [ -d "$r" ]; then find "$r" -type f; else find "$(dirname "$r")" -maxdepth 1 -type f; fi; done | sort -u; }
BEFORE="$(listing)"

# No window manager runs on the virtual display: Wine draws the dialog's title
# bar itself.
if [ -n "$WIZARD" ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null
fi
# The wizard's dialog waits for a user; the pilot plays one. With a screenshot
# it waits until the picture is taken.
PILOT=""
if [ -n "$WIZARD" ]; then
    rm -f "$DRIVE_C/wizard.ready" "$DRIVE_C/wizard.go"
    pilot_args=(--timeout 600)
    if [ -n "$SCREENSHOT" ]; then pilot_args+=(--handshake 'C:\wizard.ready' --go 'C:\wizard.go'); fi
    wine "$BIN/wizardpilot.exe" "${pilot_args[@]}" &
    PILOT=$!
fi

status=0
if [ -z "$SCREENSHOT" ]; then
    wine "$BIN/shellhost.exe" "${HOST_ARGS[@]}" || status=$?
else
    handshake="$DRIVE_C/shellhost-menu.ready"
    rm -f "$handshake"
    wine "$BIN/shellhost.exe" "${HOST_ARGS[@]}" --show-menu \
        --menu-handshake 'C:\shellhost-menu.ready' &
    host=$!
    for _ in $(seq 600); do
        [ -e "$handshake" ] || ! kill -0 "$host" 2>/dev/null && break
        sleep 0.1
    done
    if [ -e "$handshake" ]; then
        mkdir -p "$(dirname "$SCREENSHOT")"
        import -window root "$SCREENSHOT"
        echo "(screenshot of the menu saved to $SCREENSHOT)"
        rm -f "$handshake"
    else
        echo "demo: the menu was not shown; no screenshot" >&2
    fi
    if [ -n "$WIZARD" ]; then
        for _ in $(seq 600); do
            [ -e "$DRIVE_C/wizard.ready" ] || ! kill -0 "$PILOT" 2>/dev/null && break
            sleep 0.1
        done
        if [ -e "$DRIVE_C/wizard.ready" ]; then
            shot="$(dirname "$SCREENSHOT")/wizard.png"
            # The dialog alone: the display around it is black.
            import -window root "$shot" && convert "$shot" -trim +repage "$shot"
            echo "(screenshot of the wizard saved to $shot)"
        else
            echo "demo: the wizard was not shown; no screenshot" >&2
        fi
        touch "$DRIVE_C/wizard.go"
    fi
    wait "$host" || status=$?
fi
if [ -n "$PILOT" ]; then wait "$PILOT" || echo "demo: the wizard's dialog did not appear" >&2; fi

step "What the converter wrote"
RESULTS=()
while IFS= read -r f; do [ -n "$f" ] && RESULTS+=("$f"); done < <(comm -13 <(printf '%s\n' "$BEFORE") <(listing))
if [ ${#RESULTS[@]} -eq 0 ]; then
    echo "(no new files)"
else
    for f in "${RESULTS[@]}"; do
        printf '%-32s %s\n' "$(winepath -w "$f" 2>/dev/null)" \
            "$(identify -format '%m %wx%h, ' "$f" 2>/dev/null | sed 's/, $//') $(stat -c %s "$f") bytes"
    done
    if [ -n "$SCREENSHOT" ]; then
        sheet="$(dirname "$SCREENSHOT")/results.png"
        montage -label '%f\n%m %wx%h' -geometry 160x120+8+8 -background white \
            "${RESULTS[@]/%/[0]}" "$sheet" 2>/dev/null && echo "(contact sheet of the results saved to $sheet)"
    fi
fi
exit "$status"
