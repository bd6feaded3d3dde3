#include "converter/Decoding.h"

#include <new>

#include "converter/Resampling.h"

namespace Decoding {

HRESULT Open(IWICImagingFactory* wic, const std::wstring& path, Opened& opened) {
    ComPtr<IWICBitmapDecoder> decoder;
    // Cache on demand: metadata of a large TIFF or a long GIF is read only
    // when asked for, which we never do.
    HRESULT hr = wic->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, decoder.Put());
    if (FAILED(hr)) return hr;
    hr = decoder->GetContainerFormat(&opened.container);
    if (FAILED(hr)) return hr;
    hr = decoder->GetFrame(0, opened.frame.Put());
    if (FAILED(hr)) return hr;
    UINT width = 0, height = 0;
    hr = opened.frame->GetSize(&width, &height);
    if (FAILED(hr)) return hr;
    if (width == 0 || height == 0) return WINCODEC_ERR_BADIMAGE;
    opened.size = {width, height};
    return S_OK;
}

HRESULT Read(IWICImagingFactory* wic, Opened& opened, PixelSize size, Image& image) {
    const PixelSize own = opened.size;
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
        if (size == own) {
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
