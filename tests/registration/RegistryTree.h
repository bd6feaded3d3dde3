// Reads, compares, removes and puts back registry subtrees in the running
// process's own registry view, which is the view the extension DLL of the same
// bitness writes.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <ostream>
#include <string>

struct RegValue {
    DWORD type = REG_NONE;
    std::string data;  // the raw bytes, terminating zero included
    bool operator==(const RegValue& other) const { return type == other.type && data == other.data; }
    bool operator!=(const RegValue& other) const { return !(*this == other); }
};

// A REG_SZ value as the registration writes it: the text and one zero byte.
RegValue Sz(const std::string& text);

struct RegTree {
    bool exists = false;
    std::map<std::string, RegValue> values;  // "" is the default value
    std::map<std::string, RegTree> subkeys;
    bool operator==(const RegTree& other) const {
        return exists == other.exists && values == other.values && subkeys == other.subkeys;
    }
    bool operator!=(const RegTree& other) const { return !(*this == other); }
};

void PrintTo(const RegValue& value, std::ostream* out);
void PrintTo(const RegTree& tree, std::ostream* out);

bool KeyExists(HKEY root, const std::string& path, REGSAM view = 0);
std::optional<RegValue> ReadValue(HKEY root, const std::string& path, const std::string& name);
RegTree ReadTree(HKEY root, const std::string& path);

// Creates the key (and the keys above it) when missing.
void WriteValue(HKEY root, const std::string& path, const std::string& name, const RegValue& value);
void DeleteValue(HKEY root, const std::string& path, const std::string& name);
// The key with everything below it; nothing when it is missing.
void DeleteTree(HKEY root, const std::string& path);
// Replaces whatever is at `path` by `tree` (or by nothing when !tree.exists).
void RestoreTree(HKEY root, const std::string& path, const RegTree& tree);
