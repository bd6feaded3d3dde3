#include "converter/metadata/Xmp.h"

#include <cstring>
#include <string>

namespace Xmp {
namespace {

bool Space(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool Digit(uint8_t c) { return c >= '0' && c <= '9'; }

// A number's place in the packet: [begin, end).
struct Value {
    size_t begin = 0, end = 0;
};

// The places of `name`'s plain-number values, written name="6", name='6'
// or <name>6</name>, in packet order.
std::vector<Value> Values(const std::vector<uint8_t>& packet, const char* name) {
    std::vector<Value> found;
    const size_t length = std::strlen(name);
    for (size_t at = 0; at + length < packet.size(); ++at) {
        if (std::memcmp(packet.data() + at, name, length) != 0) continue;
        // The whole name: not the tail of a longer one.
        if (at > 0 && !Space(packet[at - 1]) && packet[at - 1] != '<') continue;
        size_t i = at + length;
        while (i < packet.size() && Space(packet[i])) ++i;
        uint8_t close = '<';
        if (i < packet.size() && packet[i] == '=') {
            ++i;
            while (i < packet.size() && Space(packet[i])) ++i;
            if (i >= packet.size() || (packet[i] != '"' && packet[i] != '\'')) continue;
            close = packet[i++];
        } else if (i < packet.size() && packet[i] == '>') {
            ++i;
        } else {
            continue;
        }
        const size_t begin = i;
        while (i < packet.size() && i - begin < 10 && Digit(packet[i])) ++i;
        if (i == begin || i >= packet.size() || packet[i] != close) continue;
        found.push_back({begin, i});
    }
    return found;
}

// Every plain-number value of `name` replaced by `text`, in one pass however
// many there are.
void Set(std::vector<uint8_t>& packet, const char* name, const std::string& text) {
    const std::vector<Value> values = Values(packet, name);
    if (values.empty()) return;
    std::vector<uint8_t> out;
    out.reserve(packet.size() + values.size() * text.size());
    size_t from = 0;
    for (const Value& v : values) {
        out.insert(out.end(), packet.begin() + from, packet.begin() + v.begin);
        out.insert(out.end(), text.begin(), text.end());
        from = v.end;
    }
    out.insert(out.end(), packet.begin() + from, packet.end());
    packet = std::move(out);
}

}  // namespace

std::vector<uint8_t> ForResult(std::vector<uint8_t> packet, uint32_t width, uint32_t height, bool turned) {
    if (turned) Set(packet, "tiff:Orientation", "1");
    Set(packet, "tiff:ImageWidth", std::to_string(width));
    Set(packet, "tiff:ImageLength", std::to_string(height));
    Set(packet, "exif:PixelXDimension", std::to_string(width));
    Set(packet, "exif:PixelYDimension", std::to_string(height));
    return packet;
}

}  // namespace Xmp
