#include "converter/metadata/Exif.h"

#include "converter/metadata/TiffIfd.h"

namespace Exif {
namespace {

void Put(std::vector<uint8_t>& bytes, size_t at, uint32_t value, size_t width, bool bigEndian) {
    if (at > bytes.size() || bytes.size() - at < width) return;
    for (size_t i = 0; i < width; ++i) {
        const size_t shift = 8 * (bigEndian ? width - 1 - i : i);
        bytes[at + i] = static_cast<uint8_t>(value >> shift);
    }
}

// A SHORT or LONG entry set to `value` where it lies; a SHORT that cannot
// hold it is left alone.
void SetNumber(std::vector<uint8_t>& bytes, const TiffIfd::Entry* entry, uint32_t value, bool bigEndian) {
    if (!entry || entry->count != 1) return;
    if (entry->type == 3 && value <= 0xFFFF) Put(bytes, entry->at, value, 2, bigEndian);
    if (entry->type == 4) Put(bytes, entry->at, value, 4, bigEndian);
}

}  // namespace

std::vector<uint8_t> ForResult(const std::vector<uint8_t>& block, uint32_t width, uint32_t height) {
    TiffIfd::Structure tiff;
    if (!TiffIfd::Read(block.data(), block.size(), tiff)) return {};
    std::vector<uint8_t> out = block;
    SetNumber(out, TiffIfd::Find(tiff.first, 0x0112), 1, tiff.bigEndian);
    Put(out, tiff.nextLinkAt, 0, 4, tiff.bigEndian);
    if (const TiffIfd::Entry* exif = TiffIfd::Find(tiff.first, TiffIfd::ExifPointer)) {
        SetNumber(out, TiffIfd::Find(exif->directory, 0xA002), width, tiff.bigEndian);
        SetNumber(out, TiffIfd::Find(exif->directory, 0xA003), height, tiff.bigEndian);
    }
    return out;
}

int Orientation(const std::vector<uint8_t>& block) {
    TiffIfd::Structure tiff;
    if (!TiffIfd::Read(block.data(), block.size(), tiff)) return 1;
    const uint32_t value = TiffIfd::Number(TiffIfd::Find(tiff.first, 0x0112), 1);
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
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
