#include "support/SettingsKey.h"

const char kSettingsKey[] = "Software\\Vardel Software\\Brindlework";
const char kSettingsSection[] = "SETUP";

namespace {

std::string SectionPath() { return std::string(kSettingsKey) + "\\" + kSettingsSection; }

bool KeyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool KeyCounts(const std::string& path, DWORD& subkeys, DWORD& values) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    const LONG rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                     nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

}  // namespace

bool DeleteSettingsKey() {
    RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    return !SettingsKeyExists();
}

bool SettingsKeyExists() { return KeyExists(kSettingsKey); }
bool SettingsSectionExists() { return KeyExists(SectionPath()); }

long ValueCount(const std::string& key) {
    DWORD subkeys = 0, values = 0;
    return KeyCounts(key, subkeys, values) ? static_cast<long>(values) : -1;
}

long SubkeyCount(const std::string& key) {
    DWORD subkeys = 0, values = 0;
    return KeyCounts(key, subkeys, values) ? static_cast<long>(subkeys) : -1;
}

bool WriteSetting(const std::string& name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SectionPath().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG rc = RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool WriteSettingText(const std::string& name, const std::string& text) {
    return WriteSetting(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

bool WriteSettingDword(const std::string& name, DWORD value) {
    return WriteSetting(name, REG_DWORD, &value, sizeof value);
}
