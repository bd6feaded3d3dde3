// What every format writer is given besides the picture, and how it is
// called.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <cstdint>
#include <vector>

#include "converter/base/Decoded.h"
#include "converter/base/Image.h"

struct EncodeOptions {
    IWICImagingFactory* wic = nullptr;  // the calling worker's own factory
    int jpegQuality = 90;               // 1 .. 100, where the format uses it
    // What the result keeps of its source (already made fit for it: upright,
    // no thumbnail); nullptr or empty parts: nothing to keep.
    const Metadata* metadata = nullptr;
};

// Writes the picture's bytes into `out` (emptied first). A failure code, never
// an exception, for anything the format cannot take.
using Encoder = HRESULT (*)(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
