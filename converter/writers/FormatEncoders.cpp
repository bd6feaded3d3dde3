#include "converter/writers/FormatEncoders.h"

#include <algorithm>
#include <new>

#include "converter/base/Resampling.h"
#include "converter/metadata/BmpHeader.h"
#include "converter/metadata/ColourProfile.h"
#include "converter/metadata/IccProfile.h"
#include "converter/metadata/JpegMarkers.h"
#include "converter/metadata/PngChunks.h"
#include "converter/metadata/TiffTags.h"
#include "converter/writers/WicEncoders.h"
#include "converter/writers/Ico.h"
#include "converter/writers/Jpeg.h"
#include "converter/writers/Page.h"
#include "converter/writers/Pcx.h"
#include "converter/writers/Pdf.h"
#include "converter/writers/Png.h"
#include "converter/writers/PostScript.h"
#include "converter/writers/Rle8.h"
#include "converter/writers/Tiff.h"
#include "converter/writers/Wbmp.h"
#include "converter/writers/Webp.h"
#include "converter/writers/WithMetadata.h"

namespace FormatEncoders {
namespace {

// The pure writers answer "no bytes" for a picture their format cannot hold;
// what is left is its size.
const HRESULT TooLarge = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);

// Runs a writer that may run out of memory, as a failure code.
template <class Write>
HRESULT Guarded(std::vector<uint8_t>& out, Write write) {
    out.clear();
    try {
        return write();
    } catch (const std::bad_alloc&) {
        out.clear();
        return E_OUTOFMEMORY;
    }
}

HRESULT Written(std::vector<uint8_t>&& bytes, std::vector<uint8_t>& out) {
    if (bytes.empty()) return TooLarge;
    out = std::move(bytes);
    return S_OK;
}

// The DCT stream for a page: the opaque picture as JPEG.
HRESULT PagePixels(const EncodeOptions& options, const Image& image, Page::Pixels& pixels) {
    const std::vector<uint8_t> jpeg = Jpeg::Write(image, options.jpegQuality);
    if (jpeg.empty()) return TooLarge;
    return Page::FromJpeg(jpeg, pixels) ? S_OK : WINCODEC_ERR_BADIMAGE;
}

}  // namespace

HRESULT ToWebp(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out) {
    return Guarded(out, [&]() {
        return WithMetadata(options, Written(Webp::Write(image, options.jpegQuality, false), out), out, Webp::Embed);
    });
}

HRESULT ToWebpLossless(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out) {
    return Guarded(out, [&]() {
        return WithMetadata(options, Written(Webp::Write(image, 100, true), out), out, Webp::Embed);
    });
}

HRESULT ToJpeg(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out) {
    return Guarded(out, [&]() {
        return WithMetadata(options, Written(Jpeg::Write(image, options.jpegQuality), out), out,
                            JpegMarkers::Embed);
    });
}

// A large picture goes row by row (Png::RowWriter), as the streamed path
// writes it: the same bytes whichever path made its pixels.
std::vector<uint8_t> PngBytes(const Image& image, const Png::Options& png, bool rows, Png::RowLayout layout) {
    if (!rows) return Png::Write(image, png);
    std::vector<uint8_t> out;
    Png::RowWriter writer;
    if (!writer.Start(image.width, image.height, layout, png, Appending(out))) return {};
    for (uint32_t y = 0; y < image.height; ++y)
        if (!writer.Row(image.Row(y))) return {};
    return writer.Finish() ? out : std::vector<uint8_t>();
}

