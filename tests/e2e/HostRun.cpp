#include "HostRun.h"

#include <regex>
#include <sstream>

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

std::vector<MenuLine> ParseMenu(const std::string& out) {
    static const std::regex entry(
        R"re(^( *)\[id (\d+)(?:, offset (\d+))?\] "(.*?)"( \(bitmap\))?( \(disabled\))?( >)?(?:  help: (.*))?$)re");
    std::vector<MenuLine> menu;
    bool inMenu = false;
    for (const std::string& line : Lines(out)) {
        if (line.compare(0, 6, "menu (") == 0) {
            inMenu = true;
            continue;
        }
        if (!inMenu) continue;
        std::smatch m;
        if (!std::regex_match(line, m, entry)) break;
        MenuLine item;
        item.depth = (static_cast<int>(m[1].length()) - 2) / 4;
        item.id = static_cast<unsigned>(std::stoul(m[2].str()));
        item.offset = m[3].matched ? std::stoi(m[3].str()) : -1;
        item.caption = m[4].str();
        item.bitmap = m[5].matched;
        item.submenu = m[7].matched;
        if (m[8].matched) {
            const std::string help = m[8].str();
            if (help.size() >= 2 && help.front() == '"' && help.back() == '"') {
                item.hasHelp = true;
                item.help = help.substr(1, help.size() - 2);
            } else {
                item.helpNone = help;
            }
        }
        menu.push_back(item);
    }
    return menu;
}

std::vector<std::string> ParseListLines(const std::string& out) {
    std::vector<std::string> list;
    bool inList = false;
    for (const std::string& line : Lines(out)) {
        if (line.compare(0, 34, "list file as the converter read it") == 0) {
            inList = true;
            continue;
        }
        if (!inList) continue;
        if (line.compare(0, 4, "    ") != 0) break;
        list.push_back(line.substr(4));
    }
    return list;
}

std::string ValueAfter(const std::string& out, const std::string& label) {
    for (const std::string& line : Lines(out)) {
        size_t start = line.find_first_not_of(' ');
        if (start != std::string::npos && line.compare(start, label.size() + 2, label + ": ") == 0)
            return line.substr(start + label.size() + 2);
    }
    return std::string();
}

static std::wstring WideFrom(const std::string& bytes, UINT codePage) {
    if (bytes.empty()) return std::wstring();
    int size = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], size);
    return out;
}

std::wstring WideFromUtf8(const std::string& text) { return WideFrom(text, CP_UTF8); }
std::string Utf8FromCp1252(const std::string& bytes) { return Utf8FromWide(WideFrom(bytes, 1252)); }

std::string AnsiFromWide(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}
