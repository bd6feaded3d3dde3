// QuennelUserSetup.exe: the per-user step of the installer package.
//
// The extension reads the converter's directory from the current user's
// settings, so every user needs INSTDIR_P1. The package runs this program
// for the installing user, and names it as the StubPath of its Active Setup
// component, so that the shell runs it once for every other user at their
// next logon.
//
//   QuennelUserSetup.exe                 sets INSTDIR_P1 to this program's folder
//                                        when the user has none (missing or empty)
//   QuennelUserSetup.exe /remove         takes back what the first form wrote: INSTDIR_P1
//                                        when it still names this folder, the user's
//                                        Active Setup record, and keys left empty
//   QuennelUserSetup.exe /remove /all    also the resize presets
//
// A value the user set stays untouched. Exit code 0 when done, 1 for bad
// arguments, 2 when the registry refused a change. The program shows nothing:
// the shell runs it during logon.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "settings/AnsiText.h"
#include "settings/Settings.h"

namespace {

// The Active Setup component of the package (installer/Quennel.wxs).
const wchar_t kActiveSetupKey[] =
    L"Software\\Microsoft\\Active Setup\\Installed Components\\{8E3D5A21-6C4B-4F7E-B2A9-1D0C7E5F9A36}";

const std::wstring kSuiteKey = AnsiText::Widen(Settings::KeyPath);  // Software\Vardel Software\Brindlework
const std::wstring kSetupKey = kSuiteKey + L"\\" + AnsiText::Widen(Settings::Section);
const std::wstring kInstallDirValue = AnsiText::Widen(Settings::InstallDirValue);

// The folder this program lives in, in its long form, without a trailing
// backslash: the folder the package put transform.exe in.
std::wstring OwnFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    std::wstring longPath(path.size() + MAX_PATH, L'\0');
    const DWORD longLength = GetLongPathNameW(path.c_str(), &longPath[0], static_cast<DWORD>(longPath.size()));
    if (longLength > 0 && longLength < longPath.size()) path.assign(longPath.c_str(), longLength);
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// The value's type and text; false when the value does not exist.
bool ReadValue(HKEY key, const std::wstring& name, DWORD& type, std::wstring& text) {
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&buffer[0]), &size) !=
        ERROR_SUCCESS)
        return false;
    buffer.resize(size / sizeof(wchar_t));
    while (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();
    text = buffer;
    return true;
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

bool SameFolder(std::wstring a, std::wstring b) {
    while (!a.empty() && a.back() == L'\\') a.pop_back();
    while (!b.empty() && b.back() == L'\\') b.pop_back();
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

int SetInstallDir() {
    const std::wstring folder = OwnFolder();
    if (folder.empty()) return 2;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSetupKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return 2;
    DWORD type = REG_NONE;
    std::wstring current;
    LONG rc = ERROR_SUCCESS;
    // An empty text names no folder at all (the extension could not find its
    // converter with it); anything else is the user's choice.
    if (!ReadValue(key, kInstallDirValue, type, current) || (IsText(type) && current.empty()))
        rc = RegSetValueExW(key, kInstallDirValue.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                            static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : 2;
}

bool KeyIsEmpty(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD subkeys = 0, values = 0;
    const LONG rc = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

// Deletes the key and then each key above it, up to and including `last`,
// as long as they hold nothing.
void DeleteEmptyKeys(std::wstring path, const std::wstring& last) {
    while (path.size() >= last.size() && KeyIsEmpty(HKEY_CURRENT_USER, path)) {
        if (RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str()) != ERROR_SUCCESS) return;
        if (path.size() == last.size()) return;
        path.erase(path.find_last_of(L'\\'));
    }
}

int RemoveSettings(bool presetsToo) {
    const std::wstring folder = OwnFolder();
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, kSetupKey.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    bool failed = false;
    if (rc == ERROR_SUCCESS) {
        DWORD type = REG_NONE;
        std::wstring current;
        // Only the value this program writes; a folder the user chose stays.
        if (ReadValue(key, kInstallDirValue, type, current) && IsText(type) && !folder.empty() &&
            SameFolder(current, folder))
            failed |= RegDeleteValueW(key, kInstallDirValue.c_str()) != ERROR_SUCCESS;
        if (presetsToo) {
            for (int preset = 1; preset <= Settings::PresetCount; ++preset) {
                for (const std::string& name : {Settings::SizeXValue(preset), Settings::SizeYValue(preset)}) {
                    rc = RegDeleteValueW(key, AnsiText::Widen(name).c_str());
                    failed |= rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND;
                }
            }
        }
        RegCloseKey(key);
        // The suite keeps more than this section below its key: only keys that
        // nothing is left in go.
        DeleteEmptyKeys(kSetupKey, kSuiteKey.substr(0, kSuiteKey.find_last_of(L'\\')));
    }
    // The shell's record that this user ran the step: without it, a later
    // installation runs the step for this user again.
    rc = RegDeleteKeyW(HKEY_CURRENT_USER, kActiveSetupKey);
    failed |= rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND;
    return failed ? 2 : 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 2;
    bool remove = false, all = false, bad = false;
    for (int i = 1; i < argc; ++i) {
        if (CompareStringOrdinal(argv[i], -1, L"/remove", -1, TRUE) == CSTR_EQUAL)
            remove = true;
        else if (CompareStringOrdinal(argv[i], -1, L"/all", -1, TRUE) == CSTR_EQUAL)
            all = true;
        else
            bad = true;
    }
    LocalFree(argv);
    if (bad || (all && !remove)) return 1;
    return remove ? RemoveSettings(all) : SetInstallDir();
}
