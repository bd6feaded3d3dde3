// The metadata of a source the platform's imaging component reads: taken from
// the file's own bytes (never from the component's metadata readers, which
// crash on a TIFF whose directories loop and under Wine read no JPEG
// metadata), the colour profile of other formats from the decoder.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <string>

#include "converter/base/Decoded.h"

namespace WicMetadata {

// Fills `out` as far as the file gives; a file that cannot be read again, or
// is too large to hold, gives none. Never fails the conversion.
void Read(IWICImagingFactory* wic, IWICBitmapFrameDecode* frame, const GUID& container, const std::wstring& path,
          Metadata& out);

}  // namespace WicMetadata
