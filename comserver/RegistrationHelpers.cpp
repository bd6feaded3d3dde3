#include "comserver/RegistrationHelpers.h"

#include <new>

#include "comserver/Exceptions.h"
#include "resources/Messages.h"

void WriteClassKey(const std::string& key, const std::string& valueName, const std::string& value) {
    char noClass[] = "";
    HKEY handle = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, noClass, REG_OPTION_NON_VOLATILE,
                              KEY_READ | KEY_WRITE, nullptr, &handle, nullptr);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueExA(handle, valueName.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
        RegCloseKey(handle);
    }
    if (rc != ERROR_SUCCESS) throw EOleRegistrationError(Messages::RegistryWriteFailed);
}

void DeleteClassKey(const std::string& key) {
    RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
}

std::string ClassIdText(REFCLSID classId) {
    LPOLESTR wide = nullptr;
    // Its one way to fail is running out of task memory.
    if (FAILED(StringFromCLSID(classId, &wide)) || !wide) throw std::bad_alloc();
    // The appends may throw std::bad_alloc; COM's memory goes back either way.
    struct TaskMemory {
        LPOLESTR text;
        ~TaskMemory() { CoTaskMemFree(text); }
    } owner{wide};
    std::string text;
    for (const OLECHAR* c = wide; *c; ++c) text += static_cast<char>(*c);  // braces, hex, hyphens
    return text;
}

const char* ThreadingModelName(TThreadingModel model) {
    switch (model) {
    case tmApartment: return "Apartment";
    case tmFree: return "Free";
    case tmBoth: return "Both";
    case tmNeutral: return "Neutral";
    case tmSingle: break;
    }
    return "";
}

std::string RegisteredServerPath(const std::string& longPath) {
    if (longPath.find(' ') == std::string::npos) return longPath;
    char shortPath[MAX_PATH] = {};
    const DWORD length = GetShortPathNameA(longPath.c_str(), shortPath, sizeof shortPath);
    // 0 is failure; a value of the buffer's size or more is the size it would need.
    if (length == 0 || length >= sizeof shortPath) return longPath;
    return std::string(shortPath, length);
}

// ---------------------------------------------------------------------------
// Pure path rules

std::string PathDirectory(const std::string& path) {
    const size_t last = path.find_last_of("\\:");
    if (last == std::string::npos) return std::string();
    const bool dropIt = path[last] == '\\' && (last == 0 || (path[last - 1] != '\\' && path[last - 1] != ':'));
    return path.substr(0, dropIt ? last : last + 1);
}

std::string PathDrivePart(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        const size_t serverEnd = path.find('\\', 2);
        if (serverEnd == std::string::npos) return path;
        const size_t shareEnd = path.find('\\', serverEnd + 1);
        return shareEnd == std::string::npos ? path : path.substr(0, shareEnd);
    }
    return std::string();
}

std::string LongPathByWalk(const std::string& path, const LongNameLookup& lookup) {
    std::string result;
    std::string working = path;
    std::string name;
    while (lookup(working, name)) {
        result = "\\" + name + result;
        std::string directory = PathDirectory(working);
        // A path that ends in a kept delimiter does not get shorter: stop there
        // rather than look the same path up again.
        const bool shorter = directory.size() < working.size();
        working = std::move(directory);
        if (!shorter || working.size() <= 2) break;
    }
    return PathDrivePart(working) + result;
}
