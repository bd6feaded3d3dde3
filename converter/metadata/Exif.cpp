#include "converter/metadata/Exif.h"

#include <algorithm>

#include "converter/metadata/ExifOrientation.h"
#include "converter/metadata/TiffIfd.h"

namespace Exif {
namespace {

constexpr uint16_t PixelXDimension = 0xA002, PixelYDimension = 0xA003;

void Put(std::vector<uint8_t>& bytes, uint64_t at, uint32_t value, size_t width, bool bigEndian) {
    if (at > bytes.size() || bytes.size() - at < width) return;
    for (size_t i = 0; i < width; ++i) {
        const size_t shift = 8 * (bigEndian ? width - 1 - i : i);
        bytes[static_cast<size_t>(at) + i] = static_cast<uint8_t>(value >> shift);
    }
}

// The entry rewritten where it lies as one SHORT (or LONG, when the value
// needs it or the entry was one) holding `value`: whatever count and type it
// had, a reader then finds that value and no other.
void SetEntry(std::vector<uint8_t>& bytes, const TiffIfd::Entry* entry, uint32_t value, bool bigEndian) {
    if (!entry) return;
    const bool isLong = value > 0xFFFF || entry->type == 4;
    Put(bytes, entry->entryAt + 2, isLong ? 4 : 3, 2, bigEndian);
    Put(bytes, entry->entryAt + 4, 1, 4, bigEndian);
    Put(bytes, entry->entryAt + 8, 0, 4, bigEndian);
    Put(bytes, entry->entryAt + 8, value, isLong ? 4 : 2, bigEndian);
}

TiffIfd::Entry Number(uint16_t tag, uint32_t value) {
    if (value <= 0xFFFF) return TiffIfd::Short(tag, static_cast<uint16_t>(value));
    TiffIfd::Entry entry;
    entry.tag = tag;
    entry.type = 4;
    entry.count = 1;
    for (int i = 0; i < 4; ++i) entry.value.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return entry;
}

void Replace(TiffIfd::Directory& directory, TiffIfd::Entry entry) {
    for (TiffIfd::Entry& e : directory)
        if (e.tag == entry.tag) {
            e = std::move(entry);
            return;
        }
}

// A block whose first directory the bytes cut short, written anew from what
// of it is whole: edited in place it would still promise entries and a link
// that are not there.
std::vector<uint8_t> Rebuilt(TiffIfd::Structure tiff, uint32_t width, uint32_t height, bool turned) {
    if (turned) Replace(tiff.first, TiffIfd::Short(ExifOrientation::Tag, 1));
    for (TiffIfd::Entry& entry : tiff.first) {
        if (entry.tag != TiffIfd::ExifPointer) continue;
        Replace(entry.directory, Number(PixelXDimension, width));
        Replace(entry.directory, Number(PixelYDimension, height));
    }
    return TiffIfd::WriteBlock(tiff.first);
}

bool SameEntry(const TiffIfd::Entry* a, const TiffIfd::Entry* b) {
    if (!a || !b) return a == b;
    return a->type == b->type && a->count == b->count && a->value == b->value;
}

bool SaysNumber(const TiffIfd::Entry* entry, uint32_t value) {
    return !entry || (entry->count == 1 && (entry->type == 3 || entry->type == 4) && TiffIfd::Number(entry) == value);
}

// Whether the edited block, read back, says what the result needs: an edit
// in place could land on another entry where a crafted block's directories
// overlap.
bool Says(const std::vector<uint8_t>& out, const TiffIfd::Structure& source, uint32_t width, uint32_t height,
          bool turned) {
    TiffIfd::Structure back;
    if (!TiffIfd::Read(out.data(), out.size(), back) || back.cutShort) return false;
    const TiffIfd::Entry* was = TiffIfd::Find(source.first, ExifOrientation::Tag);
    const TiffIfd::Entry* is = TiffIfd::Find(back.first, ExifOrientation::Tag);
    if (turned ? (was && !(is && is->type == 3 && SaysNumber(is, 1))) : !SameEntry(was, is)) return false;
    if (const TiffIfd::Entry* exif = TiffIfd::Find(back.first, TiffIfd::ExifPointer)) {
        if (!SaysNumber(TiffIfd::Find(exif->directory, PixelXDimension), width) ||
            !SaysNumber(TiffIfd::Find(exif->directory, PixelYDimension), height))
            return false;
    }
    return back.nextLinkAt != 0 && back.nextLinkAt + 4 <= out.size() &&
           (out[back.nextLinkAt] | out[back.nextLinkAt + 1] | out[back.nextLinkAt + 2] | out[back.nextLinkAt + 3]) == 0;
}

}  // namespace

std::vector<uint8_t> ForResult(const std::vector<uint8_t>& block, uint32_t width, uint32_t height, bool turned) {
    TiffIfd::Structure tiff;
    if (!TiffIfd::Read(block.data(), block.size(), tiff)) return {};
    // Edited in place only where its entries are where a classic block has them.
    if (tiff.cutShort || tiff.bigTiff) return Rebuilt(std::move(tiff), width, height, turned);
    std::vector<uint8_t> out = block;
    if (turned) SetEntry(out, TiffIfd::Find(tiff.first, ExifOrientation::Tag), 1, tiff.bigEndian);
    Put(out, tiff.nextLinkAt, 0, 4, tiff.bigEndian);
    if (const TiffIfd::Entry* exif = TiffIfd::Find(tiff.first, TiffIfd::ExifPointer)) {
        SetEntry(out, TiffIfd::Find(exif->directory, PixelXDimension), width, tiff.bigEndian);
        SetEntry(out, TiffIfd::Find(exif->directory, PixelYDimension), height, tiff.bigEndian);
    }
    return Says(out, tiff, width, height, turned) ? out : Rebuilt(std::move(tiff), width, height, turned);
}

bool Resolution(const std::vector<uint8_t>& block, double& dpiX, double& dpiY) {
    TiffIfd::Structure tiff;
    if (!TiffIfd::Read(block.data(), block.size(), tiff)) return false;
    const double x = TiffIfd::Rational(TiffIfd::Find(tiff.first, 282));
    const double y = TiffIfd::Rational(TiffIfd::Find(tiff.first, 283));
    const uint32_t unit = TiffIfd::Number(TiffIfd::Find(tiff.first, 296), 2);
    if (x <= 0 || y <= 0 || (unit != 2 && unit != 3)) return false;
    const double factor = unit == 3 ? 2.54 : 1.0;  // 3: centimetres
    dpiX = x * factor;
    dpiY = y * factor;
    return true;
}

}  // namespace Exif
