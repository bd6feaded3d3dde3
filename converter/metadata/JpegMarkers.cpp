#include "converter/metadata/JpegMarkers.h"

#include <algorithm>
#include <cmath>
#include <cstring>


namespace JpegMarkers {
namespace {

const char kExif[] = "Exif\0";  // with the terminating zero: six bytes
const size_t kExifLength = 6;
const char kXmp[] = "http://ns.adobe.com/xap/1.0/";  // and its zero: 29 bytes
const size_t kXmpLength = sizeof kXmp;
const char kIcc[] = "ICC_PROFILE";  // and its zero, then chunk number and count: 14 bytes
const size_t kIccLength = sizeof kIcc + 2;
// A segment's length field counts itself: at most 65533 bytes of body.
constexpr size_t MaxBody = 65533;

struct Segment {
    uint8_t marker;
    size_t start;  // of the 0xFF
    size_t body;   // after the length field
    size_t bodySize;
};

bool Starts(const Segment& s, const uint8_t* data, const char* id, size_t idLength) {
    return s.bodySize >= idLength && std::memcmp(data + s.body, id, idLength) == 0;
}

// The segments before the image data; `end` receives where they stop.
// False when the bytes are no JPEG.
bool Segments(const uint8_t* data, size_t size, std::vector<Segment>& out, size_t& end) {
    if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    size_t at = 2;
    while (at + 4 <= size && data[at] == 0xFF) {
        const uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) break;
        const size_t length = size_t{data[at + 2]} << 8 | data[at + 3];
        if (length < 2 || size - (at + 2) < length) break;
        out.push_back({marker, at, at + 4, length - 2});
        at += 2 + length;
    }
    end = at;
    return true;
}

bool IsJfif(const Segment& s, const uint8_t* data) {
    return s.marker == 0xE0 && s.bodySize >= 14 && std::memcmp(data + s.body, "JFIF\0", 5) == 0;
}

void Put(std::vector<uint8_t>& out, uint8_t marker, const uint8_t* head, size_t headSize, const uint8_t* body,
         size_t bodySize) {
    const size_t length = headSize + bodySize + 2;
    out.insert(out.end(), {0xFF, marker, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    out.insert(out.end(), head, head + headSize);
    out.insert(out.end(), body, body + bodySize);
}

}  // namespace

bool Read(const uint8_t* data, size_t size, Metadata& out) {
    std::vector<Segment> segments;
    size_t end = 0;
    if (!Segments(data, size, segments, end)) return false;
    std::vector<std::vector<uint8_t>> chunks;
    size_t chunkCount = 0;
    bool iccBroken = false;
    for (const Segment& s : segments) {
        const uint8_t* body = data + s.body;
        if (IsJfif(s, data) && out.dpiX == 0) {
            const uint8_t units = body[7];
            const double x = body[8] << 8 | body[9], y = body[10] << 8 | body[11];
            if ((units == 1 || units == 2) && x > 0 && y > 0) {
                const double factor = units == 2 ? 2.54 : 1.0;  // 2: dots a centimetre
                out.dpiX = x * factor;
                out.dpiY = y * factor;
            }
        } else if (s.marker == 0xE1 && out.exif.empty() && Starts(s, data, kExif, kExifLength)) {
            out.exif.assign(body + kExifLength, body + s.bodySize);
        } else if (s.marker == 0xE1 && out.xmp.empty() && Starts(s, data, kXmp, kXmpLength)) {
            out.xmp.assign(body + kXmpLength, body + s.bodySize);
        } else if (s.marker == 0xE2 && Starts(s, data, kIcc, sizeof kIcc)) {
            if (s.bodySize < kIccLength) continue;
            const size_t number = body[kIccLength - 2], count = body[kIccLength - 1];
            if (chunks.empty()) {
                chunkCount = count;
                chunks.resize(count);
            }
            if (number == 0 || number > chunkCount || count != chunkCount || !chunks[number - 1].empty()) {
                iccBroken = true;
                continue;
            }
            chunks[number - 1].assign(body + kIccLength, body + s.bodySize);
        }
    }
    bool complete = !chunks.empty() && !iccBroken;
    for (const std::vector<uint8_t>& chunk : chunks) complete = complete && !chunk.empty();
    if (complete)
        for (const std::vector<uint8_t>& chunk : chunks) out.icc.insert(out.icc.end(), chunk.begin(), chunk.end());
    return true;
}

std::vector<uint8_t> Embed(const std::vector<uint8_t>& jpeg, const Metadata& metadata) {
    std::vector<Segment> segments;
    size_t end = 0;
    if (!Segments(jpeg.data(), jpeg.size(), segments, end)) return {};
    const uint8_t* data = jpeg.data();
    std::vector<uint8_t> out = {0xFF, 0xD8};

    // JFIF first, as its readers expect; its density unit 1 is dots an inch.
    const Segment* jfif = nullptr;
    for (const Segment& s : segments)
        if (IsJfif(s, data)) jfif = &s;
    if (metadata.dpiX > 0 && metadata.dpiY > 0) {
        const auto density = [](double dpi) { return static_cast<uint16_t>(std::lround(std::min(dpi, 65535.0))); };
        const uint16_t x = density(metadata.dpiX), y = density(metadata.dpiY);
        const uint8_t body[] = {'J', 'F', 'I', 'F', 0, 1, 1, 1, static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(x),
                                static_cast<uint8_t>(y >> 8), static_cast<uint8_t>(y), 0, 0};
        Put(out, 0xE0, body, sizeof body, nullptr, 0);
    } else if (jfif) {
        Put(out, 0xE0, data + jfif->body, jfif->bodySize, nullptr, 0);
    }
    if (!metadata.exif.empty() && metadata.exif.size() + kExifLength <= MaxBody)
        Put(out, 0xE1, reinterpret_cast<const uint8_t*>(kExif), kExifLength, metadata.exif.data(),
            metadata.exif.size());
    if (!metadata.xmp.empty() && metadata.xmp.size() + kXmpLength <= MaxBody)
        Put(out, 0xE1, reinterpret_cast<const uint8_t*>(kXmp), kXmpLength, metadata.xmp.data(), metadata.xmp.size());
    const size_t chunkSize = MaxBody - kIccLength;
    const size_t chunks = (metadata.icc.size() + chunkSize - 1) / chunkSize;
    if (chunks > 0 && chunks <= 255) {
        for (size_t i = 0; i < chunks; ++i) {
            uint8_t head[kIccLength];
            std::memcpy(head, kIcc, sizeof kIcc);
            head[kIccLength - 2] = static_cast<uint8_t>(i + 1);
            head[kIccLength - 1] = static_cast<uint8_t>(chunks);
            const size_t from = i * chunkSize;
            Put(out, 0xE2, head, kIccLength, metadata.icc.data() + from,
                std::min(chunkSize, metadata.icc.size() - from));
        }
    }
    // The encoder's other segments (tables, frame header) stay; its own
    // segments of the kinds written above go.
    for (const Segment& s : segments) {
        const bool replaced = IsJfif(s, data) || (s.marker == 0xE1 && (Starts(s, data, kExif, kExifLength) ||
                                                                       Starts(s, data, kXmp, kXmpLength))) ||
                              (s.marker == 0xE2 && Starts(s, data, kIcc, sizeof kIcc));
        if (!replaced) out.insert(out.end(), data + s.start, data + s.body + s.bodySize);
    }
    out.insert(out.end(), data + end, data + jpeg.size());
    return out;
}

}  // namespace JpegMarkers
