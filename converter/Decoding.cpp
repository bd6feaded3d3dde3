#include "converter/Decoding.h"

#include <new>
#include <vector>

#include "converter/ExifOrientation.h"
#include "converter/Pixels.h"
#include "converter/Resampling.h"

namespace Decoding {

namespace {

// The frame an icon file shows best: the one with the most pixels.
UINT LargestFrame(IWICBitmapDecoder* decoder) {
    UINT count = 0, best = 0;
    uint64_t bestArea = 0;
    if (FAILED(decoder->GetFrameCount(&count))) return 0;
    for (UINT i = 0; i < count && i < 64; ++i) {
        ComPtr<IWICBitmapFrameDecode> frame;
        UINT w = 0, h = 0;
        if (FAILED(decoder->GetFrame(i, frame.Put())) || FAILED(frame->GetSize(&w, &h))) continue;
        if (uint64_t{w} * h > bestArea) {
            bestArea = uint64_t{w} * h;
            best = i;
        }
    }
    return best;
}

// A JPEG's orientation tag, read from the file's head.
int JpegOrientation(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::vector<uint8_t> head(ExifOrientation::HeadBytes);
    DWORD got = 0;
    const bool read = ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &got, nullptr) != FALSE;
    CloseHandle(file);
    return read ? ExifOrientation::Read(head.data(), got) : 1;
}

// A TIFF's orientation tag, read from its header and first directory. Not
// through WIC's metadata reader: under Wine it dereferences a null pointer on
// a file whose directories loop, and takes the whole process with it.
int TiffOrientation(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const int orientation = ExifOrientation::ReadTiff([file](uint64_t offset, uint8_t* into, size_t size) -> size_t {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        return ReadFile(file, into, static_cast<DWORD>(size), &got, &at) ? got : 0;
    });
    CloseHandle(file);
    return orientation;
}

// The orientation tag of a JPEG's Exif block or a TIFF's first directory;
// 1 when there is none or it makes no sense.
int OrientationOf(IWICBitmapFrameDecode*, const GUID& container, const std::wstring& path) {
    if (container == GUID_ContainerFormatJpeg) return JpegOrientation(path);
    if (container == GUID_ContainerFormatTiff) return TiffOrientation(path);
    return 1;
}

}  // namespace

HRESULT Open(IWICImagingFactory* wic, const std::wstring& path, Opened& opened) {
    ComPtr<IWICBitmapDecoder> decoder;
    // Cache on demand: metadata of a large TIFF or a long GIF is read only
    // when asked for, which we never do.
    HRESULT hr = wic->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, decoder.Put());
    if (FAILED(hr)) return hr;
    hr = decoder->GetContainerFormat(&opened.container);
    if (FAILED(hr)) return hr;
    const UINT index = opened.container == GUID_ContainerFormatIco ? LargestFrame(decoder.Get()) : 0;
    hr = decoder->GetFrame(index, opened.frame.Put());
    if (FAILED(hr)) return hr;
    UINT width = 0, height = 0;
    hr = opened.frame->GetSize(&width, &height);
    if (FAILED(hr)) return hr;
    if (width == 0 || height == 0) return WINCODEC_ERR_BADIMAGE;
    opened.stored = {width, height};
    opened.orientation = OrientationOf(opened.frame.Get(), opened.container, path);
    opened.size = Pixels::TurnsSideways(opened.orientation) ? PixelSize{height, width} : opened.stored;
    return S_OK;
}

HRESULT Read(IWICImagingFactory* wic, Opened& opened, PixelSize size, Image& image) {
    const PixelSize own = opened.stored;
    if (uint64_t{own.width} * own.height > MaxPixels || uint64_t{size.width} * size.height > MaxPixels)
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);

    ComPtr<IWICFormatConverter> converter;
    HRESULT hr = wic->CreateFormatConverter(converter.Put());
    if (FAILED(hr)) return hr;
    hr = converter->Initialize(opened.frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                               nullptr, 0.0, WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) return hr;

    try {
        Image full;
        full.width = own.width;
        full.height = own.height;
        full.bgra.resize(static_cast<size_t>(own.width) * own.height * 4);
        hr = converter->CopyPixels(nullptr, static_cast<UINT>(full.Stride()),
                                   static_cast<UINT>(full.bgra.size()), full.bgra.data());
        if (FAILED(hr)) return hr;
        Pixels::Orient(full, opened.orientation);
        if (size == opened.size) {
            image = std::move(full);
        } else {
            image = Resampling::Resize(full, size);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace Decoding
