// The byte rules written a second time, straight from their definitions and
// deliberately in another shape than the product code (substrings and
// digit-string comparison instead of running sums, a character split instead
// of a single scan), so that the tests and fuzzers compare two readings of
// the same rule rather than the code with itself.
#pragma once

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Model {

using LeadByte = bool (*)(unsigned char);

// Code pages the rules are checked under.
inline bool ShiftJisLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
inline bool GbkLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

// ---------------------------------------------------------------------------
// Integer text of a settings value.

inline bool IsDecimal(char c) { return c >= '0' && c <= '9'; }
inline bool IsHex(char c) {
    return IsDecimal(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
inline unsigned HexValue(char c) {
    if (IsDecimal(c)) return static_cast<unsigned>(c - '0');
    return static_cast<unsigned>((c | 0x20) - 'a' + 10);
}

inline std::optional<int32_t> IntegerText(std::string_view text) {
    const size_t firstNonBlank = text.find_first_not_of(' ');
    if (firstNonBlank == std::string_view::npos) return std::nullopt;
    std::string_view rest = text.substr(firstNonBlank);

    bool negative = false;
    if (rest[0] == '+' || rest[0] == '-') {
        negative = rest[0] == '-';
        rest.remove_prefix(1);
    }

    bool hex = false;
    if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
        hex = true;
        rest.remove_prefix(2);
    } else if (!rest.empty() && (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')) {
        hex = true;
        rest.remove_prefix(1);
    }
    if (rest.empty()) return std::nullopt;
    if (!std::all_of(rest.begin(), rest.end(), hex ? IsHex : IsDecimal)) return std::nullopt;

    // Significant digits only: leading zeros are free.
    const size_t firstSignificant = rest.find_first_not_of('0');
    const std::string_view digits =
        firstSignificant == std::string_view::npos ? std::string_view() : rest.substr(firstSignificant);

    if (hex) {
        if (digits.size() > 8) return std::nullopt;
        uint32_t bits = 0;
        for (char c : digits) bits = (bits << 4) | HexValue(c);
        return static_cast<int32_t>(negative ? ~bits + 1u : bits);
    }
    // Compare as digit strings against the limits of int32.
    const std::string_view limit = negative ? "2147483648" : "2147483647";
    if (digits.size() > limit.size()) return std::nullopt;
    if (digits.size() == limit.size() && digits > limit) return std::nullopt;
    int64_t magnitude = 0;
    for (char c : digits) magnitude = magnitude * 10 + (c - '0');
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

// ---------------------------------------------------------------------------
// Characters of 8-bit text: one byte, or a lead byte and the byte after it.

struct Character {
    size_t offset;
    size_t length;
};

inline std::vector<Character> SplitCharacters(std::string_view text, LeadByte lead) {
    std::vector<Character> out;
    for (size_t i = 0; i < text.size();) {
        const bool pair = lead && lead(static_cast<unsigned char>(text[i])) && i + 1 < text.size();
        out.push_back({i, pair ? 2u : 1u});
        i += pair ? 2 : 1;
    }
    return out;
}

inline bool IsSingle(std::string_view text, const Character& c, char byte) {
    return c.length == 1 && text[c.offset] == byte;
}

// ---------------------------------------------------------------------------
// Image extensions.

inline const std::vector<std::string>& Accepted() {
    static const std::vector<std::string> list = {
        ".jpg", ".tif", ".pcx", ".png", ".bmp", ".tga", ".pxm", ".ppm", ".pgm", ".pbm",
        ".tiff", ".fax", ".g3n", ".g3f", ".jpeg", ".jpe", ".dib", ".rle", ".ico", ".cur",
        ".wmf", ".emf", ".targa", ".vda", ".icb", ".vst", ".pix", ".wbmp", ".jpc", ".j2c",
        ".cut", ".pcd", ".psp", ".pspimage", ".psd", ".jp2", ".j2k", ".gif", ".pdd"};
    return list;
}

// From the last ".", "\" or ":" (a whole character) to the end when it is a
// dot; empty otherwise.
inline std::string_view Extension(std::string_view path, LeadByte lead) {
    if (!lead) {
        const size_t last = path.find_last_of(".\\:");
        if (last == std::string_view::npos || path[last] != '.') return {};
        return path.substr(last);
    }
    const std::vector<Character> chars = SplitCharacters(path, lead);
    for (auto it = chars.rbegin(); it != chars.rend(); ++it) {
        if (IsSingle(path, *it, '.')) return path.substr(it->offset);
        if (IsSingle(path, *it, '\\') || IsSingle(path, *it, ':')) return {};
    }
    return {};
}

inline bool Accepts(std::string_view extension) {
    std::string lowered(extension);
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    const auto& list = Accepted();
    return std::find(list.begin(), list.end(), lowered) != list.end();
}

// ---------------------------------------------------------------------------
// Trailing backslash, list file, converter arguments, system messages.

inline bool LastCharacterIsBackslash(std::string_view text, LeadByte lead) {
    const std::vector<Character> chars = SplitCharacters(text, lead);
    return !chars.empty() && IsSingle(text, chars.back(), '\\');
}

inline std::string WithBackslash(std::string_view text, LeadByte lead) {
    std::string out(text);
    if (!LastCharacterIsBackslash(text, lead)) out.push_back('\\');
    return out;
}

inline std::string ListFilePath(std::string_view temp, std::string_view installDir, LeadByte lead) {
    return (temp.empty() ? std::string(installDir) : WithBackslash(temp, lead)) + "files.txt";
}

inline std::string Parameters(std::string_view listFile, std::string_view token) {
    return "\"" + std::string(listFile) + "\" \"" + std::string(token) + "\"";
}

// Control characters (below a blank, and DEL), blanks and periods at the end go.
inline std::string TrimTail(std::string_view message) {
    auto droppable = [](unsigned char c) { return c < 0x20 || c == 0x7F || c == ' ' || c == '.'; };
    while (!message.empty() && droppable(static_cast<unsigned char>(message.back())))
        message.remove_suffix(1);
    return std::string(message);
}

// ---------------------------------------------------------------------------
// Help text into a buffer of cchMax bytes: at most cchMax - 1 text bytes and a
// zero; nothing for a buffer of 0.
inline std::string HelpTextBytes(std::string_view text, size_t cchMax) {
    if (cchMax == 0) return std::string();
    return std::string(text.substr(0, std::min(text.size(), cchMax - 1))) + '\0';
}

// ---------------------------------------------------------------------------
// Server path rules.

// Up to the last "\" or ":"; that "\" dropped unless it follows "\" or ":".
inline std::string Directory(const std::string& path) {
    size_t last = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i)
        if (path[i] == '\\' || path[i] == ':') last = i;
    if (last == std::string::npos) return std::string();
    const bool keep = path[last] == ':' || (last > 0 && (path[last - 1] == '\\' || path[last - 1] == ':'));
    return path.substr(0, keep ? last + 1 : last);
}

inline std::string DrivePart(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
    if (path.rfind("\\\\", 0) == 0) {
        // Everything before the backslash that ends the share name.
        int backslashes = 0;
        for (size_t i = 2; i < path.size(); ++i)
            if (path[i] == '\\' && ++backslashes == 2) return path.substr(0, i);
        return path;
    }
    return std::string();
}

}  // namespace Model

// ---------------------------------------------------------------------------
// The shell's drop list: a header whose pFiles gives the offset of the paths,
// each ended by a zero character; the list ends at the first empty path. A
// path that runs into the block's end without its zero is not handed out.

namespace Model {

template <typename Unit>
std::vector<std::basic_string<Unit>> DropPaths(const unsigned char* block, size_t size, size_t headerSize,
                                               uint32_t pFiles) {
    std::vector<std::basic_string<Unit>> paths;
    if (size < headerSize) return paths;
    size_t pos = pFiles;
    while (pos < size) {
        std::basic_string<Unit> path;
        bool terminated = false;
        for (; pos + sizeof(Unit) <= size; pos += sizeof(Unit)) {
            Unit unit;
            std::memcpy(&unit, block + pos, sizeof unit);
            if (unit == 0) {
                terminated = true;
                pos += sizeof(Unit);
                break;
            }
            path.push_back(unit);
        }
        if (!terminated || path.empty()) break;
        paths.push_back(path);
    }
    return paths;
}

}  // namespace Model
