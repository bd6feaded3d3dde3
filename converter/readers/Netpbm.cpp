#include "converter/readers/Netpbm.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "converter/base/CheckedSize.h"
#include "converter/readers/ByteSource.h"

namespace Netpbm {
namespace {

using ByteSource::Fail;

bool Space(uint8_t ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f'; }
bool Digit(uint8_t ch) { return ch >= '0' && ch <= '9'; }

// The text part of a file: numbers between white space and comments (from
// '#' to the end of the line, allowed anywhere before the raster).
class Text {
public:
    Text(const uint8_t* data, size_t size, size_t at) : data_(data), size_(size), at_(at) {}
    size_t At() const { return at_; }

    void SkipBlanks() {
        while (at_ < size_) {
            if (Space(data_[at_])) {
                ++at_;
            } else if (data_[at_] == '#') {
                while (at_ < size_ && data_[at_] != '\n' && data_[at_] != '\r') ++at_;
            } else {
                break;
            }
        }
    }
    // A decimal number; false when there is none or it exceeds `limit`.
    bool Number(uint32_t& value, uint32_t limit) {
        SkipBlanks();
        if (at_ >= size_ || !Digit(data_[at_])) return false;
        uint64_t v = 0;
        while (at_ < size_ && Digit(data_[at_])) {
            v = v * 10 + (data_[at_++] - '0');
            if (v > limit) return false;
        }
        value = static_cast<uint32_t>(v);
        return true;
    }
    // One '0' or '1' of a plain PBM, white space between them optional.
    bool Bit(uint32_t& value) {
        SkipBlanks();
        if (at_ >= size_ || (data_[at_] != '0' && data_[at_] != '1')) return false;
        value = data_[at_++] - '0';
        return true;
    }
    // One header line of a PAM: its first word and the rest, trimmed.
    bool Line(std::string& key, std::string& value) {
        size_t end = at_;
        while (end < size_ && data_[end] != '\n') ++end;
        if (end >= size_) return false;
        size_t begin = at_;
        at_ = end + 1;
        while (begin < end && Space(data_[begin])) ++begin;
        size_t split = begin;
        while (split < end && !Space(data_[split])) ++split;
        key.assign(data_ + begin, data_ + split);
        while (split < end && Space(data_[split])) ++split;
        while (end > split && Space(data_[end - 1])) --end;
        value.assign(data_ + split, data_ + end);
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_;
};

constexpr uint32_t kSizeLimit = 0x7FFFFFFF;

struct Layout {
    uint32_t width = 0, height = 0;
    uint32_t channels = 1;  // samples a pixel
    uint32_t maxval = 1;
    bool plain = false;     // ASCII raster
    bool bits = false;      // PBM: 1 is black
    size_t raster = 0;      // where the raster starts
};

ReadResult PamHeader(Text& text, Layout& layout) {
    std::string key, value, tuple;
    uint32_t depth = 0;
    bool haveWidth = false, haveHeight = false, haveMaxval = false;
    for (;;) {
        if (!text.Line(key, value)) return Fail(ReadStatus::Damaged);
        if (key.empty() || key[0] == '#') continue;
        if (key == "ENDHDR") break;
        uint32_t number = 0;
        Text digits(reinterpret_cast<const uint8_t*>(value.data()), value.size(), 0);
        const bool numeric = digits.Number(number, kSizeLimit) && digits.At() == value.size();
        if (key == "WIDTH" && numeric) {
            layout.width = number;
            haveWidth = true;
        } else if (key == "HEIGHT" && numeric) {
            layout.height = number;
            haveHeight = true;
        } else if (key == "DEPTH" && numeric) {
            depth = number;
        } else if (key == "MAXVAL" && numeric) {
            layout.maxval = number;
            haveMaxval = true;
        } else if (key == "TUPLTYPE") {
            tuple += value;
        } else {
            return Fail(ReadStatus::Damaged);
        }
    }
    if (!haveWidth || !haveHeight || !haveMaxval || depth == 0) return Fail(ReadStatus::Damaged);
    if (depth > 4 || tuple.compare(0, 4, "CMYK") == 0)
        return Fail(ReadStatus::Unsupported, L"Diese PAM-Datei hat Kan\u00e4le, die nicht gelesen werden.");
    layout.channels = depth;
    return ReadResult{};
}

// The header at the start of `data` (the whole file, or its first bytes: a
// header cut short is Damaged, never read otherwise); `kind` 1 to 7.
ReadResult ReadHeader(const uint8_t* data, size_t size, int& kind, Layout& layout) {
    if (size < 3 || data[0] != 'P' || data[1] < '1' || data[1] > '7' || !Space(data[2]))
        return Fail(ReadStatus::NotThisFormat);
    kind = data[1] - '0';
    layout.plain = kind <= 3;
    layout.bits = kind == 1 || kind == 4;
    layout.channels = (kind == 3 || kind == 6) ? 3 : 1;
    Text text(data, size, 2);
    if (kind == 7) {
        Text lines(data, size, 3);
        const ReadResult header = PamHeader(lines, layout);
        if (!header.Ok()) return header;
        layout.raster = lines.At();
    } else {
        if (!text.Number(layout.width, kSizeLimit) || !text.Number(layout.height, kSizeLimit))
            return Fail(ReadStatus::Damaged);
        if (!layout.bits && !text.Number(layout.maxval, 0xFFFFFF)) return Fail(ReadStatus::Damaged);
        layout.raster = text.At();
        // A raw raster follows exactly one white-space character.
        if (!layout.plain) {
            if (layout.raster >= size || !Space(data[layout.raster])) return Fail(ReadStatus::Damaged);
            ++layout.raster;
        }
    }
    if (layout.maxval == 0 || layout.maxval > 65535) return Fail(ReadStatus::Damaged);
    return ReadResult{};
}

uint32_t SampleBytes(const Layout& layout) { return layout.maxval > 255 ? 2 : 1; }

// A pixel of `channels` samples already scaled to 8 bits.
void PutSamples(uint8_t* pixel, uint32_t channels, const uint32_t* s) {
    switch (channels) {
    case 1: ByteSource::Put(pixel, s[0], s[0], s[0]); break;
    case 2: ByteSource::Put(pixel, s[0], s[0], s[0], s[1]); break;
    case 3: ByteSource::Put(pixel, s[2], s[1], s[0]); break;
    default: ByteSource::Put(pixel, s[2], s[1], s[0], s[3]); break;
    }
}

uint32_t Scaled(const Layout& layout, uint32_t k, uint32_t v) {
    const bool alpha = (layout.channels == 2 && k == 1) || k == 3;
    return alpha ? ByteSource::ScaleAlpha(v, layout.maxval) : ByteSource::Scale(v, layout.maxval);
}

// One stored row of a raw raster (P4 to P7) as BGRA.
void PlaceRawRow(const Layout& layout, const uint8_t* stored, uint8_t* row) {
    const uint32_t sampleBytes = SampleBytes(layout);
    uint32_t s[4] = {0, 0, 0, 0xFF};
    for (uint32_t x = 0; x < layout.width; ++x) {
        uint8_t* pixel = row + size_t{x} * 4;
        if (layout.bits) {
            const uint32_t v = (stored[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
            ByteSource::Put(pixel, v, v, v);
            continue;
        }
        for (uint32_t k = 0; k < layout.channels; ++k) {
            const uint8_t* p = stored + (size_t{x} * layout.channels + k) * sampleBytes;
            s[k] = Scaled(layout, k, sampleBytes == 2 ? (uint32_t{p[0]} << 8 | p[1]) : p[0]);
        }
        PutSamples(pixel, layout.channels, s);
    }
}

// The bytes of one stored row of a raw raster; false when they overflow.
bool RawRowBytes(int kind, const Layout& layout, size_t& bytes) {
    if (kind == 4) return CheckedSize::Add(layout.width / 8, layout.width % 8 != 0, bytes);
    return CheckedSize::Product({layout.width, layout.channels, SampleBytes(layout)}, bytes);
}

ReadResult Decode(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    int kind = 0;
    Layout layout;
    ReadResult result = ReadHeader(data, size, kind, layout);
    if (!result.Ok()) return result;

    const uint64_t pixels = uint64_t{layout.width} * layout.height;
    const uint64_t samples = pixels * layout.channels;
    const uint32_t sampleBytes = SampleBytes(layout);
    const uint64_t left = size - layout.raster;
    // The least the raster can take, checked before any memory is taken.
    uint64_t least = 0;
    if (kind == 1) least = pixels;
    else if (layout.plain) least = samples * 2 - 1;
    else if (kind == 4) least = (uint64_t{layout.width} + 7) / 8 * layout.height;
    else least = samples * sampleBytes;
    if (pixels != 0 && pixels <= request.maxPixels && left < least) return Fail(ReadStatus::Damaged);
    result = ByteSource::Allocate(out.image, layout.width, layout.height, request);
    if (!result.Ok()) return result;

    if (!layout.plain) {
        size_t rowBytes = 0;
        if (!RawRowBytes(kind, layout, rowBytes)) return Fail(ReadStatus::TooLarge);
        for (uint32_t y = 0; y < layout.height; ++y)
            PlaceRawRow(layout, data + layout.raster + size_t{y} * rowBytes, out.image.Row(y));
        return result;
    }
    Text plain(data, size, layout.raster);
    uint32_t s[4] = {0, 0, 0, 0xFF};
    for (uint32_t y = 0; y < layout.height; ++y) {
        uint8_t* row = out.image.Row(y);
        for (uint32_t x = 0; x < layout.width; ++x) {
            uint8_t* pixel = row + size_t{x} * 4;
            if (layout.bits) {
                uint32_t bit = 0;
                if (!plain.Bit(bit)) return Fail(ReadStatus::Damaged);
                const uint32_t v = bit ? 0 : 255;
                ByteSource::Put(pixel, v, v, v);
                continue;
            }
            for (uint32_t k = 0; k < layout.channels; ++k) {
                uint32_t v = 0;
                if (!plain.Number(v, 0xFFFFFFFF)) return Fail(ReadStatus::Damaged);
                s[k] = Scaled(layout, k, v);
            }
            PutSamples(pixel, layout.channels, s);
        }
    }
    return result;
}

}  // namespace

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return ByteSource::Guarded(out, [&] { return Decode(data, size, request, out); });
}

struct RowReader::State {
    ReadAt readAt;
    Layout layout;
    size_t rowBytes = 0;
    uint32_t next = 0;
    std::vector<uint8_t> stored;
};

RowReader::RowReader() = default;
RowReader::~RowReader() = default;

ReadResult RowReader::Open(ReadAt readAt, uint64_t size) {
    state_.reset(new State);
    State& s = *state_;
    s.readAt = std::move(readAt);
    // The header: comments may make it long, but not longer than this.
    std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(size, uint64_t{1} << 16)));
    if (s.readAt(0, head.data(), head.size()) != head.size()) return Fail(ReadStatus::Damaged);
    int kind = 0;
    ReadResult result = ReadHeader(head.data(), head.size(), kind, s.layout);
    if (!result.Ok()) return result;
    // Plain rasters are numbers in text, read whole.
    if (s.layout.plain) return Fail(ReadStatus::Unsupported);
    const Layout& layout = s.layout;
    if (layout.width == 0 || layout.height == 0 || !RawRowBytes(kind, layout, s.rowBytes) ||
        s.rowBytes > (size - layout.raster) / layout.height)
        return Fail(ReadStatus::Damaged);
    size_ = {layout.width, layout.height};
    grey_ = layout.bits || layout.channels <= 2;
    transparent_ = layout.channels == 2 || layout.channels == 4;
    decoderBytes_ = s.rowBytes;
    return ReadResult{};
}

bool RowReader::Begin() {
    if (!state_ || state_->rowBytes == 0) return false;
    state_->stored.assign(state_->rowBytes, 0);
    state_->next = 0;
    return true;
}

bool RowReader::Row(uint8_t* bgra) {
    if (!state_ || state_->stored.empty() || state_->next >= size_.height) return false;
    State& s = *state_;
    const uint64_t at = s.layout.raster + uint64_t{s.next++} * s.rowBytes;
    if (s.readAt(at, s.stored.data(), s.rowBytes) != s.rowBytes) return false;
    PlaceRawRow(s.layout, s.stored.data(), bgra);
    return true;
}

}  // namespace Netpbm
