// The suite's settings key below HKEY_CURRENT_USER, as tests set it up and
// read it back. The registry is shared by every test program of a prefix, so
// a test that touches the key removes it before and after itself.
#pragma once

#include <windows.h>

#include <string>

// "Software\Vardel Software\Brindlework" and its section "SETUP".
extern const char kSettingsKey[];
extern const char kSettingsSection[];

// Removes the settings key with everything below it; true when it is gone.
bool DeleteSettingsKey();
bool SettingsKeyExists();
bool SettingsSectionExists();

// Values and subkeys directly in a key below HKEY_CURRENT_USER; -1 when the
// key cannot be opened.
long ValueCount(const std::string& key);
long SubkeyCount(const std::string& key);

// Writes a value of any type and data into section "SETUP", creating the key
// and the section as needed; true on success.
bool WriteSetting(const std::string& name, DWORD type, const void* data, DWORD size);
// A REG_SZ value: the text and its zero.
bool WriteSettingText(const std::string& name, const std::string& text);
bool WriteSettingDword(const std::string& name, DWORD value);

// Deletes the settings key when made and again when it goes.
class CleanSettingsKey {
public:
    CleanSettingsKey() { DeleteSettingsKey(); }
    ~CleanSettingsKey() { DeleteSettingsKey(); }
    CleanSettingsKey(const CleanSettingsKey&) = delete;
    CleanSettingsKey& operator=(const CleanSettingsKey&) = delete;
};
