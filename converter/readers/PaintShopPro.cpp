#include "converter/readers/PaintShopPro.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "converter/base/ByteCursor.h"
#include "converter/readers/ByteSource.h"

// zlib (LZ77) is there where the build defines QUENNEL_HAVE_ZLIB to 1.
#ifndef QUENNEL_HAVE_ZLIB
#define QUENNEL_HAVE_ZLIB 0
#endif
#if QUENNEL_HAVE_ZLIB
#include <zlib.h>
#endif

namespace PaintShopPro {
namespace {

const char kSignature[32] = "Paint Shop Pro Image File\n\x1a\0\0\0\0";

const wchar_t* const kNoComposite = L"Die Paint-Shop-Pro-Datei enth\u00e4lt kein zusammengef\u00fcgtes Bild.";
const wchar_t* const kJpegComposite =
    L"Das zusammengef\u00fcgte Bild der Paint-Shop-Pro-Datei ist JPEG-komprimiert; diese Variante wird nicht gelesen.";
const wchar_t* const kNoZlib =
    L"Die Paint-Shop-Pro-Datei ist mit LZ77 komprimiert; diese Variante wird nicht gelesen.";

enum BlockId : uint16_t {
    kImageAttributes = 0,
    kPalette = 2,
    kCompositeImage = 9,
    kChannel = 5,
    kCompositeBank = 16,
    kCompositeAttributes = 17,
    kJpeg = 18,
};
enum Compression : uint16_t { kRaw = 0, kRle = 1, kLz77 = 2, kJpegCompressed = 3 };
enum CompositeType : uint16_t { kFullSize = 0, kThumbnail = 1 };
enum BitmapType : uint16_t { kImageBitmap = 0, kTransparencyMask = 1 };
enum ChannelType : uint16_t { kSingle = 0, kRed = 1, kGreen = 2, kBlue = 3 };

using Cursor = ByteCursor;

struct Block {
    uint16_t id = 0;
    Cursor body{nullptr, 0};
};

// The next block header ("~BK\0", id, lengths) and its body. Format 3 also
// gives the length of the block's first chunk, which later formats put at
// the start of the chunk itself.
bool NextBlock(Cursor& c, uint32_t major, Block& block) {
    if (c.Left() < 10 || std::memcmp(c.Here(), "~BK\0", 4) != 0) return false;
    c.Skip(4);
    block.id = static_cast<uint16_t>(c.Le(2));
    if (major < 4) c.Le(4);
    const uint32_t length = c.Le(4);
    block.body = c.Take(length);
    return c.Ok();
}

// The fixed chunk at a block's start: from format 4 on it begins with its own
// length, so fields added by later versions can be skipped.
Cursor Chunk(Cursor& body, uint32_t major, size_t formatThreeLength) {
    if (major < 4) return body.Take(formatThreeLength);
    const uint32_t length = body.Le(4);
    if (length < 4) return Cursor::Failed();
    return body.Take(length - 4);
}

struct Channel {
    uint16_t bitmapType = 0;
    uint16_t channelType = 0;
    uint32_t uncompressedLength = 0;
    Cursor data{nullptr, 0};
};

struct Composite {
    int32_t width = 0, height = 0;
    uint16_t bitDepth = 0, compression = 0, type = kThumbnail;
    std::vector<uint32_t> palette;  // 0x00RRGGBB
    std::vector<Channel> channels;
};

bool Unpack(uint16_t compression, const Cursor& in, uint8_t* out, size_t outSize) {
    const uint8_t* src = in.Here();
    const size_t srcSize = in.Left();
    switch (compression) {
        case kRaw:
            if (srcSize < outSize) return false;
            std::copy(src, src + outSize, out);
            return true;
        case kRle: {
            // A count above 128 repeats the next byte count - 128 times;
            // any other count copies that many bytes.
            size_t i = 0, o = 0;
            while (o < outSize) {
                if (i >= srcSize) return false;
                const uint8_t n = src[i++];
                if (n > 128) {
                    if (i >= srcSize || n - 128u > outSize - o) return false;
                    std::fill(out + o, out + o + (n - 128), src[i++]);
                    o += n - 128u;
                } else {
                    if (n > srcSize - i || n > outSize - o) return false;
                    std::copy(src + i, src + i + n, out + o);
                    i += n;
                    o += n;
                }
            }
            return true;
        }
#if QUENNEL_HAVE_ZLIB
        case kLz77: {
            z_stream z{};
            if (inflateInit(&z) != Z_OK) return false;
            z.next_in = const_cast<Bytef*>(src);
            z.avail_in = static_cast<uInt>(std::min<size_t>(srcSize, 0xFFFFFFFFu));
            z.next_out = out;
            z.avail_out = static_cast<uInt>(outSize);
            const int result = inflate(&z, Z_FINISH);
            const bool full = z.avail_out == 0 && (result == Z_STREAM_END || result == Z_OK || result == Z_BUF_ERROR);
            inflateEnd(&z);
            return full;
        }
#endif
        default: return false;
    }
}

// The most bytes one packed byte can stand for: a run of two bytes for 127
// (run-length), deflate's limit of about 1032 (LZ77), one (raw).
uint64_t MaxExpansion(uint16_t compression) {
    switch (compression) {
        case kRle: return 64;
        case kLz77: return 1032;
        default: return 1;
    }
}

// A composite image block: its palette and channels, left compressed.
bool ReadCompositeImage(Cursor body, uint32_t major, Composite& composite) {
    Cursor chunk = Chunk(body, major, 4);
    if (!chunk.Ok()) return false;
    Block sub;
    while (body.Left() > 0) {
        if (!NextBlock(body, major, sub)) return false;
        if (sub.id == kPalette) {
            Cursor entries = sub.body;
            Cursor head = Chunk(entries, major, 4);
            const uint32_t count = head.Le(4);
            if (!head.Ok() || count > 256 || entries.Left() / 4 < count) return false;
            composite.palette.resize(count);
            for (auto& colour : composite.palette) {
                const uint32_t b = entries.Le(1), g = entries.Le(1), r = entries.Le(1);
                entries.Skip(1);
                colour = r << 16 | g << 8 | b;
            }
        } else if (sub.id == kChannel) {
            Cursor rest = sub.body;
            Cursor head = Chunk(rest, major, 12);
            Channel channel;
            const uint32_t compressedLength = head.Le(4);
            channel.uncompressedLength = head.Le(4);
            channel.bitmapType = static_cast<uint16_t>(head.Le(2));
            channel.channelType = static_cast<uint16_t>(head.Le(2));
            channel.data = rest.Take(compressedLength);
            if (!head.Ok() || !rest.Ok()) return false;
            composite.channels.push_back(channel);
        }
    }
    return true;
}

ReadResult Fail(ReadStatus status, const wchar_t* reason = nullptr) { return ReadResult{status, reason}; }

}  // namespace

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    if (size < 36 || std::memcmp(data, kSignature, sizeof kSignature) != 0) return Fail(ReadStatus::NotThisFormat);
    Cursor c(data + 36, size - 36);
    const uint32_t major = data[32] | data[33] << 8;
    if (major < 3) return Fail(ReadStatus::Unsupported, kNoComposite);

