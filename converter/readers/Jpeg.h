// JPEG (baseline, progressive, arithmetic; grey, YCbCr, RGB, CMYK and YCCK)
// read through libjpeg-turbo. When the picture will be reduced, the decoder
// scales by 1/2, 1/4 or 1/8 while decoding, never below the size the upright
// picture is fitted to: the resampler finishes the job on far fewer pixels.
// Exif (and its orientation), XMP, the ICC profile (reassembled from its
// APP2 chunks) and the JFIF density go into the metadata. Pure: no Windows types.
#pragma once

#include <functional>
#include <memory>

#include "converter/readers/Reader.h"

namespace Jpeg {

// What the summary says of a file that ends before its picture does: it is
// converted as libjpeg's own tools show it, the missing blocks mid-grey.
constexpr wchar_t CutShort[] = L"Die Datei endet vor dem Ende des Bildes; der fehlende Teil ist grau.";

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

// The decoder's reduction for a stored picture of `stored` pixels with that
// orientation: 1, 2, 4 or 8, the largest whose result (each side divided and
// rounded up) still covers the fit of the upright picture into the box.
unsigned Reduction(PixelSize stored, int orientation, const ReadRequest& request);

// The streamed path's reader: the file's bytes come from `fill` (which
// gives up to `size` bytes, 0 at the end), the picture leaves a row at a
// time, at the same reduction Read would decode it at.
class RowReader : public RowPicture {
public:
    RowReader();
    ~RowReader();
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    // Reads the headers: `out` receives the metadata, the orientation and
    // the stored size when reduced; its picture stays empty.
    // Size() is as the rows come; DecoderBytes() what libjpeg holds
    // meanwhile (a many-scan file: all its coefficients).
    ReadResult Open(std::function<size_t(uint8_t*, size_t)> fill, const ReadRequest& request, Decoded& out);
    bool Cmyk() const { return cmyk_; }

    // Starts decoding; libjpeg's memory is capped at DecoderBytes().
    bool Begin();
    // The next row, Size().width BGRA pixels; false on damage.
    bool Row(uint8_t* bgra);
    // The file ended before the picture did (the rest came out grey).
    bool Truncated() const;

private:
    ReadResult Fail(ReadResult result);
    struct State;
    std::unique_ptr<State> state_;
    bool cmyk_ = false;
};

}  // namespace Jpeg
