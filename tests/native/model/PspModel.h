// Paint Shop Pro files built by the layout Jasc documents for file format 5
// (Paint Shop Pro 7): little-endian fields; blocks of "~BK\0", a 16-bit id
// and a 32-bit length; each block's fixed chunk starting with its own
// length. Nothing on Debian reads or writes the format, so the readers' tests
// (natively and through the converter) make their files here. Header-only,
// no Windows types.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

namespace PspModel {

inline void Put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline std::vector<uint8_t> Fields(std::initializer_list<std::pair<uint32_t, int>> values) {
    std::vector<uint8_t> out;
    for (auto [value, bytes] : values) Put(out, value, bytes);
    return out;
}

inline std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline std::vector<uint8_t> Block(uint16_t id, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out = {'~', 'B', 'K', 0};
    Put(out, id, 2);
    Put(out, static_cast<uint32_t>(body.size()), 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A fixed chunk: its length (itself included), then the fields.
inline std::vector<uint8_t> Chunk(const std::vector<uint8_t>& fields) {
    std::vector<uint8_t> out;
    Put(out, static_cast<uint32_t>(fields.size() + 4), 4);
    out.insert(out.end(), fields.begin(), fields.end());
    return out;
}

// The signature and file format 5.0.
inline std::vector<uint8_t> Header() {
    const char signature[32] = "Paint Shop Pro Image File\n\x1a\0\0\0\0";
    std::vector<uint8_t> out(signature, signature + 32);
    Put(out, 5, 2);
    Put(out, 0, 2);
    return out;
}

// General image attributes: size, 150 pixels an inch, compression, depth.
inline std::vector<uint8_t> ImageAttributes(uint32_t width, uint32_t height, uint16_t compression, uint16_t depth) {
    std::vector<uint8_t> fields = Fields({{width, 4}, {height, 4}});
    const double dpi = 150;
    uint8_t resolution[8];
    std::memcpy(resolution, &dpi, 8);
    fields.insert(fields.end(), resolution, resolution + 8);
    const std::vector<uint8_t> rest =
        Fields({{1, 1}, {compression, 2}, {depth, 2}, {1, 2}, {0, 4}, {0, 1}, {0, 4}, {0, 4}, {1, 2}, {0, 4}});
    fields.insert(fields.end(), rest.begin(), rest.end());
    return Block(0, Chunk(fields));
}

// Run-length coding: a count above 128 repeats the next byte count - 128
// times, any other count copies that many bytes.
inline std::vector<uint8_t> RunLength(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < data.size()) {
        size_t run = 1;
        while (i + run < data.size() && data[i + run] == data[i] && run < 127) ++run;
        if (run >= 3) {
            out.push_back(static_cast<uint8_t>(128 + run));
            out.push_back(data[i]);
            i += run;
        } else {
            const size_t n = std::min<size_t>(data.size() - i, 100);
            out.push_back(static_cast<uint8_t>(n));
            out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(i),
                       data.begin() + static_cast<std::ptrdiff_t>(i + n));
            i += n;
        }
    }
    return out;
}

enum Compression : uint16_t { kRaw = 0, kRle = 1, kLz77 = 2 };
// Deflates with zlib: given by callers that link it.
using Deflate = std::vector<uint8_t> (*)(const std::vector<uint8_t>&);

inline std::vector<uint8_t> ChannelBlock(const std::vector<uint8_t>& plane, uint16_t compression, Deflate deflate,
                                         uint16_t channelType) {
    const std::vector<uint8_t> data =
        compression == kRle ? RunLength(plane) : compression == kLz77 && deflate ? deflate(plane) : plane;
    return Block(5, Join({Chunk(Fields({{static_cast<uint32_t>(data.size()), 4},
                                        {static_cast<uint32_t>(plane.size()), 4},
                                        {0, 2},  // the picture itself, not a mask
                                        {channelType, 2}})),
                          data}));
}

inline std::vector<uint8_t> CompositeAttributes(uint32_t width, uint32_t height, uint16_t depth, uint16_t compression,
                                                uint16_t type) {
    return Block(17, Chunk(Fields({{width, 4}, {height, 4}, {depth, 2}, {compression, 2}, {1, 2},
                                   {depth == 24 ? 0u : 1u << depth, 4}, {type, 2}})));
}

// A picture whose colours depend on place, as channels with rows padded to
// four bytes, plus a palette and indices into it.
struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> red, green, blue, index;
    std::vector<uint32_t> palette;  // 0x00RRGGBB
    size_t Stride() const { return (width + 3) & ~size_t{3}; }
    // `bits` of a paletted picture: 8, or 4 or 1 (the index's low bits).
    uint32_t Rgb(uint32_t x, uint32_t y, bool paletted, uint16_t bits = 8) const {
        const size_t at = y * Stride() + x;
        return paletted ? palette[index[at] & ((1u << bits) - 1)]
                        : uint32_t{red[at]} << 16 | uint32_t{green[at]} << 8 | blue[at];
    }
};

