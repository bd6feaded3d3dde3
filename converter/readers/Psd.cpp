#include "converter/readers/Psd.h"

#include <lcms2.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "converter/base/ByteCursor.h"
#include "converter/base/CheckedSize.h"
#include "converter/metadata/ColourProfile.h"
#include "converter/metadata/ExifOrientation.h"
#include "converter/readers/ByteSource.h"

namespace Psd {
namespace {

enum Mode : uint16_t { Bitmap = 0, Grey = 1, Indexed = 2, Rgb = 3, Cmyk = 4, Multichannel = 7, Duotone = 8, Lab = 9 };
enum Compression : uint16_t { Raw = 0, PackBits = 1, Zip = 2, ZipPredicted = 3 };

const wchar_t* const kNoMerged = L"Die Photoshop-Datei enth\u00e4lt kein zusammengef\u00fcgtes Bild.";

using Cursor = ByteCursor;

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

// Which colour channels a mode shows, and at which depths; false for a
// mode or depth this reader does not read. Multichannel documents are
// shown as ImageMagick shows them: the first three channels as red, green
// and blue; with fewer, the first as grey.
bool PlanColour(const Header& h, Plan& plan) {
    switch (h.mode) {
        case Bitmap: plan.colourChannels = 1; return h.depth == 1;
        case Indexed: plan.colourChannels = 1; return h.depth == 8;
        case Grey: case Rgb:
            plan.colourChannels = h.mode == Rgb ? 3 : 1;
            return h.depth == 8 || h.depth == 16 || h.depth == 32;
        case Duotone: plan.colourChannels = 1; return h.depth == 8 || h.depth == 16;
        case Cmyk: plan.colourChannels = 4; return h.depth == 8 || h.depth == 16;
        case Lab: plan.colourChannels = 3; return h.depth == 8 || h.depth == 16;
        case Multichannel: plan.colourChannels = h.channels >= 3 ? 3 : 1; return h.depth == 8 || h.depth == 16;
        default: return false;
    }
}

// One sample widened to 16 bits: 8-bit samples times 257, 1-bit samples
// (1 for black) to 0 or 65535, 32-bit floats clipped to 0..1 and scaled,
// which is how ImageMagick shows a high-dynamic-range document.
uint32_t Sample(const uint8_t* row, uint32_t x, uint32_t depth) {
    switch (depth) {
        case 1: return (row[x >> 3] >> (7 - (x & 7)) & 1) ? 0 : 65535;
        case 16: return uint32_t{row[x * 2]} << 8 | row[x * 2 + 1];
        case 32: {
            const uint8_t* p = row + size_t{x} * 4;
            const uint32_t bits = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
            float value;
            std::memcpy(&value, &bits, sizeof value);
            if (!(value > 0)) return 0;  // NaN too
            if (value >= 1) return 65535;
            return static_cast<uint32_t>(value * 65535 + 0.5f);
        }
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

// Inflates the merged picture's zlib stream until `out` is full; the
// channels after the used ones stay compressed. False when the stream
// ends early or is broken.
bool Inflate(const uint8_t* src, size_t srcSize, std::vector<uint8_t>& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    size_t in = 0, done = 0;
    int status = Z_OK;
    while (done < out.size()) {
        if (z.avail_in == 0) {
            if (in == srcSize) break;
            z.next_in = const_cast<uint8_t*>(src + in);
            z.avail_in = static_cast<uInt>(std::min<size_t>(srcSize - in, UINT_MAX));
            in += z.avail_in;
        }
        z.next_out = out.data() + done;
        z.avail_out = static_cast<uInt>(std::min<size_t>(out.size() - done, UINT_MAX));
        const uInt before = z.avail_out;
        status = inflate(&z, Z_NO_FLUSH);
        done += before - z.avail_out;
        if (status != Z_OK) break;
    }
    inflateEnd(&z);
    return done == out.size() && (status == Z_OK || status == Z_STREAM_END);
}

// Undoes Photoshop's ZIP prediction on one row: each sample was stored as
// its difference from the one before. 32-bit rows were first split into
// byte planes (every float's first byte, then every second byte, ...) and
// differenced bytewise; `scratch` holds one such row.
void Unpredict(uint8_t* row, size_t rowBytes, uint32_t width, uint32_t depth, uint8_t* scratch) {
    if (depth == 16) {
        uint16_t previous = 0;
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = row + size_t{x} * 2;
            previous = static_cast<uint16_t>(previous + (p[0] << 8 | p[1]));
            p[0] = static_cast<uint8_t>(previous >> 8);
            p[1] = static_cast<uint8_t>(previous);
        }
        return;
    }
    for (size_t i = 1; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - 1]);
    if (depth != 32) return;
    for (uint32_t x = 0; x < width; ++x)
        for (uint32_t b = 0; b < 4; ++b) scratch[size_t{x} * 4 + b] = row[size_t{b} * width + x];
    std::copy(scratch, scratch + rowBytes, row);
}

// Lab as Photoshop keeps it (L 0..100 over the channel's range, a and b
// centred on its middle, white point D50) into sRGB through Little CMS.
class LabToSrgb {
public:
    explicit LabToSrgb(bool wanted) {
        if (!wanted) return;
        cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        if (lab && srgb)
            transform_ = cmsCreateTransform(lab, TYPE_Lab_DBL, srgb, TYPE_RGB_16, INTENT_RELATIVE_COLORIMETRIC, 0);
        if (lab) cmsCloseProfile(lab);
        if (srgb) cmsCloseProfile(srgb);
    }
    ~LabToSrgb() {
        if (transform_) cmsDeleteTransform(transform_);
    }
    LabToSrgb(const LabToSrgb&) = delete;
    LabToSrgb& operator=(const LabToSrgb&) = delete;
    bool Ok() const { return transform_ != nullptr; }
    // `lab` holds L, a, b of `count` pixels; `rgb` gets three 16-bit
    // samples a pixel.
    void Convert(const double* lab, uint16_t* rgb, uint32_t count) { cmsDoTransform(transform_, lab, rgb, count); }

private:
    cmsHTRANSFORM transform_ = nullptr;
};

// A profile is carried on only when it describes what the result holds:
// RGB or grey pixels. A CMYK or Lab profile would be misread on them.
void KeepFittingProfile(Metadata& metadata) {
    if (metadata.icc.size() < 20) return metadata.icc.clear();
    const uint8_t* space = metadata.icc.data() + 16;
    if (std::memcmp(space, "RGB ", 4) != 0 && std::memcmp(space, "GRAY", 4) != 0) metadata.icc.clear();
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
    // Photoshop itself stops at 56 channels; other programs write more, and
    // every size below is checked, so any count is read.
    const uint32_t maxSide = h.large ? 300000 : 30000;
    if (h.channels < 1 || h.width < 1 || h.height < 1 || h.width > maxSide || h.height > maxSide)
        return Fail(ReadStatus::Damaged);

    Plan plan;
    if (!PlanColour(h, plan)) {
        if (h.mode == Bitmap) return Fail(ReadStatus::Damaged);
        return Fail(ReadStatus::Unsupported);
    }
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
    // A CMYK document's inks go through its own profile, as a CMYK JPEG's
    // and TIFF's do; the result's pixels are sRGB and keep no such profile.
    std::unique_ptr<ColourProfile::CmykToSrgb> inks;
    if (h.mode == Cmyk) {
        inks = std::make_unique<ColourProfile::CmykToSrgb>(metadata.icc, true);
        if (!inks->Ok()) return Fail(ReadStatus::OutOfMemory);  // Little CMS found no memory
    }
    KeepFittingProfile(metadata);

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

    // A multichannel document's further channels are inks, not transparency.
    plan.alpha = h.mergedAlpha && h.channels > plan.colourChannels && h.mode != Bitmap && h.mode != Multichannel;
    if (uint64_t{h.width} * h.height > request.maxPixels) return Fail(ReadStatus::TooLarge);

    const uint32_t compression = c.Be(2);
    if (!c.Ok()) return Fail(ReadStatus::Damaged);
    if (compression > ZipPredicted || (compression == ZipPredicted && h.depth == 1))
        return Fail(ReadStatus::Unsupported);
    const uint32_t used = plan.Used();
    size_t rowBits = 0, rowsUsed = 0, usedBytes = 0, pixelBytes = 0;
    if (!CheckedSize::MulAdd(h.width, h.depth, 7, rowBits) || !CheckedSize::Mul(used, h.height, rowsUsed) ||
        !CheckedSize::Product({used, h.height, rowBits / 8}, usedBytes) ||
        !CheckedSize::Product({h.width, h.height, 4}, pixelBytes))
        return Fail(ReadStatus::TooLarge);
    const size_t rowBytes = rowBits / 8;

    // Where each used row starts and how long it is: all rows of the first
    // channel, then of the next; in the file itself, or in the inflated
    // copy of a ZIP-compressed picture. PackBits gives every row's length
    // up front, for all channels.
    const bool zip = compression == Zip || compression == ZipPredicted;
    LabToSrgb labToSrgb(h.mode == Lab);
    if (h.mode == Lab && !labToSrgb.Ok()) return Fail(ReadStatus::OutOfMemory);  // Little CMS found no memory
    // The picture and the decoder's tables, rows and inflated copy, asked
    // for before any of it is taken.
    const uint64_t decoderBytes = uint64_t{rowsUsed} * 2 * sizeof(size_t) + usedBytes / h.height +
                                  (zip ? uint64_t{usedBytes} + rowBytes : 0) + uint64_t{h.width} * 30;
    if (const ReadResult admitted = ByteSource::Admit(h.width, h.height, decoderBytes, request); !admitted.Ok())
        return admitted;
    std::vector<size_t> start, length;
    std::vector<uint8_t> rows, inflated, scratch;
    std::vector<double> lab;
    std::vector<uint16_t> rgb;
    try {
        if (h.mode == Lab) {
            lab.resize(size_t{h.width} * 3);
            rgb.resize(size_t{h.width} * 3);
        }
        if (compression == Raw) {
            if (usedBytes > c.Left()) return Fail(ReadStatus::Damaged);
        } else if (compression == PackBits) {
            const int countBytes = h.large ? 4 : 2;
            size_t countsSize = 0;
            if (!CheckedSize::Product({h.channels, h.height, static_cast<uint64_t>(countBytes)}, countsSize) ||
                countsSize > c.Left())
                return Fail(ReadStatus::Damaged);
            start.resize(rowsUsed);
            length.resize(rowsUsed);
            Cursor counts(c.Here(), countsSize);
            size_t at = c.At() + countsSize;
            // Every row at least two bytes for each 128 of its pixel bytes:
            // a header's size over rows too short to fill it is refused
            // before the picture's memory is taken.
            const size_t least = (rowBytes + 127) / 128 * 2;
            for (size_t r = 0; r < rowsUsed; ++r) {
                length[r] = counts.Be(countBytes);
                if (length[r] > size - at || length[r] < least) return Fail(ReadStatus::Damaged);
                start[r] = at;
                at += length[r];
            }
        } else {
            // Deflate expands at most 1032 times: a stream too short for
            // the picture is refused before its memory is taken.
            size_t reach = 0;
            if (CheckedSize::Mul(c.Left(), 1032, reach) && reach < usedBytes) return Fail(ReadStatus::Damaged);
            inflated.resize(usedBytes);
            if (!Inflate(c.Here(), c.Left(), inflated)) return Fail(ReadStatus::Damaged);
            if (compression == ZipPredicted) {
                scratch.resize(rowBytes);
                for (size_t r = 0; r < rowsUsed; ++r)
                    Unpredict(inflated.data() + r * rowBytes, rowBytes, h.width, h.depth, scratch.data());
            }
        }
        rows.resize(usedBytes / h.height);  // one row of each used channel
        out.image.width = h.width;
        out.image.height = h.height;
        out.image.bgra.assign(pixelBytes, 0xFF);
    } catch (const std::bad_alloc&) {
        out.image = Image();
        return Fail(ReadStatus::OutOfMemory);
    }

    // One picture row at a time: that row of each used channel, then the pixels.
    for (uint32_t y = 0; y < h.height; ++y) {
        const uint8_t* channelRow[5];
        for (uint32_t ch = 0; ch < used; ++ch) {
            const size_t r = size_t{ch} * h.height + y;
            uint8_t* row = rows.data() + ch * rowBytes;
            channelRow[ch] = row;
            if (compression == Raw) {
                channelRow[ch] = c.Here() + r * rowBytes;
            } else if (zip) {
                channelRow[ch] = inflated.data() + r * rowBytes;
            } else if (!UnpackBits(data + start[r], length[r], row, rowBytes)) {
                out.image = Image();
                return Fail(ReadStatus::Damaged);
            }
        }
        if (h.mode == Lab) {
            // a and b are centred on 128 (8 bits) or 32768 (16 bits). A
            // transparent document was blended onto Lab's white (L 100,
            // a = b = 0): that is taken out here, before the conversion.
            const double mid = h.depth == 8 ? 128 * 257.0 : 32768.0;
            const double step = h.depth == 8 ? 257.0 : 256.0;
            for (uint32_t x = 0; x < h.width; ++x) {
                double* p = lab.data() + size_t{x} * 3;
                p[0] = Sample(channelRow[0], x, h.depth) * (100.0 / 65535);
                p[1] = (Sample(channelRow[1], x, h.depth) - mid) / step;
                p[2] = (Sample(channelRow[2], x, h.depth) - mid) / step;
                const double alpha = plan.alpha ? Sample(channelRow[3], x, h.depth) / 65535.0 : 1;
                if (alpha > 0 && alpha < 1) {
                    p[0] = std::clamp((p[0] - (1 - alpha) * 100) / alpha, 0.0, 100.0);
                    p[1] = std::clamp(p[1] / alpha, -128.0, 127.0);
                    p[2] = std::clamp(p[2] / alpha, -128.0, 127.0);
                }
            }
            labToSrgb.Convert(lab.data(), rgb.data(), h.width);
        }
        uint8_t* px = out.image.Row(y);
        for (uint32_t x = 0; x < h.width; ++x, px += 4) {
            uint32_t v[5];
            for (uint32_t ch = 0; ch < used; ++ch) v[ch] = Sample(channelRow[ch], x, h.depth);
            const uint32_t alpha = plan.alpha ? v[plan.colourChannels] : 65535;
            if (h.mode == Indexed) {
                const uint8_t index = channelRow[0][x];
                px[2] = h.palette[index];
                px[1] = h.palette[256 + index];
                px[0] = h.palette[512 + index];
                if (index == h.transparentIndex) px[3] = 0;
                continue;
            }
            if (h.mode == Cmyk) {
                // Stored as 65535 for no ink: the inks through the profile,
                // then the white a transparent document was blended onto out.
                const uint8_t ink[4] = {To8(v[0]), To8(v[1]), To8(v[2]), To8(v[3])};
                inks->Convert(ink, px, 1);
                for (int i = 0; i < 3; ++i) px[i] = To8(Unblend(px[i] * 257u, alpha));
                px[3] = To8(alpha);
                continue;
            }
            if (h.mode == Lab) {
                for (int i = 0; i < 3; ++i) v[i] = rgb[size_t{x} * 3 + i];
            } else {
                if (plan.colourChannels == 1) v[1] = v[2] = v[0];
                for (int i = 0; i < 3; ++i) v[i] = Unblend(v[i], alpha);
            }
            px[2] = To8(v[0]);
            px[1] = To8(v[1]);
            px[0] = To8(v[2]);
            px[3] = To8(alpha);
        }
    }
    // The Exif block's orientation turns the picture as a JPEG's does: the
    // result then stands upright and says 1, never carrying an orientation
    // over pixels it does not describe.
    out.orientation = metadata.exif.empty() ? 1 : ExifOrientation::FromTiff(metadata.exif.data(), metadata.exif.size());
    out.metadata = std::move(metadata);
    return ReadResult{};
}

}  // namespace Psd
