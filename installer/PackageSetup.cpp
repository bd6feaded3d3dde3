// QuennelPackageSetup.exe: registers the sparse package that puts
// "Grafikformat ändern" into Windows 11's first context menu, and removes it.
//
//   QuennelPackageSetup.exe /register              for the current user: the package
//                                                  VardelQuennel.msix beside this program,
//                                                  with this program's folder as its
//                                                  external location (QuennelMenu.dll)
//   QuennelPackageSetup.exe /unregister            the current user's registration of the
//                                                  per-machine installation's package
//   QuennelPackageSetup.exe /unregister /allusers  the same for every user (administrators)
//   QuennelPackageSetup.exe /unregister /peruser   the current user's registration of the
//                                                  per-user installation's package
//
// Each kind of installation ships a package of its own identity (the
// per-machine one VardelSoftware.Quennel, the per-user one
// VardelSoftware.QuennelUser): a user may have both, and removing one must
// not take the registration the other still needs.
//
// Only on Windows 11, build 22000 and later, read from CurrentBuildNumber:
// Windows Installer's VersionNT says 603 on Windows 10 and 11 alike. Older
// Windows has no first menu for packages, and the classic handler serves it.
// The work is PowerShell's Add-AppxPackage and Remove-AppxPackage, which
// Windows 11 ships; their refusal (developer mode off and an untrusted
// certificate, a policy) leaves the classic menu working, so the installer
// ignores the result. Exit codes: 0 done, 1 bad arguments, 10 skipped (not
// Windows 11), 11 PowerShell could not be started or reported a failure.
// Nothing is shown.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "installer/OwnFolder.h"

namespace {

constexpr DWORD kFirstWindows11Build = 22000;
constexpr DWORD kPowerShellTimeoutMs = 120000;
const wchar_t kMachinePackageName[] = L"VardelSoftware.Quennel";
const wchar_t kUserPackageName[] = L"VardelSoftware.QuennelUser";
const wchar_t kPackageFile[] = L"VardelQuennel.msix";

// The scripts are fixed text: the folder, the package's path and its name
// reach PowerShell only as the values of these environment variables, which
// it never parses as code, whatever quote, backtick or dollar sign an
// install folder holds.
const wchar_t kPackagePathVariable[] = L"QUENNEL_PACKAGE";
const wchar_t kFolderVariable[] = L"QUENNEL_FOLDER";
const wchar_t kNameVariable[] = L"QUENNEL_PACKAGE_NAME";
// -ForceUpdateFromAnyVersion: an upgrade of the installation may carry the
// same package version with a new module.
const wchar_t kRegisterScript[] =
    L"Add-AppxPackage -Path $env:QUENNEL_PACKAGE -ExternalLocation $env:QUENNEL_FOLDER -ForceUpdateFromAnyVersion";
const wchar_t kUnregisterScript[] = L"Get-AppxPackage -Name $env:QUENNEL_PACKAGE_NAME | Remove-AppxPackage";
const wchar_t kUnregisterAllScript[] =
    L"Get-AppxPackage -AllUsers -Name $env:QUENNEL_PACKAGE_NAME | Remove-AppxPackage -AllUsers";

enum ExitCode { kDone = 0, kUsage = 1, kSkipped = 10, kFailed = 11 };

// The build number of the running Windows (this 64-bit program reads the
// 64-bit registry view); 0 when it cannot be read.
DWORD WindowsBuild() {
    wchar_t text[32] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"CurrentBuildNumber",
                     RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return 0;
    DWORD build = 0;
    for (const wchar_t* c = text; *c; ++c) {
        if (*c < L'0' || *c > L'9' || build > 1000000) return 0;
        build = build * 10 + static_cast<DWORD>(*c - L'0');
    }
    return build;
}

// -EncodedCommand takes the script as Base64 of its UTF-16LE text: the
// command line holds nothing but fixed switches and Base64 digits.
std::wstring Base64(const std::wstring& text) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    std::wstring out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const unsigned b0 = static_cast<unsigned char>(bytes[i]);
        const unsigned b1 = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        const unsigned b2 = i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0;
        const unsigned triple = b0 << 16 | b1 << 8 | b2;
        out += static_cast<wchar_t>(digits[(triple >> 18) & 63]);
        out += static_cast<wchar_t>(digits[(triple >> 12) & 63]);
        out += i + 1 < bytes.size() ? static_cast<wchar_t>(digits[(triple >> 6) & 63]) : L'=';
        out += i + 2 < bytes.size() ? static_cast<wchar_t>(digits[triple & 63]) : L'=';
    }
    return out;
}

// Runs the script in the system's Windows PowerShell, hidden, and waits for
// it a bounded time: an installation must not hang on it. The child
// inherits this process's environment, where the values were put.
int RunPowerShell(const std::wstring& script) {
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return kFailed;
    const std::wstring program = std::wstring(system) + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
    std::wstring command = L"\"" + program +
                           L"\" -NoProfile -NonInteractive -ExecutionPolicy Bypass -EncodedCommand " +
                           Base64(L"$ErrorActionPreference = 'Stop'; " + script);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process))
        return kFailed;
    CloseHandle(process.hThread);
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, kPowerShellTimeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &code))
        code = 1;  // left to finish on its own: nothing of ours waits for it
    CloseHandle(process.hProcess);
    return code == 0 ? kDone : kFailed;
}

int Register() {
    const std::wstring folder = OwnFolder();
    if (folder.empty()) return kFailed;
    const std::wstring package = folder + L"\\" + kPackageFile;
    if (GetFileAttributesW(package.c_str()) == INVALID_FILE_ATTRIBUTES) return kFailed;
    if (!SetEnvironmentVariableW(kPackagePathVariable, package.c_str()) ||
        !SetEnvironmentVariableW(kFolderVariable, folder.c_str()))
        return kFailed;
    return RunPowerShell(kRegisterScript);
}

int Unregister(const wchar_t* name, bool allUsers) {
    if (!SetEnvironmentVariableW(kNameVariable, name)) return kFailed;
    return RunPowerShell(allUsers ? kUnregisterAllScript : kUnregisterScript);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return kUsage;
    const std::wstring verb = argc >= 2 ? argv[1] : L"";
    const std::wstring scope = argc >= 3 ? argv[2] : L"";
    LocalFree(argv);
    const bool registering = lstrcmpiW(verb.c_str(), L"/register") == 0 && argc == 2;
    const bool allUsers = argc == 3 && lstrcmpiW(scope.c_str(), L"/allusers") == 0;
    const bool perUser = argc == 3 && lstrcmpiW(scope.c_str(), L"/peruser") == 0;
    const bool unregistering = lstrcmpiW(verb.c_str(), L"/unregister") == 0 && (argc == 2 || allUsers || perUser);
    if (!registering && !unregistering) return kUsage;
    if (WindowsBuild() < kFirstWindows11Build) return kSkipped;
    if (registering) return Register();
    return Unregister(perUser ? kUserPackageName : kMachinePackageName, allUsers);
}
