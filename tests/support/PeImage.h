// Reads a PE file (DLL or EXE) from disk, without loading it, and answers
// what its export and import tables hold. Works for 32-bit and 64-bit images
// whatever the test program's own width.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class PeImage {
public:
    struct Export {
        DWORD ordinal = 0;  // biased: ordinal base + index
        std::string name;   // empty for an export by ordinal only
        DWORD rva = 0;
    };

    // Reads and checks the headers; on failure Error() says why.
    bool Load(const std::string& path);
    const std::string& Error() const { return error_; }

    WORD Machine() const { return machine_; }
    bool Is64() const { return is64_; }

    // The export directory's own module name ("QuennelExt.dll"), empty if none.
    std::string ExportModuleName() const;
    // Every non-empty slot of the export address table, in ordinal order.
    std::vector<Export> Exports() const;
    // Names of the DLLs of the import table, then of the delay-import table.
    std::vector<std::string> ImportedDlls() const;
    std::vector<std::string> DelayImportedDlls() const;
    // Functions imported by name from `dll` (case-insensitive match).
    std::vector<std::string> ImportedFunctions(const std::string& dll) const;

private:
    // File offset of `size` bytes at `rva`, or nullptr when they lie outside
    // every section (or the file).
    const uint8_t* At(DWORD rva, size_t size) const;
    std::string StringAt(DWORD rva) const;
    IMAGE_DATA_DIRECTORY Directory(int index) const;

    std::vector<uint8_t> file_;
    std::string error_;
    WORD machine_ = 0;
    bool is64_ = false;
    const IMAGE_SECTION_HEADER* sections_ = nullptr;
    WORD sectionCount_ = 0;
    const IMAGE_DATA_DIRECTORY* directories_ = nullptr;
    DWORD directoryCount_ = 0;
};
