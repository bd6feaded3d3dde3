// The picture as a reader hands it over, with what its file says besides
// the pixels, and how a reader says that it cannot. Every stage (readers,
// metadata, writers, the pipeline) shares these; no Windows types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "converter/base/Geometry.h"
#include "converter/base/Image.h"

// What a file says about its picture besides the pixels, carried to the
// result where its format can hold it.
struct Metadata {
    double dpiX = 0;  // pixels an inch; 0: the file gives none
    double dpiY = 0;
    std::vector<uint8_t> icc;   // the embedded ICC colour profile, empty for none
    std::vector<uint8_t> exif;  // the Exif block from its TIFF header on, empty for none
    std::vector<uint8_t> xmp;   // the XMP packet, empty for none
};

struct Decoded {
    Image image;          // as stored in the file: not yet turned upright
    int orientation = 1;  // the Exif/TIFF orientation, 1 (as stored) to 8
    Metadata metadata;
    // The stored size when the reader reduced while decoding ({0, 0}: it
    // did not): the result is fitted from it, so that a reduced picture
    // ends at exactly the size the full one would.
    PixelSize full;
};

enum class ReadStatus {
    Ok,
    NotThisFormat,  // the bytes are not of the reader's format: the next reader may try
    Damaged,        // of the format, but broken or cut short
    Unsupported,    // of the format, in a variant the reader does not read
    TooLarge,       // more pixels than ReadRequest::maxPixels
    OutOfMemory,
    NoPicture,      // a valid file that carries no picture to show (PSD without its merged image)
};

struct ReadResult {
    ReadStatus status = ReadStatus::Ok;
    // German, for the user, when the status alone says too little
    // ("Die Photoshop-Datei enthält kein zusammengefügtes Bild."); a
    // string literal, or nullptr for the status's own text.
    const wchar_t* reason = nullptr;

    bool Ok() const { return status == ReadStatus::Ok; }
};

struct ReadRequest {
    // Checked against the stored size before any pixel memory is taken.
    uint64_t maxPixels = uint64_t{1} << 26;
    // The box the result will be fitted into ({0, 0}: full size) and
    // whether it may be enlarged. A reader that can reduce while decoding
    // may hand over a smaller picture, never smaller than that fit.
    PixelSize box;
    bool enlarge = false;
};
