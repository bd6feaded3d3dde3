#include "converter/base/TiffMemory.h"

#include <cstdio>
#include <cstring>

#include "converter/base/CheckedSize.h"

namespace TiffMemory {

namespace {

File& Of(thandle_t handle) { return *static_cast<File*>(static_cast<void*>(handle)); }

uint64_t Size(const File& file) { return file.out ? file.out->Size() : file.size; }

tmsize_t ReadBytes(thandle_t handle, void* into, tmsize_t count) {
    File& file = Of(handle);
    if (count < 0) return 0;
    size_t got = 0;
    if (file.out) {
        got = file.out->ReadAt(file.at, static_cast<uint8_t*>(into), static_cast<size_t>(count));
    } else if (file.at < file.size) {
        const uint64_t left = file.size - file.at;
        got = static_cast<size_t>(static_cast<uint64_t>(count) < left ? static_cast<uint64_t>(count) : left);
        std::memcpy(into, file.data + file.at, got);
    }
    file.at += got;
    return static_cast<tmsize_t>(got);
}

// libtiff is C: the file's writes never throw, so running out of memory
// (or disk) here is a failed write.
tmsize_t WriteBytes(thandle_t handle, void* from, tmsize_t count) {
    File& file = Of(handle);
    size_t end = 0;
    if (!file.out || count < 0 || !CheckedSize::Add(file.at, static_cast<uint64_t>(count), end)) return -1;
    if (!file.out->WriteAt(file.at, static_cast<const uint8_t*>(from), static_cast<size_t>(count))) return -1;
    file.at = end;
    return count;
}

toff_t Seek(thandle_t handle, toff_t offset, int whence) {
    File& file = Of(handle);
    const toff_t failed = static_cast<toff_t>(-1);
    int64_t to = 0;
    if (whence == SEEK_SET) {
        if (offset > static_cast<toff_t>(INT64_MAX)) return failed;
        to = static_cast<int64_t>(offset);
    } else {
        const uint64_t base = whence == SEEK_CUR ? file.at : whence == SEEK_END ? Size(file) : failed;
        // libtiff passes a backward step as the unsigned twin of a negative number.
        if (base > static_cast<uint64_t>(INT64_MAX) ||
            __builtin_add_overflow(static_cast<int64_t>(base), static_cast<int64_t>(offset), &to) || to < 0)
            return failed;
    }
    file.at = static_cast<uint64_t>(to);
    return static_cast<toff_t>(to);
}

int Close(thandle_t) { return 0; }
toff_t SizeOf(thandle_t handle) { return Size(Of(handle)); }
int Map(thandle_t, void**, toff_t*) { return 0; }
void Unmap(thandle_t, void*, toff_t) {}

int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

TIFF* Open(File& file, const char* mode, uint64_t maxAllocation) {
    // The process-wide handlers too: a few messages come before the open's own.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    const uint64_t cap = uint64_t{1} << (sizeof(tmsize_t) * 8 - 2);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(maxAllocation < cap ? maxAllocation : cap));
    TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
    // 'm': no memory mapping, the bytes are in memory already.
    const char* fullMode = mode[0] == 'r' ? "rm" : "wm";
    TIFF* tiff = TIFFClientOpenExt("memory", fullMode, static_cast<thandle_t>(static_cast<void*>(&file)), ReadBytes,
                                   WriteBytes, Seek, Close, SizeOf, Map, Unmap, options);
    TIFFOpenOptionsFree(options);
    return tiff;
}

}  // namespace TiffMemory
