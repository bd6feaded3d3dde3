#include "converter/metadata/PngChunks.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "converter/metadata/IccProfile.h"
#include "converter/base/ByteCursor.h"

namespace PngChunks {
namespace {

const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
const char kXmpKeyword[] = "XML:com.adobe.xmp";  // with its zero: 18 bytes
// A chunk's length field allows 2^31 - 1 bytes.
constexpr size_t MaxChunk = 0x7FFFFFFF;

using ByteOrder::Be32;

struct Chunk {
    size_t start;  // of the length field
    uint32_t length;
    char type[5];
    const uint8_t* body;
};

// The chunks up to IEND or the first that runs past the bytes.
bool Chunks(const uint8_t* data, size_t size, std::vector<Chunk>& out, size_t& end) {
    if (!data || size < 8 || std::memcmp(data, kSignature, 8) != 0) return false;
    size_t at = 8;
    while (size - at >= 12) {
        Chunk chunk;
        chunk.start = at;
        chunk.length = Be32(data + at);
        std::memcpy(chunk.type, data + at + 4, 4);
        chunk.type[4] = 0;
        chunk.body = data + at + 8;
        if (chunk.length > size - at - 12) break;
        out.push_back(chunk);
        at += size_t{chunk.length} + 12;
        if (std::strcmp(chunk.type, "IEND") == 0) break;
    }
    end = at;
    return true;
}

bool IsXmp(const Chunk& c) {
    return std::strcmp(c.type, "iTXt") == 0 && c.length >= sizeof kXmpKeyword &&
           std::memcmp(c.body, kXmpKeyword, sizeof kXmpKeyword) == 0;
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    out.insert(out.end(), {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                           static_cast<uint8_t>(v)});
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body) {
    Put32(out, static_cast<uint32_t>(body.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    Put32(out, Crc32(out.data() + typeAt, out.size() - typeAt));
}

// A zlib stream of stored blocks: no compression library needed, and a
// profile is small beside the picture.
std::vector<uint8_t> StoredZlib(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out = {0x78, 0x01};
    size_t at = 0;
    do {
        const size_t n = std::min<size_t>(data.size() - at, 65535);
        const bool last = at + n == data.size();
        out.insert(out.end(), {static_cast<uint8_t>(last ? 1 : 0), static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                               static_cast<uint8_t>(~n), static_cast<uint8_t>(~n >> 8)});
        out.insert(out.end(), data.begin() + at, data.begin() + at + n);
        at += n;
    } while (at < data.size());
    uint32_t a = 1, b = 0;  // Adler-32
    for (uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    Put32(out, b << 16 | a);
    return out;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    static const auto table = [] {
        struct Table { uint32_t v[256]; } t;
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t.v[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table.v[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

bool Read(const uint8_t* data, size_t size, Metadata& out) {
    std::vector<Chunk> chunks;
    size_t end = 0;
    if (!Chunks(data, size, chunks, end)) return false;
    for (const Chunk& c : chunks) {
        if (std::strcmp(c.type, "pHYs") == 0 && c.length == 9 && c.body[8] == 1) {
            const double x = Be32(c.body), y = Be32(c.body + 4);  // pixels a metre
            if (x > 0 && y > 0) {
                out.dpiX = x * 0.0254;
                out.dpiY = y * 0.0254;
            }
        } else if (std::strcmp(c.type, "eXIf") == 0 && out.exif.empty()) {
            out.exif.assign(c.body, c.body + c.length);
        } else if (IsXmp(c) && out.xmp.empty()) {
            // keyword, zero, compression flag and method, language, zero,
            // translated keyword, zero, text
            const uint8_t* p = c.body + sizeof kXmpKeyword;
            const uint8_t* stop = c.body + c.length;
            if (stop - p < 2 || p[0] != 0) continue;  // compressed: not read
            p += 2;
            for (int zeros = 0; zeros < 2 && p < stop; ++p)
                if (*p == 0) ++zeros;
            out.xmp.assign(p, stop);
        }
    }
    return true;
}

namespace {

// The chunks Read takes, and the header before them.
bool ReadTakes(std::string_view type) { return type == "IHDR" || type == "pHYs" || type == "eXIf" || type == "iTXt"; }

}  // namespace

bool Read(const ReadAt& readAt, uint64_t size, size_t maxChunk, size_t maxAll, Metadata& out, size_t& held) {
    // Gathered behind the signature with an end chunk: read without the
    // pixel data between them, they say what the whole file says.
    std::vector<uint8_t> gathered(8, 0);
    if (readAt(0, gathered.data(), 8) != 8) return false;
    uint64_t at = 8;
    for (int chunks = 0; at + 12 <= size && chunks < (1 << 24); ++chunks) {
        uint8_t head[8];
        if (readAt(at, head, 8) != 8) return false;
        const uint32_t length = Be32(head);
        const std::string_view type(reinterpret_cast<const char*>(head + 4), 4);
        const uint64_t whole = uint64_t{length} + 12;
        // As Chunks reads a whole file: up to the end chunk or the first
        // chunk that runs past the end.
        if (type == "IEND" || whole > size - at) break;
        if (ReadTakes(type)) {
            if (length > maxChunk || gathered.size() + whole > maxAll) return false;
            const size_t from = gathered.size();
            gathered.resize(from + static_cast<size_t>(whole));
            if (readAt(at, gathered.data() + from, static_cast<size_t>(whole)) != whole) return false;
        }
        at += whole;
    }
    static const uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    gathered.insert(gathered.end(), kEnd, kEnd + sizeof kEnd);
    held = gathered.size();
    return Read(gathered.data(), gathered.size(), out);
}

std::vector<uint8_t> Embed(const std::vector<uint8_t>& png, const Metadata& metadata) {
    std::vector<Chunk> chunks;
    size_t end = 0;
    if (!Chunks(png.data(), png.size(), chunks, end) || chunks.empty() || std::strcmp(chunks[0].type, "IHDR") != 0)
        return {};
    std::vector<uint8_t> out(png.begin(), png.begin() + chunks[0].start + chunks[0].length + 12);
    const bool dpi = metadata.dpiX > 0 && metadata.dpiY > 0;
    if (dpi) {
        std::vector<uint8_t> body;
        Put32(body, static_cast<uint32_t>(std::lround(std::min(metadata.dpiX / 0.0254, 2.0e9))));
        Put32(body, static_cast<uint32_t>(std::lround(std::min(metadata.dpiY / 0.0254, 2.0e9))));
        body.push_back(1);  // the unit: metres
        PutChunk(out, "pHYs", body);
    }
    // A profile goes in only over pixels of its own colour space: grey
    // (colour types 0 and 4) or RGB (2, 3 and 6).
    const bool greyPixels = chunks[0].length >= 10 && (chunks[0].body[9] & 2) == 0;
    const IccProfile::Space space = IccProfile::SpaceOf(metadata.icc);
    const bool icc = !metadata.icc.empty() && metadata.icc.size() < MaxChunk / 2 &&
                     space == (greyPixels ? IccProfile::Space::Grey : IccProfile::Space::Rgb);
    if (icc) {
        std::vector<uint8_t> body = {'I', 'C', 'C', ' ', 'P', 'r', 'o', 'f', 'i', 'l', 'e', 0, 0};
        const std::vector<uint8_t> stream = StoredZlib(metadata.icc);
        body.insert(body.end(), stream.begin(), stream.end());
        PutChunk(out, "iCCP", body);
    }
    if (!metadata.exif.empty() && metadata.exif.size() < MaxChunk) PutChunk(out, "eXIf", metadata.exif);
    if (!metadata.xmp.empty() && metadata.xmp.size() < MaxChunk / 2) {
        // keyword, zero, not compressed, method 0, no language, no translated keyword
        std::vector<uint8_t> body(kXmpKeyword, kXmpKeyword + sizeof kXmpKeyword);
        body.insert(body.end(), {0, 0, 0, 0});
        body.insert(body.end(), metadata.xmp.begin(), metadata.xmp.end());
        PutChunk(out, "iTXt", body);
    }
    for (size_t i = 1; i < chunks.size(); ++i) {
        const Chunk& c = chunks[i];
        const std::string_view type(c.type, 4);
        const bool replaced = (dpi && type == "pHYs") || (icc && (type == "iCCP" || type == "sRGB" ||
                                                                   type == "gAMA" || type == "cHRM")) ||
                              (!metadata.exif.empty() && type == "eXIf") || (!metadata.xmp.empty() && IsXmp(c));
        if (!replaced) out.insert(out.end(), png.begin() + c.start, png.begin() + c.start + c.length + 12);
    }
    out.insert(out.end(), png.begin() + end, png.end());
    return out;
}

}  // namespace PngChunks
