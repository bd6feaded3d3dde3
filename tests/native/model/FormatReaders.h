// Strict readers of the files the converter's writers make, written from the
// formats' definitions in the reading direction (byte at a time, bounds
// checked everywhere) and sharing no code with the writers: the tests and
// fuzzers write a picture, read it back here and compare. Each answers
// nothing (nullopt) for a file that breaks a rule of its format.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace Readers {

struct Cursor {
    const std::vector<uint8_t>& bytes;
    size_t at = 0;
    bool ok = true;
    uint32_t U8() {
        if (at >= bytes.size()) {
            ok = false;
            return 0;
        }
        return bytes[at++];
    }
    uint32_t U16() {
        const uint32_t lo = U8();
        return lo | (U8() << 8);
    }
    uint32_t U32() {
        const uint32_t lo = U16();
        return lo | (U16() << 16);
    }
};

// Pixels as 0x00RRGGBB, rows top-down.
struct Rgb {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> pixels;
};

// ---------------------------------------------------------------------------
// PCX version 5, 8 bits, 3 planes, run-length encoded.
inline std::optional<Rgb> ReadPcx(const std::vector<uint8_t>& file) {
    Cursor c{file};
    if (c.U8() != 0x0A || c.U8() != 5 || c.U8() != 1 || c.U8() != 8) return std::nullopt;
    const uint32_t xmin = c.U16(), ymin = c.U16(), xmax = c.U16(), ymax = c.U16();
    if (xmin != 0 || ymin != 0) return std::nullopt;
    c.at = 65;
    const uint32_t planes = c.U8();
    const uint32_t bytesPerLine = c.U16();
    if (!c.ok || planes != 3) return std::nullopt;
    Rgb rgb;
    rgb.width = xmax + 1;
    rgb.height = ymax + 1;
    if (bytesPerLine % 2 || bytesPerLine < rgb.width || bytesPerLine > rgb.width + 1) return std::nullopt;
    rgb.pixels.assign(size_t{rgb.width} * rgb.height, 0);
    c.at = 128;
    std::vector<uint8_t> line(bytesPerLine);
    for (uint32_t y = 0; y < rgb.height; ++y) {
        for (uint32_t plane = 0; plane < 3; ++plane) {
            // Each plane line is decoded on its own: a run crossing into the
            // next one counts as an error here.
            size_t filled = 0;
            while (filled < bytesPerLine) {
                uint32_t value = c.U8();
                uint32_t count = 1;
                if ((value & 0xC0) == 0xC0) {
                    count = value & 0x3F;
                    value = c.U8();
                }
                if (!c.ok || count == 0 || filled + count > bytesPerLine) return std::nullopt;
                std::memset(line.data() + filled, static_cast<int>(value), count);
                filled += count;
            }
            for (uint32_t x = 0; x < rgb.width; ++x)
                rgb.pixels[size_t{y} * rgb.width + x] |= uint32_t{line[x]} << (16 - 8 * plane);
        }
    }
    if (c.at != file.size()) return std::nullopt;
    return rgb;
}

// ---------------------------------------------------------------------------
// BMP with BI_RLE8: the palette, and the indices top-down.
struct Indexed {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> palette;
    std::vector<uint8_t> indices;
};

inline std::optional<Indexed> ReadRle8Bmp(const std::vector<uint8_t>& file) {
    Cursor c{file};
    if (c.U8() != 'B' || c.U8() != 'M') return std::nullopt;
    const uint32_t fileSize = c.U32();
    c.U32();
    const uint32_t offBits = c.U32();
    if (c.U32() != 40) return std::nullopt;
    Indexed image;
    image.width = c.U32();
    const uint32_t height = c.U32();
    if (c.U16() != 1 || c.U16() != 8 || c.U32() != 1) return std::nullopt;
    const uint32_t sizeImage = c.U32();
    c.U32();
    c.U32();
    const uint32_t used = c.U32();
    c.U32();
    if (!c.ok || fileSize != file.size() || used == 0 || used > 256) return std::nullopt;
    if (height == 0 || height > 0x7FFFFFFF || image.width == 0) return std::nullopt;
    if (offBits != 54 + used * 4 || uint64_t{offBits} + sizeImage != file.size()) return std::nullopt;
    image.height = height;
    for (uint32_t i = 0; i < used; ++i) {
        const uint32_t b = c.U8(), g = c.U8(), r = c.U8();
        c.U8();
        image.palette.push_back(r << 16 | g << 8 | b);
    }
    image.indices.assign(size_t{image.width} * image.height, 0);
    // Every pixel must be written exactly once: no deltas, no short rows.
    uint32_t row = 0;  // from the bottom
    uint32_t x = 0;
    auto put = [&](uint8_t index) {
        if (row >= image.height || x >= image.width || index >= used) return false;
        image.indices[size_t{image.height - 1 - row} * image.width + x++] = index;
        return true;
    };
    for (;;) {
        const uint32_t first = c.U8();
        const uint32_t second = c.U8();
        if (!c.ok) return std::nullopt;
        if (first > 0) {
            for (uint32_t i = 0; i < first; ++i)
                if (!put(static_cast<uint8_t>(second))) return std::nullopt;
        } else if (second == 0) {
            if (x != image.width) return std::nullopt;
            ++row;
            x = 0;
        } else if (second == 1) {
            if (x != image.width || row != image.height - 1) return std::nullopt;
            break;
        } else if (second == 2) {
            return std::nullopt;  // delta: leaves pixels unwritten
        } else {
            for (uint32_t i = 0; i < second; ++i)
                if (!put(static_cast<uint8_t>(c.U8())) || !c.ok) return std::nullopt;
            if (second % 2 && c.U8() != 0) return std::nullopt;
        }
    }
    if (c.at != file.size()) return std::nullopt;
    return image;
}

