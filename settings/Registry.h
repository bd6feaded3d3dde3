// Registry key class and the settings reader built on it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// One open registry key at a time (the current key), below a root key.
// A path that begins with "\" is taken from the root key; any other path from
// the current key when there is one, else from the root key.
class TRegistry {
public:
    explicit TRegistry(REGSAM access = KEY_ALL_ACCESS);
    virtual ~TRegistry();  // closes the current key (lazy write: no flush)

    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    void SetRootKey(HKEY root);  // closes the current key
    HKEY RootKey() const { return root_; }
    HKEY CurrentKey() const { return current_; }
    const std::string& CurrentPath() const { return currentPath_; }
    REGSAM Access() const { return access_; }
    bool LazyWrite() const { return lazyWrite_; }

    // Opens `key`, creating it (and every missing key above it) when canCreate.
    // On success the key becomes the current key and the previous one is closed.
    bool OpenKey(const std::string& key, bool canCreate);
    void CloseKey();

    // Sets a REG_SZ value in the current key; ERegistryException on failure.
    void WriteString(const std::string& name, const std::string& value);

protected:
    // Resolves a path to (base key, relative path) by the rule above.
    HKEY BaseKeyFor(const std::string& path, std::string& relative) const;
    // The path a key opened as `relative` below `base` is known by.
    std::string PathBelow(HKEY base, const std::string& relative) const;
    // Makes `key` current without closing the previous one (the caller keeps it).
    void SetCurrentKey(HKEY key, std::string path) noexcept;
    // Swaps the current key and its path with the given ones, closing nothing;
    // cannot fail, so it is safe on every way out of a read.
    void ExchangeCurrentKey(HKEY& key, std::string& path) noexcept;

private:
    HKEY root_ = HKEY_CURRENT_USER;
    REGSAM access_;
    HKEY current_ = nullptr;
    std::string currentPath_;
    // Closing a key never flushes it: the registry writes back on its own
    // schedule, and a flush per read would cost a disk write each time.
    const bool lazyWrite_ = true;
};

// Reads values of sections (subkeys) below one key. Reads only: it never
// writes a value, and it never creates a section. Creating the reader creates
// its key when that is missing.
class TRegIniFile : public TRegistry {
public:
    explicit TRegIniFile(const std::string& keyPath);

    // The value's text; `def` when the section or value is missing. Data of
    // zero length reads as empty text (not as `def`).
    // ERegistryException for a non-text type or a failing fetch.
    std::string ReadText(const std::string& section, const std::string& name, const std::string& def);
    // The value's text as an integer; `def` when missing, empty or not an
    // integer. ERegistryException as for ReadText.
    int32_t ReadNumber(const std::string& section, const std::string& name, int32_t def);

    const std::string& FileName() const { return keyPath_; }

private:
    class SectionScope;
    std::string keyPath_;
};
