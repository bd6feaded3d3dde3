#include "converter/metadata/TiffIfd.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

namespace TiffIfd {
namespace {

// More entries than any camera writes; a directory claiming more is damaged.
constexpr uint32_t MaxEntries = 1024;
constexpr int MaxDepth = 3;
// No value a picture's tags need is larger; a file's count beyond it is not
// read into memory.
constexpr uint64_t MaxValueBytes = uint64_t{64} << 20;

// Bytes of one value of the type, and of the unit swapped between byte
// orders (a RATIONAL is two LONGs); 0 for a type TIFF does not define.
size_t TypeSize(uint16_t type) {
    // BigTIFF adds LONG8, SLONG8 and IFD8 (16 to 18).
    static const uint8_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
    return type < sizeof sizes ? sizes[type] : 0;
}
size_t UnitSize(uint16_t type) {
    const size_t size = TypeSize(type);
    return type == 5 || type == 10 ? 4 : size;
}

bool IsPointer(uint16_t tag) { return tag == ExifPointer || tag == GpsPointer || tag == InteropPointer; }

// Reverses every unit of the value: between little-endian and the file's order.
void Swap(std::vector<uint8_t>& value, uint16_t type) {
    const size_t unit = UnitSize(type);
    if (unit < 2) return;
    for (size_t i = 0; i + unit <= value.size(); i += unit) std::reverse(value.begin() + i, value.begin() + i + unit);
}

struct Reader {
    const ReadAt& readAt;
    uint64_t size;
    bool bigEndian;
    bool bigTiff;  // BigTIFF: 8-byte offsets and counts, 20-byte entries
    std::set<uint64_t> seen;  // directories read: a pointer back to one is a loop
    // What the values copied may take in all: as much as the bytes read,
    // and at most 16 MiB. Values of a sound structure do not overlap; a
    // crafted one whose entries all name the whole block would otherwise
    // hold its size squared. Entries beyond it are left out.
    uint64_t valueBudget = size < (uint64_t{16} << 20) ? size : uint64_t{16} << 20;

    bool Bytes(uint64_t at, uint8_t* into, size_t n) const {
        return at <= size && size - at >= n && (n == 0 || readAt(at, into, n) == n);
    }
    // An unsigned number of `n` bytes (2, 4 or 8) in the file's order.
    uint64_t Of(const uint8_t* b, int n) const {
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | b[bigEndian ? i : n - 1 - i];
        return v;
    }
    bool Number(uint64_t at, int n, uint64_t& v) const {
        uint8_t b[8];
        if (!Bytes(at, b, static_cast<size_t>(n))) return false;
        v = Of(b, n);
        return true;
    }

