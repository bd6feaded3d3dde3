#!/bin/bash
# Fetches the source of OpenJPEG, the JPEG 2000 reference codec, from Debian's
# archive (source package openjpeg2, one pinned version) and unpacks it with
# Debian's patches applied:
#
#   scripts/fetch-openjpeg.sh <Debian version> <folder>
#
# leaves the patched tree in <folder>/source. apt works from a private
# configuration inside <folder> whose only sources are deb-src copies of this
# machine's own Debian entries: the machine's apt sources, lists and caches
# stay as they are. Nothing is fetched when <folder>/source already holds
# that version. The build (cmake/OpenJpeg.cmake) runs this.
set -euo pipefail
version=$1
folder=$(mkdir -p "$2" && cd "$2" && pwd)
stamp="$folder/source/.debian-version"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ]; then
    exit 0
fi

# The pinned version's files, as its .dsc lists them.
declare -A sha256=(
    [openjpeg2_2.5.0.orig.tar.xz]=007e19d772c8b6b22e35379630b06ff3549e49ba719d96453607a36ad7b4de73
    [openjpeg2_2.5.0-2+deb12u3.debian.tar.xz]=36dedb0ca4c1659c173feac97c19b31985656f4cd112b1a4d54d54bc4133ad37
)

apt_dir="$folder/apt"
rm -rf "$apt_dir"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/download"

# deb-src twins of the machine's Debian entries, in both notations.
shopt -s nullglob
for file in /etc/apt/sources.list.d/*.sources; do
    awk 'function flush() {
             if (binary && debian) printf "%s\n", stanza
             stanza = ""; binary = 0; debian = 0 }
         /^[[:space:]]*$/ { flush(); next }
         /^Types:/ { for (i = 2; i <= NF; ++i) if ($i == "deb") binary = 1; $0 = "Types: deb-src" }
         /^URIs:/ && /debian/ { debian = 1 }
         { stanza = stanza $0 "\n" }
         END { flush() }' \
        "$file" >>"$apt_dir/sources.list.d/debian-src.sources"
done
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    sed -n -E 's/^[[:space:]]*deb([[:space:]]+(\[[^]]*\]))?([[:space:]]+[^[:space:]]*debian[^[:space:]]*[[:space:]].*)$/deb-src \2\3/p' \
        "$file" >>"$apt_dir/sources.list.d/debian-src.list"
done
if ! grep -qs . "$apt_dir/sources.list.d/debian-src.sources" "$apt_dir/sources.list.d/debian-src.list"; then
    # No Debian entry on this machine: Debian's own servers.
    printf '%s\n' "deb-src http://deb.debian.org/debian bookworm main" \
        "deb-src http://deb.debian.org/debian-security bookworm-security main" \
        >"$apt_dir/sources.list.d/debian-src.list"
fi

apt_options=(-q -o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
             -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
             -o "Dir::Etc::Preferences=/dev/null" -o "Dir::Etc::PreferencesParts=/dev/null")
echo "openjpeg: fetching Debian source package openjpeg2=$version"
apt-get "${apt_options[@]}" update >"$apt_dir/update.log" 2>&1 || { cat "$apt_dir/update.log"; exit 1; }
(cd "$apt_dir/download" && apt-get "${apt_options[@]}" source --download-only "openjpeg2=$version") \
    >"$apt_dir/source.log" 2>&1 || { cat "$apt_dir/source.log"; exit 1; }

cd "$apt_dir/download"
for name in "${!sha256[@]}"; do
    echo "${sha256[$name]}  $name" | sha256sum --quiet -c - || { echo "openjpeg: $name does not match"; exit 1; }
done

# Unpacked beside the old tree and moved into place, so an interrupted run
# leaves no half tree that looks finished.
work="$folder/source.new"
rm -rf "$work"
mkdir -p "$work"
tar -xJf openjpeg2_2.5.0.orig.tar.xz -C "$work" --strip-components=1
tar -xJf "openjpeg2_${version}.debian.tar.xz" -C "$work"
while read -r patch _; do
    case "$patch" in ''|'#'*) continue ;; esac
    patch -d "$work" -p1 -s --no-backup-if-mismatch <"$work/debian/patches/$patch"
done <"$work/debian/patches/series"
echo "$version" >"$work/.debian-version"
rm -rf "$folder/source"
mv "$work" "$folder/source"
echo "openjpeg: source $version ready"