    Metadata metadata;
    bool damaged = false;
    Composite full;
    bool haveFull = false;
    Block block;
    try {
        while (c.Left() > 0 && !haveFull) {
            if (!NextBlock(c, major, block)) {
                damaged = true;
                break;
            }
            if (block.id == kImageAttributes) {
                Cursor body = block.body;
                Cursor chunk = Chunk(body, major, 46);
                chunk.Skip(8);
                uint8_t resolution[8];
                for (auto& byte : resolution) byte = static_cast<uint8_t>(chunk.Le(1));
                const uint32_t metric = chunk.Le(1);
                double perUnit;
                std::memcpy(&perUnit, resolution, sizeof perUnit);  // little-endian IEEE double, as on every target
                if (chunk.Ok() && perUnit > 0 && perUnit < 1e6) {
                    if (metric == 1) metadata.dpiX = metadata.dpiY = perUnit;           // pixels an inch
                    else if (metric == 2) metadata.dpiX = metadata.dpiY = perUnit * 2.54;  // pixels a centimetre
                }
            } else if (block.id == kCompositeBank && major >= 4) {
                // Each composite's attributes first, then the pictures in the same order.
                Cursor body = block.body;
                Cursor chunk = Chunk(body, major, 4);
                if (!chunk.Ok()) {
                    damaged = true;
                    break;
                }
                std::vector<Composite> composites;
                size_t pictures = 0;
                Block sub;
                while (body.Left() > 0 && !haveFull) {
                    if (!NextBlock(body, major, sub)) {
                        damaged = true;
                        break;
                    }
                    if (sub.id == kCompositeAttributes) {
                        Cursor rest = sub.body;
                        Cursor head = Chunk(rest, major, 22);
                        Composite composite;
                        composite.width = static_cast<int32_t>(head.Le(4));
                        composite.height = static_cast<int32_t>(head.Le(4));
                        composite.bitDepth = static_cast<uint16_t>(head.Le(2));
                        composite.compression = static_cast<uint16_t>(head.Le(2));
                        head.Le(2);  // planes
                        head.Le(4);  // colours
                        composite.type = static_cast<uint16_t>(head.Le(2));
                        if (!head.Ok()) {
                            damaged = true;
                            break;
                        }
                        composites.push_back(std::move(composite));
                    } else if (sub.id == kCompositeImage || sub.id == kJpeg) {
                        if (pictures >= composites.size()) {
                            damaged = true;
                            break;
                        }
                        Composite& composite = composites[pictures++];
                        if (composite.type != kFullSize) continue;
                        if (sub.id == kJpeg || composite.compression == kJpegCompressed)
                            return Fail(ReadStatus::Unsupported, kJpegComposite);
                        if (!ReadCompositeImage(sub.body, major, composite)) {
                            damaged = true;
                            break;
                        }
                        full = std::move(composite);
                        haveFull = true;
                    }
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return Fail(ReadStatus::OutOfMemory);
    }
    if (!haveFull) return damaged ? Fail(ReadStatus::Damaged) : Fail(ReadStatus::NoPicture, kNoComposite);

    // The composite's pixels.
    if (full.width <= 0 || full.height <= 0) return Fail(ReadStatus::Damaged);
    const uint32_t width = static_cast<uint32_t>(full.width), height = static_cast<uint32_t>(full.height);
    if (uint64_t{width} * height > request.maxPixels) return Fail(ReadStatus::TooLarge);
    const uint32_t depth = full.bitDepth;
    if (depth != 1 && depth != 4 && depth != 8 && depth != 24) return Fail(ReadStatus::Unsupported);
    if (full.compression == kLz77 && !QUENNEL_HAVE_ZLIB) return Fail(ReadStatus::Unsupported, kNoZlib);
    if (full.compression > kLz77) return Fail(ReadStatus::Unsupported);

    // Each channel holds one sample a pixel (a palette index, a grey value or
    // one colour); rows are padded to four bytes as in a Windows bitmap, or
    // packed: the channel's unpacked length tells which.
    const uint32_t bits = depth == 24 ? 8 : depth;
    const Channel* colour[4] = {nullptr, nullptr, nullptr, nullptr};
    const Channel* alpha = nullptr;
    for (const Channel& channel : full.channels) {
        if (channel.bitmapType == kImageBitmap && channel.channelType <= kBlue) colour[channel.channelType] = &channel;
        else if (channel.bitmapType == kTransparencyMask) alpha = &channel;
    }
    const bool rgb = depth == 24;
    if (rgb ? !(colour[kRed] && colour[kGreen] && colour[kBlue]) : !colour[kSingle]) return Fail(ReadStatus::Damaged);

    std::vector<std::vector<uint8_t>> planes;
    std::vector<size_t> strides;
    const Channel* used[4] = {rgb ? colour[kRed] : colour[kSingle], rgb ? colour[kGreen] : nullptr,
                              rgb ? colour[kBlue] : nullptr, alpha};
    // Every plane's layout, and whether its packed bytes can hold it at all,
    // before the planes and the picture are asked for and taken.
    size_t strideOf[4] = {0, 0, 0, 0};
    uint64_t planeBytes = 0;
    for (int i = 0; i < 4; ++i) {
        if (!used[i]) continue;
        const uint32_t planeBits = i == 3 ? 8 : bits;
        const size_t rowPacked = (size_t{width} * planeBits + 7) / 8;
        const size_t rowPadded = (rowPacked + 3) & ~size_t{3};
        const uint64_t length = used[i]->uncompressedLength;
        if (length == uint64_t{rowPadded} * height) strideOf[i] = rowPadded;
        else if (length == uint64_t{rowPacked} * height) strideOf[i] = rowPacked;
        else return Fail(ReadStatus::Damaged);
        if (length > used[i]->data.Left() * MaxExpansion(full.compression)) return Fail(ReadStatus::Damaged);
        planeBytes += length;
    }
    const ReadResult admitted = ByteSource::Admit(width, height, planeBytes, request);
    if (!admitted.Ok()) return admitted;
    try {
        planes.resize(4);
        strides.resize(4);
        for (int i = 0; i < 4; ++i) {
            if (!used[i]) continue;
            strides[i] = strideOf[i];
            const uint64_t length = used[i]->uncompressedLength;
            planes[i].resize(static_cast<size_t>(length));
            if (!Unpack(full.compression, used[i]->data, planes[i].data(), planes[i].size()))
                return Fail(ReadStatus::Damaged);
        }
        out.image.width = width;
        out.image.height = height;
        out.image.bgra.resize(size_t{width} * height * 4);
    } catch (const std::bad_alloc&) {
        out.image = Image();
        return Fail(ReadStatus::OutOfMemory);
    }

    const bool grey = !rgb && full.palette.empty();
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* px = out.image.Row(y);
        for (uint32_t x = 0; x < width; ++x, px += 4) {
            if (rgb) {
                px[2] = planes[0][y * strides[0] + x];
                px[1] = planes[1][y * strides[1] + x];
                px[0] = planes[2][y * strides[2] + x];
            } else {
                const uint8_t* row = planes[0].data() + y * strides[0];
                uint32_t index;
                if (bits == 8) index = row[x];
                else if (bits == 4) index = row[x / 2] >> (x % 2 ? 0 : 4) & 0x0F;
                else index = row[x / 8] >> (7 - x % 8) & 1;
                if (grey) {
                    const uint8_t v = static_cast<uint8_t>(index * 255 / ((1u << bits) - 1));
                    px[0] = px[1] = px[2] = v;
                } else {
                    const uint32_t c = index < full.palette.size() ? full.palette[index] : 0;
                    px[2] = static_cast<uint8_t>(c >> 16);
                    px[1] = static_cast<uint8_t>(c >> 8);
                    px[0] = static_cast<uint8_t>(c);
                }
            }
            px[3] = alpha ? planes[3][y * strides[3] + x] : 255;
        }
    }
    out.orientation = 1;
    out.metadata = std::move(metadata);
    return ReadResult{};
}

}  // namespace PaintShopPro
