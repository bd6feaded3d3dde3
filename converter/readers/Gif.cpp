#include "converter/readers/Gif.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include <gif_lib.h>

#include "converter/base/CheckedSize.h"
#include "converter/readers/ByteSource.h"
#include "converter/base/ByteCursor.h"

namespace Gif {

namespace {

using ByteOrder::Le16;

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

namespace {

// giflib reads through this from the file's bytes in memory.
struct Memory {
    const uint8_t* data;
    size_t size;
    size_t at;
};

int ReadMemory(GifFileType* gif, GifByteType* into, int length) {
    Memory& memory = *static_cast<Memory*>(gif->UserData);
    const size_t left = memory.size - memory.at;
    const size_t take = length < 0 ? 0 : (static_cast<size_t>(length) < left ? static_cast<size_t>(length) : left);
    std::memcpy(into, memory.data + memory.at, take);
    memory.at += take;
    return static_cast<int>(take);
}

struct Closer {
    GifFileType* gif;
    ~Closer() {
        int error = 0;
        if (gif) DGifCloseFile(gif, &error);
    }
};

// A frame with no colour table of its own and no global one: the format
// leaves the colours to the reader and recommends black and white first.
// Greys from black to white over the 2^n entries that cover the largest
// index used: two colours are black and white, 256 are Pillow's greys
// (index i as grey i). ImageMagick shows such frames black.
// LZW as GIF codes it, for a minimum code size of 9 to 11, which the format
// does not allow and giflib refuses, but some writers use and ImageMagick
// and Pillow read: the sub-blocks from `at` on decoded into `count` indices
// in stored order (an index past 255 keeps its low byte, as Pillow's does).
// False when the data end before the last index or a code is impossible.
bool DecodeWideLzw(const uint8_t* data, size_t size, size_t at, uint32_t minimum, uint8_t* indices, size_t count) {
    std::vector<uint8_t> codes;
    while (at < size && data[at] != 0) {
        const size_t length = data[at];
        if (size - at - 1 < length) break;
        codes.insert(codes.end(), data + at + 1, data + at + 1 + length);
        at += 1 + length;
    }
    const uint32_t clear = 1u << minimum, end = clear + 1;
    std::vector<uint16_t> prefix(4096);
    std::vector<uint16_t> suffix(4096);
    std::vector<uint16_t> stack;
    stack.reserve(4096);
    uint32_t width = minimum + 1, next = clear + 2, held = 0, have = 0;
    int previous = -1;
    uint16_t first = 0;
    size_t bit = 0, out = 0;
    const size_t bits = codes.size() * 8;
    while (out < count) {
        while (have < width && bit < bits) {
            held |= uint32_t{codes[bit / 8]} << have;
            bit += 8;
            have += 8;
        }
        if (have < width) return false;
        uint32_t code = held & ((1u << width) - 1);
        held >>= width;
        have -= width;
        if (code == clear) {
            width = minimum + 1;
            next = clear + 2;
            previous = -1;
            continue;
        }
        if (code == end) return false;
        if (previous < 0) {
            if (code > clear) return false;
            indices[out++] = static_cast<uint8_t>(code);
            previous = static_cast<int>(code);
            first = static_cast<uint16_t>(code);
            continue;
        }
        const uint32_t read = code;
        if (code > next || (code == next && next >= 4096)) return false;
        stack.clear();
        if (code == next) {
            stack.push_back(first);
            code = static_cast<uint32_t>(previous);
        }
        while (code > clear) {  // every table entry leads back to a literal code
            stack.push_back(suffix[code]);
            code = prefix[code];
        }
        first = static_cast<uint16_t>(code);
        stack.push_back(first);
        for (size_t k = stack.size(); k-- > 0 && out < count;) indices[out++] = static_cast<uint8_t>(stack[k]);
        if (next < 4096) {
            prefix[next] = static_cast<uint16_t>(previous);
            suffix[next] = first;
            ++next;
            if (next == (1u << width) && width < 12) ++width;
        }
        previous = static_cast<int>(read);
    }
    return true;
}

void DefaultColours(uint32_t largest, uint8_t* table) {
    uint32_t count = 2;
    while (count <= largest) count *= 2;
    for (uint32_t i = 0; i < 256; ++i) {
        const uint32_t grey = i < count ? i * 255 / (count - 1) : 255;
        ByteSource::Put(table + size_t{i} * 4, grey, grey, grey);
    }
}

ReadResult Decode(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    Layout layout;
    ReadResult result = FirstFrame(data, size, layout);
    if (!result.Ok()) return result;
    // The canvas and the frame are checked here, before giflib counts the
    // frame's pixels in a 32-bit long.
    const uint64_t width = std::max<uint64_t>(layout.screenWidth, uint64_t{layout.left} + layout.width);
    const uint64_t height = std::max<uint64_t>(layout.screenHeight, uint64_t{layout.top} + layout.height);
    if (width * height > request.maxPixels) return ByteSource::Fail(ReadStatus::TooLarge);
    if (layout.width == 0 || layout.height == 0) return ByteSource::Fail(ReadStatus::Damaged);

    Memory memory{data, size, 0};
    int error = 0;
    Closer gif{DGifOpen(&memory, ReadMemory, &error)};
    if (!gif.gif) return ByteSource::Fail(error == D_GIF_ERR_NOT_ENOUGH_MEM ? ReadStatus::OutOfMemory
                                                                          : ReadStatus::Damaged);
    int transparent = -1;
    for (;;) {
        GifRecordType record;
        if (DGifGetRecordType(gif.gif, &record) == GIF_ERROR) return ByteSource::Fail(ReadStatus::Damaged);
        if (record == TERMINATE_RECORD_TYPE) return ByteSource::Fail(ReadStatus::NoPicture);
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.gif, &code, &block) == GIF_ERROR) return ByteSource::Fail(ReadStatus::Damaged);
            if (code == GRAPHICS_EXT_FUNC_CODE && block) {
                GraphicsControlBlock control;
                if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                    transparent = control.TransparentColor;
            }
            while (block) {
                if (DGifGetExtensionNext(gif.gif, &block) == GIF_ERROR)
                    return ByteSource::Fail(ReadStatus::Damaged);
            }
            continue;
        }
        if (record == IMAGE_DESC_RECORD_TYPE) break;
    }
    // giflib reads the descriptor and colour table, then refuses a minimum
    // code size above 8 when it has just read it.
    const bool described = DGifGetImageDesc(gif.gif) != GIF_ERROR;
    const uint32_t codeSize = memory.at > 0 ? data[memory.at - 1] : 0;
    const bool wide = !described && codeSize > 8 && codeSize < 12 && gif.gif->Image.Width > 0;
    if (!described && !wide) return ByteSource::Fail(ReadStatus::Damaged);
    const GifImageDesc& frame = gif.gif->Image;
    // giflib read the same descriptor FirstFrame found.
    if (static_cast<uint32_t>(frame.Width) != layout.width || static_cast<uint32_t>(frame.Height) != layout.height)
        return ByteSource::Fail(ReadStatus::Damaged);

