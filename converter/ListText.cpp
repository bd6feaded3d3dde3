#include "converter/ListText.h"

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
