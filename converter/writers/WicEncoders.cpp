#include "converter/writers/WicEncoders.h"

#include <algorithm>

#include "converter/base/Com.h"
#include "converter/base/Pixels.h"
#include "converter/metadata/BmpHeader.h"
#include "converter/writers/Dither.h"
#include "converter/writers/GifBlocks.h"
#include "converter/writers/WithMetadata.h"

namespace WicEncoders {

namespace {

HRESULT SetQuality(IPropertyBag2* props, float quality) {
    if (!props || quality <= 0.0f) return S_OK;
    PROPBAG2 option = {};
    option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = quality;
    return props->Write(1, &option, &value);
}

HRESULT StreamBytes(IStream* stream, std::vector<uint8_t>& out) {
    STATSTG stat = {};
    HRESULT hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    HGLOBAL memory = nullptr;
    hr = GetHGlobalFromStream(stream, &memory);
    if (FAILED(hr)) return hr;
    const void* bytes = GlobalLock(memory);
    if (!bytes) return E_OUTOFMEMORY;
    const uint8_t* begin = static_cast<const uint8_t*>(bytes);
    out.assign(begin, begin + static_cast<size_t>(stat.cbSize.QuadPart));
    GlobalUnlock(memory);
    return S_OK;
}

// The frame takes the picture reduced to a palette of WIC's choosing, the
// error diffused by our own code: WIC's converter under Wine searches all
// 256 colours for every pixel (seconds for a photo). A picture with
// transparent pixels gets at most 255 colours after palette entry
// TransparentIndex, which its mostly transparent pixels take.
HRESULT WriteIndexed(IWICImagingFactory* wic, IWICBitmapFrameEncode* frame, const Image& image) {
    IndexedImage indexed;
    HRESULT hr = S_OK;
    if (Pixels::HasTransparency(image)) {
        Image opaque = image;
        Pixels::FlattenOntoWhite(opaque);
        hr = Reduce(wic, opaque, indexed, 255);
        if (FAILED(hr)) return hr;
        indexed.palette.insert(indexed.palette.begin(), 0xFFFFFFu);
        for (size_t i = 0; i < indexed.indices.size(); ++i)
            indexed.indices[i] = image.bgra[i * 4 + 3] < 128 ? TransparentIndex : indexed.indices[i] + 1;
    } else {
        hr = Reduce(wic, image, indexed);
        if (FAILED(hr)) return hr;
    }
    std::vector<WICColor> colours;
    for (uint32_t rgb : indexed.palette) colours.push_back(0xFF000000u | rgb);
    ComPtr<IWICPalette> palette;
    hr = wic->CreatePalette(palette.Put());
    if (SUCCEEDED(hr)) hr = palette->InitializeCustom(colours.data(), static_cast<UINT>(colours.size()));
    if (SUCCEEDED(hr)) hr = frame->SetPalette(palette.Get());
    if (SUCCEEDED(hr))
        hr = frame->WritePixels(indexed.height, indexed.width, static_cast<UINT>(indexed.indices.size()),
                                indexed.indices.data());
    return hr;
}

}  // namespace

HRESULT Reduce(IWICImagingFactory* wic, const Image& image, IndexedImage& indexed, UINT colours) {
    if (!image.Valid()) return E_INVALIDARG;
    ComPtr<IWICBitmap> bitmap;
    HRESULT hr = wic->CreateBitmapFromMemory(image.width, image.height, GUID_WICPixelFormat32bppBGRA,
                                             static_cast<UINT>(image.Stride()), static_cast<UINT>(image.bgra.size()),
                                             const_cast<BYTE*>(image.bgra.data()), bitmap.Put());
    ComPtr<IWICPalette> palette;
    if (SUCCEEDED(hr)) hr = wic->CreatePalette(palette.Put());
    if (SUCCEEDED(hr)) hr = palette->InitializeFromBitmap(bitmap.Get(), std::min(colours, 256u), FALSE);
    UINT count = 0;
    if (SUCCEEDED(hr)) hr = palette->GetColorCount(&count);
    if (SUCCEEDED(hr) && (count == 0 || count > std::min(colours, 256u))) hr = WINCODEC_ERR_PALETTEUNAVAILABLE;
    if (FAILED(hr)) return hr;
    WICColor made[256];
    hr = palette->GetColors(count, made, &count);
    if (FAILED(hr)) return hr;
    std::vector<uint32_t> rgb(made, made + count);
    for (uint32_t& colour : rgb) colour &= 0xFFFFFF;  // 0xAARRGGBB
    // The diffusion is ours: WIC's format converter does the same with a
    // search through all 256 colours a pixel (2 s for 4 megapixels under Wine).
    indexed = Dither::ToPalette(image, rgb);
    return indexed.indices.empty() ? E_OUTOFMEMORY : S_OK;
}

HRESULT Encode(IWICImagingFactory* wic, const GUID& container, const Image& image, Alpha alpha,
               float quality, std::vector<uint8_t>& out) {
    out.clear();
    if (!image.Valid()) return E_INVALIDARG;
    // The encoder first: a format it cannot write fails here, before anything
    // else is made.
    ComPtr<IWICBitmapEncoder> encoder;
    HRESULT hr = wic->CreateEncoder(container, nullptr, encoder.Put());
    if (FAILED(hr)) return hr;
    ComPtr<IStream> stream;
    hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.Put());
    if (FAILED(hr)) return hr;
    hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
    if (FAILED(hr)) return hr;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> props;
    hr = encoder->CreateNewFrame(frame.Put(), props.Put());
    if (FAILED(hr)) return hr;
    SetQuality(props.Get(), quality);  // an encoder without the option keeps its own
    hr = frame->Initialize(props.Get());
    if (FAILED(hr)) return hr;
    hr = frame->SetSize(image.width, image.height);
    if (FAILED(hr)) return hr;

