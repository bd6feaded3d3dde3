// HEIF pictures, HEVC-coded (HEIC, as phones store them) or AV1-coded
// (AVIF), decoded by libheif with libde265 and dav1d: the primary image at
// its full size (a grid's tiles put together), the container's turning,
// mirroring and cropping applied, 8 to 12 bits made 8, alpha straight, the
// colour profile and the Exif and XMP blocks carried. Pure: no Windows types.
#pragma once

#include <memory>

#include "converter/readers/Reader.h"

namespace Heif {

// Whether the file starts with an ISO file-type box naming a HEIF or AVIF
// brand, as major or compatible brand.
bool IsHeif(const uint8_t* head, size_t size);

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

// The same picture handed out row by row: libheif decodes it whole and
// holds its pixels, of which each row is made BGRA as it is asked for, so
// that no copy of the whole picture is made beside libheif's. Read is
// built on it.
class RowReader : public RowPicture {
public:
    RowReader();
    ~RowReader();
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    // Reads the container (`data` must outlive the reader): the primary
    // image's size within `maxPixels`, whether it has alpha, what decoding
    // will hold; `out` receives the profile, Exif and XMP and orientation
    // 1. Decodes nothing.
    ReadResult Open(const uint8_t* data, size_t size, uint64_t maxPixels, Decoded& out);

    // Decodes the picture.
    ReadResult Begin();
    // The next row, Size().width BGRA pixels, alpha straight; false past
    // the last or before Begin.
    bool Row(uint8_t* bgra);

    struct State;

private:
    std::unique_ptr<State> state_;
};

// The TIFF structure inside a HEIF Exif item (a 4-byte offset to the TIFF
// header, then the block, sometimes after JPEG's "Exif\0\0"); empty when
// the item holds none.
std::vector<uint8_t> ExifBody(const uint8_t* item, size_t size);

// Straight colour from premultiplied: each of blue, green, red divided by
// alpha, rounded; a transparent pixel stays as it is.
void Unpremultiply(Image& image);

}  // namespace Heif
