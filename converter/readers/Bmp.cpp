#include "converter/readers/Bmp.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "converter/base/CheckedSize.h"
#include "converter/readers/ByteSource.h"
#include "converter/base/ByteCursor.h"

namespace Bmp {
namespace {

using ByteSource::Cursor;
using ByteSource::Fail;

constexpr size_t FileHeaderBytes = 14;
constexpr uint32_t CoreHeaderBytes = 12;
constexpr uint32_t InfoHeaderBytes = 40;
constexpr uint32_t V5HeaderBytes = 124;
// Longer headers than V5 are taken as V5 with a tail we do not know; beyond
// this the length itself is the damage.
constexpr uint32_t MaxHeaderBytes = 4096;

enum Compression : uint32_t {
    Rgb = 0,
    Rle8 = 1,
    Rle4 = 2,
    BitFields = 3,  // OS/2 2.x: Huffman 1D
    Jpeg = 4,       // OS/2 2.x: RLE24
    Png = 5,
    AlphaBitFields = 6,
};

const wchar_t* const kOs2Huffman =
    L"Die OS/2-Bitmap ist mit Huffman 1D komprimiert; diese Variante wird nicht gelesen.";
const wchar_t* const kOs2Rle24 = L"Die OS/2-Bitmap ist mit RLE24 komprimiert; diese Variante wird nicht gelesen.";
const wchar_t* const kCompression = L"Die Bitmap ist auf eine unbekannte Art komprimiert.";
const wchar_t* const kDepth = L"Die Bitmap hat eine Farbtiefe, die nicht gelesen wird.";

using ByteOrder::Le16;
using ByteOrder::Le32;

struct Header {
    uint32_t bytes = 0;  // the information header's own length
    bool core = false;   // OS/2 1.x: 16-bit sizes, 3-byte palette entries
    bool os2 = false;    // OS/2 2.x: compressions 3 and 4 mean other things
    uint64_t width = 0;
    uint64_t height = 0;
    bool topDown = false;
    uint32_t planes = 1;
    uint32_t bits = 0;
    uint32_t compression = Rgb;
    uint32_t imageBytes = 0;
    uint32_t xPerMetre = 0;
    uint32_t yPerMetre = 0;
    uint32_t coloursUsed = 0;
    uint32_t masks[4] = {};  // red, green, blue, alpha
    size_t maskBytes = 0;    // masks stored after a bare INFO header
    bool embeddedProfile = false;
    uint32_t profileOffset = 0;  // from the information header's start
    uint32_t profileBytes = 0;
};

bool KnownDepth(uint32_t bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The information header at `at`. `bare` (no file header before it): a
// header that does not look like one is another format's file.
ReadResult ParseHeader(const uint8_t* data, size_t size, size_t at, bool bare, Header& h) {
    const ReadStatus bad = bare ? ReadStatus::NotThisFormat : ReadStatus::Damaged;
    if (size - at < 4) return Fail(bad);
    h.bytes = Le32(data + at);
    if (h.bytes < CoreHeaderBytes || h.bytes > MaxHeaderBytes || (h.bytes > CoreHeaderBytes && h.bytes < 16))
        return Fail(bad);
    if (size - at < h.bytes) return Fail(bad);
    const uint8_t* p = data + at;
    if (h.bytes == CoreHeaderBytes) {
        h.core = true;
        h.width = Le16(p + 4);
        h.height = Le16(p + 6);
        h.planes = Le16(p + 8);
        h.bits = Le16(p + 10);
    } else {
        // OS/2 2.x headers may stop after any field; what they leave out is zero.
        uint8_t f[V5HeaderBytes] = {};
        std::memcpy(f, p, h.bytes < V5HeaderBytes ? h.bytes : V5HeaderBytes);
        h.os2 = h.bytes <= 64 && h.bytes != InfoHeaderBytes && h.bytes != 52 && h.bytes != 56;
        const int32_t width = static_cast<int32_t>(Le32(f + 4));
        const int32_t height = static_cast<int32_t>(Le32(f + 8));
        if (width <= 0 || height == 0) return Fail(bad);
        h.width = static_cast<uint64_t>(width);
        h.topDown = height < 0;
        h.height = h.topDown ? uint64_t{0} - static_cast<uint64_t>(int64_t{height}) : static_cast<uint64_t>(height);
        h.planes = Le16(f + 12);
        h.bits = Le16(f + 14);
        h.compression = Le32(f + 16);
        h.imageBytes = Le32(f + 20);
        h.xPerMetre = Le32(f + 24);
        h.yPerMetre = Le32(f + 28);
        h.coloursUsed = Le32(f + 32);
        if (!h.os2) {
            if (h.bytes >= 52) {
                for (int i = 0; i < 3; ++i) h.masks[i] = Le32(f + 40 + 4 * i);
                if (h.bytes >= 56) h.masks[3] = Le32(f + 52);
            } else if (h.compression == BitFields || h.compression == AlphaBitFields) {
                // A bare INFO header keeps its masks right after it.
                const size_t count = h.compression == BitFields ? 3 : 4;
                if (size - at - h.bytes < count * 4) return Fail(bad);
                for (size_t i = 0; i < count; ++i) h.masks[i] = Le32(p + h.bytes + 4 * i);
                h.maskBytes = count * 4;
            }
            // V5: "MBED", a profile inside the file.
            if (h.bytes >= V5HeaderBytes && Le32(f + 56) == 0x4D424544) {
                h.embeddedProfile = true;
                h.profileOffset = Le32(f + 112);
                h.profileBytes = Le32(f + 116);
            }
        }
    }
    if (h.width == 0 || h.height == 0) return Fail(bad);
    if (bare && (h.planes != 1 || h.compression > AlphaBitFields ||
                 (!KnownDepth(h.bits) && h.compression != Jpeg && h.compression != Png)))
        return Fail(bad);
    return {};
}

// What the compression and depth ask for, before anything is decoded.
ReadResult CheckVariant(const Header& h) {
    // An embedded JPEG or PNG states its own depth (the header's is often 0).
    const bool embedded = !h.os2 && (h.compression == Jpeg || h.compression == Png);
    if (!embedded && !KnownDepth(h.bits)) return Fail(ReadStatus::Unsupported, kDepth);
    switch (h.compression) {
    case Rgb: return {};
    case Rle8: return h.bits == 8 ? ReadResult{} : Fail(ReadStatus::Damaged);
    case Rle4: return h.bits == 4 ? ReadResult{} : Fail(ReadStatus::Damaged);
    case BitFields:
        if (h.os2) return Fail(ReadStatus::Unsupported, kOs2Huffman);
        return h.bits >= 16 ? ReadResult{} : Fail(ReadStatus::Damaged);
    case AlphaBitFields:
        if (h.os2) return Fail(ReadStatus::Unsupported, kCompression);
        return h.bits >= 16 ? ReadResult{} : Fail(ReadStatus::Damaged);
    case Jpeg:
        if (h.os2) return Fail(ReadStatus::Unsupported, kOs2Rle24);
        return {};
    case Png:
        if (h.os2) return Fail(ReadStatus::Unsupported, kCompression);
        return {};
    default: return Fail(ReadStatus::Unsupported, kCompression);
    }
}

// One mask's channel scaled to 0..255, rounded to the nearest: a 5-bit
// value becomes what replicating its bits gives, 8 bits stay as they are.
struct Channel {
    uint32_t mask = 0;
    uint32_t shift = 0;
    uint32_t max = 0;
    bool narrow = false;  // 1 to 4 bits, widened as ImageMagick does

    // A 1-bit alpha stays transparent or opaque (ImageMagick's widening
    // would make it half transparent).
    explicit Channel(uint32_t m, bool alpha = false) : mask(m) {
        if (mask == 0) return;
        while (!((mask >> shift) & 1)) ++shift;
        max = mask >> shift;
        narrow = max < 31 && !(alpha && max == 1);
    }
    uint32_t Of(uint32_t value, uint32_t none) const {
        if (max == 0) return none;
        const uint64_t v = (value & mask) >> shift;
        if (narrow) {
            // Fewer than 5 bits (16-bit 4-4-4-4, 2-3-1): ImageMagick, the one
            // reference reading these, puts the bits at the top of 16 and
            // repeats that high byte once below, so a 4-bit 15 is 240, not
            // 255; Pillow refuses them. Followed, so results look the same.
            uint32_t bits = 0;
            while (max >> bits) ++bits;
            uint32_t wide = static_cast<uint32_t>(v) << (16 - bits);
            wide |= (wide & 0xFF00) >> 8;
            return (wide + 128) / 257;
        }
        return static_cast<uint32_t>((v * 255 + max / 2) / max);
    }
};

// The masks of 16- and 32-bit pixels: the header's for bit fields, else
// 5-5-5 or 8-8-8 (no alpha).
std::array<uint32_t, 4> MasksOf(const Header& h) {
    const bool masked = h.compression == BitFields || h.compression == AlphaBitFields;
    std::array<uint32_t, 4> masks = {h.masks[0], h.masks[1], h.masks[2], masked ? h.masks[3] : 0};
    if (!masked || (masks[0] | masks[1] | masks[2]) == 0) {
        if (h.bits == 16) {
            masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
        } else {
            masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
        }
    }
    return masks;
}

// The stride of an uncompressed row and the bytes its pixels take; false
// when they overflow.
bool RowBytes(const Header& h, size_t& stride, size_t& rowBytes) {
    size_t rowBits = 0;
    if (!CheckedSize::Mul(h.width, h.bits, rowBits) || !CheckedSize::Add(rowBits, 31, stride)) return false;
    stride = stride / 32 * 4;
    rowBytes = (rowBits + 7) / 8;
    return true;
}

// One uncompressed stored row made BGRA.
class RowFormat {
public:
    RowFormat(const Header& h, const uint8_t* palette)
        : h_(h), palette_(palette), masked_(h.compression == BitFields || h.compression == AlphaBitFields),
          masks_(MasksOf(h)), red_(masks_[0]), green_(masks_[1]), blue_(masks_[2]), alpha_(masks_[3], true) {}

    // Whether a pixel can be other than opaque.
    bool MayBeTransparent() const { return h_.bits >= 16 && masks_[3] != 0; }

    void Place(const uint8_t* row, uint8_t* out) const {
        const Header& h = h_;
        if (h.bits <= 8) {
            const uint32_t perByte = 8 / h.bits, valueMask = (1u << h.bits) - 1;
            for (uint64_t x = 0; x < h.width; ++x, out += 4) {
                const uint32_t shift = 8 - h.bits * (static_cast<uint32_t>(x % perByte) + 1);
                const uint32_t index = (row[x / perByte] >> shift) & valueMask;
                std::memcpy(out, palette_ + size_t{index} * 4, 4);
            }
        } else if (h.bits == 24 && !masked_) {
            for (uint64_t x = 0; x < h.width; ++x, out += 4, row += 3) ByteSource::Put(out, row[0], row[1], row[2]);
        } else {
            const uint32_t bytesPerPixel = h.bits / 8;
            for (uint64_t x = 0; x < h.width; ++x, out += 4, row += bytesPerPixel) {
                uint32_t v = 0;
                for (uint32_t k = 0; k < bytesPerPixel; ++k) v |= uint32_t{row[k]} << (8 * k);
                ByteSource::Put(out, blue_.Of(v, 0), green_.Of(v, 0), red_.Of(v, 0), alpha_.Of(v, 255));
            }
        }
    }

private:
    const Header& h_;
    const uint8_t* palette_;
    bool masked_;
    std::array<uint32_t, 4> masks_;
    Channel red_, green_, blue_, alpha_;
};

struct Pixels {
    const Header& h;
    const uint8_t* data;
    size_t size;
    size_t at;                 // where the pixels start
    const uint8_t* palette;    // 256 entries of B, G, R, A
    Image& image;

    uint8_t* Pixel(uint64_t x, uint64_t storedRow) {
        const uint64_t y = h.topDown ? storedRow : h.height - 1 - storedRow;
        return image.Row(static_cast<uint32_t>(y)) + static_cast<size_t>(x) * 4;
    }
    void PutIndex(uint64_t x, uint64_t row, uint32_t index) {
        std::memcpy(Pixel(x, row), palette + size_t{index} * 4, 4);
    }
};

ReadResult DecodeRows(Pixels& px) {
    const Header& h = px.h;
    size_t rowBytes, stride, need;
    if (!RowBytes(h, stride, rowBytes)) return Fail(ReadStatus::TooLarge);
    // The last row's padding may be missing: some writers stop at its last pixel.
    if (!CheckedSize::MulAdd(stride, h.height - 1, rowBytes, need)) return Fail(ReadStatus::TooLarge);
    if (px.at > px.size || px.size - px.at < need) return Fail(ReadStatus::Damaged);
    const RowFormat format(h, px.palette);
    for (uint64_t r = 0; r < h.height; ++r)
        format.Place(px.data + px.at + static_cast<size_t>(r) * stride, px.Pixel(0, r));
    return {};
}

// RLE8 and RLE4. Pixels a delta or an early end of line or of the bitmap
// skips keep colour 0 of the palette, as ImageMagick and Pillow show them.
// Data that ends without its end-of-bitmap mark ends the picture there.
ReadResult DecodeRle(Pixels& px) {
    const Header& h = px.h;
    const bool four = h.compression == Rle4;
    for (uint64_t r = 0; r < h.height; ++r) {
        uint8_t* out = px.Pixel(0, r);
        for (uint64_t x = 0; x < h.width; ++x, out += 4) std::memcpy(out, px.palette, 4);
    }
    if (px.at >= px.size) return Fail(ReadStatus::Damaged);
    Cursor c(px.data, px.size, px.at);
    uint64_t x = 0, y = 0;
    const auto put = [&](uint32_t index) {
        if (x < h.width && y < h.height) px.PutIndex(x, y, index);
        ++x;
    };
    while (y < h.height && c.Left() >= 2) {
        const uint32_t count = c.U8(), value = c.U8();
        if (count > 0) {
            for (uint32_t i = 0; i < count && x < h.width; ++i)
                put(four ? (i % 2 == 0 ? value >> 4 : value & 0x0F) : value);
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            break;
        } else if (value == 2) {  // delta: right and up (in stored rows)
            const uint32_t dx = c.U8(), dy = c.U8();
            if (!c.Ok()) break;
            x += dx;
            y += dy;
        } else {  // a literal run of `value` pixels, padded to 16 bits
            const size_t bytes = four ? (value + 1) / 2 : value;
            const size_t stored = (bytes + 1) & ~size_t{1};
            const uint8_t* run = c.Here();
            const size_t have = c.Left() < bytes ? c.Left() : bytes;
            for (uint32_t i = 0; i < value && x < h.width; ++i) {
                const size_t byte = four ? i / 2 : i;
                if (byte >= have) break;
                put(four ? (i % 2 == 0 ? run[byte] >> 4 : run[byte] & 0x0F) : run[byte]);
            }
            if (!c.Skip(stored)) break;
        }
    }
    return {};
}

struct Prelude {
    Header h;
    size_t at = 0;        // the information header's start
    size_t pixelsAt = 0;
    uint8_t palette[256 * 4];
};

// What comes before the pixels: the headers, the palette and where the
// pixels start; the resolution into `metadata`. Reads no byte past the
// palette, so the first 64 KiB of a file give what the whole file does.
ReadResult ReadPrelude(const uint8_t* data, size_t size, Prelude& prelude, Metadata& metadata) {
    const bool bare = !(size >= 2 && data[0] == 'B' && data[1] == 'M');
    size_t& at = prelude.at;
    uint32_t pixelOffset = 0;
    if (!bare) {
        if (size < FileHeaderBytes) return Fail(ReadStatus::Damaged);
        pixelOffset = Le32(data + 10);
        at = FileHeaderBytes;
    }
    Header& h = prelude.h;
    ReadResult result = ParseHeader(data, size, at, bare, h);
    if (!result.Ok()) return result;
    result = CheckVariant(h);
    if (!result.Ok()) return result;

    // The palette follows the header (and a bare INFO header's masks).
    const size_t paletteAt = at + h.bytes + h.maskBytes;
    const size_t entryBytes = h.core ? 3 : 4;
    uint64_t declared = 0;
    if (h.compression == Jpeg || h.compression == Png) {
        declared = 0;
    } else if (h.bits <= 8) {
        declared = h.coloursUsed == 0 || h.coloursUsed > (1u << h.bits) ? (1u << h.bits) : h.coloursUsed;
        if (h.core) declared = 1u << h.bits;
    } else if (!h.core) {
        declared = h.coloursUsed;  // an optimisation palette the pixels do not use
    }
    // A table that cannot fit in memory ends beyond any file: pixels said to
    // follow it are then missing.
    size_t tableBytes, afterTable;
    if (!CheckedSize::Mul(declared, entryBytes, tableBytes) || !CheckedSize::Add(paletteAt, tableBytes, afterTable))
        afterTable = SIZE_MAX;

    // The pixels are where the file header says. An offset of zero, or one
    // inside the headers, cannot be meant: the pixels then follow the
    // palette. So do they when the offset names the palette's own start
    // (its writer forgot to count it), as Pillow reads such files.
    size_t& pixelsAt = prelude.pixelsAt;
    pixelsAt = afterTable;
    if (!bare && pixelOffset != 0 && (pixelOffset > paletteAt || (pixelOffset == paletteAt && h.bits > 8)))
        pixelsAt = pixelOffset;

    // The declared palette as far as the file goes, even where the pixels
    // start inside it (as both references read it); entries the file cuts
    // off are black. OS/2 1.x writers store fewer than 2^bits entries: the
    // rest then holds pixel bytes that valid indices never reach. An index
    // beyond the declared entries shows entry 0, as ImageMagick reads it
    // (Pillow makes up a grey ramp there; black would match neither).
    uint8_t* const palette = prelude.palette;
    for (size_t i = 0; i < 256; ++i) ByteSource::Put(palette + i * 4, 0, 0, 0);
    if (h.bits <= 8 && paletteAt < size) {
        const size_t end = afterTable < size ? afterTable : size;
        const size_t present = (end - paletteAt) / entryBytes;
        for (size_t i = 0; i < present; ++i) {
            const uint8_t* entry = data + paletteAt + i * entryBytes;
            ByteSource::Put(palette + i * 4, entry[0], entry[1], entry[2]);
        }
        for (size_t i = static_cast<size_t>(declared); present > 0 && i < 256; ++i) std::memcpy(palette + i * 4, palette, 4);
    }

    if (h.xPerMetre && h.yPerMetre) {
        metadata.dpiX = h.xPerMetre * 0.0254;
        metadata.dpiY = h.yPerMetre * 0.0254;
    }
    return {};
}

// Where a V5 header's embedded profile lies, when the file holds all of it.
bool ProfilePlace(const Prelude& prelude, uint64_t size, uint64_t& at, uint32_t& bytes) {
    const Header& h = prelude.h;
    if (!h.embeddedProfile || h.profileBytes == 0 || h.profileOffset > size - prelude.at ||
        h.profileBytes > size - prelude.at - h.profileOffset)
        return false;
    at = prelude.at + h.profileOffset;
    bytes = h.profileBytes;
    return true;
}

ReadResult Decode(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out, Stream& stream) {
    Prelude prelude;
    ReadResult result = ReadPrelude(data, size, prelude, out.metadata);
    if (!result.Ok()) return result;
    const Header& h = prelude.h;
    const size_t pixelsAt = prelude.pixelsAt;
    uint64_t profileAt = 0;
    uint32_t profileBytes = 0;
    if (ProfilePlace(prelude, size, profileAt, profileBytes))
        out.metadata.icc.assign(data + profileAt, data + profileAt + profileBytes);

    if (h.compression == Jpeg || h.compression == Png) {
        if (pixelsAt >= size) return Fail(ReadStatus::Damaged);
        stream.kind = h.compression == Jpeg ? Embedded::Jpeg : Embedded::Png;
        stream.data = data + pixelsAt;
        stream.size = size - pixelsAt;
        if (h.imageBytes != 0 && h.imageBytes < stream.size) stream.size = h.imageBytes;
        return {};
    }

    result = ByteSource::Allocate(out.image, h.width, h.height, request);
    if (!result.Ok()) return result;
    Pixels px{h, data, size, pixelsAt, prelude.palette, out.image};
    result = h.compression == Rle8 || h.compression == Rle4 ? DecodeRle(px) : DecodeRows(px);
    if (!result.Ok()) out.image = Image{};
    return result;
}

}  // namespace

ReadResult ReadOrLocate(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out, Stream& stream) {
    stream = Stream{};
    return ByteSource::Guarded(out, [&] {
        const ReadResult result = Decode(data, size, request, out, stream);
        if (!result.Ok()) {
            out = Decoded{};
            stream = Stream{};
        }
        return result;
    });
}

struct RowReader::State {
    ReadAt readAt;
    Prelude prelude;
    std::unique_ptr<RowFormat> format;
    size_t stride = 0, rowBytes = 0;
    uint32_t next = 0;
    std::vector<uint8_t> stored;
};

RowReader::RowReader() = default;
RowReader::~RowReader() = default;

ReadResult RowReader::Open(ReadAt readAt, uint64_t size, Decoded& out) {
    state_.reset(new State);
    State& s = *state_;
    s.readAt = std::move(readAt);
    // Everything before the pixels lies within the headers' and the
    // palette's few kilobytes.
    std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(size, uint64_t{1} << 16)));
    if (s.readAt(0, head.data(), head.size()) != head.size()) return Fail(ReadStatus::Damaged);
    // A bare DIB is known by its name, which only the whole-picture path sees.
    if (head.size() < 2 || head[0] != 'B' || head[1] != 'M') return Fail(ReadStatus::NotThisFormat);
    ReadResult result = ReadPrelude(head.data(), head.size(), s.prelude, out.metadata);
    if (!result.Ok()) return result;
    const Header& h = s.prelude.h;
    // Run-length and embedded pixels are read whole.
    if (h.compression != Rgb && h.compression != BitFields && h.compression != AlphaBitFields)
        return Fail(ReadStatus::Unsupported);
    size_t need = 0;
    if (h.width > UINT32_MAX || h.height > UINT32_MAX || !RowBytes(h, s.stride, s.rowBytes) ||
        !CheckedSize::MulAdd(s.stride, h.height - 1, s.rowBytes, need) || s.prelude.pixelsAt > size ||
        size - s.prelude.pixelsAt < need)
        return Fail(ReadStatus::Damaged);
    uint64_t profileAt = 0;
    uint32_t profileBytes = 0;
    // One beyond the cap would be dropped on the way: not read at all.
    if (ProfilePlace(s.prelude, size, profileAt, profileBytes) && profileBytes <= MaxMetadataBlockBytes) {
        out.metadata.icc.resize(profileBytes);
        if (s.readAt(profileAt, out.metadata.icc.data(), profileBytes) != profileBytes) return Fail(ReadStatus::Damaged);
    }
    s.format.reset(new RowFormat(s.prelude.h, s.prelude.palette));
    size_ = {static_cast<uint32_t>(h.width), static_cast<uint32_t>(h.height)};
    transparent_ = s.format->MayBeTransparent();
    decoderBytes_ = s.rowBytes + (size_t{1} << 16);
    return ReadResult{};
}

bool RowReader::Begin() {
    if (!state_ || !state_->format) return false;
    state_->stored.assign(state_->rowBytes, 0);
    state_->next = 0;
    return true;
}

bool RowReader::Row(uint8_t* bgra) {
    if (!state_ || state_->stored.empty() || state_->next >= size_.height) return false;
    State& s = *state_;
    const uint32_t y = s.next++;
    // Rows are stored from the bottom unless the header says otherwise.
    const uint64_t stored = s.prelude.h.topDown ? y : size_.height - 1 - y;
    if (s.readAt(s.prelude.pixelsAt + stored * s.stride, s.stored.data(), s.rowBytes) != s.rowBytes) return false;
    s.format->Place(s.stored.data(), bgra);
    return true;
}

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    Stream stream;
    const ReadResult result = ReadOrLocate(data, size, request, out, stream);
    if (result.Ok() && stream.kind != Embedded::None) {
        out = Decoded{};
        return Fail(ReadStatus::Unsupported);
    }
    return result;
}

}  // namespace Bmp
