// Replaces one imported function of a loaded module for the scope of a test:
// the narrow seam for failures that the real platform cannot be made to give
// (a short write, a failing registry fetch, a message box that must not block).
#pragma once

#include <windows.h>

class ImportPatch {
public:
    // `dll` is matched without regard to case ("KERNEL32.dll").
    ImportPatch(HMODULE module, const char* dll, const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    bool Applied() const { return slot_ != nullptr; }
    void* Original() const { return original_; }

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};
