#!/bin/bash
# The converter against its peers on the same pictures, side by side in one
# run: transform.exe under Wine (one worker a core) against, run natively one
# process a core (xargs -P):
#   - ImageMagick's convert as it is usually called,
#   - ImageMagick told the size it needs (-define jpeg:size=, for the preset),
#   - libvips (vips copy, vipsthumbnail; VIPS_CONCURRENCY=1: one thread a process),
# with the same settings: PNG at each one's default compression, JPEG at
# quality 90, and a reduction into 800x600 keeping JPEG (ImageMagick with the
# same Catmull-Rom filter, vipsthumbnail with its own). Prints wall times,
# ours / the best peer, the peak memory of our largest process (a worker)
# against libvips' largest process, for PNG the files' total sizes, and the
# floor: what the converter's codecs alone take for the same pictures
# (bench_codecs.exe, one core, spread over the cores). Then the time of a
# run of one picture, and the per-picture time at growing runs.
#
#   bench/converter/run.sh [--arch i686|x86_64] [--photos "8 32"] [--megapixels M] [--scale "10 100 1000"]
#                          [--scale-only] [--against OTHER.exe] [--exe THIS.exe]
#
#   --photos LIST   picture counts for the format runs (default "8 32")
#   --megapixels M  their size (default 12: 4000x3000)
#   --scale LIST    counts of 1-megapixel pictures for the per-picture time
#                   at growing run sizes (default "10 100 1000")
#   --scale-only    only the one-picture run and the per-picture series
#   --against EXE   another transform.exe (an older build) timed in the same
#                   series, alternating with this one, and the ratio
#   --exe EXE       the transform.exe to time instead of the build's own
#                   (which is then not built)
#   --tasks LIST    which of png, jpg, rs (the 800x600 preset), heic (12-megapixel
#                   HEIC photos to JPEG against vips copy) to run (default all)
#   --single N      runs of one picture to take the median of (default 5; 0: none)
#   --large LIST    megapixels of the large single pictures (default "1 10 100 1000";
#                   "" for none): each to PNG, JPEG, TIFF and the 800x600 preset,
#                   time per megapixel and peak memory beside libvips and
#                   ImageMagick (which is left out above 100 megapixels: it
#                   holds 8 bytes a pixel and pages to disk)
#   --large-only    only the large pictures
#   --large-tasks LIST  which of png, jpg, tif, rs to run on them (default all)
#   --large-alone   ours only on them (the peers' figures were taken before)
#
# The pictures are made once below build/bench-converter/.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
ARCH=x86_64 PHOTOS="8 32" MP=12 SINGLE=5 SCALE="10 100 1000" TASKS="png jpg rs heic" SCALE_ONLY=0 AGAINST="" OWN_EXE=""
LARGE="1 10 100 1000" LARGE_ONLY=0 LARGE_TASKS="png jpg tif rs" LARGE_ALONE=0
while [ $# -gt 0 ]; do
    case "$1" in
        --arch) ARCH="$2"; shift 2 ;;
        --photos) PHOTOS="$2"; shift 2 ;;
        --megapixels) MP="$2"; shift 2 ;;
        --scale) SCALE="$2"; shift 2 ;;
        --scale-only) SCALE_ONLY=1; shift ;;
        --against) AGAINST="$(realpath "$2")"; shift 2 ;;
        --exe) OWN_EXE="$(realpath "$2")"; shift 2 ;;
        -h|--help) sed -n '2,33p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        --tasks) TASKS="$2"; shift 2 ;;
        --single) SINGLE="$2"; shift 2 ;;
        --large) LARGE="$2"; shift 2 ;;
        --large-only) LARGE_ONLY=1; shift ;;
        --large-tasks) LARGE_TASKS="$2"; shift 2 ;;
        --large-alone) LARGE_ALONE=1; shift ;;
        *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
scripts/setup.sh imagemagick time libvips-tools libheif-examples
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
        convert -seed "$s" -size "${w}x${h}" plasma:fractal -blur 0x1.5 -quality 92 "$dir/base$s.jpg"
    done
    for ((i = 0; i < count; i++)); do cp "$dir/base$((i % 4 + 1)).jpg" "$dir/photo$(printf %04d "$i").jpg"; done
    rm -f "$dir"/base*.jpg
    touch "$dir/.complete-$count"
}

# A fresh copy of the set's sources in "$2" (results of earlier runs gone).
# The sources are JPEGs but for the HEIC run (SOURCE_EXT=heic).
SOURCE_EXT=jpg
stage() { rm -rf "$2"; mkdir -p "$2"; cp "$1"/photo*."$SOURCE_EXT" "$2/"; }

