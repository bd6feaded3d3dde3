// The shell's drop list read by the extension, on any bytes: every path it
// hands out lies inside the block (AddressSanitizer guards the block's end),
// the paths are those of the format's definition, the block is unlocked as
// often as it was locked, and a path copied into the 261-byte path buffer
// never runs past it. (On the host a wide character is 4 bytes, on Windows
// 2: the wide walk is checked for staying inside the block, not for Windows'
// exact units.)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "model/ReferenceModels.h"
#include "shim/PlatformStubs.h"
#include "untMain/DropList.h"
#include "tests/native/fuzz/FuzzFail.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const HGLOBAL block = PlatformStubs::MakeGlobalBlock(data, size);
    auto* record = static_cast<PlatformStubs::GlobalBlock*>(block);
    const unsigned char* begin = record->bytes;
    const unsigned char* end = begin + size;
    DROPFILES header = {};
    if (size >= sizeof header) std::memcpy(&header, data, sizeof header);
    const auto narrowWant = Model::DropPaths<char>(data, size, sizeof header, header.pFiles);
    const auto wideWant = Model::DropPaths<WCHAR>(data, size, sizeof header, header.pFiles);
    std::unique_ptr<char[]> buffer(new char[PathBufferSize]);
    {
        DropList list(block);
        DropPath path;
        size_t count = 0;
        while (list.Next(path)) {
            if (++count > size) Fail("more paths than bytes");
            if (!path.narrow.empty()) {
                const auto* p = reinterpret_cast<const unsigned char*>(path.narrow.data());
                if (p < begin || p + path.narrow.size() > end) Fail("narrow path outside the block");
                if (std::memchr(path.narrow.data(), 0, path.narrow.size())) Fail("zero inside a path");
                if (count > narrowWant.size() || path.narrow != narrowWant[count - 1]) Fail("narrow path differs");
            } else if (!path.wide.empty()) {
                if (count > wideWant.size() || std::wstring(path.wide) != wideWant[count - 1]) Fail("wide path differs");
                if (path.wide.data()[path.wide.size()] != 0) Fail("wide path not followed by a zero");
            } else {
                Fail("an empty path handed out");
            }
            PathBuffer& out = *reinterpret_cast<PathBuffer*>(buffer.get());
            const size_t length = ShellAnsiText(path, out);
            if (length > MAX_PATH || out[length] != 0) Fail("path buffer overrun");
        }
        if (size >= sizeof header && count != (header.fWide ? wideWant.size() : narrowWant.size()))
            Fail("path count differs from the format's definition");
    }
    if (record->locks != 0) Fail("block left locked");
    PlatformStubs::FreeGlobalBlock(block);
    return 0;
}