    const bool withAlpha =
        alpha == Alpha::Always || (alpha == Alpha::WhenTransparent && Pixels::HasTransparency(image));
    std::vector<uint8_t> packed;
    uint32_t stride = static_cast<uint32_t>(image.Stride());
    const uint8_t* pixels = image.bgra.data();
    GUID format = GUID_WICPixelFormat32bppBGRA;
    if (!withAlpha) {
        packed = Pixels::PackBgr(image, stride);
        pixels = packed.data();
        format = GUID_WICPixelFormat24bppBGR;
    }
    const UINT bytes = stride * image.height;

    WICPixelFormatGUID taken = format;
    hr = frame->SetPixelFormat(&taken);
    if (FAILED(hr)) return hr;
    if (alpha == Alpha::Always && taken != format) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (taken == GUID_WICPixelFormat8bppIndexed) {
        hr = WriteIndexed(wic, frame.Get(), image);
    } else if (taken == format) {
        hr = frame->WritePixels(image.height, stride, bytes, const_cast<BYTE*>(pixels));
    } else {
        ComPtr<IWICBitmap> bitmap;
        hr = wic->CreateBitmapFromMemory(image.width, image.height, format, stride, bytes,
                                         const_cast<BYTE*>(pixels), bitmap.Put());
        if (FAILED(hr)) return hr;
        hr = frame->WriteSource(bitmap.Get(), nullptr);
    }
    if (FAILED(hr)) return hr;
    hr = frame->Commit();
    if (FAILED(hr)) return hr;
    hr = encoder->Commit();
    if (FAILED(hr)) return hr;
    return StreamBytes(stream.Get(), out);
}

HRESULT Gif(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out) {
    const HRESULT hr = Encode(options.wic, GUID_ContainerFormatGif, image, Alpha::WhenTransparent, 0.0f, out);
    // The encoders differ in what they take for transparency (metadata
    // queries, or nothing): the control block is set in the bytes instead.
    if (SUCCEEDED(hr) && Pixels::HasTransparency(image) && !GifBlocks::SetTransparent(out, TransparentIndex))
        return WINCODEC_ERR_BADIMAGE;
    return hr;
}
HRESULT Bmp(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out) {
    const HRESULT hr = Encode(options.wic, GUID_ContainerFormatBmp, image, Alpha::Drop, 0.0f, out);
    if (SUCCEEDED(hr) && options.metadata && options.metadata->dpiX > 0)
        BmpHeader::SetResolution(out, options.metadata->dpiX, options.metadata->dpiY);
    return hr;
}
}  // namespace WicEncoders
