// The picture as a reader hands it over, with what its file says besides
// the pixels, and how a reader says that it cannot. Every stage (readers,
// metadata, writers, the pipeline) shares these; no Windows types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// A metadata block (a profile, an Exif block, an XMP packet) larger than
// this is dropped and the picture converted without it: real ones are far
// smaller, and a crafted one must not cost more memory than its picture.
constexpr size_t MaxMetadataBlockBytes = size_t{4} << 20;

// Drops every block above MaxMetadataBlockBytes.
inline void DropOversizedBlocks(Metadata& metadata) {
    for (std::vector<uint8_t>* block : {&metadata.icc, &metadata.exif, &metadata.xmp})
        if (block->size() > MaxMetadataBlockBytes) std::vector<uint8_t>().swap(*block);
}

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
    // string literal, or nullptr for the status's own text. With Ok: what
    // the user must learn of a picture converted all the same (a file cut
    // short), named in the run's summary.
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
    // Asked once the stored size is known and before the picture's memory
    // is taken: the size the picture will be decoded at, and what the
    // decoder holds beside it meanwhile (its buffers, tables, planes).
    // false: not now, for lack of memory; the reader answers OutOfMemory.
    // Empty: nobody to ask. A reader asks at most once a picture.
    std::function<bool(PixelSize decoded, uint64_t decoderBytes)> admit;

    bool Admits(uint64_t width, uint64_t height, uint64_t decoderBytes) const {
        if (!admit) return true;
        if (width > UINT32_MAX || height > UINT32_MAX) return false;
        return admit({static_cast<uint32_t>(width), static_cast<uint32_t>(height)}, decoderBytes);
    }
};
