#include "converter/readers/Wic.h"

#include <new>
#include <vector>

namespace Wic {

namespace {

// The orientation tag of a TIFF's first directory; 1 when there is none or
// it makes no sense. (JPEG has a reader of its own, which reads its Exif.)
int OrientationOf(IWICBitmapFrameDecode* frame, const GUID& container) {
    const wchar_t* query = container == GUID_ContainerFormatTiff ? L"/ifd/{ushort=274}" : nullptr;
    if (!query) return 1;
    ComPtr<IWICMetadataQueryReader> reader;
    if (FAILED(frame->GetMetadataQueryReader(reader.Put()))) return 1;
    PROPVARIANT value;
    PropVariantInit(&value);
    int orientation = 1;
    if (SUCCEEDED(reader->GetMetadataByName(query, &value)) && value.vt == VT_UI2 && value.uiVal >= 1 &&
        value.uiVal <= 8)
        orientation = value.uiVal;
    PropVariantClear(&value);
    return orientation;
}

std::wstring Lowered(std::wstring text) {
    if (!text.empty()) CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// The file extensions a codec names, lower case ("" when it names none).
std::wstring ExtensionsOf(IWICBitmapCodecInfo* info) {
    UINT length = 0;
    if (FAILED(info->GetFileExtensions(0, nullptr, &length)) || length == 0 || length > 4096) return {};
    std::wstring extensions(length, L'\0');
    if (FAILED(info->GetFileExtensions(length, &extensions[0], &length))) return {};
    extensions.resize(wcsnlen(extensions.c_str(), extensions.size()));
    return Lowered(extensions);
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
    HRESULT hr = wic->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, decoder.Put());
    if (FAILED(hr)) return hr;
    hr = OpenFirstFrame(decoder.Get(), opened);
    if (FAILED(hr)) return hr;
    opened.orientation = OrientationOf(opened.frame.Get(), opened.container);
    return S_OK;
}

HRESULT OpenMemory(IWICImagingFactory* wic, const uint8_t* data, size_t size, Opened& opened) {
    if (size > MAXDWORD) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    ComPtr<IWICStream> stream;
    HRESULT hr = wic->CreateStream(stream.Put());
    if (FAILED(hr)) return hr;
    // WIC only reads through the stream; its signature lacks the const.
    hr = stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
    if (FAILED(hr)) return hr;
    ComPtr<IWICBitmapDecoder> decoder;
    hr = wic->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.Put());
    if (FAILED(hr)) return hr;
    return OpenFirstFrame(decoder.Get(), opened);
}

HRESULT Read(IWICImagingFactory* wic, Opened& opened, const ReadRequest& request, Decoded& out) {
    const PixelSize own = opened.stored;
    if (uint64_t{own.width} * own.height > request.maxPixels) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);

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

std::wstring DecoderExtensions(IWICImagingFactory* wic) {
    ComPtr<IEnumUnknown> components;
    if (FAILED(wic->CreateComponentEnumerator(WICDecoder, WICComponentEnumerateDefault, components.Put())))
        return {};
    std::wstring all;
    for (int i = 0; i < 1000; ++i) {
        ComPtr<IUnknown> component;
        ULONG fetched = 0;
        if (components->Next(1, component.Put(), &fetched) != S_OK || fetched != 1) break;
        ComPtr<IWICBitmapCodecInfo> info;
        if (FAILED(component->QueryInterface(IID_IWICBitmapCodecInfo, reinterpret_cast<void**>(info.Put()))))
            continue;
        const std::wstring extensions = ExtensionsOf(info.Get());
        if (!extensions.empty()) all += (all.empty() ? L"" : L",") + extensions;
    }
    return all;
}

}  // namespace Wic
