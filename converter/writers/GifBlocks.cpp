#include "converter/writers/GifBlocks.h"

#include <cstring>

namespace GifBlocks {
namespace {

// Past the data sub-blocks starting at `at` (each a length byte and that
// many bytes, a zero length ends them); 0 when they run past the end.
size_t SkipSubBlocks(const std::vector<uint8_t>& gif, size_t at) {
    while (at < gif.size()) {
        const size_t length = gif[at];
        if (length == 0) return at + 1;
        at += 1 + length;
    }
    return 0;
}

}  // namespace

bool SetTransparent(std::vector<uint8_t>& gif, uint8_t index) {
    if (gif.size() < 13 || (std::memcmp(gif.data(), "GIF87a", 6) != 0 && std::memcmp(gif.data(), "GIF89a", 6) != 0))
        return false;
    size_t at = 13;
    if (gif[10] & 0x80) at += size_t{3} << ((gif[10] & 7) + 1);  // the global colour table
    size_t control = 0;  // the graphic control extension met since the last image, if any
    while (at < gif.size()) {
        if (gif[at] == 0x2C) break;  // the first image
        if (gif[at] != 0x21 || at + 2 > gif.size()) return false;
        if (gif[at + 1] == 0xF9 && at + 8 <= gif.size() && gif[at + 2] == 4) control = at;
        at = SkipSubBlocks(gif, at + 2);
        if (at == 0) return false;
    }
    if (at >= gif.size()) return false;
    if (control) {
        gif[control + 3] = static_cast<uint8_t>((gif[control + 3] & ~0x1Cu) | 0x01);  // no disposal, transparent
        gif[control + 6] = index;
    } else {
        const uint8_t block[] = {0x21, 0xF9, 4, 0x01, 0, 0, index, 0};
        gif.insert(gif.begin() + static_cast<std::ptrdiff_t>(at), block, block + sizeof block);
    }
    // Transparency needs the 89a version of the format.
    std::memcpy(gif.data(), "GIF89a", 6);
    return true;
}

}  // namespace GifBlocks
