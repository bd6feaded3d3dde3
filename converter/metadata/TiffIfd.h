// The directories (IFDs) of a TIFF structure: a TIFF file's first page (of a
// classic TIFF or a BigTIFF) or an Exif block, which is one. Read into a tree, bounded: a directory is read
// once however the file's pointers loop, at most a few levels deep, and every
// value must lie inside the bytes. Written back whole in either byte order,
// so tags can move from an Exif block into a TIFF file and back. Pure: no
// Windows types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "converter/base/ReadAt.h"

namespace TiffIfd {

// Tags whose value is the offset of a directory of their own.
constexpr uint16_t ExifPointer = 0x8769;
constexpr uint16_t GpsPointer = 0x8825;
constexpr uint16_t InteropPointer = 0xA005;

struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;  // TIFF field type, 1 (BYTE) to 13 (IFD)
    uint32_t count = 0;
    std::vector<uint8_t> value;  // count values, each little-endian
    uint64_t at = 0;             // where the value lies in the bytes read
    uint64_t entryAt = 0;        // where the entry's 12 bytes lie
    std::vector<Entry> directory;  // a pointer tag's directory, read as well
};
using Directory = std::vector<Entry>;

struct Structure {
    bool bigEndian = false;
    bool bigTiff = false;     // read from a BigTIFF file (its entries as a classic directory holds them)
    Directory first;
    bool cutShort = false;    // the bytes end inside the first directory (or before its link to the next)
    uint64_t nextLinkAt = 0;  // where it names the next (a thumbnail, a page); 0: cut short
};

// The first directory and the directories its pointer tags name, from a
// structure of `size` bytes read through `readAt` (a file: the first
// directory may lie anywhere, after the pixels too). False when the bytes
// are no TIFF structure; a directory cut short by the end is read as far as
// its entries are whole; entries of an unknown type or pointing outside the
// bytes are left out.
bool Read(const ReadAt& readAt, uint64_t size, Structure& out);
// The same from bytes in memory.
bool Read(const uint8_t* data, size_t size, Structure& out);

// The entry of `tag`, or nullptr.
const Entry* Find(const Directory& directory, uint16_t tag);
// The first value of a SHORT or LONG entry; `fallback` when there is none.
uint32_t Number(const Entry* entry, uint32_t fallback = 0);
// The first value of a RATIONAL entry; 0 when there is none or it divides by 0.
double Rational(const Entry* entry);

Entry Short(uint16_t tag, uint16_t value);
Entry RationalOf(uint16_t tag, double value);
Entry Undefined(uint16_t tag, uint16_t type, const std::vector<uint8_t>& bytes);

// Appends the directory (sorted by tag, its pointer tags' directories after
// it) to `out`, which begins at `base` in the file: offsets count from the
// file's start. The offset of the directory written; 0 when the file would
// pass 4 GiB, which offsets cannot name.
uint32_t Write(Directory directory, bool bigEndian, std::vector<uint8_t>& out, uint64_t base = 0);

// A whole Exif block: TIFF header (little-endian) and this first directory.
std::vector<uint8_t> WriteBlock(const Directory& first);

}  // namespace TiffIfd
