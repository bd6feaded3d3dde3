#include "converter/metadata/SourceMetadata.h"

#include "converter/metadata/BmpHeader.h"
#include "converter/metadata/Exif.h"
#include "converter/metadata/JpegMarkers.h"
#include "converter/metadata/PngChunks.h"
#include "converter/metadata/TiffTags.h"
#include "converter/metadata/Xmp.h"

namespace SourceMetadata {

void FromFile(const uint8_t* data, size_t size, Metadata& out) {
    if (!data || size < 8) return;
    if (!JpegMarkers::Read(data, size, out) && !PngChunks::Read(data, size, out) && !TiffTags::Read(data, size, out))
        BmpHeader::Resolution(data, size, out.dpiX, out.dpiY);
    // The container's own resolution (JFIF, pHYs) first; else the Exif block's.
    if (out.dpiX == 0 && !out.exif.empty()) Exif::Resolution(out.exif, out.dpiX, out.dpiY);
}

Metadata ForResult(const Metadata& source, uint32_t width, uint32_t height, int orientation) {
    Metadata result;
    const bool sideways = orientation >= 5 && orientation <= 8;
    result.dpiX = sideways ? source.dpiY : source.dpiX;
    result.dpiY = sideways ? source.dpiX : source.dpiY;
    result.icc = source.icc;
    const bool turned = orientation != 1;
    if (!source.exif.empty()) result.exif = Exif::ForResult(source.exif, width, height, turned);
    if (!source.xmp.empty()) result.xmp = Xmp::ForResult(source.xmp, width, height, turned);
    return result;
}

}  // namespace SourceMetadata
