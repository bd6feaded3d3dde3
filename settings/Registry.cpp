#include "settings/Registry.h"

#include <algorithm>
#include <utility>
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

std::string TRegistry::PathBelow(HKEY base, const std::string& relative) const {
    return current_ != nullptr && base == current_ ? currentPath_ + "\\" + relative : relative;
}

void TRegistry::SetCurrentKey(HKEY key, std::string path) noexcept {
    current_ = key;
    currentPath_ = std::move(path);
}

void TRegistry::ExchangeCurrentKey(HKEY& key, std::string& path) noexcept {
    std::swap(current_, key);
    currentPath_.swap(path);
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    std::string relative;
    const HKEY base = BaseKeyFor(key, relative);
    // Built before the key is opened, so that nothing can throw while the new
    // handle has no owner.
    std::string path = PathBelow(base, relative);
    HKEY opened = nullptr;
    LONG rc;
    if (canCreate) {
        rc = RegCreateKeyExA(base, relative.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access_,
                             nullptr, &opened, nullptr);
    } else {
        rc = RegOpenKeyExA(base, relative.c_str(), 0, access_, &opened);
    }
    if (rc != ERROR_SUCCESS) return false;
    CloseKey();
    SetCurrentKey(opened, std::move(path));
    return true;
}

void TRegistry::CloseKey() {
    // Lazy write: the handle is closed without a flush.
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

// Makes an opened section key the reader's current key for one read. On
// every way out, failures included, the previous current key comes back
// first, then the section key is closed.
class TRegIniFile::SectionScope {
public:
    SectionScope(TRegIniFile& reader, HKEY section, std::string path) noexcept
        : reader_(reader), key_(section), path_(std::move(path)) {
        reader_.ExchangeCurrentKey(key_, path_);  // key_/path_ now hold the previous key
    }
    ~SectionScope() {
        reader_.ExchangeCurrentKey(key_, path_);  // key_/path_ hold the section key again
        RegCloseKey(key_);
    }
    SectionScope(const SectionScope&) = delete;
    SectionScope& operator=(const SectionScope&) = delete;

private:
    TRegIniFile& reader_;
    HKEY key_;
    std::string path_;
};

std::string TRegIniFile::ReadText(const std::string& section, const std::string& name,
                                  const std::string& def) {
    std::string relative;
    const HKEY base = BaseKeyFor(section, relative);
    std::string sectionPath = PathBelow(base, relative);
    HKEY sectionKey = nullptr;
    // The section is only opened, never created.
    if (RegOpenKeyExA(base, relative.c_str(), 0, Access(), &sectionKey) != ERROR_SUCCESS) return def;

    const SectionScope scope(*this, sectionKey, std::move(sectionPath));

    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(sectionKey, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return def;

    // The size is asked again right before the fetch, as the value may have
    // changed in between; data of zero length reads as empty text whatever
    // its type.
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
    const size_t end = std::min<size_t>(size, data.size());
    size_t length = 0;
    while (length < end && data[length] != 0) ++length;
    return std::string(reinterpret_cast<const char*>(data.data()), length);
}

int32_t TRegIniFile::ReadNumber(const std::string& section, const std::string& name, int32_t def) {
    int32_t value = def;
    const std::string text = ReadText(section, name, std::string());
    return ParseIntegerText(text, value) ? value : def;
}
