#include "RegistryTree.h"

#include <vector>

RegValue Sz(const std::string& text) {
    return RegValue{REG_SZ, text + std::string(1, '\0')};
}

void PrintTo(const RegValue& value, std::ostream* out) {
    *out << "type " << value.type << " \"";
    for (unsigned char c : value.data) {
        if (c >= 0x20 && c < 0x7F) {
            *out << c;
        } else {
            static const char hex[] = "0123456789ABCDEF";
            *out << "\\x" << hex[c >> 4] << hex[c & 15];
        }
    }
    *out << '"';
}

namespace {
void PrintIndented(const RegTree& tree, std::ostream* out, int depth) {
    const std::string indent(static_cast<size_t>(depth) * 2, ' ');
    for (const auto& [name, value] : tree.values) {
        *out << indent << (name.empty() ? "(default)" : name) << " = ";
        PrintTo(value, out);
        *out << '\n';
    }
    for (const auto& [name, sub] : tree.subkeys) {
        *out << indent << '[' << name << "]\n";
        PrintIndented(sub, out, depth + 1);
    }
}
}  // namespace

void PrintTo(const RegTree& tree, std::ostream* out) {
    if (!tree.exists) {
        *out << "<no key>";
        return;
    }
    *out << "\n";
    PrintIndented(tree, out, 1);
}

bool KeyExists(HKEY root, const std::string& path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::optional<RegValue> ReadValue(HKEY root, const std::string& path, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    std::optional<RegValue> result;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<BYTE> data(size + 1);
        if (RegQueryValueExA(key, name.c_str(), nullptr, &type, data.data(), &size) == ERROR_SUCCESS)
            result = RegValue{type, std::string(reinterpret_cast<char*>(data.data()), size)};
    }
    RegCloseKey(key);
    return result;
}

namespace {
RegTree ReadOpenKey(HKEY key) {
    RegTree tree;
    tree.exists = true;
    DWORD subkeyCount = 0, maxSubkey = 0, valueCount = 0, maxName = 0, maxData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeyCount, &maxSubkey, nullptr, &valueCount,
                         &maxName, &maxData, nullptr, nullptr) != ERROR_SUCCESS)
        return tree;
    for (DWORD i = 0; i < valueCount; ++i) {
        std::vector<char> name(maxName + 2);
        std::vector<BYTE> data(maxData + 1);
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueA(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength) !=
            ERROR_SUCCESS)
            continue;
        tree.values[std::string(name.data(), nameLength)] =
            RegValue{type, std::string(reinterpret_cast<char*>(data.data()), dataLength)};
    }
    for (DWORD i = 0; i < subkeyCount; ++i) {
        std::vector<char> name(maxSubkey + 2);
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (RegEnumKeyExA(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        const std::string subName(name.data(), nameLength);
        HKEY sub = nullptr;
        if (RegOpenKeyExA(key, subName.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) continue;
        tree.subkeys[subName] = ReadOpenKey(sub);
        RegCloseKey(sub);
    }
    return tree;
}

void WriteOpenKey(HKEY key, const RegTree& tree) {
    for (const auto& [name, value] : tree.values)
        RegSetValueExA(key, name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.data.data()),
                       static_cast<DWORD>(value.data.size()));
    for (const auto& [name, sub] : tree.subkeys) {
        HKEY child = nullptr;
        if (RegCreateKeyExA(key, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr) !=
            ERROR_SUCCESS)
            continue;
        WriteOpenKey(child, sub);
        RegCloseKey(child);
    }
}
}  // namespace

RegTree ReadTree(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return RegTree{};
    RegTree tree = ReadOpenKey(key);
    RegCloseKey(key);
    return tree;
}

void WriteValue(HKEY root, const std::string& path, const std::string& name, const RegValue& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.data.data()),
                   static_cast<DWORD>(value.data.size()));
    RegCloseKey(key);
}

void DeleteValue(HKEY root, const std::string& path, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
}

void DeleteTree(HKEY root, const std::string& path) {
    RegDeleteTreeA(root, path.c_str());  // empties the key
    RegDeleteKeyA(root, path.c_str());
}

void RestoreTree(HKEY root, const std::string& path, const RegTree& tree) {
    DeleteTree(root, path);
    if (!tree.exists) return;
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    WriteOpenKey(key, tree);
    RegCloseKey(key);
}
