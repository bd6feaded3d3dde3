#include "converter/readers/Psd.h"

#include <algorithm>
#include <new>
#include <vector>

#include "converter/readers/ByteSource.h"

namespace Psd {
namespace {

enum Mode : uint16_t { Bitmap = 0, Grey = 1, Indexed = 2, Rgb = 3, Cmyk = 4, Duotone = 8 };

const wchar_t* const kNoMerged = L"Die Photoshop-Datei enth\u00e4lt kein zusammengef\u00fcgtes Bild.";

// Big-endian fields with a sticky failure, so a run of reads is checked once.
class Cursor {
public:
    Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Ok() const { return ok_; }
    size_t At() const { return at_; }
    size_t Left() const { return size_ - at_; }
    const uint8_t* Here() const { return data_ + at_; }
    uint32_t Be(int bytes) {
        if (!ok_ || Left() < static_cast<size_t>(bytes)) {
            ok_ = false;
            return 0;
        }
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value = value << 8 | data_[at_++];
        return value;
    }
    uint64_t Be64() {
        const uint64_t high = Be(4);
        return high << 32 | Be(4);
    }
    void Skip(uint64_t count) {
        if (!ok_ || count > Left()) {
            ok_ = false;
            return;
        }
        at_ += static_cast<size_t>(count);
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    bool ok_ = true;
};

struct Header {
    bool large = false;  // the large-document variant: wider length fields
    uint32_t channels = 0, width = 0, height = 0, depth = 0, mode = 0;
    std::vector<uint8_t> palette;  // indexed: 256 reds, 256 greens, 256 blues
    int transparentIndex = -1;
    bool mergedKept = true;
    bool mergedAlpha = false;  // the first extra channel is the merged picture's transparency
};

// The image resources: what the converter carries on (resolution, colour
// profile, Exif, XMP) and what the merged picture needs.
bool ReadResources(const uint8_t* p, size_t size, Header& header, Metadata& metadata) {
    Cursor c(p, size);
    while (c.Left() >= 12) {
        const uint32_t signature = c.Be(4);
        if (signature != 0x3842494D && signature != 0x4D655361 && signature != 0x50485554 &&
            signature != 0x41674867 && signature != 0x44435352)  // 8BIM MeSa PHUT AgHg DCSR
            return false;
        const uint32_t id = c.Be(2);
        const uint32_t nameLength = c.Be(1);
        c.Skip(nameLength + ((nameLength + 1) % 2));  // the Pascal name, padded to even with its length byte
        const uint32_t length = c.Be(4);
        if (!c.Ok() || length > c.Left()) return false;
        const uint8_t* block = c.Here();
        switch (id) {
            case 1005:  // resolution: 16.16 fixed pixels an inch, then units
                if (length >= 16) {
                    Cursor r(block, 16);
                    const double x = r.Be(4) / 65536.0;
                    r.Skip(4);
                    const double y = r.Be(4) / 65536.0;
                    // Some writers put a token 1/65536 for "none".
                    if (x >= 1 && y >= 1) {
                        metadata.dpiX = x;
                        metadata.dpiY = y;
                    }
                }
                break;
            case 1039: metadata.icc.assign(block, block + length); break;
            case 1058: metadata.exif.assign(block, block + length); break;
            case 1060: metadata.xmp.assign(block, block + length); break;
            case 1047:  // the indexed picture's transparent entry
                if (length >= 2) header.transparentIndex = block[0] << 8 | block[1];
                break;
            case 1057:  // version info: a 4-byte version, then "has real merged data"
                if (length >= 5) header.mergedKept = block[4] != 0;
                break;
            default: break;
        }
        c.Skip(length + (length % 2));
    }
    return true;
}

// One row of PackBits: a count byte n, then n + 1 literal bytes (n < 128) or
// one byte repeated 257 - n times (n > 128); 128 is a no-op. A row that
// decodes to more than its width is cut: some writers overrun by a run.
bool UnpackBits(const uint8_t* src, size_t srcSize, uint8_t* dst, size_t dstSize) {
    size_t in = 0, out = 0;
    while (out < dstSize) {
        if (in >= srcSize) return false;
        const uint8_t n = src[in++];
        if (n < 128) {
            const size_t count = size_t{n} + 1;
            if (srcSize - in < count) return false;
            const size_t take = std::min(count, dstSize - out);
            std::copy(src + in, src + in + take, dst + out);
            in += count;
            out += take;
        } else if (n > 128) {
            if (in >= srcSize) return false;
            const size_t count = std::min<size_t>(257 - n, dstSize - out);
            std::fill(dst + out, dst + out + count, src[in++]);
            out += count;
        }
    }
    return true;
}

// The channels the merged picture is made of: the colour channels, then its
// transparency when it has one.
struct Plan {
    uint32_t colourChannels = 0;
    bool alpha = false;
    uint32_t Used() const { return colourChannels + (alpha ? 1 : 0); }
};

ReadResult Fail(ReadStatus status, const wchar_t* reason = nullptr) { return ReadResult{status, reason}; }

// One sample widened to 16 bits: 8-bit samples times 257, 1-bit samples
// (1 for black) to 0 or 65535.
uint32_t Sample(const uint8_t* row, uint32_t x, uint32_t depth) {
    switch (depth) {
        case 1: return (row[x >> 3] >> (7 - (x & 7)) & 1) ? 0 : 65535;
        case 16: return uint32_t{row[x * 2]} << 8 | row[x * 2 + 1];
        default: return row[x] * 257u;
    }
}

// Back to 8 bits, rounded.
uint8_t To8(uint32_t value) { return static_cast<uint8_t>((value * 255 + 32767) / 65535); }

// Photoshop keeps the merged picture of a transparent document blended onto
// white; this takes the white out again.
uint32_t Unblend(uint32_t value, uint32_t alpha) {
    if (alpha == 0 || alpha >= 65535) return value;
    const int64_t lifted = int64_t{value} - (65535 - alpha);
    if (lifted <= 0) return 0;
    return static_cast<uint32_t>(std::min<int64_t>((lifted * 65535 + alpha / 2) / alpha, 65535));
}

// Whether the PackBits rows' byte counts (all channels' rows, then the
// rows) can hold the used channels: each row at least two bytes for every
// 128 pixel bytes, all of them inside the file. Checked before any memory
// is taken for the picture.
bool RowLengthsSuffice(const Cursor& c, const Header& h, uint32_t used, size_t rowBytes) {
    const int countBytes = h.large ? 4 : 2;
    const uint64_t rowsAll = uint64_t{h.channels} * h.height;
    if (c.Left() / countBytes < rowsAll) return false;
    Cursor counts(c.Here(), static_cast<size_t>(rowsAll) * countBytes);
    const uint64_t least = (uint64_t{rowBytes} + 127) / 128 * 2;
    uint64_t total = 0;
    for (uint64_t r = 0; r < uint64_t{used} * h.height; ++r) {
        const uint64_t length = counts.Be(countBytes);
        if (length < least) return false;
        total += length;
    }
    return counts.Ok() && total <= c.Left() - rowsAll * countBytes;
}

}  // namespace

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    Cursor c(data, size);
    if (c.Be(4) != 0x38425053) return Fail(ReadStatus::NotThisFormat);  // "8BPS"
    Header h;
    const uint32_t version = c.Be(2);
    if (version != 1 && version != 2) return Fail(ReadStatus::NotThisFormat);
    h.large = version == 2;
    c.Skip(6);
    h.channels = c.Be(2);
    h.height = c.Be(4);
    h.width = c.Be(4);
    h.depth = c.Be(2);
    h.mode = c.Be(2);
    if (!c.Ok()) return Fail(ReadStatus::Damaged);
    const uint32_t maxSide = h.large ? 300000 : 30000;
    if (h.channels < 1 || h.channels > 56 || h.width < 1 || h.height < 1 || h.width > maxSide ||
        h.height > maxSide)
        return Fail(ReadStatus::Damaged);