inline Picture Sample(uint32_t width, uint32_t height) {
    Picture p;
    p.width = width;
    p.height = height;
    const size_t stride = p.Stride();
    for (auto* plane : {&p.red, &p.green, &p.blue, &p.index}) plane->assign(stride * height, 0);
    for (uint32_t i = 0; i < 256; ++i) p.palette.push_back((i * 0x9E3779B1u) & 0xFFFFFF);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const size_t at = y * stride + x;
            p.red[at] = static_cast<uint8_t>(x * 7);
            p.green[at] = static_cast<uint8_t>(y * 13);
            p.blue[at] = x < width / 2 ? 200 : static_cast<uint8_t>(x ^ y);  // runs and noise
            p.index[at] = static_cast<uint8_t>(x / 3 + y);
        }
    return p;
}

// The index plane at 4 or 1 bits a pixel, the leftmost pixel in a byte's
// highest bits (as in a Windows bitmap), rows padded to four bytes.
inline std::vector<uint8_t> PackedIndices(const Picture& p, uint16_t bits) {
    const size_t row = (size_t{p.width} * bits + 7) / 8, stride = (row + 3) & ~size_t{3};
    std::vector<uint8_t> out(stride * p.height, 0);
    for (uint32_t y = 0; y < p.height; ++y)
        for (uint32_t x = 0; x < p.width; ++x) {
            const uint32_t value = p.index[y * p.Stride() + x] & ((1u << bits) - 1);
            const uint32_t shift = 8 - bits - (x * bits) % 8;
            out[y * stride + x * bits / 8] |= static_cast<uint8_t>(value << shift);
        }
    return out;
}

// A file with a small thumbnail first (which a reader must not take) and then
// the full-size composite, in 24 bits or through a palette (`bits` 8, 4 or 1
// a pixel).
inline std::vector<uint8_t> WithComposite(const Picture& p, uint16_t compression, bool paletted,
                                          Deflate deflate = nullptr, uint16_t bits = 8) {
    const uint16_t depth = paletted ? bits : 24;
    const std::vector<uint8_t> tiny(8, 0x55);
    const std::vector<uint8_t> thumbnail =
        Block(9, Join({Chunk(Fields({{1, 2}, {3, 2}})), ChannelBlock(tiny, compression, deflate, 1),
                       ChannelBlock(tiny, compression, deflate, 2), ChannelBlock(tiny, compression, deflate, 3)}));
    std::vector<uint8_t> image;
    if (paletted) {
        const uint32_t colours = 1u << bits;
        std::vector<uint8_t> palette = Chunk(Fields({{colours, 4}}));
        for (uint32_t i = 0; i < colours; ++i) Put(palette, p.palette[i], 4);  // blue, green, red, a spare byte
        const std::vector<uint8_t> indices = bits == 8 ? p.index : PackedIndices(p, bits);
        image = Join({Chunk(Fields({{1, 2}, {1, 2}})), Block(2, palette), ChannelBlock(indices, compression, deflate, 0)});
    } else {
        image = Join({Chunk(Fields({{1, 2}, {3, 2}})), ChannelBlock(p.red, compression, deflate, 1),
                      ChannelBlock(p.green, compression, deflate, 2), ChannelBlock(p.blue, compression, deflate, 3)});
    }
    const std::vector<uint8_t> bank =
        Join({Chunk(Fields({{2, 4}})), CompositeAttributes(2, 2, 24, compression, 1),
              CompositeAttributes(p.width, p.height, depth, compression, 0), thumbnail, Block(9, image)});
    return Join({Header(), ImageAttributes(p.width, p.height, compression, depth), Block(16, bank)});
}

// No composite image bank, as in files of Paint Shop Pro 5 and files saved
// without their composite.
inline std::vector<uint8_t> WithoutComposite(uint32_t width, uint32_t height) {
    return Join({Header(), ImageAttributes(width, height, kRaw, 24)});
}

}  // namespace PspModel
