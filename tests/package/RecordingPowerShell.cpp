// Stands in for Windows PowerShell in the installer tests (Wine's own does
// nothing): put where QuennelPackageSetup.exe looks for powershell.exe, it
// appends what it was handed to calls.txt beside itself, as UTF-8: its
// command line and the values of the variables the package step passes,
// one block per call, closed by a line "--". It runs nothing and answers 0.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring Variable(const wchar_t* name, bool& present) {
    wchar_t buffer[32768];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    present = length > 0 && length < 32768;
    return present ? std::wstring(buffer, length) : std::wstring();
}

}  // namespace

int wmain() {
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    std::wstring log(self, length);
    log = log.substr(0, log.find_last_of(L'\\') + 1) + L"calls.txt";

    std::string record = "command=" + Utf8(GetCommandLineW()) + "\n";
    for (const wchar_t* name : {L"QUENNEL_PACKAGE", L"QUENNEL_FOLDER", L"QUENNEL_PACKAGE_NAME"}) {
        bool present = false;
        const std::wstring value = Variable(name, present);
        if (present) record += Utf8(name) + "=" + Utf8(value) + "\n";
    }
    record += "--\n";

    const HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == record.size() ? 0 : 2;
}
