#include "untMain/ImageExtensions.h"

namespace ImageExtensions {

const std::string_view AcceptedExtensions[AcceptedCount] = {
    ".jpg",  ".tif",  ".pcx",   ".png", ".bmp",  ".tga",      ".pxm", ".ppm", ".pgm", ".pbm",
    ".tiff", ".fax",  ".g3n",   ".g3f", ".jpeg", ".jpe",      ".dib", ".rle", ".ico", ".cur",
    ".wmf",  ".emf",  ".targa", ".vda", ".icb",  ".vst",      ".pix", ".wbmp", ".jpc", ".j2c",
    ".cut",  ".pcd",  ".psp",   ".pspimage",     ".psd",      ".jp2", ".j2k", ".gif", ".pdd",
};

namespace {

// The longest accepted extension; anything longer cannot match.
constexpr size_t LongestAccepted = 9;  // ".pspimage"

char LowerAsciiLetter(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string_view PathExtension(std::string_view path, LeadByteTest isLeadByte) {
    // Walked from the front: only there can a double-byte character's second
    // byte be told from a single-byte character.
    size_t separator = std::string_view::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (isLeadByte && isLeadByte(static_cast<unsigned char>(c)) && i + 1 < path.size()) {
            ++i;  // its second byte may look like "\" (0x5C) but is none
            continue;
        }
        if (c == '.' || c == '\\' || c == ':') separator = i;
    }
    if (separator == std::string_view::npos || path[separator] != '.') return {};
    return path.substr(separator);
}

bool IsAcceptedExtension(std::string_view extension) {
    if (extension.empty() || extension.size() > LongestAccepted) return false;
    char lowered[LongestAccepted];
    for (size_t i = 0; i < extension.size(); ++i) lowered[i] = LowerAsciiLetter(extension[i]);
    const std::string_view candidate(lowered, extension.size());
    for (const std::string_view accepted : AcceptedExtensions) {
        if (candidate == accepted) return true;
    }
    return false;
}

bool HasAcceptedExtension(std::string_view path, LeadByteTest isLeadByte) {
    return IsAcceptedExtension(PathExtension(path, isLeadByte));
}

}  // namespace ImageExtensions
