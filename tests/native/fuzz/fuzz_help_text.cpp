// The help text never goes past cchMax. Bytes 0-3 are idCmd, byte 4 uFlags,
// bytes 5-6 cchMax (up to 1023); the rest is a text for CopyHelpText. Every
// buffer is an exactly sized heap block (ASan catches a byte beyond it), and
// a guarded copy checks that nothing past the answer's zero is written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model/ReferenceModels.h"
#include "untMain/CommandTable.h"
#include "untMain/HelpText.h"
#include "untMain/KontextMenuShellExt.h"

namespace {
[[noreturn]] void Fail(const char* what, size_t cchMax) {
    std::fprintf(stderr, "%s (cchMax %zu)\n", what, cchMax);
    std::abort();
}

constexpr unsigned char kFill = 0xA5;

// Checks the bytes of a buffer that started all A5 against the expected answer.
void CheckAnswer(const unsigned char* buffer, size_t size, const std::string& want) {
    if (std::memcmp(buffer, want.data(), want.size()) != 0) Fail("wrong bytes", size);
    for (size_t i = want.size(); i < size; ++i)
        if (buffer[i] != kFill) Fail("wrote past the answer", size);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 7) return 0;
    uint32_t id = 0;
    std::memcpy(&id, data, 4);
    const UINT flags = data[4] % 9;  // 0..7 and one value beyond
    const size_t cchMax = (data[5] | (data[6] << 8)) % 1024;
    const std::string text(reinterpret_cast<const char*>(data + 7), size - 7);
    const std::string textUpToZero(text.c_str());

    // CopyHelpText with an exactly sized buffer.
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[cchMax ? cchMax : 1]);
    std::memset(buffer.get(), kFill, cchMax ? cchMax : 1);
    const size_t written =
        CopyHelpText(text.c_str(), cchMax ? reinterpret_cast<char*>(buffer.get()) : nullptr, cchMax);
    const std::string want = Model::HelpTextBytes(textUpToZero, cchMax);
    if (written != want.size()) Fail("CopyHelpText count", cchMax);
    CheckAnswer(buffer.get(), cchMax, want);

    // GetCommandString with the same kind of buffer.
    std::memset(buffer.get(), kFill, cchMax ? cchMax : 1);
    TKontextMenuShellExt object;
    const HRESULT hr = object.GetCommandString(id, flags, nullptr, reinterpret_cast<char*>(buffer.get()),
                                               static_cast<UINT>(cchMax));
    if (flags != GCS_HELPTEXTA) {
        if (hr != S_OK) Fail("non-help request failed", cchMax);
        CheckAnswer(buffer.get(), cchMax, std::string());
    } else if (id < 1 || id > 25) {
        if (hr != E_INVALIDARG) Fail("offset outside 1..25 not refused", cchMax);
        CheckAnswer(buffer.get(), cchMax, std::string());
    } else if (cchMax == 0) {
        if (hr != E_INVALIDARG) Fail("help request without room not refused", cchMax);
        if (buffer[0] != kFill) Fail("wrote into a buffer of size 0", cchMax);
    } else {
        if (hr != S_OK) Fail("help request failed", cchMax);
        CheckAnswer(buffer.get(), cchMax, Model::HelpTextBytes(CommandTable::HelpTextOf(id), cchMax));
    }
    return 0;
}
