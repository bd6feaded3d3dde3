#!/bin/bash
# Builds both architectures, runs the benchmark of the right-click path under
# Wine in each one's private prefix, and prints one table: our figure, the
# floor it is held to and their ratio, i686 beside x86_64, with the target.
#
#   scripts/bench.sh [--largest N] [--per-index-largest] [--only s1,s2,...]
#
#   --largest N           largest selection (default 100000)
#   --per-index-largest   also read the largest selection index by index once
#                         (quadratic: some minutes per architecture)
#   --only                sections: size, load, roundtrip, selection, memory,
#                         menu, invoke (default: all)
#
# Every figure is a median over repeated runs. The machines are shared: read
# the ratios, which compare runs made side by side, more than the times.
# The first run in a prefix makes 100,000 files and folders below C:\qbench
# (seconds); later runs reuse them. Raw lines: build/<arch>/bench.tsv.
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
ARCHS="${QUENNEL_ARCHS:-i686 x86_64}"

scripts/build.sh >/dev/null
source scripts/wine-prefix.sh
trap wine_prefix_stop EXIT
# Without a display a failing ShellExecuteA cannot wait on an error dialog.
unset DISPLAY

LARGEST=100000
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
    [ "${args[$i]}" = "--largest" ] && LARGEST="${args[$((i + 1))]:-$LARGEST}"
done

# The mixed selection of real files and folders under C:\qbench\sel, made from
# the Unix side: Wine makes each file in a big folder only after searching the
# folder for it, which takes many minutes for 100,000.
prepare_selection() {
    local drive="$WINEPREFIX/drive_c/qbench" bin="$1"
    local marker="$drive/sel-complete.txt"
    if [ -f "$marker" ] && [ "$(cat "$marker")" -ge "$LARGEST" ] 2>/dev/null; then return; fi
    mkdir -p "$drive/sel"
    local list
    list="$(cd "$bin" && wine bench_quennel.exe --largest "$LARGEST" --print-selection </dev/null | tr -d '\r')"
    (cd "$drive/sel" && grep '^D' <<<"$list" | cut -f2 | xargs -r -d '\n' mkdir -p || true)
    (cd "$drive/sel" && grep '^F' <<<"$list" | cut -f2 | xargs -r -d '\n' touch || true)
    printf '%s' "$LARGEST" >"$marker"
}

results=()
for arch in $ARCHS; do
    echo "bench: $arch ..." >&2
    wine_prefix_start "$PWD/build/$arch/wineprefix"
    prepare_selection "build/$arch/bin"
    (cd "build/$arch/bin" && wine bench_quennel.exe "$@" </dev/null) | tr -d '\r' >"build/$arch/bench.tsv"
    wine_prefix_stop
    results+=("build/$arch/bench.tsv")
done

# One row per measure; for each architecture our figure, the floor's and the
# ratio, then the target and whether each architecture met it.
awk -F'\t' '
    FNR == 1 { file++ }
    $1 == "ARCH" { arch[file] = $2; next }
    $1 == "NOTE" { notes[file] = notes[file] "  " $2 "\n"; next }
    $1 == "ROW" {
        key = $2
        if (!(key in measure)) { order[++rows] = key; measure[key] = $3; target[key] = $7 }
        ours[file, key] = $4; floor[file, key] = $5; ratio[file, key] = $6; verdict[file, key] = $8
        # Run counts alone say nothing the table does not.
        if ($9 != "-" && $9 !~ /^(runs [0-9]+|[0-9]+ batches of [0-9,]+)$/) {
            m = $3; sub(/^ +/, "", m)
            notes[file] = notes[file] "  " m ": " $9 "\n"
        }
    }
    END {
        head = "| Measure |"; rule = "|---|"
        for (f = 1; f <= file; f++) {
            head = head " " arch[f] " ours | " arch[f] " floor | ratio |"
            rule = rule "---|---|---|"
        }
        print head " target | met |"; print rule "---|---|"
        for (r = 1; r <= rows; r++) {
            key = order[r]; line = "| " measure[key] " |"; met = ""
            for (f = 1; f <= file; f++) {
                has = ((f, key) in ours)
                line = line " " (has ? ours[f, key] : "") " | " (has ? floor[f, key] : "") " | " (has ? ratio[f, key] : "") " |"
                met = met (f > 1 ? " / " : "") (has ? verdict[f, key] : "?")
            }
            print line " " target[key] " | " met " |"
        }
        for (f = 1; f <= file; f++) if (notes[f] != "") { printf "\nNotes (%s):\n%s", arch[f], notes[f] }
    }
' "${results[@]}"
