#include "converter/readers/UtahRle.h"

#include <cstring>

#include "converter/readers/ByteSource.h"

namespace UtahRle {
namespace {

using ByteSource::Cursor;
using ByteSource::Fail;

enum Flags : uint32_t { ClearFirst = 1, NoBackground = 2, HasAlpha = 4, HasComment = 8 };
enum Opcode : uint32_t { SkipLines = 1, SetColour = 2, SkipPixels = 3, ByteData = 5, RunData = 6, End = 7 };
constexpr uint32_t LongForm = 0x40;   // the operand follows as a 16-bit word
constexpr uint32_t AlphaChannel = 255;

struct Header {
    int32_t xpos, ypos;
    uint32_t width, height, flags, colours, bits, maps, mapLengthLog2;
};

// Where each stored channel goes in B, G, R, A; -1: nowhere (a fourth
// colour channel has no place in the result).
int PlaneOf(uint32_t channel, uint32_t colours) {
    if (channel == AlphaChannel) return 3;
    if (colours == 1) return channel == 0 ? 0 : -1;  // grey: spread over B, G, R below
    return channel < 3 ? 2 - static_cast<int>(channel) : -1;
}

class Canvas {
public:
    Canvas(const Header& h, Image& image) : h_(h), image_(image) {
        // A legal file sets each channel of each pixel once; a crafted one
        // could run over the same row for as long as its bytes last.
        budget_ = (uint64_t{h.width} * h.height + 1) * 4 * 4;
    }