# Prints "seconds peak-KiB cpu-seconds" of the command; the peak is that of
# its largest process (ImageMagick runs one a core at a time), the CPU time
# that of all its processes (user and system).
measure() {
    /usr/bin/time -f "%e %M %U %S" -o "$WORK/time.txt" "$@" >/dev/null 2>&1 || true
    tail -1 "$WORK/time.txt" | awk '{printf "%s %s %.2f\n", $1, $2, $3 + $4}'
}

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

# The CPU time (in clock ticks) of this prefix's wineserver, which serves
# every Wine process of the run.
server_cpu() {
    local pid
    for pid in $(pgrep -f wineserver || true); do
        if { tr '\0' '\n' < "/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
            awk '{print $14 + $15}' "/proc/$pid/stat"
            return
        fi
    done
    echo 0
}

# Prints "seconds peak-KiB cpu-seconds" of transform.exe on the folder's photos.
ours() {  # dir token [exe]
    local list="$WORK/files.txt" peak=0 pid="" hwm wall cpu exe="${3:-$EXE}"
    # The folder's Windows name once (each winepath is a Wine start of its
    # own, not part of the run), the files' names appended.
    local folder f
    folder="$(winepath -w "$1")"
    : > "$list"
    for f in "$1"/photo*."$SOURCE_EXT"; do printf '%s\\%s\r\n' "$folder" "${f##*/}" >> "$list"; done
    local listArg
    listArg="$(winepath -w "$list")"
    echo 0 > "$WORK/peak.txt"
    local server0
    server0=$(server_cpu)
    python3 "$ROOT/bench/converter/reap.py" "$WORK/cpu.txt" wine "$exe" "$listArg" "$2" >/dev/null 2>&1 &
    local launcher=$!
    # The watcher looks seldom enough that it costs the run next to nothing;
    # VmHWM keeps each process's peak between two looks. The time is the
    # launcher's, which ends with the supervisor.
    (
        while :; do
            for pid in $(our_pids); do
                hwm=$(awk '/VmHWM/{print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
                [ "${hwm:-0}" -gt "$peak" ] && peak=$hwm && echo "$peak" > "$WORK/peak.txt"
            done
            sleep 0.2
        done
    ) &
    local watcher=$!
    wait "$launcher" 2>/dev/null || true
    kill "$watcher" 2>/dev/null || true
    wait "$watcher" 2>/dev/null || true
    # The wall time until the program ended; the CPU time of every process
    # it started (reap.py adopts them) and of the wineserver's work meanwhile.
    read -r wall cpu < "$WORK/cpu.txt"
    echo "$wall $(cat "$WORK/peak.txt") $(awk -v c="$cpu" -v a="$server0" -v b="$(server_cpu)" 'BEGIN{printf "%.2f", c + (b - a) / 100}')"
}

# One peer on every picture of the folder, one process a core. Peers: im
# (ImageMagick as usually called), imhint (told the size it needs), vips.
# Prints "seconds peak-KiB cpu-seconds".
peer() {  # dir peer kind
    local each
    case "$2:$3" in
        im:png) each='convert "$1" "${1%.jpg}.png"' ;;
        im:jpg) each='convert "$1" -quality 90 "${1%.jpg}-p.jpg"' ;;
        im:rs) each='convert "$1" -filter Catrom -resize 800x600 -quality 90 "${1%.jpg}-p.jpg"' ;;
        imhint:rs) each='convert -define jpeg:size=1600x1200 "$1" -filter Catrom -resize 800x600 -quality 90 "${1%.jpg}-p.jpg"' ;;
        vips:png) each='vips copy "$1" "${1%.jpg}.png"' ;;
        vips:jpg) each='vips copy "$1" "${1%.jpg}-p.jpg[Q=90]"' ;;
        vips:rs) each='vipsthumbnail "$1" -s 800x600 -o "%s-p.jpg[Q=90]"' ;;
        *) echo "- 0 0"; return ;;
    esac
    VIPS_CONCURRENCY=1 measure sh -c "ls '$1'/photo*.$SOURCE_EXT | xargs -P $CORES -I{} sh -c '$each' _ {}"
}

