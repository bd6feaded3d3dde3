// How a format reader is called. The readers of our own take the whole file
// as bytes and know no Windows types, so they compile, test and fuzz
// natively; the platform's readers (WIC, GDI) answer in the same terms
// (converter/base/Decoded.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/base/Decoded.h"

// A reader of our own: the whole file in `data`. Decides by the content
// whether the bytes are its format (NotThisFormat when not), checks every
// bound before it allocates, and never throws.
using ByteReader = ReadResult (*)(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

// What a row reader (the streamed path's reader of a kind) has learned of the
// picture once it has read what comes before the first row; each kind's
// RowReader sets it in its Open.
class RowPicture {
public:
    PixelSize Size() const { return size_; }
    bool Grey() const { return grey_; }
    // An alpha channel or a transparent colour: the writers must keep it.
    bool MayBeTransparent() const { return transparent_; }
    // What the decoder holds meanwhile, for the budget.
    uint64_t DecoderBytes() const { return decoderBytes_; }

protected:
    PixelSize size_;
    uint64_t decoderBytes_ = 0;
    bool grey_ = false, transparent_ = false;
};
