#include "converter/metadata/IccProfile.h"
#include "converter/base/ByteCursor.h"

#include <cstring>

namespace IccProfile {
namespace {

constexpr size_t HeaderBytes = 128;
// More tags than any real profile holds; a larger count is damage.
constexpr uint32_t MaxTags = 1000;

using ByteOrder::Be32;

bool Is(const uint8_t* p, const char* signature) { return std::memcmp(p, signature, 4) == 0; }

bool HasHeader(const std::vector<uint8_t>& icc) { return icc.size() >= HeaderBytes && Is(&icc[36], "acsp"); }

// Whether the tag table names every signature of `wanted`, each with data
// inside the profile.
bool HasTags(const std::vector<uint8_t>& icc, const char* const* wanted, size_t count) {
    if (icc.size() < HeaderBytes + 4) return false;
    const uint32_t tags = Be32(&icc[HeaderBytes]);
    if (tags > MaxTags || (icc.size() - HeaderBytes - 4) / 12 < tags) return false;
    for (size_t w = 0; w < count; ++w) {
        bool found = false;
        for (uint32_t t = 0; t < tags && !found; ++t) {
            const uint8_t* entry = &icc[HeaderBytes + 4 + size_t{t} * 12];
            const uint32_t offset = Be32(entry + 4), size = Be32(entry + 8);
            found = Is(entry, wanted[w]) && offset <= icc.size() && size <= icc.size() - offset && size >= 8;
        }
        if (!found) return false;
    }
    return true;
}

}  // namespace

Space SpaceOf(const std::vector<uint8_t>& icc) {
    if (!HasHeader(icc)) return Space::Unknown;
    const uint8_t* space = &icc[16];
    if (Is(space, "RGB ")) return Space::Rgb;
    if (Is(space, "GRAY")) return Space::Grey;
    if (Is(space, "CMYK")) return Space::Cmyk;
    return Space::Other;
}

bool QualifiesRestricted(const std::vector<uint8_t>& icc) {
    if (!HasHeader(icc) || !Is(&icc[20], "XYZ ")) return false;
    // The JP2 rules name input profiles; a display profile of the same
    // build converts into the connection space by the same tags.
    if (!Is(&icc[12], "scnr") && !Is(&icc[12], "mntr")) return false;
    static const char* const grey[] = {"kTRC"};
    static const char* const matrix[] = {"rXYZ", "gXYZ", "bXYZ", "rTRC", "gTRC", "bTRC"};
    switch (SpaceOf(icc)) {
    case Space::Grey: return HasTags(icc, grey, 1);
    case Space::Rgb: return HasTags(icc, matrix, 6);
    default: return false;
    }
}

}  // namespace IccProfile