# The bytes of the results in a run's folder (not its source photos): PNG,
# or JPEG as ours ("photo0000 (2).jpg") and the peers ("photo0000-p.jpg") name them.
pngbytes() { cat "$1"/*.png "$1"/*" (2).jpg" "$1"/*-p.jpg 2>/dev/null | wc -c || true; }

if [ "$SCALE_ONLY" = 0 ] && [ "$LARGE_ONLY" = 0 ]; then
W=$(awk "BEGIN{printf \"%d\", sqrt($MP*1000000*4/3)}"); H=$((W * 3 / 4))
echo "transform.exe ($ARCH, under Wine) against ImageMagick $(convert -version | sed -n '1s/Version: ImageMagick \([^ ]*\).*/\1/p')" \
     "and libvips $(vips --version | sed 's/vips-//') (native), $CORES cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
for photos in $PHOTOS; do
    SET="$WORK/set-$photos-$W"
    make_set "$SET" "$photos" "$W" "$H"
    echo
    echo "$photos photos of ${W}x${H} (JPEG)"
    # The floor: the codecs alone on four of the photos, one core, in ms a picture.
    read -r _ f_decode _ f_jpeg _ f_png _ f_preset < <(wine "$ROOT/build/$ARCH/bin/bench_codecs.exe" \
        $(for f in $(ls "$SET"/photo*.jpg | head -4); do winepath -w "$f"; done) 2>/dev/null)
    echo "floor a picture on one core: decode $f_decode ms, JPEG encode $f_jpeg ms, PNG encode $f_png ms, 800x600 preset $f_preset ms"
    printf '%-8s %8s %8s %8s %8s %12s %10s %9s %9s %7s %8s %9s %10s %10s %9s\n' task ours_s im_s imhint_s vips_s best_peer \
        ours/best ours_MiB vips_MiB mem_r floor_s ours/floor ours_cpu_s vips_cpu_s cpu_ratio
    for task in png:TOPNG jpg:TOJPG rs:RS_1; do
        kind=${task%%:*} token=${task#*:}
        [[ " $TASKS " == *" $kind "* ]] || continue
        case "$kind" in
            png) floor=$(awk -v a="$f_decode" -v b="$f_png" 'BEGIN{print a+b}') ;;
            jpg) floor=$(awk -v a="$f_decode" -v b="$f_jpeg" 'BEGIN{print a+b}') ;;
            rs) floor=$f_preset ;;
        esac
        stage "$SET" "$WORK/run"; read -r ot om oc < <(ours "$WORK/run" "$token"); osize=$(pngbytes "$WORK/run")
        # ImageMagick's PNG takes five to eight times the others' time and
        # is never the best peer: its files are weighed at the first count only.
        if [ "$kind" = png ] && [ "$photos" != "${PHOTOS%% *}" ]; then
            it="-" im=0 ic=0 isize=0
        else
            stage "$SET" "$WORK/run"; read -r it im ic < <(peer "$WORK/run" im "$kind"); isize=$(pngbytes "$WORK/run")
        fi
        stage "$SET" "$WORK/run"; read -r ht hm hc < <(peer "$WORK/run" imhint "$kind")
        stage "$SET" "$WORK/run"; read -r vt vm vc < <(peer "$WORK/run" vips "$kind"); vsize=$(pngbytes "$WORK/run")
        awk -v n="$kind" -v ot="$ot" -v it="$it" -v ht="$ht" -v vt="$vt" -v om="$om" -v vm="$vm" -v f="$floor" -v oc="$oc" -v vc="$vc" \
            -v c="$CORES" -v p="$photos" 'BEGIN{
            best = 1e9; who = "-"
            if (it != "-") { best = it; who = "ImageMagick" }
            if (ht != "-" && ht < best) { best = ht; who = "IM+hint" }
            if (vt < best) { best = vt; who = "libvips" }
            fs = f * p / c / 1000
            printf "%-8s %8.2f %8s %8s %8.2f %12s %10.2f %9.0f %9.0f %7.2f %8.2f %9.2f %10.2f %10.2f %9.2f\n", n, ot,
                   it == "-" ? "-" : sprintf("%.2f", it), ht == "-" ? "-" : sprintf("%.2f", ht), vt, who, ot / best,
                   om / 1024, vm / 1024, om / vm, fs, ot / fs, oc, vc, (vc > 0 ? oc / vc : 0)}'
        if [ "$kind" = png ] || [ "$kind" = jpg ]; then
            awk -v k="$kind" -v o="$osize" -v i="$isize" -v v="$vsize" -v ot="$ot" -v vt="$vt" 'BEGIN{
                im = i > 0 ? sprintf("ImageMagick %d (ours/IM %.3f)", i, o / i) : "ImageMagick not run"
                printf "  %s files: ours %d bytes, %s, libvips %d (ours/libvips %.3f); time ours/libvips %.2f\n",
                       toupper(k == "jpg" ? "jpeg" : k), o, im, v, o / v, ot / vt}'
        fi
    done
