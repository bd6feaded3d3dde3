#!/bin/bash
# The converter's own-writer formats against ImageMagick writing the same
# format from the same pictures: transform.exe under Wine (one worker a core)
# and ImageMagick's convert run natively, one process a core (xargs -P).
# Both read the same JPEG photos, so each figure is decode + encode + write.
# Prints wall time, time a picture, the bytes written and the ratios
# ours/theirs; "-" where ImageMagick cannot write the format (Debian's
# policy refuses PostScript and PDF).
#
#   bench/formats/run.sh [--arch i686|x86_64] [--photos N] [--megapixels M] [--build DIR]
#
#   --photos N      pictures (default 20)
#   --megapixels M  their size (default 4: 2309x1732)
#   --build DIR     a configured build folder holding <arch>/ (default build;
#                   then scripts/build.sh builds it first)
#
# ImageMagick's settings follow ours: RLE with 256 colours (its own
# dithering), PCX 24-bit, icons of 256 (PNG), 48, 32 and 16, WBMP with
# Floyd-Steinberg, JPEG 2000 lossless (its default). The pictures are made
# once below the prefix's C:\bench.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
ARCH=x86_64 PHOTOS=20 MP=4 BUILD=""
while [ $# -gt 0 ]; do
    case "$1" in
        --arch) ARCH="$2"; shift 2 ;;
        --photos) PHOTOS="$2"; shift 2 ;;
        --megapixels) MP="$2"; shift 2 ;;
        --build) BUILD="$2"; shift 2 ;;
        -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
scripts/setup.sh imagemagick time
if [ -z "$BUILD" ]; then
    BUILD=build
    QUENNEL_ARCHS="$ARCH" scripts/build.sh >/dev/null
else
    cmake --build "$BUILD/$ARCH" --target transform >/dev/null
fi
source scripts/wine-prefix.sh
trap wine_prefix_stop EXIT
unset DISPLAY
wine_prefix_start "$ROOT/$BUILD/bench-formats/$ARCH/wineprefix"
WORK="$WINEPREFIX/drive_c/bench"
EXE="$ROOT/$BUILD/$ARCH/bin/transform.exe"
CORES=$(nproc)

W=$(awk "BEGIN{printf \"%d\", sqrt($MP*1000000*4/3)}"); H=$((W * 3 / 4))
SET="$WORK/set-$PHOTOS-$W"
if [ ! -f "$SET/.complete" ]; then
    rm -rf "$SET"; mkdir -p "$SET"
    for s in 1 2 3 4; do
        convert -seed "$s" -size "${W}x${H}" plasma:fractal -blur 0x1.5 -quality 92 "$SET/base$s.jpg"
    done
    for ((i = 0; i < PHOTOS; i++)); do cp "$SET/base$((i % 4 + 1)).jpg" "$SET/photo$(printf %04d "$i").jpg"; done
    rm -f "$SET"/base*.jpg
    touch "$SET/.complete"
fi

stage() { rm -rf "$WORK/run"; mkdir -p "$WORK/run"; cp "$SET"/photo*.jpg "$WORK/run/"; }
# "seconds peak-KiB" of the command.
measure() { /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" >/dev/null 2>&1 || true; tail -1 "$WORK/time.txt"; }
written() { find "$WORK/run" -name "photo*.$1" -printf '%s\n' | awk '{s += $1} END {print s + 0}'; }

ours() {  # token
    local list="$WORK/files.txt"
    : >"$list"
    for f in "$WORK/run"/photo*.jpg; do printf '%s\r\n' "$(winepath -w "$f")" >>"$list"; done
    measure wine "$EXE" "$(winepath -w "$list")" "$1"
}

theirs() {  # extension, ImageMagick's coder, convert's options before the output
    measure sh -c "ls '$WORK/run'/photo*.jpg | xargs -P $CORES -I{} sh -c 'convert \"\$1\" $3 \"$2:\${1%.jpg}.$1\"' _ {}"
}

echo "transform.exe ($ARCH, under Wine) against ImageMagick $(convert -version | sed -n '1s/Version: ImageMagick \([^ ]*\).*/\1/p') (native), $CORES cores"
echo "$PHOTOS photos of ${W}x${H} (JPEG); times include reading them"
printf '%-13s %9s %9s %11s %13s %13s %8s %8s\n' format ours_s theirs_s ours_ms/pic ours_bytes theirs_bytes ratio_t ratio_b
while IFS='|' read -r token ext coder imoptions; do
    stage; read -r ot _ < <(ours "$token"); ob=$(written "$ext")
    if [ -n "$coder" ]; then
        stage; read -r tt _ < <(theirs "$ext" "$coder" "$imoptions"); tb=$(written "$ext")
    else
        tt="-" tb="-"
    fi
    awk -v n="$token" -v ot="$ot" -v tt="$tt" -v ob="$ob" -v tb="$tb" -v p="$PHOTOS" 'BEGIN{
        rt = tt == "-" ? "-" : sprintf("%.2f", ot / tt); rb = tb == "-" ? "-" : sprintf("%.2f", ob / tb)
        printf "%-13s %9.2f %9s %11.0f %13d %13s %8s %8s\n", n, ot, tt, ot * 1000 / p, ob, tb, rt, rb}'
done <<'EOF'
TORLE|rle|bmp3|-dither FloydSteinberg -colors 256 -type Palette -compress RLE
TOPCX|pcx|pcx|
TOICO|ico|ico|-resize 256x256 -define icon:auto-resize=256,48,32,16
TOWBMP|wbmp|wbmp|-colorspace Gray -dither FloydSteinberg -monochrome
TOPS|ps||
TOPDF|pdf||
TOJPEG2000|jp2|jp2|
TOJPEG2000CS|j2k|j2k|
EOF
rm -rf "$WORK/run"