// ---------------------------------------------------------------------------
// WBMP type 0: one byte a pixel, 1 for white.
struct Bits {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bits;
};

inline bool MultiByte(Cursor& c, uint32_t& value) {
    value = 0;
    for (int i = 0; i < 5; ++i) {
        const uint32_t byte = c.U8();
        if (!c.ok || (value >> 25)) return false;
        value = value << 7 | (byte & 0x7F);
        if (!(byte & 0x80)) return true;
    }
    return false;
}

inline std::optional<Bits> ReadWbmp(const std::vector<uint8_t>& file) {
    Cursor c{file};
    uint32_t type = 0;
    Bits image;
    if (!MultiByte(c, type) || type != 0 || c.U8() != 0) return std::nullopt;
    if (!MultiByte(c, image.width) || !MultiByte(c, image.height)) return std::nullopt;
    if (image.width == 0 || image.height == 0) return std::nullopt;
    const size_t rowBytes = (size_t{image.width} + 7) / 8;
    if (file.size() - c.at != rowBytes * image.height) return std::nullopt;
    image.bits.resize(size_t{image.width} * image.height);
    for (uint32_t y = 0; y < image.height; ++y) {
        for (size_t b = 0; b < rowBytes; ++b) {
            const uint32_t byte = c.U8();
            for (uint32_t bit = 0; bit < 8; ++bit) {
                const size_t x = b * 8 + bit;
                const bool set = byte & (0x80u >> bit);
                if (x < image.width) image.bits[y * size_t{image.width} + x] = set;
                else if (set) return std::nullopt;  // pad bits are zero
            }
        }
    }
    return image;
}

// ---------------------------------------------------------------------------
// ICO: the directory, each image's bytes, and 32-bit bitmaps decoded to
// straight BGRA top-down (with their AND mask checked against alpha).
struct IconImage {
    uint32_t width = 0;
    uint32_t height = 0;
    bool png = false;
    std::vector<uint8_t> bytes;  // the PNG stream, or the decoded BGRA
};

inline std::optional<std::vector<IconImage>> ReadIco(const std::vector<uint8_t>& file) {
    Cursor c{file};
    if (c.U16() != 0 || c.U16() != 1) return std::nullopt;
    const uint32_t count = c.U16();
    if (!c.ok || count == 0) return std::nullopt;
    std::vector<IconImage> images;
    size_t expectedOffset = 6 + 16 * size_t{count};
    for (uint32_t i = 0; i < count; ++i) {
        Cursor d{file, 6 + 16 * size_t{i}};
        IconImage image;
        image.width = d.U8();
        image.height = d.U8();
        if (image.width == 0) image.width = 256;
        if (image.height == 0) image.height = 256;
        d.U8();
        d.U8();
        d.U16();
        if (d.U16() != 32) return std::nullopt;
        const uint32_t size = d.U32();
        const uint32_t offset = d.U32();
        if (!d.ok || offset != expectedOffset || uint64_t{offset} + size > file.size()) return std::nullopt;
        expectedOffset += size;
        const std::vector<uint8_t> data(file.begin() + offset, file.begin() + offset + size);
        static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        if (size >= 8 && std::memcmp(data.data(), kPng, 8) == 0) {
            image.png = true;
            image.bytes = data;
        } else {
            Cursor b{data};
            if (b.U32() != 40 || b.U32() != image.width || b.U32() != image.height * 2 || b.U16() != 1 ||
                b.U16() != 32 || b.U32() != 0)
                return std::nullopt;
            const size_t maskStride = (size_t{image.width} + 31) / 32 * 4;
            const size_t colour = size_t{image.width} * image.height * 4;
            if (data.size() != 40 + colour + maskStride * image.height) return std::nullopt;
            image.bytes.resize(colour);
            for (uint32_t y = 0; y < image.height; ++y)
                std::memcpy(image.bytes.data() + size_t{y} * image.width * 4,
                            data.data() + 40 + size_t{image.height - 1 - y} * image.width * 4, size_t{image.width} * 4);
            for (uint32_t y = 0; y < image.height; ++y) {
                const uint8_t* mask = data.data() + 40 + colour + size_t{image.height - 1 - y} * maskStride;
                for (uint32_t x = 0; x < image.width; ++x) {
                    const bool transparent = mask[x / 8] & (0x80 >> (x % 8));
                    const bool clear = image.bytes[(size_t{y} * image.width + x) * 4 + 3] == 0;
                    if (transparent != clear) return std::nullopt;
                }
            }
        }
        images.push_back(std::move(image));
    }
    if (expectedOffset != file.size()) return std::nullopt;
    return images;
}

