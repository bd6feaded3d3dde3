#include "ConverterFixture.h"

#include <algorithm>
#include <cstdlib>

#include "support/ExtensionDll.h"

namespace {

using UnixName = char*(CDECL*)(const WCHAR*);

std::wstring Widened(const std::string& text) {
    std::wstring out;
    for (char c : text) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

std::string Ansi(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

void RemoveFolder(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = dir + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveFolder(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(dir.c_str());
}

}  // namespace

std::string Utf8Of(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

void ConverterFixture::SetUp() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::wstring(temp) + L"converter-" + Widened(info->name()) + L"-" + std::to_wstring(GetCurrentProcessId());
    RemoveFolder(dir_);
    ASSERT_TRUE(CreateDirectoryW(dir_.c_str(), nullptr));
}

void ConverterFixture::TearDown() { RemoveFolder(dir_); }

ProcessResult ConverterFixture::RunConverter(const std::vector<std::wstring>& args) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return RunProgram(Widened(ProgramDir()) + L"transform.exe", args, {}, temp, 300000);
}

ProcessResult ConverterFixture::Convert(const std::vector<std::wstring>& paths, const std::string& token) {
    std::string list;
    for (const std::wstring& path : paths) list += Ansi(path) + "\r\n";
    const HANDLE file = CreateFileW(ListPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, list.data(), static_cast<DWORD>(list.size()), &written, nullptr);
        CloseHandle(file);
    }
    EXPECT_EQ(written, list.size()) << "the list file";
    return RunConverter({ListPath(), Widened(token)});
}

ProcessResult ConverterFixture::Host(const std::string& command) {
    // Wine starts a host program detached: its handle can be neither waited
    // on nor asked for an exit code. So the shell leaves its output in files
    // and its exit code in a file that appears, by a rename, only at the end.
    static unsigned runNumber = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring stem = std::wstring(temp) + L"host-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++runNumber);
    const std::wstring out = stem + L".out", err = stem + L".err", code = stem + L".rc";
    const std::string script = "{ " + command + "\n} >" + Unix(out) + " 2>" + Unix(err) + " </dev/null; echo $? >" +
                               Unix(code + L".tmp") + " && mv " + Unix(code + L".tmp") + " " + Unix(code);
    // Quoted by the rules Windows programs (and Wine, for a host program)
    // split a command line by: backslashes count only before a quote.
    std::wstring commandLine = L"/bin/sh -c \"";
    std::wstring wide(script.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, script.data(), static_cast<int>(script.size()),
                                                        &wide[0], static_cast<int>(wide.size()))));
    size_t backslashes = 0;
    for (wchar_t c : wide) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        commandLine.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        commandLine += c;
    }
    commandLine.append(backslashes * 2, L'\\');
    commandLine += L"\"";
    ProcessResult result;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                        &pi)) {
        result.err = "cannot start /bin/sh: error " + std::to_string(GetLastError());
        return result;
    }
    if (pi.hThread) CloseHandle(pi.hThread);
    if (pi.hProcess) CloseHandle(pi.hProcess);
    const DWORD start = GetTickCount();
    while (!Exists(code) && GetTickCount() - start < 300000) Sleep(5);
    result.finished = Exists(code);
    result.out = Bytes(out);
    result.err = Bytes(err);
    if (result.finished) result.exitCode = static_cast<DWORD>(std::strtoul(Bytes(code).c_str(), nullptr, 10));
    for (const std::wstring& path : {out, err, code}) DeleteFileW(path.c_str());
    return result;
}

std::string ConverterFixture::Unix(const std::wstring& windowsPath) {
    static const auto toUnix =
        reinterpret_cast<UnixName>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    if (!toUnix) return "'/nonexistent'";  // not under Wine: every host check fails loudly
    char* name = toUnix(windowsPath.c_str());
    if (!name) return "'/nonexistent'";
    std::string path = name;
    HeapFree(GetProcessHeap(), 0, name);
    std::string quoted = "'";
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

void ConverterFixture::MakePicture(const std::wstring& path, const std::string& recipe) {
    const ProcessResult made = Host("convert " + recipe + " " + Unix(path));
    ASSERT_EQ(made.exitCode, 0u) << "convert " << recipe << ": " << made.err;
}

std::string ConverterFixture::Identify(const std::wstring& path) {
    const ProcessResult seen = Host("identify -format '%m %wx%h\\n' " + Unix(path) + " 2>/dev/null | head -n 1");
    std::string out = seen.out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

double ConverterFixture::Compare(const std::wstring& a, const std::wstring& b, const char* metric) {
    // compare prints its figure on standard error and exits 1 when the
    // pictures differ, 2 when it cannot compare them.
    const ProcessResult compared =
        Host(std::string("compare -metric ") + metric + " " + Unix(a) + " " + Unix(b) + " null: 2>&1");
    if (compared.exitCode > 1) return -1;
    if (compared.out.compare(0, 3, "inf") == 0) return 1e9;
    char* end = nullptr;
    const double value = std::strtod(compared.out.c_str(), &end);
    return end == compared.out.c_str() ? -1 : value;
}

bool ConverterFixture::Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> ConverterFixture::Names(const std::wstring& folder) const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::string ConverterFixture::Bytes(const std::wstring& path) {
    std::string bytes;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}
