#include "converter/readers/Metafile.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "converter/readers/ByteSource.h"
#include "converter/base/ByteCursor.h"

namespace Metafile {

namespace {

constexpr uint32_t PlaceableKey = 0x9AC6CDD7;
constexpr size_t PlaceableBytes = 22;
constexpr size_t WmfHeaderBytes = 18;
constexpr UINT EmfHeaderBytes = 88;  // the first version's header, up to szlMillimeters
constexpr double Dpi = 96;
constexpr double HundredthsOfMmPerInch = 2540;

using ByteOrder::Le16;
using ByteOrder::Le32;
int32_t Signed16(const uint8_t* p) { return static_cast<int16_t>(Le16(p)); }

struct Enhanced {
    HENHMETAFILE handle = nullptr;
    ~Enhanced() {
        if (handle) DeleteEnhMetaFile(handle);
    }
};

// A plain (not placeable) WMF header: in memory, 9 words long, version 1 or 3.
bool IsPlainWmf(const uint8_t* data, size_t size) {
    if (size < WmfHeaderBytes) return false;
    const uint32_t type = Le16(data), words = Le16(data + 2), version = Le16(data + 4);
    return (type == 1 || type == 2) && words == 9 && (version == 0x0100 || version == 0x0300);
}

// A plain WMF names no frame; its drawing sets a window extent (and maybe
// origin) before it draws, in logical units taken as pixels.
bool WindowExtent(const uint8_t* data, size_t size, double& width, double& height) {
    size_t at = WmfHeaderBytes;
    while (size - at >= 6) {
        const uint64_t words = Le32(data + at);
        const uint32_t function = Le16(data + at + 4);
        if (words < 3 || words * 2 > size - at) return false;
        if (function == 0x020C && words >= 5) {  // META_SETWINDOWEXT: y, then x
            height = std::abs(Signed16(data + at + 6));
            width = std::abs(Signed16(data + at + 8));
            return width > 0 && height > 0;
        }
        if (function == 0) return false;  // the end record
        at += static_cast<size_t>(words * 2);
    }
    return false;
}

// The metafile as an enhanced one and its frame's size in pixels at 96 dpi.
ReadResult Open(const uint8_t* data, size_t size, Enhanced& emf, double& width, double& height) {
    if (size > UINT_MAX) return {ReadStatus::TooLarge};
    if (IsEmf(data, size)) {
        emf.handle = SetEnhMetaFileBits(static_cast<UINT>(size), data);
        if (!emf.handle) return {ReadStatus::Damaged};
        ENHMETAHEADER header = {};
        if (GetEnhMetaFileHeader(emf.handle, sizeof header, &header) < EmfHeaderBytes) return {ReadStatus::Damaged};
        // The frame, in hundredths of a millimetre.
        width = (double(header.rclFrame.right) - header.rclFrame.left) * Dpi / HundredthsOfMmPerInch;
        height = (double(header.rclFrame.bottom) - header.rclFrame.top) * Dpi / HundredthsOfMmPerInch;
        // Some writers leave the frame empty; the bounds of what is drawn,
        // in the recording device's pixels, then say how large it is.
        if (!(width >= 0.5 && height >= 0.5) && header.szlDevice.cx > 0 && header.szlDevice.cy > 0 &&
            header.szlMillimeters.cx > 0 && header.szlMillimeters.cy > 0) {
            const double mmX = double(header.szlMillimeters.cx) / header.szlDevice.cx;
            const double mmY = double(header.szlMillimeters.cy) / header.szlDevice.cy;
            width = (double(header.rclBounds.right) - header.rclBounds.left + 1) * mmX * Dpi / 25.4;
            height = (double(header.rclBounds.bottom) - header.rclBounds.top + 1) * mmY * Dpi / 25.4;
        }
        return {};
    }
    METAFILEPICT picture = {MM_ANISOTROPIC, 0, 0, nullptr};
    const uint8_t* bits = data;
    size_t length = size;
    if (size >= PlaceableBytes && Le32(data) == PlaceableKey) {
        const double inch = Le16(data + 14);
        if (inch == 0) return {ReadStatus::Damaged};
        width = std::abs(Signed16(data + 10) - Signed16(data + 6)) * Dpi / inch;
        height = std::abs(Signed16(data + 12) - Signed16(data + 8)) * Dpi / inch;
        bits += PlaceableBytes;
        length -= PlaceableBytes;
        if (!IsPlainWmf(bits, length)) return {ReadStatus::Damaged};
    } else if (IsPlainWmf(data, size)) {
        if (!WindowExtent(data, size, width, height)) return {ReadStatus::Unsupported};
    } else {
        return {ReadStatus::NotThisFormat};
    }
    picture.xExt = static_cast<LONG>(std::lround(std::min(width, 1e6) * HundredthsOfMmPerInch / Dpi));
    picture.yExt = static_cast<LONG>(std::lround(std::min(height, 1e6) * HundredthsOfMmPerInch / Dpi));
    emf.handle = SetWinMetaFileBits(static_cast<UINT>(length), bits, nullptr, &picture);
    return emf.handle ? ReadResult{} : ReadResult{ReadStatus::Damaged};
}

// GDI's objects of one drawing, released on every path.
struct Canvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    uint8_t* bits = nullptr;
    ~Canvas() {
        if (previous) SelectObject(dc, previous);
        if (bitmap) DeleteObject(bitmap);
        if (dc) DeleteDC(dc);
    }
};

void Play(Canvas& canvas, HENHMETAFILE emf, uint32_t width, uint32_t height, uint8_t background,
          std::vector<uint8_t>& pixels) {
    const size_t bytes = size_t{width} * height * 4;
    std::memset(canvas.bits, background, bytes);
    const RECT frame = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    // A record GDI cannot play leaves its part undrawn; the rest still shows.
    PlayEnhMetaFile(canvas.dc, emf, &frame);
    GdiFlush();
    pixels.assign(canvas.bits, canvas.bits + bytes);
}

}  // namespace

