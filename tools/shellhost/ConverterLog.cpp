#include "ConverterLog.h"

#include <vector>

#include "Text.h"

namespace {

std::string Ansi(const std::string& bytes) { return Utf8(WideFromCodePage(bytes, CP_ACP)); }

std::string InstallDirFromSettings() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Vardel Software\\Brindlework\\SETUP", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return std::string();
    char value[MAX_PATH * 2] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    LONG status = RegQueryValueExA(key, "INSTDIR_P1", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::string();
    std::string dir(value);
    if (!dir.empty() && dir.back() != '\\') dir += '\\';
    return dir;
}

}  // namespace

std::string ConverterLog::Locate(const std::string& given) {
    if (!given.empty()) return given;
    char value[MAX_PATH * 4];
    DWORD length = GetEnvironmentVariableA(TransformLog::PathVariable, value, sizeof value);
    if (length > 0 && length < sizeof value) return std::string(value, length);
    std::string dir = InstallDirFromSettings();
    return dir.empty() ? std::string() : dir + TransformLog::FileName;
}

void ConverterLog::Mark() {
    std::vector<TransformLog::Run> runs;
    TransformLog::Read(path_, runs);
    seen_ = runs.size();
}

bool ConverterLog::Wait(unsigned timeoutMs, TransformLog::Run& run) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        std::vector<TransformLog::Run> runs;
        if (TransformLog::Read(path_, runs) && runs.size() > seen_) {
            run = runs[seen_];
            seen_ = runs.size();
            return true;
        }
        if (GetTickCount64() >= deadline) return false;
        Sleep(50);
    }
}

void PrintConverterRun(const TransformLog::Run& run) {
    Out("converter command line: " + Ansi(run.Field("CMDLINE")) + "\n");
    Out("  list file argument: " + Ansi(run.Field("LISTPATH")) + "\n");
    if (run.Has("TOKEN"))
        Out("  token argument: " + Ansi(run.Field("TOKEN")) + "\n");
    else
        Out("  token argument: (none)\n");
    if (run.Has("LISTERROR")) {
        Out("  the converter could not read the list file (error " + run.Field("LISTERROR") + ")\n");
        return;
    }
    const std::string list = run.Field("LIST");
    size_t lines = 0;
    bool crlf = true;
    std::string body;
    size_t pos = 0;
    while (pos < list.size()) {
        size_t end = list.find("\r\n", pos);
        if (end == std::string::npos) {
            crlf = false;
            end = list.size();
        }
        body += "    " + Ansi(list.substr(pos, end - pos)) + "\n";
        ++lines;
        pos = end == list.size() ? end : end + 2;
    }
    Out("list file as the converter read it: " + std::to_string(lines) + " line(s), " +
        std::to_string(list.size()) + " bytes" +
        (lines == 0 ? std::string() : crlf ? ", each ending in CR LF" : ", the last without CR LF") + "\n");
    Out(body);
}
