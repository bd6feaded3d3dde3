// Windows and OS/2 bitmaps: a "BM" file, or a bare device-independent bitmap
// (an information header with no file header, as the clipboard writes
// them as .dib). Every header kind (OS/2 1.x core, OS/2 2.x in its 16 to
// 64-byte lengths, INFO, V2 to V5), 1, 2, 4, 8, 16, 24 and 32 bits, bit
// fields and alpha bit fields with any masks, RLE4 and RLE8, rows stored top
// down. Pure: no Windows types.
#pragma once

#include <memory>

#include "converter/base/ReadAt.h"
#include "converter/readers/Reader.h"

namespace Bmp {

// A bitmap may carry a whole JPEG or PNG file in place of its pixels.
enum class Embedded { None, Jpeg, Png };

struct Stream {
    Embedded kind = Embedded::None;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The picture; for a bitmap whose pixels are an embedded JPEG or PNG it
// returns Ok with `stream` set and `out` left empty, for the caller's reader
// of that kind.
ReadResult ReadOrLocate(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out, Stream& stream);

// As above, an embedded stream being Unsupported: the byte reader's shape.
ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

// An uncompressed "BM" file's rows, top first, each read from its place in
// the file as it is asked for (from the end of the file up, for the usual
// bottom-up bitmap): a picture of any height in the memory of one row, the
// same pixels and metadata as Read. Run-length and embedded pixels, and a
// bare DIB, are Unsupported here and read whole.
class RowReader : public RowPicture {
public:
    RowReader();
    ~RowReader();
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    // Reads the headers, the palette and the profile; `out` receives the
    // metadata. Damaged when the file is too short for its pixels.
    ReadResult Open(ReadAt readAt, uint64_t size, Decoded& out);

    bool Begin();
    // The next row, Size().width BGRA pixels; false when the file fails.
    bool Row(uint8_t* bgra);

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace Bmp
