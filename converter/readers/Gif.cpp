#include "converter/readers/Gif.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "converter/readers/ByteSource.h"

namespace Gif {

namespace {

uint32_t Le16(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8; }

constexpr size_t HeaderBytes = 13;  // signature, version, logical screen descriptor
constexpr size_t DescriptorBytes = 10;

}  // namespace

ReadResult FirstFrame(const uint8_t* data, size_t size, Layout& layout) {
    if (size < 6 || (std::memcmp(data, "GIF87a", 6) != 0 && std::memcmp(data, "GIF89a", 6) != 0))
        return {ReadStatus::NotThisFormat};
    if (size < HeaderBytes) return {ReadStatus::Damaged};
    layout = Layout();
    layout.screenWidth = Le16(data + 6);
    layout.screenHeight = Le16(data + 8);
    size_t at = HeaderBytes;
    if (data[10] & 0x80) at += size_t{3} << ((data[10] & 7) + 1);  // the global colour table
    // Extensions (each a label and sub-blocks ended by an empty one) may
    // come before the first image descriptor. Every step moves forward, so
    // the walk ends with the bytes.
    while (at < size) {
        const uint8_t introducer = data[at];
        if (introducer == 0x2C) {
            if (size - at < DescriptorBytes) return {ReadStatus::Damaged};
            const uint8_t* descriptor = data + at;
            layout.left = Le16(descriptor + 1);
            layout.top = Le16(descriptor + 3);
            layout.width = Le16(descriptor + 5);
            layout.height = Le16(descriptor + 7);
            return {};
        }
        if (introducer == 0x3B) return {ReadStatus::NoPicture};
        if (introducer != 0x21) return {ReadStatus::Damaged};
        at += 2;  // introducer and label
        for (;;) {
            if (at >= size) return {ReadStatus::Damaged};
            const size_t length = data[at];
            at += 1 + length;
            if (length == 0) break;
        }
    }
    return {ReadStatus::Damaged};
}

ReadResult Compose(const Layout& layout, const Image& frame, const ReadRequest& request, Image& canvas) {
    if (!frame.Valid()) return {ReadStatus::Damaged};
    const uint64_t width = std::max<uint64_t>(layout.screenWidth, uint64_t{layout.left} + frame.width);
    const uint64_t height = std::max<uint64_t>(layout.screenHeight, uint64_t{layout.top} + frame.height);
    if (const ReadResult fits = ByteSource::CheckSize(width, height, request); !fits.Ok()) return fits;
    try {
        canvas.width = static_cast<uint32_t>(width);
        canvas.height = static_cast<uint32_t>(height);
        canvas.bgra.assign(static_cast<size_t>(width * height * 4), 0);
        for (uint32_t y = 0; y < frame.height; ++y)
            std::memcpy(canvas.Row(layout.top + y) + size_t{layout.left} * 4, frame.Row(y), frame.Stride());
    } catch (const std::bad_alloc&) {
        canvas = Image();
        return {ReadStatus::OutOfMemory};
    }
    return {};
}

}  // namespace Gif
