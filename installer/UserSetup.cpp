// QuennelUserSetup.exe: the per-user step of the installer packages.
//
// The extension reads the converter's directory from the current user's
// settings, so every user needs INSTDIR_P1. The packages run this program for
// the installing user; the per-machine packages also run it once with /users
// for every user who is logged on now (as the installer's service, which may
// write their loaded hives), and name it as the StubPath of their Active Setup
// component, so that the shell runs it once for every other user at their
// next logon.
//
//   QuennelUserSetup.exe                 points INSTDIR_P1 at the installation that
//                                        serves the user (below) when the user has
//                                        none (missing or empty) or it names another
//                                        installation of ours
//   QuennelUserSetup.exe /remove         takes back what the first form wrote: INSTDIR_P1
//                                        when it still names this folder (handed to
//                                        the installation that stays, if one does),
//                                        the user's Active Setup records (of this step
//                                        and of the Windows 11 package's), and keys
//                                        left empty
//   QuennelUserSetup.exe /remove /all    also the resize presets and the wizard's
//                                        remembered choices
//   /users                               with the first two forms: the same for each
//                                        user hive loaded below HKEY_USERS instead of
//                                        the current user (not for the service accounts)
//
// A user may have both packages: the per-machine one and the per-user one.
// The module the shell loads for them is the one in their own classes
// (HKCU\Software\Classes, which Windows puts over the machine's), and the
// module starts the transform.exe INSTDIR_P1 names: so INSTDIR_P1 names the
// per-user installation while it is there, else the per-machine one. Each
// installation is found where the shell finds its module (the class's
// InprocServer32), and counts only with transform.exe beside it. The packages
// run the first form after their registration is written and /remove after
// it is taken, so the registry shows what stays.
//
// A value the user set (naming no installation of ours) stays untouched. Exit code 0 when done, 1 for bad
// arguments, 2 when the registry refused a change. The program shows nothing:
// the shell runs it during logon.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "installer/OwnFolder.h"
#include "settings/AnsiText.h"
#include "settings/Settings.h"

namespace {

// The extension's class, as the packages register it (installer/Registration.wxi).
const wchar_t kClassServerKey[] =
    L"Software\\Classes\\CLSID\\{5B1C9E47-2D83-4A6F-9E10-7C4D2B8A63F1}\\InprocServer32";

// The Active Setup components of the per-machine packages: this step
// (installer/ActiveSetup.wxi) and the registration of Windows 11's package
// (installer/Windows11MenuFiles.wxi).
const wchar_t* const kActiveSetupKeys[] = {
    L"Software\\Microsoft\\Active Setup\\Installed Components\\{8E3D5A21-6C4B-4F7E-B2A9-1D0C7E5F9A36}",
    L"Software\\Microsoft\\Active Setup\\Installed Components\\{4A3979EC-4484-4FE4-A327-1F12DC22EFE5}",
};

const std::wstring kSuiteKey = AnsiText::Widen(Settings::KeyPath);           // Software\Vardel Software\Brindlework
const std::wstring kVendorKey = kSuiteKey.substr(0, kSuiteKey.find_last_of(L'\\'));  // Software\Vardel Software
const std::wstring kSetupKey = kSuiteKey + L"\\" + AnsiText::Widen(Settings::Section);
// The converter keeps the wizard's last choices here (converter/wizard/WizardChoices.h).
const std::wstring kWizardKey = kSuiteKey + L"\\Wizard";
const std::wstring kInstallDirValue = AnsiText::Widen(Settings::InstallDirValue);

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

// A hive of a person's account: S-1-5-21-... (local and domain accounts) or
// S-1-12-1-... (Azure AD accounts). Not .DEFAULT, not the service accounts
// S-1-5-18, -19 and -20, not the "_Classes" hives beside the users' own.
bool IsPersonHive(const std::wstring& name) {
    const bool person = name.compare(0, 9, L"S-1-5-21-") == 0 || name.compare(0, 9, L"S-1-12-1-") == 0;
    return person && name.find(L'_') == std::wstring::npos;
}

// The settings roots to work on: the current user's, or with /users those of
// every user whose hive is loaded now. The handles are closed by the caller.
std::vector<HKEY> UserRoots(bool allLoaded) {
    std::vector<HKEY> roots;
    if (!allLoaded) {
        roots.push_back(HKEY_CURRENT_USER);
        return roots;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        DWORD length = 256;
        const LONG rc = RegEnumKeyExW(HKEY_USERS, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS || !IsPersonHive(name)) continue;
        HKEY root = nullptr;
        if (RegOpenKeyExW(HKEY_USERS, name, 0, KEY_READ | KEY_WRITE, &root) == ERROR_SUCCESS) roots.push_back(root);
    }
    return roots;
}

void CloseRoots(const std::vector<HKEY>& roots) {
    for (HKEY root : roots)
        if (root != HKEY_CURRENT_USER) RegCloseKey(root);
}

// The folder the class's module is registered in below `root` (the
// 64-bit view: Explorer's), in its long form; empty when the class is not
// registered there or no transform.exe is beside the module.
std::wstring ServingFolder(HKEY root) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, kClassServerKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return std::wstring();
    DWORD type = REG_NONE;
    std::wstring module;
    const bool read = ReadValue(key, L"", type, module) && IsText(type);
    RegCloseKey(key);
    const size_t slash = module.find_last_of(L'\\');
    if (!read || slash == std::wstring::npos) return std::wstring();
    std::wstring folder = module.substr(0, slash);
    // Registered in its 8.3 form where the long one has a blank.
    std::wstring longFolder(32768, L'\0');
    const DWORD length = GetLongPathNameW(folder.c_str(), &longFolder[0], static_cast<DWORD>(longFolder.size()));
    if (length > 0 && length < longFolder.size()) folder.assign(longFolder.c_str(), length);
    const DWORD attributes = GetFileAttributesW((folder + L"\\transform.exe").c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::wstring();
    return folder;
}

// The installations a user may be served by, apart from the one leaving.
struct Installations {
    std::wstring perUser;     // in the user's own classes: the one the shell loads
    std::wstring perMachine;  // in the machine's classes

