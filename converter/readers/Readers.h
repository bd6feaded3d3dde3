// The single door every picture is read through, as the format table is
// for writing: one table of readers (Readers.cpp), each with its name, its
// extensions and its reader. A file goes to the reader its content names
// first (a JPEG named .png is still read as a JPEG), then to the readers of
// its extension (formats without magic bytes, such as TGA), and last to
// whatever codecs the platform has installed, unless its extension belongs
// to a reader of our own: those kinds never depend on a platform decoder
// that one Windows has and another lacks.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <cstdint>
#include <string>
#include <vector>

#include "converter/readers/Reader.h"

namespace Readers {

// A picture larger than this many pixels is refused before any memory is
// taken for it: its header may lie, and 4 bytes a pixel must fit in the
// worker's share of the address space.
constexpr uint64_t MaxPixels = sizeof(void*) == 8 ? (uint64_t{1} << 28) : (uint64_t{1} << 26);
// Readers of our own take the whole file into memory; a larger file is
// skipped. The platform's readers read from the path and know no such cap.
constexpr uint64_t MaxFileBytes = sizeof(void*) == 8 ? (uint64_t{1} << 30) : (uint64_t{256} << 20);

struct Picture {
    Decoded decoded;                          // as stored: the pipeline turns it upright
    const wchar_t* kind = nullptr;            // the reader's name: L"JPEG", L"TGA"
    // What names the source's own format for keeping it: the conversion
    // token of our table's kind, else the platform decoder's container.
    const char* sameToken = nullptr;
    GUID container = GUID_NULL;
    // German, when the picture was read but not all of it was there ("cut
    // short: the rest is grey"); nullptr otherwise.
    const wchar_t* remark = nullptr;
};

// Reads the picture at `path`. Empty on success, else the German reason
// the file is skipped for. Never throws.
std::wstring Read(IWICImagingFactory* wic, const std::wstring& path, const ReadRequest& request, Picture& picture);

// What a folder stands for: the extensions (lower case, with their dot) of
// every kind the door reads, its own table's and those of the decoders the
// platform has installed. Uses a WIC factory of its own.
std::vector<std::wstring> FolderExtensions();

}  // namespace Readers
