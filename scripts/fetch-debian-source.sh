#!/bin/bash
# Fetches the source of a library the converter links in from Debian's
# archive (one pinned version of its source package, every file checked
# against the hash its .dsc lists) and unpacks it with Debian's patches applied:
#
#   scripts/fetch-debian-source.sh <source package> <Debian version> <folder>
#
# leaves the patched tree in <folder>/source. apt works from a private
# configuration inside <folder> whose only sources are deb-src copies of this
# machine's own Debian entries: the machine's apt sources, lists and caches
# stay as they are. Nothing is fetched when <folder>/source already holds
# that version. The build runs this (cmake/DebianSource.cmake, cmake/OpenJpeg.cmake),
# and so does the picture corpus test for the test folders of image
# libraries (tests/corpus/corpus.py).
set -euo pipefail
package=$1
version=$2
folder=$(mkdir -p "$3" && cd "$3" && pwd)
stamp="$folder/source/.debian-version"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$package=$version" ]; then
    exit 0
fi

# The pinned versions' files, as their .dsc files list them. A version not
# in this table is refused: a new one is added here with its hashes.
declare -A sha256=(
    [openjpeg2=2.5.0-2+deb12u3 openjpeg2_2.5.0.orig.tar.xz]=007e19d772c8b6b22e35379630b06ff3549e49ba719d96453607a36ad7b4de73
    [openjpeg2=2.5.0-2+deb12u3 openjpeg2_2.5.0-2+deb12u3.debian.tar.xz]=36dedb0ca4c1659c173feac97c19b31985656f4cd112b1a4d54d54bc4133ad37
    [zlib=1:1.2.13.dfsg-1 zlib_1.2.13.dfsg.orig.tar.bz2]=71feb7947e3c00ef125f83b79a4e529bde31171e5babe48b391f06758d1ab0a1
    [zlib=1:1.2.13.dfsg-1 zlib_1.2.13.dfsg-1.debian.tar.xz]=f66cf3d4f2d7defcd4d1fd1fb0a11ee39f1e01b42ec7d059c9dc5c1695133c44
    [libdeflate=1.14-1 libdeflate_1.14.orig.tar.gz]=89e7df898c37c3427b0f39aadcf733731321a278771d20fc553f92da8d4808ac
    [libdeflate=1.14-1 libdeflate_1.14-1.debian.tar.xz]=4794c379cc4e77eaeb283620bd80a7ce57b858af508f80ba6d5efbc4bcb10434
    [libjpeg-turbo=1:2.1.5-2 libjpeg-turbo_2.1.5.orig.tar.gz]=254f3642b04e309fee775123133c6464181addc150499561020312ec61c1bf7c
    [libjpeg-turbo=1:2.1.5-2 libjpeg-turbo_2.1.5-2.debian.tar.xz]=cdb2433c2f7101345c1ffa14efb943787c675b86354691a32490845fe4bc9237
    [lcms2=2.14-2+deb12u1 lcms2_2.14.orig.tar.gz]=28474ea6f6591c4d4cee972123587001a4e6e353412a41b3e9e82219818d5740
    [lcms2=2.14-2+deb12u1 lcms2_2.14-2+deb12u1.debian.tar.xz]=3b88006a5ccc15f3d4b2f28310875a8c4d789ac8342deaf4113ed5c2fd4a59e8
    [giflib=5.2.1-2.5+deb12u1 giflib_5.2.1.orig.tar.gz]=31da5562f44c5f15d63340a09a4fd62b48c45620cd302f77a6d9acf0077879bd
    [giflib=5.2.1-2.5+deb12u1 giflib_5.2.1-2.5+deb12u1.debian.tar.xz]=efa4369de943f7918c2b0b049a125268937ab12039ea6ed01d34ab2125def0df
    [libwebp=1.2.4-0.2+deb12u1 libwebp_1.2.4.orig.tar.gz]=7bf5a8a28cc69bcfa8cb214f2c3095703c6b73ac5fba4d5480c205331d9494df
    [libwebp=1.2.4-0.2+deb12u1 libwebp_1.2.4-0.2+deb12u1.debian.tar.xz]=69cdba4dfe2e1b34d55fa80c1b29c31cacd40dd183812d6bcca7e508a2f7afcd
    # Camera raw
    [libraw=0.20.2-2.1+deb12u1 libraw_0.20.2.orig.tar.gz]=02df7d403b34602b769bb38e5bf7d4258e075eeefbe980b6832e6e1491989d60
    [libraw=0.20.2-2.1+deb12u1 libraw_0.20.2-2.1+deb12u1.debian.tar.xz]=10832bae2ba5e786062ca6851b27832d47319301d7b9fe2eed01b7520e6e5381
    # liblzma's decoder, for LZMA inside TIFF
    [xz-utils=5.4.1-1+deb12u2 xz-utils_5.4.1.orig.tar.xz]=5d9827aa1875b21c288f78864bb26d2650b436ea8d2cad364e4921eb6266a5a5
    [xz-utils=5.4.1-1+deb12u2 xz-utils_5.4.1-1+deb12u2.debian.tar.xz]=7e0b1d1448520ea4f88ec05136a88f07564cc4a1abd6dfcf53c1f822a3e4f64f
    # Not linked in: their test pictures are the picture corpus (tests/corpus).
    [libpng1.6=1.6.39-2+deb12u5 libpng1.6_1.6.39.orig.tar.gz]=a00e9d2f2f664186e4202db9299397f851aea71b36a35e74910b8820e380d441
    [libpng1.6=1.6.39-2+deb12u5 libpng1.6_1.6.39-2+deb12u5.debian.tar.xz]=ab14906eda9fddf14cbb1e589b9ba7439c22e233dc3c5e3cf9356c9625565a82
    [tiff=4.5.0-6+deb12u4 tiff_4.5.0.orig.tar.bz2]=638f43d7dea33948d5dee7f39572fc0194d9cc3c74195de9dd26a4388a1f880a
    [tiff=4.5.0-6+deb12u4 tiff_4.5.0-6+deb12u4.debian.tar.xz]=4ee50a8cdf74a184d94e65a04f3c9de466cb0b74ef5393fb5ca65666fccb864b
    [pillow=9.4.0-1.1+deb12u1 pillow_9.4.0.orig.tar.xz]=0a58ccfbd002838b32e21773bfdaa954a2de08d1f04b87b63d14e751fec3264d
    [pillow=9.4.0-1.1+deb12u1 pillow_9.4.0-1.1+deb12u1.debian.tar.xz]=b03888a3fff8167619eff4f0032850c94f7634da50331b41fcdae73e9e017d49
    # The PNG reader
    [libspng=0.7.3-3 libspng_0.7.3.orig.tar.gz]=a50cadbe808ffda1a7fab17d145f52a23b163f34b3eb3696c7ecb5a52340fc1d
    [libspng=0.7.3-3 libspng_0.7.3-3.debian.tar.xz]=d24b992ef0839350dda99083a0c62a0bb1e403800ba9e9dfcf57754ba297d187
    # HEIF/HEIC and AVIF: libheif with libde265 (HEVC) and dav1d (AV1). The
    # newest security versions' files are missing on the mirror; these are not.
    [libheif=1.15.1-1+deb12u1 libheif_1.15.1.orig.tar.gz]=28d5a376fe7954d2d03453f983aaa0b7486f475c27c7806bda31df9102325556
    [libheif=1.15.1-1+deb12u1 libheif_1.15.1-1+deb12u1.debian.tar.xz]=f3a042fce4231e8feddd032bf93b808a6db96614c20888b78d1042a15e378817
    [libde265=1.0.11-1+deb12u2 libde265_1.0.11.orig.tar.gz]=2f8f12cabbdb15e53532b7c1eb964d4e15d444db1be802505e6ac97a25035bab
    [libde265=1.0.11-1+deb12u2 libde265_1.0.11-1+deb12u2.debian.tar.xz]=81de2919da09690f2fb80383fcc68cda397bfed878a010061627f7794e278f4b
    [dav1d=1.0.0-2+deb12u1 dav1d_1.0.0.orig.tar.xz]=51737db7e4897e599684f873a4725176dd3c779e639411d7c4fce134bb5ebb82
    [dav1d=1.0.0-2+deb12u1 dav1d_1.0.0-2+deb12u1.debian.tar.xz]=ae53e2bda2a18275cc66570194fced9b9681df2b3b8e041586a26a59d69a727e
    # The JPEG XL reader: libjxl's decoder on highway (SIMD) and brotli (boxes).
    # brotli 1.0.9-2+deb12u1's files are not on the mirror; its fix concerns
    # the Python binding's decompression, not the C decoder built here.
    [jpeg-xl=0.7.0-10+deb12u1 jpeg-xl_0.7.0.orig.tar.gz]=3114bba1fabb36f6f4adc2632717209aa6f84077bc4e93b420e0d63fa0455c5e
    [jpeg-xl=0.7.0-10+deb12u1 jpeg-xl_0.7.0-10+deb12u1.debian.tar.xz]=146c624d9e6909a5d0779427157a4928e727d9aa422811d433c2081699b0cac5
    [highway=1.0.3-3+deb12u1 highway_1.0.3.orig.tar.gz]=566fc77315878473d9a6bd815f7de78c73734acdcb745c3dde8579560ac5440e
    [highway=1.0.3-3+deb12u1 highway_1.0.3-3+deb12u1.debian.tar.xz]=798af33a087d0e7877ebecc5eb9d87ea92eefd4ca1d059db4db7583711871f40
    [brotli=1.0.9-2 brotli_1.0.9.orig.tar.gz]=f9e8d81d0405ba66d181529af42a3354f838c939095ff99930da6aa9cdf6fe46
    [brotli=1.0.9-2 brotli_1.0.9-2.debian.tar.xz]=ab81b1db852c8d01e0fa5b0b650bb486f32a232b35336828423af50af6fecca0
    # Not linked in: its JPEG XL test pictures judge the JPEG XL reader (tests/converter/jxlpictures.py).
    [kimageformats=5.103.0-2 kimageformats_5.103.0.orig.tar.xz]=dd7dc417aacc9dfe74745e4dfd9750129051c36502fa1cd18b92c4035d721e7e
    [kimageformats=5.103.0-2 kimageformats_5.103.0-2.debian.tar.xz]=41e56364054e7ce2346a6ee20c900a048807a5c76537c2241e985daa52bd193f
)
files=()
for key in "${!sha256[@]}"; do
    [ "${key%% *}" = "$package=$version" ] && files+=("${key#* }")
