#!/bin/bash
# The converter against ImageMagick on the same pictures, side by side in one
# run: transform.exe under Wine (one worker a core) and ImageMagick's convert
# run natively, one process a core (xargs -P), with the same settings: PNG at
# each one's default compression, JPEG at quality 90, and a reduction into
# 800x600 with the same bicubic (Catmull-Rom) filter, keeping JPEG.
# Prints wall time, per-picture time, peak memory and the ratio ours/theirs,
# for PNG also the ratio of the files' total sizes, and the floor: what the
# converter's codecs alone take for the same pictures (bench_codecs.exe, one
# core, spread over the cores), and how far each run is above it.
#
#   bench/converter/run.sh [--arch i686|x86_64] [--photos N] [--megapixels M] [--scale "10 100 1000"]
#                          [--scale-only] [--against OTHER.exe] [--exe THIS.exe]
#
#   --photos N      pictures for the format runs (default 16)
#   --megapixels M  their size (default 12: 4000x3000)
#   --scale LIST    counts of 1-megapixel pictures for the per-picture time
#                   at growing run sizes (default "10 100 1000")
#   --scale-only    only the per-picture series, not the format runs
#   --against EXE   another transform.exe (an older build) timed in the same
#                   series, alternating with this one, and the ratio
#   --exe EXE       the transform.exe to time instead of the build's own
#                   (which is then not built)
#   --tasks LIST    which of png, jpg, rs (the 800x600 preset) to run (default all)
#
# The pictures are made once below build/bench-converter/.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
ARCH=x86_64 PHOTOS=16 MP=12 SCALE="10 100 1000" TASKS="png jpg rs" SCALE_ONLY=0 AGAINST="" OWN_EXE=""
while [ $# -gt 0 ]; do
    case "$1" in
        --arch) ARCH="$2"; shift 2 ;;
        --photos) PHOTOS="$2"; shift 2 ;;
        --megapixels) MP="$2"; shift 2 ;;
        --scale) SCALE="$2"; shift 2 ;;
        --scale-only) SCALE_ONLY=1; shift ;;
        --against) AGAINST="$(realpath "$2")"; shift 2 ;;
        --exe) OWN_EXE="$(realpath "$2")"; shift 2 ;;
        -h|--help) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        --tasks) TASKS="$2"; shift 2 ;;
        *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
scripts/setup.sh imagemagick time
[ -n "$OWN_EXE" ] || QUENNEL_ARCHS="$ARCH" scripts/build.sh >/dev/null
source scripts/wine-prefix.sh
trap wine_prefix_stop EXIT
unset DISPLAY
wine_prefix_start "$ROOT/build/bench-converter/$ARCH/wineprefix"
WORK="$WINEPREFIX/drive_c/bench"
EXE="${OWN_EXE:-$ROOT/build/$ARCH/bin/transform.exe}"
CORES=$(nproc)

# N copies of a few distinct photos of W x H (plasma, slightly blurred: photo-like).
make_set() {
    local dir="$1" count="$2" w="$3" h="$4"
    [ -f "$dir/.complete-$count" ] && return
    rm -rf "$dir"; mkdir -p "$dir"
    for s in 1 2 3 4; do
        convert -size "${w}x${h}" plasma:fractal -seed "$s" -blur 0x1.5 -quality 92 "$dir/base$s.jpg"
    done
    for ((i = 0; i < count; i++)); do cp "$dir/base$((i % 4 + 1)).jpg" "$dir/photo$(printf %04d "$i").jpg"; done
    rm -f "$dir"/base*.jpg
    touch "$dir/.complete-$count"
}

# A fresh copy of the set's sources in "$2" (results of earlier runs gone).
stage() { rm -rf "$2"; mkdir -p "$2"; cp "$1"/photo*.jpg "$2/"; }

# Prints "seconds peak-KiB" of the command; the peak is that of its largest
# process (ImageMagick runs one a core at a time).
measure() { /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" >/dev/null 2>&1 || true; cat "$WORK/time.txt" | tail -1; }

# The converter runs in a process Wine starts for it, not in the one that
# "wine" leaves behind: its peak resident size (VmHWM) is read from /proc
# while it runs. Prints "seconds peak-KiB".
# The transform.exe processes of this prefix (supervisor and workers), not
# those of other prefixes on the same machine.
our_pids() {
    local pid
    for pid in $(pgrep -f 'transform\.exe' || true); do
        { tr '\0' '\n' < "/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$pid"
    done
    return 0
}

ours() {  # dir token [exe]
    local list="$WORK/files.txt" peak=0 pid="" start end hwm exe="${3:-$EXE}"
    : > "$list"
    for f in "$1"/photo*.jpg; do printf '%s\r\n' "$(winepath -w "$f")" >> "$list"; done
    local listArg
    listArg="$(winepath -w "$list")"  # a Wine start of its own: not part of the run
    start=$(date +%s.%N)
    wine "$exe" "$listArg" "$2" >/dev/null 2>&1 &
    local launcher=$!
    while kill -0 "$launcher" 2>/dev/null || [ -n "$(our_pids)" ]; do
        for pid in $(our_pids); do
            hwm=$(awk '/VmHWM/{print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
            [ "${hwm:-0}" -gt "$peak" ] && peak=$hwm
        done
        # Seldom enough that the watching costs the run next to nothing;
        # VmHWM keeps the peak between two looks.
        sleep 0.5
    done
    wait "$launcher" 2>/dev/null || true
    end=$(date +%s.%N)
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN{printf "%.2f", b-a}') $peak"
}

theirs() {  # dir kind
    case "$2" in
        png) measure sh -c "ls '$1'/photo*.jpg | xargs -P $CORES -I{} sh -c 'convert \"\$1\" \"\${1%.jpg}.png\"' _ {}" ;;
        jpg) measure sh -c "ls '$1'/photo*.jpg | xargs -P $CORES -I{} sh -c 'convert \"\$1\" -quality 90 \"\${1%.jpg}-im.jpg\"' _ {}" ;;
        rs) measure sh -c "ls '$1'/photo*.jpg | xargs -P $CORES -I{} sh -c 'convert \"\$1\" -filter Catrom -resize 800x600 -quality 90 \"\${1%.jpg}-im.jpg\"' _ {}" ;;
    esac
}