done
rm -rf "$WORK/run"
echo
if [[ " $TASKS " == *" heic "* ]]; then
    # Phone photos: HEIC (HEVC, heif-enc with x265 at quality 90, 8 bits a
    # sample as phones write them: heif-enc codes a 16-bit source with 10)
    # to JPEG against vips copy of the same files, which reads them through
    # the host's libheif 1.15.1 too. One photo encoded once, copied.
    photos=${PHOTOS%% *}
    SET="$WORK/heic8-$photos-$W"
    if [ ! -f "$SET/.complete" ]; then
        rm -rf "$SET"; mkdir -p "$SET"
        convert -seed 1 -size "${W}x${H}" plasma:fractal -blur 0x1.5 -depth 8 "PNG24:$SET/base.png"
        heif-enc -q 90 -o "$SET/base.heic" "$SET/base.png" >/dev/null
        for ((i = 0; i < photos; i++)); do cp "$SET/base.heic" "$SET/photo$(printf %04d "$i").heic"; done
        rm -f "$SET"/base.*
        touch "$SET/.complete"
    fi
    SOURCE_EXT=heic
    echo "$photos photos of ${W}x${H} (HEIC) to JPEG"
    printf '%-8s %8s %8s %10s %9s %9s\n' task ours_s vips_s ours/vips ours_MiB vips_MiB
    stage "$SET" "$WORK/run"; read -r ot om oc < <(ours "$WORK/run" TOJPG)
    converted=$(ls "$WORK/run"/*.jpg 2>/dev/null | wc -l)
    stage "$SET" "$WORK/run"; read -r vt vm vc < <(peer "$WORK/run" vips jpg)
    awk -v ot="$ot" -v vt="$vt" -v om="$om" -v vm="$vm" 'BEGIN{
        printf "%-8s %8.2f %8.2f %10.2f %9.0f %9.0f\n", "heic", ot, vt, ot / vt, om / 1024, vm / 1024}'
    echo "  ours converted $converted of $photos"
    SOURCE_EXT=jpg
    rm -rf "$WORK/run"
    echo
fi
fi

if [ "$LARGE_ONLY" = 0 ] && [ "$SINGLE" -gt 0 ]; then
    # One picture of 1 megapixel to JPEG: the run's fixed cost (starting the
    # supervisor and a worker under Wine) with a small picture's work.
    S="$WORK/scale-1"; make_set "$S" 1 1155 866
    times=() cpus=()
    for ((i = 0; i < SINGLE; i++)); do
        stage "$S" "$WORK/run"; read -r t m c < <(ours "$WORK/run" TOJPG); times+=("$t") cpus+=("$c")
    done
    ocpu=$(printf '%s\n' "${cpus[@]}" | sort -n | awk -v n="$SINGLE" '{a[NR]=$1} END{print a[int((n + 1) / 2)]}')
    stage "$S" "$WORK/run"; read -r vt vm vc < <(peer "$WORK/run" vips jpg)
    printf '%s\n' "${times[@]}" | sort -n | awk -v n="$SINGLE" -v vt="$vt" -v oc="$ocpu" -v vc="$vc" '{a[NR]=$1} END{
        printf "one picture (1 megapixel, to JPEG), median of %d runs: %.2f s (fastest %.2f s), CPU %.2f s; libvips: %.2f s, CPU %.2f s\n",
               n, a[int((n + 1) / 2)], a[1], oc, vt, vc}'
    echo
fi

# One large picture of M megapixels (3:2, made once by tests/streaming/bigjpeg.py
# through libvips, which never holds it) to each format and the preset: our
# worker's peak memory and time per megapixel beside libvips' and ImageMagick's.
if [ -n "$LARGE" ]; then
    echo "large pictures, one at a time (peers one process, VIPS_CONCURRENCY=1); s/MP = seconds per megapixel"
    printf '%-6s %-5s %9s %9s %9s %9s %9s %9s %9s %9s\n' MP task ours_s ours_s/MP ours_MiB vips_s/MP vips_MiB \
        im_s/MP im_MiB result
    for mp in $LARGE; do
        L="$WORK/large-$mp"
        lw=$(awk "BEGIN{printf \"%d\", sqrt($mp*1000000*3/2)}"); lh=$(awk "BEGIN{printf \"%d\", $mp*1000000/$lw}")
        if [ ! -f "$L/.complete" ]; then
            rm -rf "$L"; mkdir -p "$L"
            python3 "$ROOT/tests/streaming/bigjpeg.py" "$lw" "$lh" "$L/photo0000.jpg" 90
            touch "$L/.complete"
        fi
        for task in png:TOPNG:png jpg:TOJPG:jpg tif:TOTIFF:tif rs:RS_1:jpg; do
            kind=${task%%:*} rest=${task#*:} token=${rest%%:*} ext=${rest#*:}
            case " $LARGE_TASKS " in *" $kind "*) ;; *) continue ;; esac
            stage "$L" "$WORK/run"; read -r ot om oc < <(ours "$WORK/run" "$token")
            made=$(ls "$WORK/run" | grep -v '^photo0000.jpg$' | head -1 || true)
            case "$kind" in
                png) v='vips copy "$1" "${1%.jpg}.png"'; i='convert "$1" "${1%.jpg}.png"' ;;
                jpg) v='vips copy "$1" "${1%.jpg}-p.jpg[Q=90]"'; i='convert "$1" -quality 90 "${1%.jpg}-p.jpg"' ;;
                tif) v='vips copy "$1" "${1%.jpg}.tif[compression=lzw,predictor=horizontal]"'; i='convert "$1" -compress lzw "${1%.jpg}.tif"' ;;
                rs) v='vipsthumbnail "$1" -s 800x600 -o "%s-p.jpg[Q=90]"'; i='convert -define jpeg:size=1600x1200 "$1" -filter Catrom -resize 800x600 -quality 90 "${1%.jpg}-p.jpg"' ;;
            esac
            if [ "$LARGE_ALONE" = 1 ]; then
                vt=0 vm=0
            else
                stage "$L" "$WORK/run"; read -r vt vm vc < <(VIPS_CONCURRENCY=1 measure sh -c "$v" _ "$WORK/run/photo0000.jpg")
            fi
            if [ "$mp" -le 100 ] && [ "$LARGE_ALONE" = 0 ]; then
                stage "$L" "$WORK/run"; read -r it im ic < <(measure sh -c "$i" _ "$WORK/run/photo0000.jpg")
            else
                it="-" im=0
            fi
            awk -v mp="$mp" -v k="$kind" -v ot="$ot" -v om="$om" -v vt="$vt" -v vm="$vm" -v it="$it" -v im="$im" -v r="${made:-none}" 'BEGIN{
                printf "%-6s %-5s %9.2f %9.4f %9.0f %9.4f %9.0f %9s %9s %9s\n", mp, k, ot, ot / mp, om / 1024, vt / mp, vm / 1024,
                       it == "-" ? "-" : sprintf("%.4f", it / mp), it == "-" ? "-" : sprintf("%.0f", im / 1024), r}'
        done
    done
    rm -rf "$WORK/run"
    echo
fi
[ "$LARGE_ONLY" = 1 ] && exit 0

echo "per-picture time at growing run sizes (1-megapixel JPEGs to PNG)"
if [ -z "$AGAINST" ]; then
    printf '%-10s %10s %14s %18s\n' pictures seconds ms_per_picture cpu_ms_per_picture
else
    echo "against: $AGAINST"
    printf '%-10s %10s %14s %14s %8s\n' pictures seconds ms_per_picture other_ms ratio
fi
for n in $SCALE; do
    [ -n "$n" ] || continue
    S="$WORK/scale-$n"; make_set "$S" "$n" 1155 866
    if [ -z "$AGAINST" ]; then
        stage "$S" "$WORK/run"; read -r t m c < <(ours "$WORK/run" TOPNG)
        awk -v n="$n" -v t="$t" -v c="$c" 'BEGIN{printf "%-10d %10.2f %14.1f %18.1f\n", n, t, t*1000/n, c*1000/n}'
    else
        # Alternating, the other one first: a machine that slows down or
        # speeds up during the series weighs on both alike.
        stage "$S" "$WORK/run"; read -r o m c < <(ours "$WORK/run" TOPNG "$AGAINST")
        stage "$S" "$WORK/run"; read -r t m c < <(ours "$WORK/run" TOPNG)
        awk -v n="$n" -v t="$t" -v o="$o" 'BEGIN{printf "%-10d %10.2f %14.1f %14.1f %8.3f\n", n, t, t*1000/n, o*1000/n, t/o}'
    fi
done
rm -rf "$WORK/run"
