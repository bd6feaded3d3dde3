// transformlog.exe, a stand-in for the converter used by the hand-off tests
// and installed as transform.exe where they need one: it converts nothing. It
// records what the context-menu extension handed it (the raw command line and
// a byte copy of the list file named by its first argument) and exits.
// The log's place and format are described in TransformLog.h beside this file.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tools/transformlog/TransformLog.h"

namespace {

std::string LogPath() {
    char value[MAX_PATH * 4];
    const DWORD length = GetEnvironmentVariableA(TransformLog::PathVariable, value, sizeof value);
    if (length > 0 && length < sizeof value) return std::string(value, length);
    char exe[MAX_PATH * 4] = {};
    const DWORD exeLength = GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string dir(exe, exeLength);
    dir.erase(dir.find_last_of('\\') + 1);
    return dir + TransformLog::FileName;
}

// The program name, then quoted arguments; nothing inside quotes is escaped,
// as the extension escapes nothing either.
std::vector<std::string> QuotedArguments(const std::string& line) {
    size_t pos = 0;
    if (!line.empty() && line[0] == '"') {
        const size_t close = line.find('"', 1);
        pos = close == std::string::npos ? line.size() : close + 1;
    } else {
        pos = line.find_first_of(" \t");
        if (pos == std::string::npos) pos = line.size();
    }
    std::vector<std::string> args;
    while (pos < line.size()) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        if (pos >= line.size()) break;
        if (line[pos] == '"') {
            const size_t close = line.find('"', pos + 1);
            const size_t end = close == std::string::npos ? line.size() : close;
            args.push_back(line.substr(pos + 1, end - pos - 1));
            pos = end + 1;
        } else {
            const size_t end = std::min(line.find_first_of(" \t", pos), line.size());
            args.push_back(line.substr(pos, end - pos));
            pos = end;
        }
    }
    return args;
}

bool WriteWhole(const std::string& path, const std::string& bytes) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = bytes.empty() ||
                    (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                     written == bytes.size());
    CloseHandle(file);
    return ok;
}

// Appends the record: the old log and the record go to a temp file, which
// then replaces the log in one rename.
bool AppendRecord(const std::string& logPath, const std::string& record) {
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, TransformLog::MutexName);
    if (mutex) WaitForSingleObject(mutex, 30000);  // abandoned or timed out: go on anyway

    std::string bytes;
    TransformLog::ReadFileBytes(logPath, bytes);
    bytes += record;
    const std::string temp = logPath + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
    bool ok = WriteWhole(temp, bytes);
    if (ok) {
        // A reader holding the log open without delete sharing can block the
        // rename for a moment.
        ok = false;
        for (int attempt = 0; attempt < 200 && !ok; ++attempt) {
            ok = MoveFileExA(temp.c_str(), logPath.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
            if (!ok) Sleep(10);
        }
        if (!ok) DeleteFileA(temp.c_str());
    }
    if (mutex) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    return ok;
}

}  // namespace

int main() {
    const char* raw = GetCommandLineA();
    const std::string commandLine = raw ? raw : "";
    const std::vector<std::string> args = QuotedArguments(commandLine);

    TransformLog::Run run;
    run.processId = GetCurrentProcessId();
    run.fields.emplace_back("CMDLINE", commandLine);
    if (!args.empty()) {
        run.fields.emplace_back("LISTPATH", args[0]);
        if (args.size() > 1) run.fields.emplace_back("TOKEN", args[1]);
        std::string list;
        DWORD error = 0;
        if (TransformLog::ReadFileBytes(args[0], list, &error))
            run.fields.emplace_back("LIST", list);
        else
            run.fields.emplace_back("LISTERROR", std::to_string(error));
    }
    return AppendRecord(LogPath(), TransformLog::FormatRecord(run)) ? 0 : 1;
}