HRESULT ToPng(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out) {
    return Guarded(out, [&]() {
        const Png::Options png;
        const Metadata* m = options.metadata;
        const bool rows = uint64_t{image.width} * image.height > Png::RowPixels;
        const Png::RowLayout layout = rows ? Png::LayoutOf(image) : Png::RowLayout::Rgba;
        const bool grey = rows ? layout == Png::RowLayout::Grey : Png::WritesGrey(image, png);
        if (m && IccProfile::SpaceOf(m->icc) == IccProfile::Space::Rgb && grey) {
            // A grey PNG may carry no RGB profile: its pixels are made sRGB
            // through the profile instead, and written as they then are.
            Image srgb = image;
            ColourProfile::ToSrgb(srgb, m->icc);
            Metadata without = *m;
            without.icc.clear();
            EncodeOptions own = options;
            own.metadata = &without;
            const Png::RowLayout after = rows ? Png::LayoutOf(srgb) : layout;
            return WithMetadata(own, Written(PngBytes(srgb, png, rows, after), out), out, PngChunks::Embed);
        }
        return WithMetadata(options, Written(PngBytes(image, png, rows, layout), out), out, PngChunks::Embed);
    });
}

HRESULT ToTiff(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out) {
    return Guarded(out, [&]() { return WithMetadata(options, Written(Tiff::Write(image), out), out, TiffTags::Embed); });
}

HRESULT ToRle(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out) {
    return Guarded(out, [&]() {
        IndexedImage indexed;
        const HRESULT hr = WicEncoders::Reduce(options.wic, image, indexed);
        if (FAILED(hr)) return hr;
        const HRESULT written = Written(Rle8::Write(indexed), out);
        if (SUCCEEDED(written) && options.metadata && options.metadata->dpiX > 0)
            BmpHeader::SetResolution(out, options.metadata->dpiX, options.metadata->dpiY);
        return written;
    });
}

HRESULT ToPcx(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out) {
    const Metadata* m = options.metadata;
    const bool dpi = m && m->dpiX > 0 && m->dpiY > 0;
    return Guarded(out, [&]() { return Written(dpi ? Pcx::Write(image, m->dpiX, m->dpiY) : Pcx::Write(image), out); });
}

HRESULT ToWbmp(const EncodeOptions&, const Image& image, std::vector<uint8_t>& out) {
    return Guarded(out, [&]() { return Written(Wbmp::Write(image), out); });
}

// The picture fitted into a square of at most 256 (never enlarged) as a PNG
// stream, and the smaller usual sizes as 32-bit images, each with
// transparent margins. The small ones are made from the large one: a quarter
// of the filtering of going from the picture each time, and the same look.
HRESULT ToIco(const EncodeOptions&, const Image& image, std::vector<uint8_t>& out) {
    return Guarded(out, [&]() -> HRESULT {
        if (!image.Valid()) return E_INVALIDARG;
        auto fit = [](const Image& from, uint32_t side) {
            uint32_t width = 0, height = 0;
            Ico::FitInto(from.width, from.height, side, width, height);
            if (width == from.width && height == from.height) return from;
            return Resampling::Resize(from, PixelSize{width, height});
        };
        const uint32_t largest = std::min(Ico::MaxSide, std::max(image.width, image.height));
        const Image large = fit(image, largest);
        std::vector<Ico::Entry> entries(1);
        entries[0].width = entries[0].height = largest;
        // 32-bit whatever its alpha, as the icon's directory entry says it is.
        Png::Options png;
        png.alwaysRgba = true;
        entries[0].png = Png::Write(Ico::OnSquare(large, largest), png);
        if (entries[0].png.empty()) return TooLarge;
        for (uint32_t side : {48u, 32u, 16u}) {
            if (side >= largest) continue;
            Ico::Entry entry;
            entry.width = entry.height = side;
            entry.bitmap = Ico::OnSquare(fit(large, side), side);
            entries.push_back(std::move(entry));
        }
        return Written(Ico::Write(entries), out);
    });
}

HRESULT ToPostScript(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out) {
    return Guarded(out, [&]() {
        Page::Pixels pixels;
        const HRESULT hr = PagePixels(options, image, pixels);
        if (FAILED(hr)) return hr;
        return Written(PostScript::Write(pixels), out);
    });
}

HRESULT ToPdf(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out) {
    return Guarded(out, [&]() {
        Page::Pixels pixels;
        const HRESULT hr = PagePixels(options, image, pixels);
        if (FAILED(hr)) return hr;
        return Written(Pdf::Write(pixels), out);
    });
}

}  // namespace FormatEncoders