done
if [ ${#files[@]} -eq 0 ]; then
    echo "$package: version $version is not pinned in $0" >&2
    exit 1
fi

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
echo "$package: fetching Debian source package $package=$version"
apt-get "${apt_options[@]}" update >"$apt_dir/update.log" 2>&1 || { cat "$apt_dir/update.log"; exit 1; }
(cd "$apt_dir/download" && apt-get "${apt_options[@]}" source --download-only "$package=$version") \
    >"$apt_dir/source.log" 2>&1 || { cat "$apt_dir/source.log"; exit 1; }

cd "$apt_dir/download"
orig=""
debian=""
for name in "${files[@]}"; do
    echo "${sha256[$package=$version $name]}  $name" | sha256sum --quiet -c - || { echo "$package: $name does not match"; exit 1; }
    case "$name" in
        *.orig.tar.*) orig=$name ;;
        *.debian.tar.*) debian=$name ;;
    esac
done

# Unpacked beside the old tree and moved into place, so an interrupted run
# leaves no half tree that looks finished.
work="$folder/source.new"
rm -rf "$work"
mkdir -p "$work"
tar -xf "$orig" -C "$work" --strip-components=1
tar -xf "$debian" -C "$work"
if [ -f "$work/debian/patches/series" ]; then
    while read -r patch _; do
        case "$patch" in ''|'#'*) continue ;; esac
        patch -d "$work" -p1 -s --no-backup-if-mismatch <"$work/debian/patches/$patch"
    done <"$work/debian/patches/series"
fi
echo "$package=$version" >"$work/.debian-version"
rm -rf "$folder/source"
mv "$work" "$folder/source"
echo "$package: source $version ready"
