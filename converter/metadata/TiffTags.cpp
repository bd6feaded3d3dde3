#include "converter/metadata/TiffTags.h"

#include <algorithm>
#include <utility>

#include "converter/metadata/TiffIfd.h"

namespace TiffTags {
namespace {

constexpr uint16_t OrientationTag = 274, XResolution = 282, YResolution = 283, ResolutionUnit = 296, XmpTag = 700,
                   IccTag = 34675;

// What describes the picture rather than how its pixels are stored: these
// move between an Exif block and a TIFF file's first directory.
bool Descriptive(uint16_t tag) {
    switch (tag) {
    case 270:    // ImageDescription
    case 271:    // Make
    case 272:    // Model
    case 274:    // Orientation
    case 305:    // Software
    case 306:    // DateTime
    case 315:    // Artist
    case 33432:  // Copyright
    case TiffIfd::ExifPointer:
    case TiffIfd::GpsPointer:
        return true;
    default:
        return false;
    }
}

void Replace(TiffIfd::Directory& directory, TiffIfd::Entry entry) {
    directory.erase(std::remove_if(directory.begin(), directory.end(),
                                   [&](const TiffIfd::Entry& e) { return e.tag == entry.tag; }),
                    directory.end());
    directory.push_back(std::move(entry));
}

// The values of a SHORT or LONG array entry.
std::vector<uint32_t> Numbers(const TiffIfd::Entry* entry) {
    std::vector<uint32_t> numbers;
    if (!entry) return numbers;
    const std::vector<uint8_t>& v = entry->value;
    if (entry->type == 3) {
        for (size_t i = 0; i + 2 <= v.size(); i += 2) numbers.push_back(uint32_t{v[i]} | uint32_t{v[i + 1]} << 8);
    } else if (entry->type == 4) {
        for (size_t i = 0; i + 4 <= v.size(); i += 4)
            numbers.push_back(uint32_t{v[i]} | uint32_t{v[i + 1]} << 8 | uint32_t{v[i + 2]} << 16 |
                              uint32_t{v[i + 3]} << 24);
    }
    return numbers;
}

// Where the bytes before the first directory end, when the directory, the
// values it points to and nothing else follow the pixels and no second
// directory is named (as libtiff writes one page): the new directory then
// takes the old one's place and no unnamed directory is left behind.
// Otherwise the whole file's length.
uint64_t KeptBytes(RandomAccess& tiff, const TiffIfd::Structure& page) {
    const uint64_t all = tiff.Size();
    uint8_t link[4] = {}, header[8] = {};
    if (page.nextLinkAt + 4 > all || tiff.ReadAt(page.nextLinkAt, link, 4) != 4 || tiff.ReadAt(0, header, 8) != 8)
        return all;
    for (uint8_t byte : link)
        if (byte != 0) return all;
    const uint8_t* h = header;
    const uint64_t at = page.bigEndian ? (uint64_t{h[4]} << 24 | uint64_t{h[5]} << 16 | uint64_t{h[6]} << 8 | h[7])
                                       : (uint64_t{h[7]} << 24 | uint64_t{h[6]} << 16 | uint64_t{h[5]} << 8 | h[4]);
    if (at < 8 || at >= all) return all;
    for (const TiffIfd::Entry& entry : page.first)
        if (entry.at < at || !entry.directory.empty()) return all;
    for (const auto& [offsets, counts] : {std::pair<uint16_t, uint16_t>{273, 279}, {324, 325}}) {
        const std::vector<uint32_t> starts = Numbers(TiffIfd::Find(page.first, offsets));
        const std::vector<uint32_t> sizes = Numbers(TiffIfd::Find(page.first, counts));
        if (starts.size() != sizes.size()) return all;
        for (size_t i = 0; i < starts.size(); ++i)
            if (uint64_t{starts[i]} + sizes[i] > at) return all;
    }
    return at;
}

// What the first directory says of the picture.
bool FromStructure(const TiffIfd::Structure& tiff, Metadata& out) {
    const TiffIfd::Directory& first = tiff.first;
    const double x = TiffIfd::Rational(TiffIfd::Find(first, XResolution));
    const double y = TiffIfd::Rational(TiffIfd::Find(first, YResolution));
    const uint32_t unit = TiffIfd::Number(TiffIfd::Find(first, ResolutionUnit), 2);
    if (x > 0 && y > 0 && (unit == 2 || unit == 3)) {
        out.dpiX = unit == 3 ? x * 2.54 : x;
        out.dpiY = unit == 3 ? y * 2.54 : y;
    }
    if (const TiffIfd::Entry* icc = TiffIfd::Find(first, IccTag)) out.icc = icc->value;
    if (const TiffIfd::Entry* xmp = TiffIfd::Find(first, XmpTag)) out.xmp = xmp->value;
    TiffIfd::Directory exif;
    for (const TiffIfd::Entry& entry : first)
        if (Descriptive(entry.tag)) exif.push_back(entry);
    if (TiffIfd::Find(exif, TiffIfd::ExifPointer) || TiffIfd::Find(exif, TiffIfd::GpsPointer) ||
        TiffIfd::Find(exif, 271) || TiffIfd::Find(exif, 272))
        out.exif = TiffIfd::WriteBlock(exif);
    return true;
}

}  // namespace

bool Read(const uint8_t* data, size_t size, Metadata& out) {
    TiffIfd::Structure tiff;
    return TiffIfd::Read(data, size, tiff) && FromStructure(tiff, out);
}

bool Read(const ReadAt& readAt, uint64_t size, Metadata& out) {
    TiffIfd::Structure tiff;
    return TiffIfd::Read(readAt, size, tiff) && FromStructure(tiff, out);
}

bool EmbedInto(RandomAccess& tiff, const Metadata& metadata) {
    TiffIfd::Structure page;
    const ReadAt readAt = [&tiff](uint64_t at, uint8_t* into, size_t size) {
        return tiff.ReadAt(at, into, size);
    };
    if (!TiffIfd::Read(readAt, tiff.Size(), page) || page.bigTiff) return false;
    TiffIfd::Directory first = page.first;
    TiffIfd::Structure exif;
    if (!metadata.exif.empty() && TiffIfd::Read(metadata.exif.data(), metadata.exif.size(), exif)) {
        for (const TiffIfd::Entry& entry : exif.first) {
            // The block's pointers and orientation win over the encoder's own:
            // the block says 1 exactly when the pixels were turned.
            const bool pointer = entry.tag == TiffIfd::ExifPointer || entry.tag == TiffIfd::GpsPointer;
            if (Descriptive(entry.tag) && (pointer || entry.tag == OrientationTag || !TiffIfd::Find(first, entry.tag)))
                Replace(first, entry);
        }
    }
    if (metadata.dpiX > 0 && metadata.dpiY > 0) {
        Replace(first, TiffIfd::RationalOf(XResolution, metadata.dpiX));
        Replace(first, TiffIfd::RationalOf(YResolution, metadata.dpiY));
        Replace(first, TiffIfd::Short(ResolutionUnit, 2));  // inches
    }
    if (!metadata.xmp.empty()) Replace(first, TiffIfd::Undefined(XmpTag, 1, metadata.xmp));
    if (!metadata.icc.empty()) Replace(first, TiffIfd::Undefined(IccTag, 7, metadata.icc));

    const uint64_t kept = KeptBytes(tiff, page);
    std::vector<uint8_t> tail;
    const uint32_t at = TiffIfd::Write(first, page.bigEndian, tail, kept);
    if (at == 0) return false;
    // The header names the new directory; an old one that could not be
    // dropped stays, unnamed.
    uint8_t link[4];
    for (int i = 0; i < 4; ++i) link[page.bigEndian ? 3 - i : i] = static_cast<uint8_t>(at >> (8 * i));
    return tiff.WriteAt(kept, tail.data(), tail.size()) && tiff.Truncate(kept + tail.size()) &&
           tiff.WriteAt(4, link, 4);
}

std::vector<uint8_t> Embed(const std::vector<uint8_t>& tiff, const Metadata& metadata) {
    std::vector<uint8_t> out = tiff;
    InMemory file(out);
    if (!EmbedInto(file, metadata)) return {};
    return out;
}

}  // namespace TiffTags
