// PNG read through libspng: every colour type and bit depth, tRNS,
// interlaced or not; of an animated PNG the default image (its IDAT), which
// every viewer without animation shows. 16-bit samples are cut to 8. The
// orientation is the eXIf chunk's.
// Colour: an iCCP profile is carried as the picture's profile; sRGB means
// none is needed; a gAMA (and cHRM) other than sRGB's is made into a profile
// of its own, so the one colour path (ColourProfile.h) treats them alike.
// Resolution, Exif and XMP come from the chunks (PngChunks.h). Pure: no
// Windows types.
#pragma once

#include <memory>

#include "converter/base/ReadAt.h"
#include "converter/readers/Reader.h"

namespace Png {

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

// The same file's rows as they are decoded, for a picture of any height in
// the memory of a few rows: the same pixels and metadata as Read.
class RowReader : public RowPicture {
public:
    RowReader();
    ~RowReader();
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    // Reads the header and the chunks (the metadata may follow the pixel
    // data: every chunk but the pixels' is read first); `out` receives the
    // metadata, the colour and the orientation, its picture stays empty.
    ReadResult Open(ReadAt readAt, uint64_t size, Decoded& out);
    // Interlaced rows come in seven passes: such a file is read whole.
    bool Interlaced() const { return interlaced_; }

    bool Begin();
    // The next row, Size().width BGRA pixels; false on damage.
    bool Row(uint8_t* bgra);

    struct State;

private:
    std::unique_ptr<State> state_;
    bool interlaced_ = false;
};

}  // namespace Png
