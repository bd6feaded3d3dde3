// The sources the streamed path reads row by row: a JPEG, a PNG that is not
// interlaced, a TIFF of strips, an uncompressed bitmap, a raw Netpbm file, a
// HEIF picture. Each reads what comes before the first row (the size, the
// metadata, whether it may be transparent) and then hands out rows, holding
// a few of them (a JPEG, a PNG, a bitmap, a Netpbm file), a strip (a TIFF)
// or what libheif decoded (a HEIF picture, without a copy of its own).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "converter/base/Decoded.h"
#include "converter/pipeline/Job.h"
#include "converter/run/Sources.h"

namespace RowSources {

class Source {
public:
    virtual ~Source() = default;
    virtual bool Begin() = 0;
    // The next row, `size.width` BGRA pixels; false on damage.
    virtual bool Row(uint8_t* bgra) = 0;
    // German, when the picture was read but not all of it was there.
    virtual const wchar_t* Remark() const { return nullptr; }
    // Why Begin or Row failed.
    virtual ReadStatus Failure() const { return ReadStatus::Damaged; }

    const wchar_t* kind = nullptr;   // the reader's name, for the reason on damage
    const char* ownToken = nullptr;  // its format's token, for "each picture's own format"
    PixelSize size;                  // as the rows come (a JPEG reduced for a preset)
    bool grey = false, transparent = false;
    uint64_t decoderBytes = 0;       // what the decoder holds meanwhile
};

enum class Opened {
    Yes,
    No,       // the whole-picture path is to read it: nothing asked, nothing held
    Skipped,  // too large for either path: `reason` says why
};

// Opens the file as a row source; `decoded` receives its metadata,
// orientation and (a reduced JPEG) stored size, its picture stays empty.
Opened Open(const Sources::Source& file, const Job& job, std::unique_ptr<Source>& source, Decoded& decoded,
            std::wstring& reason);

}  // namespace RowSources
