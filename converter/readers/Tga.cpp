#include "converter/readers/Tga.h"

#include <cstring>

#include "converter/readers/ByteSource.h"

namespace Tga {
namespace {

using ByteSource::Cursor;
using ByteSource::Fail;

struct Header {
    uint32_t idLength, mapType, type, mapFirst, mapLength, mapEntryBits;
    uint32_t width, height, depth, descriptor;
};

enum class Kind { Mapped, TrueColour, Grey };

Kind KindOf(uint32_t type) {
    switch (type & 7) {
    case 1: return Kind::Mapped;
    case 2: return Kind::TrueColour;
    default: return Kind::Grey;
    }
}

bool ValidType(uint32_t type) {
    return type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
}

bool ValidEntryBits(uint32_t bits) { return bits == 15 || bits == 16 || bits == 24 || bits == 32; }

// Whether the fields fit together: with no magic bytes to go by, this is
// what tells a TGA from any other file that happens to carry the extension.
bool Plausible(const Header& h) {
    if (h.mapType > 1 || !ValidType(h.type) || h.width == 0 || h.height == 0) return false;
    if (h.descriptor & 0xC0) return false;  // interleaved rows: gone since TGA 2.0, never seen in the wild
    if ((h.descriptor & 0x0F) > 8) return false;
    if (h.mapType == 1 && (!ValidEntryBits(h.mapEntryBits) || h.mapLength == 0)) return false;
    switch (KindOf(h.type)) {
    case Kind::Mapped: return h.mapType == 1 && (h.depth == 8 || h.depth == 16);
    case Kind::TrueColour: return h.depth == 15 || h.depth == 16 || h.depth == 24 || h.depth == 32;
    case Kind::Grey: return h.depth == 1 || h.depth == 8 || h.depth == 16;
    }
    return false;
}

uint32_t Five(uint32_t v) { return ByteSource::Scale(v & 0x1F, 31); }

// One stored value (a pixel or a colour-map entry) as B, G, R, A.
void Colour(const uint8_t* p, uint32_t bits, bool grey, uint8_t* bgra) {
    if (grey) {
        ByteSource::Put(bgra, p[0], p[0], p[0], bits == 16 ? p[1] : 0xFF);
        return;
    }
    switch (bits) {
    case 15:
    case 16: {
        const uint32_t v = p[0] | uint32_t{p[1]} << 8;
        ByteSource::Put(bgra, Five(v), Five(v >> 5), Five(v >> 10), (v & 0x8000) ? 0xFF : 0);
        break;
    }
    case 24: ByteSource::Put(bgra, p[0], p[1], p[2]); break;
    default: ByteSource::Put(bgra, p[0], p[1], p[2], p[3]); break;
    }
}

// What the TGA 2.0 extension area says of the alpha channel: 0 no alpha,
// 1 and 2 undefined (to be ignored), 3 straight alpha, 4 premultiplied;
// -1 when the file has no extension area.
int AttributesType(const uint8_t* data, size_t size) {
    static const char kSignature[] = "TRUEVISION-XFILE.";
    if (size < 18 + 26 || std::memcmp(data + size - 18, kSignature, 18) != 0) return -1;
    Cursor footer(data, size, size - 26);
    const uint32_t offset = footer.U32LE();
    const size_t extensionSize = 495;
    if (offset < 18 || offset > size - 26 || size - 26 - offset < extensionSize) return -1;
    if ((data[offset] | data[offset + 1] << 8) != extensionSize) return -1;
    return data[offset + 494];
}

// One bit a pixel, 1 white, the rows whole bytes, as Pillow writes bilevel
// pictures (ImageMagick refuses them). No writer run-length codes them.
ReadResult DecodeBilevel(const Header& h, Cursor& c, bool rle, const ReadRequest& request, Decoded& out) {
    if (rle) return Fail(ReadStatus::Unsupported);
    const size_t stride = (size_t{h.width} + 7) / 8;
    if (uint64_t{h.width} * h.height <= request.maxPixels && c.Left() / stride < h.height)
        return Fail(ReadStatus::Damaged);
    ReadResult result = ByteSource::Allocate(out.image, h.width, h.height, request);
    if (!result.Ok()) return result;
    const bool topDown = h.descriptor & 0x20;
    const bool rightToLeft = h.descriptor & 0x10;
    for (uint32_t row = 0; row < h.height; ++row) {
        const uint8_t* bits = c.Here() + row * stride;
        uint8_t* line = out.image.Row(topDown ? row : h.height - 1 - row);
        for (uint32_t column = 0; column < h.width; ++column) {
            const uint8_t v = (bits[column >> 3] >> (7 - (column & 7))) & 1 ? 0xFF : 0;
            const uint32_t x = rightToLeft ? h.width - 1 - column : column;
            ByteSource::Put(line + size_t{x} * 4, v, v, v);
        }
    }
    return result;
}

ReadResult Decode(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    Cursor c(data, size);
    Header h;
    h.idLength = c.U8();
    h.mapType = c.U8();
    h.type = c.U8();
    h.mapFirst = c.U16LE();
    h.mapLength = c.U16LE();
    h.mapEntryBits = c.U8();
    c.U16LE();  // the screen position: not ours to honour
    c.U16LE();
    h.width = c.U16LE();
    h.height = c.U16LE();
    h.depth = c.U8();
    h.descriptor = c.U8();
    if (!c.Ok() || !Plausible(h)) return Fail(ReadStatus::NotThisFormat);
    if (!c.Skip(h.idLength)) return Fail(ReadStatus::Damaged);

    const Kind kind = KindOf(h.type);
    // Only 16 and 32 bits (and grey with its second byte) have room for alpha.
    const uint32_t storedBits = kind == Kind::Mapped ? h.mapEntryBits : h.depth;
    const bool room = storedBits == 16 || storedBits == 32;
    // A fourth byte is alpha even when the header counts no alpha bits or
    // the extension area says "no alpha": writers leave both at 0 over real
    // alpha, and ImageMagick and Pillow both take the byte. Fourth bytes
    // that are all zero still mean opaque (below).
    const bool fourthByte = storedBits == 32;
    bool alpha = room && ((h.descriptor & 0x0F) > 0 || fourthByte);
    bool premultiplied = false;
    switch (AttributesType(data, size)) {
    case 0:
    case 1:
    case 2: alpha = fourthByte; break;
    case 3: alpha = room; break;
    case 4: alpha = premultiplied = room; break;
    default: break;
    }

    // The colour map, as BGRA; a true-colour picture may carry one it does
    // not use, which is skipped all the same.
    std::vector<uint8_t> map;
    if (h.mapType == 1) {
        const uint32_t entryBytes = (h.mapEntryBits + 7) / 8;
        if (c.Left() < size_t{h.mapLength} * entryBytes) return Fail(ReadStatus::Damaged);
        if (kind == Kind::Mapped) {
            map.resize(size_t{h.mapLength} * 4);
            for (uint32_t i = 0; i < h.mapLength; ++i)
                Colour(c.Here() + size_t{i} * entryBytes, h.mapEntryBits, false, map.data() + size_t{i} * 4);
        }
        c.Skip(size_t{h.mapLength} * entryBytes);
    }

    const bool rle = h.type >= 9;
    if (h.depth == 1) return DecodeBilevel(h, c, rle, request, out);
    const uint32_t pixelBytes = (h.depth + 7) / 8;
    const uint64_t count = uint64_t{h.width} * h.height;
    // Before any memory is taken: a raw picture needs all its bytes, and a
    // run-length packet of 1 + pixelBytes bytes stands for at most 128 pixels.
    const uint64_t least = rle ? (count + 127) / 128 * (1 + pixelBytes) : count * pixelBytes;
    if (count <= request.maxPixels && c.Left() < least) return Fail(ReadStatus::Damaged);
    ReadResult result = ByteSource::Allocate(out.image, h.width, h.height, request);
    if (!result.Ok()) return result;

    const bool topDown = h.descriptor & 0x20;
    const bool rightToLeft = h.descriptor & 0x10;
    bool anyAlpha = false;
    bool badIndex = false;
    auto store = [&](uint64_t i, const uint8_t* p) {
        const uint32_t row = static_cast<uint32_t>(i / h.width);
        const uint32_t column = static_cast<uint32_t>(i % h.width);
        const uint32_t y = topDown ? row : h.height - 1 - row;
        const uint32_t x = rightToLeft ? h.width - 1 - column : column;
        uint8_t* pixel = out.image.Row(y) + size_t{x} * 4;
        if (kind == Kind::Mapped) {
            const uint32_t index = pixelBytes == 1 ? p[0] : (p[0] | uint32_t{p[1]} << 8);
            if (index < h.mapFirst || index - h.mapFirst >= h.mapLength) {
                badIndex = true;
                return;
            }
            std::memcpy(pixel, map.data() + size_t{index - h.mapFirst} * 4, 4);
        } else {
            Colour(p, h.depth, kind == Kind::Grey, pixel);
        }
        if (!alpha) pixel[3] = 0xFF;
        anyAlpha |= pixel[3] != 0;
    };

    if (!rle) {
        for (uint64_t i = 0; i < count; ++i) store(i, c.Here() + i * pixelBytes);
    } else {
        uint64_t i = 0;
        while (i < count) {
            const uint32_t packet = c.U8();
            uint64_t run = (packet & 0x7F) + 1;
            if (run > count - i) run = count - i;  // a run past the last pixel: the rest is not ours
            if (packet & 0x80) {
                if (c.Left() < pixelBytes || !c.Ok()) return Fail(ReadStatus::Damaged);
                for (uint64_t k = 0; k < run; ++k) store(i + k, c.Here());
                c.Skip(pixelBytes);
            } else {
                if (c.Left() < run * pixelBytes || !c.Ok()) return Fail(ReadStatus::Damaged);
                for (uint64_t k = 0; k < run; ++k) store(i + k, c.Here() + k * pixelBytes);
                c.Skip(run * pixelBytes);
            }
            i += run;
        }
    }
    if (badIndex) return Fail(ReadStatus::Damaged);

    uint8_t* bgra = out.image.bgra.data();
    const size_t bytes = out.image.bgra.size();
    if (alpha && !anyAlpha) {
        // Alpha bits that are zero everywhere were left unused by the program
        // that wrote them; shown as they are, the picture would vanish.
        for (size_t i = 3; i < bytes; i += 4) bgra[i] = 0xFF;
    } else if (premultiplied) {
        for (size_t i = 0; i < bytes; i += 4) {
            const uint32_t a = bgra[i + 3];
            for (int k = 0; k < 3; ++k) {
                const uint32_t straight = a ? (bgra[i + k] * 255u + a / 2) / a : 0;
                bgra[i + k] = static_cast<uint8_t>(straight > 255 ? 255 : straight);
            }
        }
    }
    return result;
}

}  // namespace

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return ByteSource::Guarded(out, [&] { return Decode(data, size, request, out); });
}

}  // namespace Tga
