#include "HostRun.h"

#include <regex>
#include <sstream>

namespace {

std::wstring Quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') out.append(backslashes * 2 + 1, L'\\');
        else out.append(backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

bool SameName(const std::wstring& entry, const std::wstring& name) {
    return entry.size() > name.size() && entry[name.size()] == L'=' &&
           CompareStringOrdinal(entry.c_str(), static_cast<int>(name.size()), name.c_str(),
                                static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
}

std::wstring EnvironmentBlock(const std::vector<std::pair<std::wstring, std::wstring>>& overrides) {
    std::wstring block;
    wchar_t* current = GetEnvironmentStringsW();
    for (const wchar_t* entry = current; entry && *entry; entry += wcslen(entry) + 1) {
        std::wstring text(entry);
        bool replaced = false;
        for (const auto& o : overrides) replaced = replaced || SameName(text, o.first);
        if (!replaced) block += text + L'\0';
    }
    if (current) FreeEnvironmentStringsW(current);
    for (const auto& o : overrides)
        if (!o.second.empty()) block += o.first + L"=" + o.second + L'\0';
    block += L'\0';
    return block;
}

HANDLE InheritableFile(const std::wstring& path) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ReadAll(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

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

HostResult RunProgram(const std::wstring& program, const std::vector<std::wstring>& args,
                      const std::vector<std::pair<std::wstring, std::wstring>>& overrides,
                      const std::wstring& scratchDir, DWORD timeoutMs) {
    HostResult result;
    // Names of their own for every run: a process that inherited the last
    // run's handles (the console host, a converter just started) may still
    // hold them for a moment after the program ended.
    static unsigned runNumber = 0;
    const std::wstring stem = scratchDir + L"\\host-" + std::to_wstring(++runNumber);
    const std::wstring outPath = stem + L"-out.txt";
    const std::wstring errPath = stem + L"-err.txt";
    HANDLE out = InheritableFile(outPath);
    HANDLE err = InheritableFile(errPath);
    if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) {
        if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
        if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
        result.err = "cannot create the output files in " + Utf8FromWide(scratchDir);
        return result;
    }
    std::wstring commandLine = Quote(program);
    for (const std::wstring& arg : args) commandLine += L" " + Quote(arg);
    std::wstring environment = EnvironmentBlock(overrides);

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                  CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, &environment[0], nullptr, &si, &pi);
    CloseHandle(out);
    CloseHandle(err);
    if (!started) {
        result.err = "CreateProcess failed with error " + std::to_string(GetLastError());
        return result;
    }
    result.finished = WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!result.finished) {
        TerminateProcess(pi.hProcess, 0xDEAD);
        WaitForSingleObject(pi.hProcess, 10000);
    }
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    result.out = ReadAll(outPath);
    result.err = ReadAll(errPath);
    DeleteFileW(outPath.c_str());
    DeleteFileW(errPath.c_str());
    return result;
}

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

std::string Utf8FromWide(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

static std::wstring WideFrom(const std::string& bytes, UINT codePage) {
    if (bytes.empty()) return std::wstring();
    int size = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], size);
    return out;
}

std::wstring WideFromUtf8(const std::string& text) { return WideFrom(text, CP_UTF8); }
std::wstring WideFromAnsi(const std::string& text) { return WideFrom(text, CP_ACP); }
std::string Utf8FromCp1252(const std::string& bytes) { return Utf8FromWide(WideFrom(bytes, 1252)); }

std::string AnsiFromWide(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}