    // Writes `count` values at the current place of `channel`, each taken
    // from `values` (or `values[0]` for a run); false once over budget.
    bool Put(int64_t x, int64_t y, uint32_t channel, const uint8_t* values, uint32_t count, bool run) {
        const int plane = PlaneOf(channel, h_.colours);
        const int64_t row = y - h_.ypos;
        int64_t first = x - h_.xpos, last = first + count;  // [first, last) in columns
        if (plane < 0 || row < 0 || row >= h_.height) return true;
        const int64_t skip = first < 0 ? -first : 0;
        if (first < 0) first = 0;
        if (last > h_.width) last = h_.width;
        if (first >= last) return true;
        const uint64_t n = static_cast<uint64_t>(last - first);
        if (n > budget_) return false;
        budget_ -= n;
        uint8_t* out = image_.Row(h_.height - 1 - static_cast<uint32_t>(row)) + static_cast<size_t>(first) * 4;
        for (uint64_t i = 0; i < n; ++i, out += 4) {
            const uint8_t v = run ? values[0] : values[skip + i];
            out[plane] = v;
            if (h_.colours == 1 && plane == 0) out[1] = out[2] = v;
        }
        return true;
    }

private:
    const Header& h_;
    Image& image_;
    uint64_t budget_;
};

ReadResult Decode(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    Cursor c(data, size);
    if (c.U16LE() != 0xCC52) return Fail(ReadStatus::NotThisFormat);
    Header h;
    h.xpos = static_cast<int16_t>(c.U16LE());
    h.ypos = static_cast<int16_t>(c.U16LE());
    h.width = c.U16LE();
    h.height = c.U16LE();
    h.flags = c.U8();
    h.colours = c.U8();
    h.bits = c.U8();
    h.maps = c.U8();
    h.mapLengthLog2 = c.U8();
    if (!c.Ok() || h.width == 0 || h.height == 0 || h.colours == 0) return Fail(ReadStatus::Damaged);
    if (h.bits != 8 || h.colours == 2) return Fail(ReadStatus::Unsupported);

    // The background colour (the header then padded to an even length), or
    // one filler byte.
    uint8_t background[3] = {0, 0, 0};
    if (!(h.flags & NoBackground)) {
        for (uint32_t i = 0; i < h.colours; ++i) {
            const uint32_t v = c.U8();
            if (i < 3) background[i] = static_cast<uint8_t>(v);
        }
        if (h.colours % 2 == 0) c.U8();
    } else {
        c.U8();
    }
    // Up to three colour maps of 16-bit entries, whose high bytes count;
    // only the first 256 entries of each can be reached by 8-bit values.
    const size_t mapLength = h.mapLengthLog2 < 16 ? size_t{1} << h.mapLengthLog2 : 0;
    if (h.maps && !mapLength) return Fail(ReadStatus::Damaged);
    std::vector<uint8_t> maps(3 * 256);
    for (uint32_t m = 0; m < h.maps; ++m)
        for (size_t i = 0; i < mapLength; ++i) {
            const uint32_t entry = c.U16LE();
            if (m < 3 && i < 256) maps[m * 256 + i] = static_cast<uint8_t>(entry >> 8);
        }
    if (h.flags & HasComment) {
        const uint32_t length = c.U16LE();
        c.Skip(length + (length & 1));
    }
    if (!c.Ok()) return Fail(ReadStatus::Damaged);

    ReadResult result = ByteSource::Allocate(out.image, h.width, h.height, request);
    if (!result.Ok()) return result;
    Image& image = out.image;
    const bool alpha = h.flags & HasAlpha;
    if ((h.flags & ClearFirst) && !(h.flags & NoBackground)) {
        const uint8_t r = background[0];
        const uint8_t g = h.colours == 1 ? r : background[1], b = h.colours == 1 ? r : background[2];
        for (size_t i = 0; i < image.bgra.size(); i += 4) ByteSource::Put(&image.bgra[i], b, g, r);
    }
    if (alpha)
        for (size_t i = 3; i < image.bgra.size(); i += 4) image.bgra[i] = 0;  // what no row sets stays clear

    Canvas canvas(h, image);
    int64_t x = h.xpos, y = h.ypos;
    uint32_t channel = 0;
    // Writers that stop at the last row without an end instruction are
    // common; the data's end is then the picture's.
    bool ended = false;
    while (!ended && !c.AtEnd()) {
        const uint32_t opcode = c.U8();
        uint32_t operand = c.U8();
        if (opcode & LongForm) operand = c.U16LE();
        if (!c.Ok()) return Fail(ReadStatus::Damaged);
        switch (opcode & ~LongForm) {
        case SkipLines:
            y += operand;
            x = h.xpos;
            break;
        case SetColour:
            channel = operand;
            x = h.xpos;
            break;
        case SkipPixels: x += operand; break;
        case ByteData: {
            const uint32_t count = operand + 1;
            if (c.Left() < count) return Fail(ReadStatus::Damaged);
            if (!canvas.Put(x, y, channel, c.Here(), count, false)) return Fail(ReadStatus::Damaged);
            c.Skip(count);
            if ((count & 1) && !c.AtEnd()) c.U8();  // padded to whole words, but for the file's last
            x += count;
            break;
        }
        case RunData: {
            const uint32_t count = operand + 1;
            const uint8_t value = static_cast<uint8_t>(c.U16LE());  // an 8-bit value in the low byte of a word
            if (!c.Ok()) return Fail(ReadStatus::Damaged);
            if (!canvas.Put(x, y, channel, &value, count, true)) return Fail(ReadStatus::Damaged);
            x += count;
            break;
        }
        case End: ended = true; break;
        default: return Fail(ReadStatus::Damaged);
        }
    }

    if (h.maps) {
        // Grey values through three maps are a palette picture; otherwise
        // each channel goes through its own map, or all through the one.
        const bool palette = h.colours == 1 && h.maps >= 3;
        const auto mapped = [&](uint32_t map, uint8_t v) { return maps[(map < h.maps ? map : h.maps - 1) * 256 + v]; };
        for (size_t i = 0; i < image.bgra.size(); i += 4) {
            uint8_t* p = &image.bgra[i];
            if (palette) {
                const uint8_t v = p[0];
                ByteSource::Put(p, mapped(2, v), mapped(1, v), mapped(0, v), p[3]);
            } else {
                ByteSource::Put(p, mapped(2, p[0]), mapped(1, p[1]), mapped(0, p[2]), p[3]);
            }
        }
    }
    return result;
}

}  // namespace

bool IsUtahRle(const uint8_t* data, size_t size) { return size >= 2 && data[0] == 0x52 && data[1] == 0xCC; }

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return ByteSource::Guarded(out, [&] { return Decode(data, size, request, out); });
}

}  // namespace UtahRle
