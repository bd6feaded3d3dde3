#include "support/ProcessRun.h"

#include "support/TestFiles.h"

#include <cwchar>

namespace {

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

}  // namespace

std::wstring QuoteArgument(const std::wstring& arg) {
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

std::string Utf8FromWide(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

ProcessResult RunProgram(const std::wstring& program, const std::vector<std::wstring>& args,
                      const std::vector<std::pair<std::wstring, std::wstring>>& overrides,
                      const std::wstring& scratchDir, DWORD timeoutMs) {
    ProcessResult result;
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
    std::wstring commandLine = QuoteArgument(program);
    for (const std::wstring& arg : args) commandLine += L" " + QuoteArgument(arg);
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
    ReadWholeFile(outPath, result.out);
    ReadWholeFile(errPath, result.err);
    DeleteFileW(outPath.c_str());
    DeleteFileW(errPath.c_str());
    return result;
}
