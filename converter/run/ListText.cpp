#include "converter/run/ListText.h"

namespace ListText {

std::vector<std::string> Lines(std::string_view bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        size_t stop = end;
        if (stop > start && bytes[stop - 1] == '\r') --stop;
        const std::string_view line = bytes.substr(start, stop - start);
        if (line.find_first_not_of(' ') != std::string_view::npos) lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

}  // namespace ListText

namespace ListText {

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsSlash(char c) { return c == '\\' || c == '/'; }

bool IsDrivePath(std::string_view path) {
    return path.size() >= 3 && IsLetter(path[0]) && path[1] == ':' && IsSlash(path[2]);
}

constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";

}  // namespace

Encoding EncodingOf(std::string_view bytes) {
    return bytes.substr(0, Utf8Mark.size()) == Utf8Mark ? Encoding::Utf8 : Encoding::Ansi;
}

std::string_view Body(std::string_view bytes) {
    return EncodingOf(bytes) == Encoding::Utf8 ? bytes.substr(Utf8Mark.size()) : bytes;
}

Problem CheckBytes(std::string_view whole) {
    const auto starts = [&](std::string_view mark) { return whole.substr(0, mark.size()) == mark; };
    if (starts("\xFF\xFE") || starts("\xFE\xFF")) return Problem::NotAnsi;
    const std::string_view bytes = Body(whole);
    size_t zeros[2] = {0, 0};
    for (size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\0') ++zeros[i % 2];
    if (zeros[0] == 0 && zeros[1] == 0) return Problem::None;
    // UTF-16 of Latin text: every other byte zero. A stray zero is something else.
    const size_t half = bytes.size() / 2;
    if (half && (zeros[0] * 5 >= half * 2 || zeros[1] * 5 >= half * 2)) return Problem::NotAnsi;
    return Problem::NulInLine;
}

Problem CheckLine(std::string_view line) {
    if (line.find('\0') != std::string_view::npos) return Problem::NulInLine;
    if (line.size() >= 4 && IsSlash(line[0]) && IsSlash(line[1]) && (line[2] == '.' || line[2] == '?') &&
        IsSlash(line[3])) {
        // The file namespace's own long forms are paths; everything else there is a device.
        const std::string_view rest = line.substr(4);
        if (line[2] == '?' && (IsDrivePath(rest) || (rest.size() >= 4 && (rest.substr(0, 4) == "UNC\\" ||
                                                                          rest.substr(0, 4) == "unc\\"))))
            return Problem::None;
        return Problem::DevicePath;
    }
    if (IsDrivePath(line)) return Problem::None;
    // "\\server\share\...": a server and a share name at least.
    if (line.size() >= 5 && IsSlash(line[0]) && IsSlash(line[1]) && !IsSlash(line[2])) {
        const size_t share = line.find_first_of("\\/", 2);
        if (share != std::string_view::npos && share + 1 < line.size() && !IsSlash(line[share + 1]))
            return Problem::None;
    }
    return Problem::RelativePath;
}

}  // namespace ListText
