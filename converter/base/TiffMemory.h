// libtiff over bytes in memory instead of a file: the TIFF reader takes the
// file's bytes as every reader of ours does, and the writer makes its bytes
// in memory, which the pipeline then writes to a temporary file and moves
// into place. Pure: no Windows types of ours (libtiff's own header brings
// windows.h on Windows).
#pragma once

#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "converter/base/RandomAccess.h"

namespace TiffMemory {

// The bytes libtiff reads (`data`, `size`) or writes (`out`: in memory or
// the result's file), and where it stands.
struct File {
    const uint8_t* data = nullptr;
    size_t size = 0;
    RandomAccess* out = nullptr;
    uint64_t at = 0;
};

// Opens `file` for reading ("r") or writing ("w"); libtiff's messages are
// swallowed (its default prints them, or on Windows may show them). No single
// allocation of libtiff's may pass `maxAllocation` bytes. nullptr when the
// bytes are no TIFF or libtiff could not start. The TIFF is closed with
// TIFFClose; `file` must outlive it.
TIFF* Open(File& file, const char* mode, uint64_t maxAllocation);

// Closes a TIFF at the end of a scope.
struct Closer {
    TIFF* tiff;
    ~Closer() {
        if (tiff) TIFFClose(tiff);
    }
};

}  // namespace TiffMemory