bool IsEmf(const uint8_t* head, size_t size) {
    return size >= 44 && Le32(head) == 1 /* EMR_HEADER */ && std::memcmp(head + 40, " EMF", 4) == 0;
}

bool IsWmf(const uint8_t* head, size_t size) {
    return (size >= 4 && Le32(head) == PlaceableKey) || IsPlainWmf(head, size);
}

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    if (!IsEmf(data, size) && !IsWmf(data, size)) return {ReadStatus::NotThisFormat};
    Enhanced emf;
    double width = 0, height = 0;
    const ReadResult opened = Open(data, size, emf, width, height);
    if (!opened.Ok()) return opened;
    if (!(width >= 0.5 && height >= 0.5)) return {ReadStatus::Damaged};
    // A frame of a poster's size is drawn smaller, keeping its shape.
    const double scale = std::min(1.0, MaxSide / std::max(width, height));
    const uint32_t w = std::max<uint32_t>(1, static_cast<uint32_t>(std::lround(width * scale)));
    const uint32_t h = std::max<uint32_t>(1, static_cast<uint32_t>(std::lround(height * scale)));
    // The picture, and the bitmap it is drawn into twice, on white and on black.
    if (const ReadResult admitted = ByteSource::Admit(w, h, uint64_t{w} * h * 12, request); !admitted.Ok())
        return admitted;

    Canvas canvas;
    canvas.dc = CreateCompatibleDC(nullptr);
    if (!canvas.dc) return {ReadStatus::OutOfMemory};
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(w);
    info.bmiHeader.biHeight = -static_cast<LONG>(h);  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    canvas.bitmap = CreateDIBSection(canvas.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!canvas.bitmap || !bits) return {ReadStatus::OutOfMemory};
    canvas.bits = static_cast<uint8_t*>(bits);
    canvas.previous = SelectObject(canvas.dc, canvas.bitmap);

    try {
        std::vector<uint8_t> onWhite, onBlack;
        Play(canvas, emf.handle, w, h, 0xFF, onWhite);
        Play(canvas, emf.handle, w, h, 0x00, onBlack);
        Image& image = out.image;
        image.width = w;
        image.height = h;
        image.bgra.assign(onBlack.size(), 0);
        for (size_t i = 0; i < onBlack.size(); i += 4) {
            // What shows through of the background is the transparency:
            // white minus black is 255 where nothing was drawn, 0 where a
            // pixel was covered.
            int through = 0;
            for (int c = 0; c < 3; ++c) through = std::max(through, onWhite[i + c] - onBlack[i + c]);
            const int alpha = 255 - through;
            for (int c = 0; c < 3; ++c)
                image.bgra[i + c] =
                    alpha == 0 ? 0 : static_cast<uint8_t>(std::min(255, (onBlack[i + c] * 255 + alpha / 2) / alpha));
            image.bgra[i + 3] = static_cast<uint8_t>(alpha);
        }
    } catch (const std::bad_alloc&) {
        out.image = Image();
        return {ReadStatus::OutOfMemory};
    }
    out.orientation = 1;
    return {};
}

}  // namespace Metafile
