#include "converter/metadata/Jp2Boxes.h"

#include <cstring>

#include "converter/metadata/IccProfile.h"
#include "converter/base/ByteCursor.h"

namespace Jp2Boxes {
namespace {

struct Box {
    size_t start = 0;
    size_t header = 0;  // 8, or 16 with the long length
    size_t size = 0;    // of the whole box
    char type[4] = {};
};

using ByteOrder::Be32;

// The box at `at` within [at, end); false when it does not fit.
bool BoxAt(const std::vector<uint8_t>& bytes, size_t at, size_t end, Box& box) {
    if (end - at < 8) return false;
    box.start = at;
    box.header = 8;
    uint64_t size = Be32(&bytes[at]);
    std::memcpy(box.type, &bytes[at + 4], 4);
    if (size == 1) {
        if (end - at < 16) return false;
        size = uint64_t{Be32(&bytes[at + 8])} << 32 | Be32(&bytes[at + 12]);
        box.header = 16;
    } else if (size == 0) {
        size = end - at;  // to the end
    }
    if (size < box.header || size > end - at) return false;
    box.size = static_cast<size_t>(size);
    return true;
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

}  // namespace

std::vector<uint8_t> WithProfile(const std::vector<uint8_t>& jp2, const std::vector<uint8_t>& icc) {
    if (icc.empty() || icc.size() > 0x7FFF0000u || !IccProfile::QualifiesRestricted(icc)) return {};
    Box header;
    bool found = false;
    for (size_t at = 0; !found && at < jp2.size(); at += header.size)
        if (!BoxAt(jp2, at, jp2.size(), header)) return {};
        else found = std::memcmp(header.type, "jp2h", 4) == 0 && header.header == 8;
    if (!found) return {};
    const size_t innerEnd = header.start + header.size;
    Box colour;
    found = false;
    for (size_t at = header.start + 8; !found && at < innerEnd; at += colour.size)
        if (!BoxAt(jp2, at, innerEnd, colour)) return {};
        else found = std::memcmp(colour.type, "colr", 4) == 0;
    if (!found) return {};

    std::vector<uint8_t> box(11 + icc.size());
    Put32(box, 0, static_cast<uint32_t>(box.size()));
    std::memcpy(&box[4], "colr", 4);
    box[8] = 2;   // method: restricted ICC profile
    box[9] = 0;   // precedence
    box[10] = 0;  // approximation: 0 in JP2's own methods
    std::memcpy(&box[11], icc.data(), icc.size());

    std::vector<uint8_t> out(jp2.begin(), jp2.begin() + colour.start);
    out.insert(out.end(), box.begin(), box.end());
    out.insert(out.end(), jp2.begin() + colour.start + colour.size, jp2.end());
    const uint64_t newHeader = uint64_t{header.size} - colour.size + box.size();
    if (newHeader > 0xFFFFFFFFu) return {};
    Put32(out, header.start, static_cast<uint32_t>(newHeader));
    return out;
}

}  // namespace Jp2Boxes