    // The directory at `offset`. One cut short by the end of the bytes is
    // read as far as its entries are whole (`cutShort` set), as viewers do:
    // the block still says what they show.
    bool Directory(uint64_t offset, int depth, TiffIfd::Directory& out, Structure* top) {
        const int countBytes = bigTiff ? 8 : 2, fieldBytes = bigTiff ? 8 : 4;
        const uint64_t entryBytes = bigTiff ? 20 : 12;
        uint64_t count = 0;
        if (!seen.insert(offset).second || !Number(offset, countBytes, count) || count > MaxEntries) return false;
        const uint64_t tableAt = offset + countBytes;
        const uint64_t room = size - tableAt;  // Number above: tableAt <= size
        uint64_t whole = count;
        if (room < count * entryBytes + fieldBytes) {
            whole = std::min<uint64_t>(count, room / entryBytes);
            if (top) top->cutShort = true;
        } else if (top) {
            top->nextLinkAt = tableAt + count * entryBytes;
        }
        std::vector<uint8_t> table(static_cast<size_t>(whole * entryBytes));
        if (!Bytes(tableAt, table.data(), table.size())) return false;
        for (uint64_t i = 0; i < whole; ++i) {
            const uint8_t* e = table.data() + i * entryBytes;
            const uint8_t* field = e + 4 + fieldBytes;  // the value, or where it lies
            const uint32_t tag = static_cast<uint32_t>(Of(e, 2));
            const uint32_t type = static_cast<uint32_t>(Of(e + 2, 2));
            const uint64_t values = Of(e + 4, fieldBytes);
            const size_t typeSize = TypeSize(static_cast<uint16_t>(type));
            if (typeSize == 0 || values > size / typeSize || values > UINT32_MAX) continue;
            const uint64_t bytes = uint64_t{typeSize} * values;
            if (IsPointer(static_cast<uint16_t>(tag))) {
                // Read here, whatever its width; kept as a LONG, which is
                // how a result's directory names it.
                // An 8-byte pointer fits only a BigTIFF entry's value field.
                if ((type != 4 && type != 13 && type != 16 && type != 18) || values != 1 || depth >= MaxDepth ||
                    typeSize > static_cast<size_t>(fieldBytes))
                    continue;
                Entry entry;
                entry.tag = static_cast<uint16_t>(tag);
                entry.type = 4;
                entry.count = 1;
                entry.entryAt = tableAt + i * entryBytes;
                entry.at = entry.entryAt + 4 + fieldBytes;
                const uint64_t pointer = Of(field, static_cast<int>(typeSize));
                for (int b = 0; b < 4; ++b) entry.value.push_back(static_cast<uint8_t>(pointer >> (8 * b)));
                if (!Directory(pointer, depth + 1, entry.directory, nullptr))
                    continue;  // a pointer to nothing readable: left out with what it points to
                out.push_back(std::move(entry));
                continue;
            }
            // A classic TIFF's directory has no place for BigTIFF's 8-byte numbers.
            if (type >= 16 || bytes > MaxValueBytes) continue;
            Entry entry;
            entry.tag = static_cast<uint16_t>(tag);
            entry.type = static_cast<uint16_t>(type);
            entry.count = static_cast<uint32_t>(values);
            entry.entryAt = tableAt + i * entryBytes;
            entry.at = entry.entryAt + 4 + fieldBytes;
            if (bytes > static_cast<uint64_t>(fieldBytes)) {
                const uint64_t pointer = Of(field, fieldBytes);
                if (pointer > size || size - pointer < bytes) continue;
                entry.at = pointer;
            }
            if (bytes > valueBudget) continue;
            valueBudget -= bytes;
            entry.value.resize(static_cast<size_t>(bytes));
            if (!Bytes(entry.at, entry.value.data(), entry.value.size())) continue;
            if (bigEndian) Swap(entry.value, entry.type);
            out.push_back(std::move(entry));
        }
        return true;
    }
};

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t v, bool bigEndian) {
    out[at + (bigEndian ? 1 : 0)] = static_cast<uint8_t>(v);
    out[at + (bigEndian ? 0 : 1)] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v, bool bigEndian) {
    Put16(out, at + (bigEndian ? 2 : 0), v & 0xFFFF, bigEndian);
    Put16(out, at + (bigEndian ? 0 : 2), v >> 16, bigEndian);
}

constexpr size_t MaxOffset = 0xFFFFFFF0u;

}  // namespace

bool Read(const ReadAt& readAt, uint64_t size, Structure& out) {
    out = Structure();
    uint8_t header[8];
    if (size < 8 || readAt(0, header, sizeof header) != sizeof header) return false;
    if (!((header[0] == 'I' && header[1] == 'I') || (header[0] == 'M' && header[1] == 'M'))) return false;
    Reader reader{readAt, size, header[0] == 'M', false, {}};
    const uint64_t magic = reader.Of(header + 2, 2);
    uint64_t first = 0;
    if (magic == 42) {
        first = reader.Of(header + 4, 4);
    } else if (magic == 43) {
        // BigTIFF: the offsets' size (8), a zero, then the first directory's 8-byte offset.
        if (reader.Of(header + 4, 2) != 8 || reader.Of(header + 6, 2) != 0 || !reader.Number(8, 8, first))
            return false;
        reader.bigTiff = true;
    } else {
        return false;
    }
    out.bigEndian = reader.bigEndian;
    out.bigTiff = reader.bigTiff;
    return reader.Directory(first, 0, out.first, &out);
}

bool Read(const uint8_t* data, size_t size, Structure& out) {
    if (!data) {
        out = Structure();
        return false;
    }
    const ReadAt inMemory = [data, size](uint64_t offset, uint8_t* into, size_t want) -> size_t {
        if (offset >= size) return 0;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(want, size - offset));
        std::memcpy(into, data + offset, n);
        return n;
    };
    return Read(inMemory, size, out);
}

const Entry* Find(const Directory& directory, uint16_t tag) {
    for (const Entry& entry : directory)
        if (entry.tag == tag) return &entry;
    return nullptr;
}

