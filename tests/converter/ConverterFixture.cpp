#include "ConverterFixture.h"

#include <algorithm>
#include <cstdlib>

#include "support/ExtensionDll.h"

namespace {

using UnixName = char*(CDECL*)(const WCHAR*);

std::string Ansi(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}


}  // namespace


void ConverterFixture::SetUp() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::wstring(temp) + L"converter-" + WideFromAnsi(info->name()) + L"-" + std::to_wstring(GetCurrentProcessId());
    RemoveFolder(dir_);
    ASSERT_TRUE(CreateDirectoryW(dir_.c_str(), nullptr)) << GetLastError();
}

void ConverterFixture::TearDown() { RemoveFolder(dir_); }

// A test may leave a host's symbolic link in its folder (one folder by two
// paths), which Wine shows as a folder that it can neither empty nor remove
// as one: the host's rm takes what is left, without following links. Wine
// gives process IDs again, so a folder left behind would meet a later run.
void ConverterFixture::RemoveFolder(const std::wstring& folder) {
    RemoveTree(folder + L"\\");
    if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) Host("rm -rf " + Unix(folder));
}

// The test build (tests/support/seams): the shipped program with a file
// system that keeps MAX_PATH and workers that fail on request.
std::wstring ConverterFixture::ConverterPath() { return WideFromAnsi(ProgramDir()) + L"testbuild\\transform.exe"; }

ProcessResult ConverterFixture::RunConverter(const std::vector<std::wstring>& args,
                                             const std::vector<std::pair<std::wstring, std::wstring>>& environment) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return RunProgram(ConverterPath(), args, environment, temp, 300000);
}

void ConverterFixture::WriteList(const std::vector<std::wstring>& paths) {
    std::string list;
    for (const std::wstring& path : paths) list += Ansi(path) + "\r\n";
    const HANDLE file = CreateFileW(ListPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, list.data(), static_cast<DWORD>(list.size()), &written, nullptr);
        CloseHandle(file);
    }
    EXPECT_EQ(written, list.size()) << "the list file";
}

ProcessResult ConverterFixture::Convert(const std::vector<std::wstring>& paths, const std::string& token) {
    WriteList(paths);
    return RunConverter({ListPath(), WideFromAnsi(token)});
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
    std::wstring wide(script.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, script.data(), static_cast<int>(script.size()),
                                                        &wide[0], static_cast<int>(wide.size()))));
    std::wstring commandLine = L"/bin/sh -c " + QuoteArgument(wide);
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
    while (!FileExists(code) && GetTickCount() - start < 300000) Sleep(5);
    result.finished = FileExists(code);
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
    ReadWholeFile(path, bytes);
    return bytes;
}

bool ConverterFixture::WriteNewFile(const std::wstring& path, const std::string& bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    return ok;
}