    Plan plan;
    switch (h.mode) {
        case Bitmap: plan.colourChannels = 1; if (h.depth != 1) return Fail(ReadStatus::Damaged); break;
        case Grey: case Duotone: case Indexed: plan.colourChannels = 1; break;
        case Rgb: plan.colourChannels = 3; break;
        case Cmyk: plan.colourChannels = 4; break;
        default: return Fail(ReadStatus::Unsupported);  // Lab, multichannel
    }
    if (h.mode != Bitmap && h.depth != 8 && (h.depth != 16 || h.mode == Indexed)) return Fail(ReadStatus::Unsupported);
    if (h.channels < plan.colourChannels) return Fail(ReadStatus::Damaged);

    // Colour mode data: the palette of an indexed picture, else skipped.
    const uint32_t modeDataLength = c.Be(4);
    if (!c.Ok() || modeDataLength > c.Left()) return Fail(ReadStatus::Damaged);
    if (h.mode == Indexed) {
        if (modeDataLength < 768) return Fail(ReadStatus::Damaged);
        h.palette.assign(c.Here(), c.Here() + 768);
    }
    c.Skip(modeDataLength);

    Metadata metadata;
    const uint32_t resourcesLength = c.Be(4);
    if (!c.Ok() || resourcesLength > c.Left()) return Fail(ReadStatus::Damaged);
    if (!ReadResources(c.Here(), resourcesLength, h, metadata)) return Fail(ReadStatus::Damaged);
    c.Skip(resourcesLength);

    // Layers and masks: only the sign of the layer count matters here. A
    // negative count says the first extra channel is the merged picture's
    // transparency; any other extra channel is a saved selection or spot
    // colour, not shown.
    const uint64_t layersLength = h.large ? c.Be64() : c.Be(4);
    if (!c.Ok()) return Fail(ReadStatus::Damaged);
    if (layersLength > c.Left()) {
        // Cut off inside the layers: no merged picture can follow.
        return Fail(ReadStatus::Damaged);
    }
    if (layersLength >= (h.large ? 10u : 6u)) {
        Cursor layers(c.Here(), static_cast<size_t>(layersLength));
        const uint64_t infoLength = h.large ? layers.Be64() : layers.Be(4);
        if (infoLength >= 2) {
            const int16_t count = static_cast<int16_t>(layers.Be(2));
            h.mergedAlpha = count < 0;
        }
    }
    c.Skip(layersLength);
    if (c.Left() == 0 || !h.mergedKept) return Fail(ReadStatus::NoPicture, kNoMerged);