uint32_t Number(const Entry* entry, uint32_t fallback) {
    if (!entry || entry->count == 0) return fallback;
    const std::vector<uint8_t>& v = entry->value;
    if (entry->type == 3 && v.size() >= 2) return uint32_t{v[0]} | uint32_t{v[1]} << 8;
    if ((entry->type == 4 || entry->type == 13) && v.size() >= 4)
        return uint32_t{v[0]} | uint32_t{v[1]} << 8 | uint32_t{v[2]} << 16 | uint32_t{v[3]} << 24;
    return fallback;
}

double Rational(const Entry* entry) {
    if (!entry || entry->type != 5 || entry->value.size() < 8) return 0;
    const uint8_t* v = entry->value.data();
    const uint32_t num = uint32_t{v[0]} | uint32_t{v[1]} << 8 | uint32_t{v[2]} << 16 | uint32_t{v[3]} << 24;
    const uint32_t den = uint32_t{v[4]} | uint32_t{v[5]} << 8 | uint32_t{v[6]} << 16 | uint32_t{v[7]} << 24;
    return den == 0 ? 0 : static_cast<double>(num) / den;
}

Entry Short(uint16_t tag, uint16_t value) {
    Entry entry;
    entry.tag = tag;
    entry.type = 3;
    entry.count = 1;
    entry.value = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    return entry;
}

Entry RationalOf(uint16_t tag, double value) {
    // A hundredth of a unit is finer than any resolution a file means.
    const uint32_t num = static_cast<uint32_t>(std::lround(std::min(std::max(value, 0.0), 4.0e7) * 100));
    const uint32_t den = 100;
    Entry entry;
    entry.tag = tag;
    entry.type = 5;
    entry.count = 1;
    for (uint32_t v : {num, den})
        for (int i = 0; i < 4; ++i) entry.value.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return entry;
}

Entry Undefined(uint16_t tag, uint16_t type, const std::vector<uint8_t>& bytes) {
    Entry entry;
    entry.tag = tag;
    entry.type = type;
    entry.count = static_cast<uint32_t>(bytes.size());
    entry.value = bytes;
    return entry;
}

uint32_t Write(Directory directory, bool bigEndian, std::vector<uint8_t>& out, uint64_t base) {
    std::stable_sort(directory.begin(), directory.end(),
                     [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    if (base > MaxOffset) return 0;
    // Where the next byte of `out` lands in the file.
    const auto offset = [&]() { return base + out.size(); };
    if (offset() % 2) out.push_back(0);  // offsets are even
    const size_t start = out.size();
    if (offset() > MaxOffset) return 0;
    const uint32_t directoryAt = static_cast<uint32_t>(offset());
    out.resize(start + 2 + directory.size() * 12 + 4, 0);
    Put16(out, start, static_cast<uint32_t>(directory.size()), bigEndian);
    for (size_t i = 0; i < directory.size(); ++i) {
        Entry& entry = directory[i];
        const size_t at = start + 2 + i * 12;
        Put16(out, at, entry.tag, bigEndian);
        Put16(out, at + 2, entry.type, bigEndian);
        if (IsPointer(entry.tag)) {
            Put32(out, at + 4, 1, bigEndian);
            const uint32_t sub = Write(entry.directory, bigEndian, out, base);
            if (sub == 0) return 0;
            Put16(out, at + 2, 4, bigEndian);
            Put32(out, at + 8, sub, bigEndian);
            continue;
        }
        Put32(out, at + 4, entry.count, bigEndian);
        std::vector<uint8_t> value = entry.value;
        if (bigEndian) Swap(value, entry.type);
        if (value.size() <= 4) {
            std::copy(value.begin(), value.end(), out.begin() + at + 8);
        } else {
            if (offset() % 2) out.push_back(0);
            if (offset() > MaxOffset || value.size() > MaxOffset - offset()) return 0;
            Put32(out, at + 8, static_cast<uint32_t>(offset()), bigEndian);
            out.insert(out.end(), value.begin(), value.end());
        }
    }
    if (offset() > MaxOffset) return 0;
    return directoryAt;
}

std::vector<uint8_t> WriteBlock(const Directory& first) {
    std::vector<uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    if (Write(first, false, out) != 8) return {};
    return out;
}

}  // namespace TiffIfd
