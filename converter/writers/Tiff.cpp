#include "converter/writers/Tiff.h"

#include "converter/base/Pixels.h"
#include "converter/base/TiffMemory.h"

namespace Tiff {

std::vector<uint8_t> Write(const Image& image) {
    std::vector<uint8_t> bytes;
    if (!image.Valid()) return bytes;
    const bool alpha = Pixels::HasTransparency(image);
    const uint16_t samples = alpha ? 4 : 3;
    const size_t rowBytes = static_cast<size_t>(image.width) * samples;  // fits: Stride() does with 4
    TiffMemory::File file;
    file.out = &bytes;
    // libtiff's largest allocation is a strip or a row of ours.
    TIFF* tiff = TiffMemory::Open(file, "w", uint64_t{64} << 20);
    if (!tiff) return {};
    bool ok = true;
    {
        TiffMemory::Closer closer{tiff};
        const uint32_t rowsPerStrip = static_cast<uint32_t>(rowBytes >= (256u << 10) ? 1 : (256u << 10) / rowBytes);
        ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, image.width) && TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, image.height) &&
             TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) && TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples) &&
             TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
             TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
             TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW) &&
             TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
             TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
             TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        if (ok && alpha) {
            const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
            ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        std::vector<uint8_t> row(rowBytes);
        for (uint32_t y = 0; ok && y < image.height; ++y) {
            const uint8_t* from = image.Row(y);
            uint8_t* to = row.data();
            for (uint32_t x = 0; x < image.width; ++x, from += 4, to += samples) {
                to[0] = from[2];
                to[1] = from[1];
                to[2] = from[0];
                if (alpha) to[3] = from[3];
            }
            ok = TIFFWriteScanline(tiff, row.data(), y, 0) >= 0;
        }
        // The directory goes last, after the strips; TiffTags::Embed relies on it.
        ok = ok && TIFFFlush(tiff);
    }
    if (!ok) bytes.clear();
    return bytes;
}

}  // namespace Tiff