    plan.alpha = h.mergedAlpha && h.channels > plan.colourChannels && h.mode != Bitmap;
    if (uint64_t{h.width} * h.height > request.maxPixels) return Fail(ReadStatus::TooLarge);

    const uint32_t compression = c.Be(2);
    if (!c.Ok()) return Fail(ReadStatus::Damaged);
    if (compression > 1) return Fail(ReadStatus::Unsupported);  // ZIP: Photoshop never writes it for the merged picture
    const size_t rowBytes = (size_t{h.width} * h.depth + 7) / 8;
    const uint32_t used = plan.Used();

    // Where each used row starts in the file and how long it is: all rows
    // of the first channel, then of the next. PackBits gives every row's
    // length up front, for all channels.
    const size_t rowsUsed = size_t{used} * h.height;
    // The picture and these tables are asked for, and taken, only once the
    // rows' lengths are known to be enough for their pixels: a header may
    // claim 30000 x 30000 over a file of a few bytes.
    if (compression == 1 && !RowLengthsSuffice(c, h, used, rowBytes)) return Fail(ReadStatus::Damaged);
    const ReadResult admitted = ByteSource::Admit(
        h.width, h.height, uint64_t{rowsUsed} * 2 * sizeof(size_t) + uint64_t{used} * rowBytes, request);
    if (!admitted.Ok()) return admitted;
    std::vector<size_t> start, length;
    std::vector<uint8_t> rows;
    try {
        start.resize(rowsUsed);
        length.resize(rowsUsed);
        if (compression == 0) {
            if (c.Left() / rowBytes / h.height < used) return Fail(ReadStatus::Damaged);
            for (size_t r = 0; r < rowsUsed; ++r) {
                start[r] = c.At() + r * rowBytes;
                length[r] = rowBytes;
            }
        } else {
            const int countBytes = h.large ? 4 : 2;
            const size_t rowsAll = size_t{h.channels} * h.height;
            if (c.Left() / countBytes < rowsAll) return Fail(ReadStatus::Damaged);
            Cursor counts(c.Here(), rowsAll * countBytes);
            size_t at = c.At() + rowsAll * countBytes;
            for (size_t r = 0; r < rowsUsed; ++r) {
                length[r] = counts.Be(countBytes);
                if (length[r] > size - at) return Fail(ReadStatus::Damaged);
                start[r] = at;
                at += length[r];
            }
        }
        rows.resize(size_t{used} * rowBytes);
        out.image.width = h.width;
        out.image.height = h.height;
        out.image.bgra.assign(size_t{h.width} * h.height * 4, 0xFF);
    } catch (const std::bad_alloc&) {
        out.image = Image();
        return Fail(ReadStatus::OutOfMemory);
    }

    // One picture row at a time: that row of each used channel, then the pixels.
    for (uint32_t y = 0; y < h.height; ++y) {
        for (uint32_t ch = 0; ch < used; ++ch) {
            const size_t r = size_t{ch} * h.height + y;
            uint8_t* row = rows.data() + ch * rowBytes;
            if (compression == 0) {
                std::copy(data + start[r], data + start[r] + rowBytes, row);
            } else if (!UnpackBits(data + start[r], length[r], row, rowBytes)) {
                out.image = Image();
                return Fail(ReadStatus::Damaged);
            }
        }
        uint8_t* px = out.image.Row(y);
        for (uint32_t x = 0; x < h.width; ++x, px += 4) {
            uint32_t v[5];
            for (uint32_t ch = 0; ch < used; ++ch) v[ch] = Sample(rows.data() + ch * rowBytes, x, h.depth);
            const uint32_t alpha = plan.alpha ? v[plan.colourChannels] : 65535;
            if (h.mode == Indexed) {
                const uint8_t index = rows[x];
                px[2] = h.palette[index];
                px[1] = h.palette[256 + index];
                px[0] = h.palette[512 + index];
                if (index == h.transparentIndex) px[3] = 0;
                continue;
            }
            if (h.mode == Cmyk) {
                // Stored as 65535 for no ink: without a profile, each colour
                // is what its ink leaves times what black leaves.
                for (int i = 0; i < 3; ++i) v[i] = static_cast<uint32_t>((uint64_t{v[i]} * v[3] + 32767) / 65535);
            }
            if (plan.colourChannels == 1) v[1] = v[2] = v[0];
            px[2] = To8(Unblend(v[0], alpha));
            px[1] = To8(Unblend(v[1], alpha));
            px[0] = To8(Unblend(v[2], alpha));
            px[3] = To8(alpha);
        }
    }
    out.orientation = 1;
    out.metadata = std::move(metadata);
    return ReadResult{};
}

}  // namespace Psd
