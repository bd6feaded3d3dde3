// TIFF read through libtiff, the first page: strips or tiles, chunky or
// planar; none, LZW, Deflate, PackBits, JPEG (old and new), CCITT fax and
// LZMA and the rarer codecs libtiff has; 1 to 16 bits (9 to 15 unpacked), 32-bit integers and 16-, 32-
// and 64-bit floats (0 to 1 shown as black to white); palette, grey, RGB,
// CMYK (through its embedded profile into sRGB when it has one), YCbCr,
// CIE L*a*b* and LogLuv; associated and unassociated alpha (the first extra
// sample, as ImageMagick takes it). The orientation tag of the same
// directory, and resolution, ICC profile, XMP and the Exif tags through
// TiffTags.h. Pure: no Windows types.
#pragma once

#include <memory>

#include "converter/base/RandomAccess.h"
#include "converter/readers/Reader.h"

namespace Tiff {

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

// The same file's rows as they are decoded, strip by strip, for a picture
// of any height in the memory of a strip: the same pixels and metadata as
// Read. Taken for chunky (or one-sample) strips of grey or RGB samples, with
// or without alpha; tiles, separate planes, CMYK, L*a*b*, premultiplied
// 16-bit samples and what libtiff's RGBA interface reads are read whole.
class RowReader : public RowPicture {
public:
    RowReader();
    ~RowReader();
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    // Reads the first directory: `out` receives the metadata and the
    // orientation, its picture stays empty. `file` must outlive the reader.
    ReadResult Open(RandomAccess& file, Decoded& out);
    // Whether the rows can come one by one (see above).
    bool Streams() const { return streams_; }

    bool Begin();
    // The next row, Size().width BGRA pixels; false on damage.
    bool Row(uint8_t* bgra);

    struct State;

private:
    std::unique_ptr<State> state_;
    bool streams_ = false;
};

}  // namespace Tiff