// ---------------------------------------------------------------------------
// The run-length filter of PostScript and PDF, and ASCII85.
inline std::optional<std::vector<uint8_t>> DecodeRunLength(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < data.size()) {
        const uint32_t length = data[i++];
        if (length == 128) return i == data.size() ? std::optional(out) : std::nullopt;
        if (length < 128) {
            if (i + length + 1 > data.size()) return std::nullopt;
            out.insert(out.end(), data.begin() + i, data.begin() + i + length + 1);
            i += length + 1;
        } else {
            if (i >= data.size()) return std::nullopt;
            out.insert(out.end(), 257 - length, data[i++]);
        }
    }
    return std::nullopt;  // no end marker
}

inline std::optional<std::vector<uint8_t>> DecodeAscii85(const std::string& text) {
    std::vector<uint8_t> out;
    uint32_t digits[5];
    int count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == ' ' || ch == '\n' || ch == '\r' || ch == '\t') continue;
        if (ch == '~') {
            if (i + 1 >= text.size() || text[i + 1] != '>' || count == 1) return std::nullopt;
            if (count) {
                for (int k = count; k < 5; ++k) digits[k] = 84;
                uint64_t value = 0;
                for (int k = 0; k < 5; ++k) value = value * 85 + digits[k];
                for (int k = 0; k < count - 1; ++k) out.push_back(static_cast<uint8_t>(value >> (24 - 8 * k)));
            }
            return out;
        }
        if (ch == 'z' && count == 0) {
            out.insert(out.end(), 4, 0);
            continue;
        }
        if (ch < '!' || ch > 'u') return std::nullopt;
        digits[count++] = static_cast<uint32_t>(ch - '!');
        if (count == 5) {
            uint64_t value = 0;
            for (int k = 0; k < 5; ++k) value = value * 85 + digits[k];
            if (value > 0xFFFFFFFFu) return std::nullopt;
            for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(value >> (24 - 8 * k)));
            count = 0;
        }
    }
    return std::nullopt;  // no "~>"
}

// ---------------------------------------------------------------------------
// PDF: every cross-reference entry points at its "N 0 obj", startxref at the
// table, and the image stream's /Length matches its bytes. Answers the image
// stream's bytes.
inline std::optional<std::vector<uint8_t>> PdfImageStream(const std::vector<uint8_t>& file) {
    const std::string text(file.begin(), file.end());
    const size_t startxref = text.rfind("startxref\n");
    if (startxref == std::string::npos) return std::nullopt;
    const size_t xref = std::strtoull(text.c_str() + startxref + 10, nullptr, 10);
    if (xref >= text.size() || text.compare(xref, 5, "xref\n") != 0) return std::nullopt;
    size_t at = text.find('\n', xref + 5);
    if (text.compare(xref + 5, 2, "0 ") != 0 || at == std::string::npos) return std::nullopt;
    const size_t count = std::strtoull(text.c_str() + xref + 7, nullptr, 10);
    ++at;
    if (count < 2 || text.compare(at, 20, "0000000000 65535 f\r\n") != 0) return std::nullopt;
    for (size_t n = 1; n < count; ++n) {
        const size_t entry = at + 20 * n;
        if (entry + 20 > text.size() || text.compare(entry + 10, 10, " 00000 n\r\n") != 0) return std::nullopt;
        const size_t offset = std::strtoull(text.substr(entry, 10).c_str(), nullptr, 10);
        if (offset >= text.size()) return std::nullopt;
        const std::string head = std::to_string(n) + " 0 obj\n";
        if (text.compare(offset, head.size(), head) != 0) return std::nullopt;
    }
    const size_t image = text.find("/Subtype /Image");
    const size_t length = text.find("/Length ", image);
    const size_t stream = text.find(">>\nstream\n", image);
    if (image == std::string::npos || length == std::string::npos || stream == std::string::npos) return std::nullopt;
    const size_t size = std::strtoull(text.c_str() + length + 8, nullptr, 10);
    const size_t begin = stream + 10;
    if (begin + size + 10 > text.size() || text.compare(begin + size, 10, "\nendstream") != 0) return std::nullopt;
    return std::vector<uint8_t>(file.begin() + begin, file.begin() + begin + size);
}

}  // namespace Readers
