#include "converter/metadata/ExifOrientation.h"

namespace ExifOrientation {

int Of(const TiffIfd::Structure& tiff) {
    const TiffIfd::Entry* entry = TiffIfd::Find(tiff.first, Tag);
    if (!entry || entry->type != 3) return 1;
    const uint32_t value = TiffIfd::Number(entry, 1);
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
}

int FromTiff(const uint8_t* data, size_t size) {
    TiffIfd::Structure tiff;
    return TiffIfd::Read(data, size, tiff) ? Of(tiff) : 1;
}

int ReadTiff(const ReadAt& readAt, uint64_t size) {
    TiffIfd::Structure tiff;
    return TiffIfd::Read(readAt, size, tiff) ? Of(tiff) : 1;
}

}  // namespace ExifOrientation