    // The frame's indices, then their colours: without a colour table the
    // largest index decides the greys.
    size_t count;
    if (!CheckedSize::Mul(layout.width, layout.height, count)) return ByteSource::Fail(ReadStatus::TooLarge);
    // The canvas is taken, and its memory with the frame's indices asked
    // for, before any of it is decoded.
    result = ByteSource::Allocate(out.image, width, height, request, count);
    if (!result.Ok()) return result;
    std::vector<uint8_t> indices(count);
    std::vector<uint8_t> stored;
    if (wide) {
        stored.resize(count);
        if (!DecodeWideLzw(data, size, memory.at, codeSize, stored.data(), count))
            return ByteSource::Fail(ReadStatus::Damaged);
    }
    size_t storedRow = 0;
    static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = frame.Interlace ? kStart[pass] : 0, step = frame.Interlace ? kStep[pass] : 1;
        for (int y = start; y < frame.Height; y += step) {
            uint8_t* row = indices.data() + size_t(y) * layout.width;
            if (wide) std::memcpy(row, stored.data() + storedRow++ * layout.width, layout.width);
            else if (DGifGetLine(gif.gif, row, frame.Width) == GIF_ERROR) return ByteSource::Fail(ReadStatus::Damaged);
        }
    }

    uint8_t table[256 * 4];
    const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif.gif->SColorMap;
    if (map && map->Colors) {
        for (int i = 0; i < 256; ++i) {
            if (i < map->ColorCount) {
                const GifColorType& c = map->Colors[i];
                ByteSource::Put(table + size_t(i) * 4, c.Blue, c.Green, c.Red);
            } else {
                ByteSource::Put(table + size_t(i) * 4, 0, 0, 0);  // an index past the table: black
            }
        }
    } else {
        uint32_t largest = 0;
        for (const uint8_t index : indices) largest = index > largest ? index : largest;
        DefaultColours(largest, table);
    }
    if (transparent >= 0 && transparent < 256) ByteSource::Put(table + size_t(transparent) * 4, 0, 0, 0, 0);

    std::fill(out.image.bgra.begin(), out.image.bgra.end(), uint8_t{0});  // outside the frame: transparent
    for (uint32_t y = 0; y < layout.height; ++y) {
        const uint8_t* row = indices.data() + size_t{y} * layout.width;
        uint8_t* pixel = out.image.Row(layout.top + y) + size_t{layout.left} * 4;
        for (uint32_t x = 0; x < layout.width; ++x, pixel += 4) std::memcpy(pixel, table + size_t{row[x]} * 4, 4);
    }
    return result;
}

}  // namespace

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return ByteSource::Guarded(out, [&] {
        const ReadResult result = Decode(data, size, request, out);
        if (!result.Ok()) out.image = Image{};
        return result;
    });
}

}  // namespace Gif
