#include "converter/readers/Wic.h"

#include <new>
#include <vector>

#include "converter/base/LongPaths.h"
#include "converter/metadata/ExifOrientation.h"
#include "converter/readers/ByteSource.h"

namespace Wic {

namespace {

// A TIFF's orientation tag, read from its header and first directory. Not
// through WIC's metadata reader: under Wine it dereferences a null pointer on
// a file whose directories loop, and takes the whole process with it.
int TiffOrientation(const std::wstring& path) {
    const HANDLE file = LongPaths::OpenToRead(path);
    if (file == INVALID_HANDLE_VALUE) return 1;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size)) size.QuadPart = 0;
    const auto readAt = [file](uint64_t offset, uint8_t* into, size_t want) -> size_t {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        return want <= MAXDWORD && ReadFile(file, into, static_cast<DWORD>(want), &got, &at) ? got : 0;
    };
    const int orientation = ExifOrientation::ReadTiff(readAt, static_cast<uint64_t>(size.QuadPart));
    CloseHandle(file);
    return orientation;
}

// The orientation tag of a TIFF's first directory; 1 when there is none or
// it makes no sense. (JPEG has a reader of its own, which reads its Exif.)
int OrientationOf(const GUID& container, const std::wstring& path) {
    return container == GUID_ContainerFormatTiff ? TiffOrientation(path) : 1;
}

// The container, size and decoder of the first frame.
HRESULT OpenFirstFrame(IWICBitmapDecoder* decoder, Opened& opened) {
    HRESULT hr = decoder->GetContainerFormat(&opened.container);
    if (FAILED(hr)) return hr;
    ComPtr<IWICBitmapDecoderInfo> info;
    if (SUCCEEDED(decoder->GetDecoderInfo(info.Put()))) opened.extensions = ExtensionsOf(info.Get());
    hr = decoder->GetFrame(0, opened.frame.Put());
    if (FAILED(hr)) return hr;
    UINT width = 0, height = 0;
    hr = opened.frame->GetSize(&width, &height);
    if (FAILED(hr)) return hr;
    if (width == 0 || height == 0) return WINCODEC_ERR_BADIMAGE;
    opened.stored = {width, height};
    return S_OK;
}

}  // namespace

HRESULT Open(IWICImagingFactory* wic, const std::wstring& path, Opened& opened) {
    ComPtr<IWICBitmapDecoder> decoder;
    // Cache on demand: metadata of a large TIFF or a long GIF is read only
    // when asked for, which we never do.
    opened.file = LongPaths::OpenToRead(path);
    if (opened.file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    HRESULT hr = wic->CreateDecoderFromFileHandle(reinterpret_cast<ULONG_PTR>(opened.file), nullptr,
                                                  WICDecodeMetadataCacheOnDemand, decoder.Put());
    if (FAILED(hr)) return hr;
    hr = OpenFirstFrame(decoder.Get(), opened);
    if (FAILED(hr)) return hr;
    opened.orientation = OrientationOf(opened.container, path);
    return S_OK;
}

HRESULT Read(IWICImagingFactory* wic, Opened& opened, const ReadRequest& request, Decoded& out) {
    const PixelSize own = opened.stored;
    // The platform's decoder may hold the whole frame as well, up to 8 bytes
    // a pixel, before it is converted into ours.
    const ReadResult admitted = ByteSource::Admit(own.width, own.height, uint64_t{own.width} * own.height * 8, request);
    if (admitted.status == ReadStatus::TooLarge) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    if (!admitted.Ok()) return E_OUTOFMEMORY;

    ComPtr<IWICFormatConverter> converter;
    HRESULT hr = wic->CreateFormatConverter(converter.Put());
    if (FAILED(hr)) return hr;
    hr = converter->Initialize(opened.frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                               nullptr, 0.0, WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) return hr;

    try {
        Image& image = out.image;
        image.width = own.width;
        image.height = own.height;
        image.bgra.assign(static_cast<size_t>(own.width) * own.height * 4, 0);
        hr = converter->CopyPixels(nullptr, static_cast<UINT>(image.Stride()),
                                   static_cast<UINT>(image.bgra.size()), image.bgra.data());
        if (FAILED(hr)) {
            image = Image();
            return hr;
        }
    } catch (const std::bad_alloc&) {
        out.image = Image();
        return E_OUTOFMEMORY;
    }
    out.orientation = opened.orientation;
    return S_OK;
}

}  // namespace Wic
