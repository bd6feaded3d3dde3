// Reads a picture with Windows Imaging Component: the first frame (of an
// animated GIF or a multi-page TIFF too), scaled when asked, as straight BGRA.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <string>

#include "converter/Com.h"
#include "converter/Geometry.h"
#include "converter/Image.h"

namespace Decoding {

// A picture larger than this many pixels is refused before any memory is
// taken for it: its header may lie, and 4 bytes a pixel must fit in the
// worker's share of the address space.
constexpr uint64_t MaxPixels = sizeof(void*) == 8 ? (uint64_t{1} << 28) : (uint64_t{1} << 26);

// The frame's size and its container format, without decoding pixels.
struct Opened {
    ComPtr<IWICBitmapFrameDecode> frame;
    GUID container = GUID_NULL;
    PixelSize size;     // as shown: turned by the orientation
    PixelSize stored;   // as stored in the file
    int orientation = 1;  // the Exif/TIFF orientation, 1 (as stored) to 8
};

// Opens the file read-only and shared for reading. Of an icon the largest
// picture is taken, of any other file the first frame (page). Failure codes: the file's
// (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ... as HRESULTs) or WIC's
// (WINCODEC_ERR_COMPONENTNOTFOUND: no decoder knows it).
HRESULT Open(IWICImagingFactory* wic, const std::wstring& path, Opened& opened);

// The frame's pixels upright (as a camera's orientation tag asks) at `size`
// (`opened.size`: no scaling), with a high-quality filter when resized. E_OUTOFMEMORY, WINCODEC_ERR_* for a
// damaged or truncated file, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) beyond
// MaxPixels.
HRESULT Read(IWICImagingFactory* wic, Opened& opened, PixelSize size, Image& image);

}  // namespace Decoding
