// Reads a picture with Windows Imaging Component: the first frame (of an
// animated GIF or a multi-page TIFF too) as stored, as straight BGRA, with
// the orientation its camera tag asks for. The door (Readers.h) sends only
// what none of our own readers claims: whatever codecs the user installed
// (HEIC, JPEG XR, camera raw).
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <cstdint>
#include <string>

#include "converter/base/Com.h"
#include "converter/base/Geometry.h"
#include "converter/readers/Reader.h"

namespace Wic {

// The frame and what its decoder says, without decoding pixels.
struct Opened {
    Opened() = default;
    ~Opened() {
        frame.Reset();
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;

    // The file the decoder reads, opened by us through its long form (a
    // decoder handed the name would open the plain path itself); it outlives
    // the frame.
    HANDLE file = INVALID_HANDLE_VALUE;
    ComPtr<IWICBitmapFrameDecode> frame;
    GUID container = GUID_NULL;
    PixelSize stored;     // as stored in the file
    int orientation = 1;  // the Exif/TIFF orientation, 1 (as stored) to 8
    std::wstring extensions;  // the decoder's own, lower case: ".bmp,.dib,.rle"
};

// Opens the file read-only and shared for reading, its first frame (page).
// Failure codes: the file's (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ...
// as HRESULTs) or WIC's (WINCODEC_ERR_COMPONENTNOTFOUND: no decoder knows it).
HRESULT Open(IWICImagingFactory* wic, const std::wstring& path, Opened& opened);

// The frame's pixels as stored, and its orientation. E_OUTOFMEMORY,
// WINCODEC_ERR_* for a damaged or truncated file,
// HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) beyond request.maxPixels.
HRESULT Read(IWICImagingFactory* wic, Opened& opened, const ReadRequest& request, Decoded& out);

// The file name extensions a codec names, lower case, separated by commas
// (".bmp,.dib,.rle"); empty when it names none. (WicCodecs.cpp)
std::wstring ExtensionsOf(IWICBitmapCodecInfo* info);

// The same of every decoder installed, all in one list.
std::wstring DecoderExtensions(IWICImagingFactory* wic);

}  // namespace Wic
