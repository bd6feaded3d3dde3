#include "settings/Registry.h"

#include <vector>

#include "comserver/Exceptions.h"
#include "resources/Messages.h"
#include "settings/IntegerText.h"

// ---------------------------------------------------------------------------
// TRegistry

TRegistry::TRegistry(REGSAM access) : access_(access) {}

TRegistry::~TRegistry() {
    CloseKey();
}

void TRegistry::SetRootKey(HKEY root) {
    CloseKey();
    root_ = root;
}

HKEY TRegistry::BaseKeyFor(const std::string& path, std::string& relative) const {
    if (!path.empty() && path[0] == '\\') {
        relative = path.substr(1);
        return root_;
    }
    relative = path;
    return current_ ? current_ : root_;
}

void TRegistry::SetCurrentKey(HKEY key, const std::string& path) {
    current_ = key;
    currentPath_ = path;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    std::string relative;
    const HKEY base = BaseKeyFor(key, relative);
    const bool fromCurrent = base == current_ && current_ != nullptr;
    HKEY opened = nullptr;
    LONG rc;
    if (canCreate) {
        rc = RegCreateKeyExA(base, relative.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access_,
                             nullptr, &opened, nullptr);
    } else {
        rc = RegOpenKeyExA(base, relative.c_str(), 0, access_, &opened);
    }
    if (rc != ERROR_SUCCESS) return false;
    const std::string path = fromCurrent ? currentPath_ + "\\" + relative : relative;
    CloseKey();
    SetCurrentKey(opened, path);
    return true;
}

void TRegistry::CloseKey() {
    // Lazy write: the handle is closed without a flush; the registry writes
    // back on its own schedule.
    if (current_) RegCloseKey(current_);
    current_ = nullptr;
    currentPath_.clear();
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    const LONG rc = RegSetValueExA(current_, name.c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1));
    if (rc != ERROR_SUCCESS)
        throw ERegistryException(Messages::Format(Messages::ErrorSettingData, name));
}

// ---------------------------------------------------------------------------
// TRegIniFile

TRegIniFile::TRegIniFile(const std::string& keyPath) : TRegistry(KEY_ALL_ACCESS), keyPath_(keyPath) {
    // Without the key (no right to create it) every section is looked up
    // below the root instead; creation never reports a failure.
    OpenKey(keyPath, true);
}


std::string TRegIniFile::ReadText(const std::string& section, const std::string& name,
                                  const std::string& def) {
    std::string relative;
    const HKEY base = BaseKeyFor(section, relative);
    HKEY sectionKey = nullptr;
    if (RegOpenKeyExA(base, relative.c_str(), 0, Access(), &sectionKey) != ERROR_SUCCESS) return def;

    // The section key is current for the read; on every way out the previous
    // current key comes back first, then the section key is closed.
    struct SectionScope {
        TRegIniFile& reader;
        HKEY section;
        HKEY previous;
        std::string previousPath;
        ~SectionScope() {
            reader.SetCurrentKey(previous, previousPath);
            RegCloseKey(section);
        }
    } scope{*this, sectionKey, CurrentKey(), CurrentPath()};
    SetCurrentKey(sectionKey, scope.previousPath + "\\" + relative);

    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(sectionKey, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return def;

    // The size is asked again right before the fetch, as the value may have
    // changed in between; data of zero length reads as empty text.
    size = 0;
    if (RegQueryValueExA(sectionKey, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        size == 0)
        return std::string();

    std::vector<BYTE> data(size);
    if (RegQueryValueExA(sectionKey, name.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        throw ERegistryException(Messages::Format(Messages::ErrorGettingData, name));
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw ERegistryException(Messages::Format(Messages::InvalidDataType, name));

    // Text up to the first zero byte; environment references stay unexpanded.
    size_t length = 0;
    while (length < size && data[length] != 0) ++length;
    return std::string(reinterpret_cast<const char*>(data.data()), length);
}

int32_t TRegIniFile::ReadNumber(const std::string& section, const std::string& name, int32_t def) {
    int32_t value = def;
    const std::string text = ReadText(section, name, std::string());
    return ParseIntegerText(text, value) ? value : def;
}