if [ "$SCALE_ONLY" = 0 ]; then
W=$(awk "BEGIN{printf \"%d\", sqrt($MP*1000000*4/3)}"); H=$((W * 3 / 4))
SET="$WORK/set-$PHOTOS-$W"
make_set "$SET" "$PHOTOS" "$W" "$H"
echo "transform.exe ($ARCH, under Wine) against ImageMagick $(convert -version | sed -n '1s/Version: ImageMagick \([^ ]*\).*/\1/p') (native), $CORES cores"
echo "$PHOTOS photos of ${W}x${H} (JPEG)"
# The floor: the codecs alone on four of the photos, one core, in ms a picture.
read -r _ f_decode _ f_jpeg _ f_png _ f_preset < <(wine "$ROOT/build/$ARCH/bin/bench_codecs.exe" \
    $(for f in $(ls "$SET"/photo*.jpg | head -4); do winepath -w "$f"; done) 2>/dev/null)
echo "floor a picture on one core: decode $f_decode ms, JPEG encode $f_jpeg ms, PNG encode $f_png ms, 800x600 preset $f_preset ms"
printf '%-22s %10s %10s %10s %10s %8s %8s %8s %10s\n' task ours_s theirs_s ours_MiB theirs_MiB ratio_t ratio_m floor_s ours/floor
for task in png:TOPNG jpg:TOJPG rs:RS_1; do
    kind=${task%%:*} token=${task#*:}
    [[ " $TASKS " == *" $kind "* ]] || continue
    case "$kind" in
        png) floor=$(awk -v a="$f_decode" -v b="$f_png" 'BEGIN{print a+b}') ;;
        jpg) floor=$(awk -v a="$f_decode" -v b="$f_jpeg" 'BEGIN{print a+b}') ;;
        rs) floor=$f_preset ;;
    esac
    stage "$SET" "$WORK/run"; read -r ot om < <(ours "$WORK/run" "$token")
    osize=$(cat "$WORK/run"/*.png 2>/dev/null | wc -c || true)
    stage "$SET" "$WORK/run"; read -r tt tm < <(theirs "$WORK/run" "$kind")
    tsize=$(cat "$WORK/run"/*.png 2>/dev/null | wc -c || true)
    awk -v n="to $kind" -v ot="$ot" -v tt="$tt" -v om="$om" -v tm="$tm" -v f="$floor" -v c="$CORES" -v p="$PHOTOS" 'BEGIN{
        fs = f * p / c / 1000
        printf "%-22s %10.2f %10.2f %10.0f %10.0f %8.2f %8.2f %8.2f %10.2f\n", n, ot, tt, om/1024, tm/1024, ot/tt, om/tm, fs, ot/fs}'
    if [ "$kind" = png ]; then
        awk -v o="$osize" -v t="$tsize" 'BEGIN{printf "  PNG files: ours %d bytes, theirs %d bytes, ratio %.3f\n", o, t, o/t}'
    fi
done
rm -rf "$WORK/run"
echo
fi

echo "per-picture time at growing run sizes (1-megapixel JPEGs to PNG)"
if [ -z "$AGAINST" ]; then
    printf '%-10s %10s %14s\n' pictures seconds ms_per_picture
else
    echo "against: $AGAINST"
    printf '%-10s %10s %14s %14s %8s\n' pictures seconds ms_per_picture other_ms ratio
fi
for n in $SCALE; do
    [ -n "$n" ] || continue
    S="$WORK/scale-$n"; make_set "$S" "$n" 1155 866
    if [ -z "$AGAINST" ]; then
        stage "$S" "$WORK/run"; read -r t m < <(ours "$WORK/run" TOPNG)
        awk -v n="$n" -v t="$t" 'BEGIN{printf "%-10d %10.2f %14.1f\n", n, t, t*1000/n}'
    else
        # Alternating, the other one first: a machine that slows down or
        # speeds up during the series weighs on both alike.
        stage "$S" "$WORK/run"; read -r o m < <(ours "$WORK/run" TOPNG "$AGAINST")
        stage "$S" "$WORK/run"; read -r t m < <(ours "$WORK/run" TOPNG)
        awk -v n="$n" -v t="$t" -v o="$o" 'BEGIN{printf "%-10d %10.2f %14.1f %14.1f %8.3f\n", n, t, t*1000/n, o*1000/n, t/o}'
    fi
done
rm -rf "$WORK/run"
