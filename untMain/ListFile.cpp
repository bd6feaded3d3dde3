#include "untMain/ListFile.h"

#include <windows.h>

namespace ListFile {

bool IsAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

bool EndsWithBackslash(std::string_view text, LeadBytePredicate isLeadByte) {
    if (text.empty() || text.back() != '\\') return false;
    // A trail byte can itself look like a lead byte, so only a walk from the
    // first character finds where the last one starts.
    size_t lastStart = 0;
    for (size_t i = 0; i < text.size();) {
        lastStart = i;
        const bool pair = isLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size();
        i += pair ? 2 : 1;
    }
    return lastStart == text.size() - 1;
}

std::string WithTrailingBackslash(std::string_view text, LeadBytePredicate isLeadByte) {
    std::string out;
    out.reserve(text.size() + 1);
    out.append(text.data(), text.size());
    if (!EndsWithBackslash(text, isLeadByte)) out += '\\';
    return out;
}

std::string ListFilePath(std::string_view tempValue, std::string_view installDir,
                         LeadBytePredicate isLeadByte) {
    std::string path = tempValue.empty() ? std::string(installDir)
                                         : WithTrailingBackslash(tempValue, isLeadByte);
    path += FileName;
    return path;
}

std::string ConverterPath(std::string_view installDir) {
    std::string path(installDir);
    path += ConverterName;
    return path;
}

std::string ConverterParameters(std::string_view listFilePath, std::string_view token) {
    std::string out;
    out.reserve(listFilePath.size() + token.size() + 5);
    out += '"';
    out.append(listFilePath.data(), listFilePath.size());
    out += "\" \"";
    out.append(token.data(), token.size());
    out += '"';
    return out;
}

std::string TrimMessageTail(std::string_view message) {
    size_t end = message.size();
    while (end > 0) {
        const auto c = static_cast<unsigned char>(message[end - 1]);
        if (c > 0x20 && c != 0x7F && c != '.') break;
        --end;
    }
    return std::string(message.substr(0, end));
}

}  // namespace ListFile