    Installations(HKEY userRoot, const std::wstring& leaving) {
        perUser = ServingFolder(userRoot);
        perMachine = ServingFolder(HKEY_LOCAL_MACHINE);
        if (!leaving.empty() && SameFolder(perUser, leaving)) perUser.clear();
        if (!leaving.empty() && SameFolder(perMachine, leaving)) perMachine.clear();
    }
    // The converter the user's menu should start: the per-user one while it
    // is there, since the shell loads the per-user module.
    const std::wstring& Serving() const { return perUser.empty() ? perMachine : perUser; }
    bool Names(const std::wstring& folder) const {
        return (!perUser.empty() && SameFolder(folder, perUser)) ||
               (!perMachine.empty() && SameFolder(folder, perMachine));
    }
};

bool WriteInstallDir(HKEY key, const std::wstring& folder) {
    return RegSetValueExW(key, kInstallDirValue.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                          static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool SetInstallDir(HKEY root, const std::wstring& folder) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, kSetupKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const Installations installed(root, std::wstring());
    const std::wstring& wanted = installed.Serving().empty() ? folder : installed.Serving();
    DWORD type = REG_NONE;
    std::wstring current;
    bool ok = true;
    // An empty text names no folder at all (the extension could not find its
    // converter with it); a folder of ours is ours to point elsewhere;
    // anything else is the user's choice.
    const bool present = ReadValue(key, kInstallDirValue, type, current);
    const bool ours = IsText(type) && (current.empty() || SameFolder(current, folder) || installed.Names(current));
    if (!present || (ours && !SameFolder(current, wanted))) ok = WriteInstallDir(key, wanted);
    RegCloseKey(key);
    return ok;
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
void DeleteEmptyKeys(HKEY root, std::wstring path, const std::wstring& last) {
    while (path.size() >= last.size() && KeyIsEmpty(root, path)) {
        if (RegDeleteKeyW(root, path.c_str()) != ERROR_SUCCESS) return;
        if (path.size() == last.size()) return;
        path.erase(path.find_last_of(L'\\'));
    }
}

bool Deleted(LONG rc) { return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND; }

bool RemoveSettings(HKEY root, const std::wstring& folder, bool presetsToo) {
    HKEY key = nullptr;
    bool failed = false;
    if (RegOpenKeyExW(root, kSetupKey.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        DWORD type = REG_NONE;
        std::wstring current;
        // Only the value this program writes; a folder the user chose stays.
        // The installation that stays, if one does, takes it over: without
        // INSTDIR_P1 its menu would show and a click would do nothing.
        if (ReadValue(key, kInstallDirValue, type, current) && IsText(type) && !folder.empty() &&
            SameFolder(current, folder)) {
            const Installations staying(root, folder);
            if (!staying.Serving().empty())
                failed |= !WriteInstallDir(key, staying.Serving());
            else
                failed |= RegDeleteValueW(key, kInstallDirValue.c_str()) != ERROR_SUCCESS;
        }
        if (presetsToo) {
            for (int preset = 1; preset <= Settings::PresetCount; ++preset) {
                for (const std::string& name : {Settings::SizeXValue(preset), Settings::SizeYValue(preset)})
                    failed |= !Deleted(RegDeleteValueW(key, AnsiText::Widen(name).c_str()));
            }
        }
        RegCloseKey(key);
    }
    // The wizard's key holds values only, so deleting the key takes them all.
    if (presetsToo) failed |= !Deleted(RegDeleteKeyW(root, kWizardKey.c_str()));
    // The suite may keep more below its key than these two: only keys that
    // nothing is left in go, up to the vendor's key (the extension itself
    // leaves an empty suite key behind whenever it reads its settings).
    DeleteEmptyKeys(root, kSetupKey, kVendorKey);
    DeleteEmptyKeys(root, kSuiteKey, kVendorKey);
    return !failed;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 2;
    bool remove = false, all = false, users = false, bad = false;
    for (int i = 1; i < argc; ++i) {
        if (CompareStringOrdinal(argv[i], -1, L"/remove", -1, TRUE) == CSTR_EQUAL)
            remove = true;
        else if (CompareStringOrdinal(argv[i], -1, L"/all", -1, TRUE) == CSTR_EQUAL)
            all = true;
        else if (CompareStringOrdinal(argv[i], -1, L"/users", -1, TRUE) == CSTR_EQUAL)
            users = true;
        else
            bad = true;
    }
    LocalFree(argv);
    // /all with /users would take other users' presets and choices, which
    // the removal was not asked about by them.
    if (bad || (all && !remove) || (all && users)) return 1;

    const std::wstring folder = OwnFolder();
    if (folder.empty()) return 2;
    const std::vector<HKEY> roots = UserRoots(users);
    bool failed = false;
    for (HKEY root : roots) {
        failed |= remove ? !RemoveSettings(root, folder, all) : !SetInstallDir(root, folder);
        // The shell's records that this user ran the steps, in every hive
        // whose settings were taken: without them, a later installation of
        // the same version runs the steps for the user again.
        if (remove)
            for (const wchar_t* record : kActiveSetupKeys) failed |= !Deleted(RegDeleteKeyW(root, record));
    }
    CloseRoots(roots);
    return failed ? 2 : 0;
}
