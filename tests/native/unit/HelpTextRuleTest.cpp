// The help text in the shell's buffer: never a byte at or past cchMax, for
// every offset, request kind and buffer size, with guard bytes all around.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model/ReferenceModels.h"
#include "untMain/CommandTable.h"
#include "untMain/HelpText.h"
#include "untMain/KontextMenuShellExt.h"

namespace {

constexpr unsigned char kGuard = 0xA5;
constexpr size_t kGuardBytes = 64;

// A buffer of `size` bytes with guard bytes before and after it, all A5.
struct GuardedBuffer {
    explicit GuardedBuffer(size_t size) : size(size), bytes(size + 2 * kGuardBytes, kGuard) {}
    char* Data() { return reinterpret_cast<char*>(bytes.data()) + kGuardBytes; }
    // The bytes inside the buffer that the call wrote (they differ from A5,
    // or are the zero), up to the first zero.
    bool GuardsIntact() const {
        for (size_t i = 0; i < kGuardBytes; ++i)
            if (bytes[i] != kGuard || bytes[kGuardBytes + size + i] != kGuard) return false;
        return true;
    }
    bool Untouched() const {
        for (unsigned char b : bytes)
            if (b != kGuard) return false;
        return true;
    }
    std::string Prefix(size_t count) const {
        return std::string(reinterpret_cast<const char*>(bytes.data()) + kGuardBytes, count);
    }
    bool UntouchedFrom(size_t offset) const {
        for (size_t i = kGuardBytes + offset; i < bytes.size(); ++i)
            if (bytes[i] != kGuard) return false;
        return true;
    }
    size_t size;
    std::vector<unsigned char> bytes;
};

TEST(CopyHelpTextRule, EveryBufferSizeFrom0To300) {
    const std::string texts[] = {"", "x", std::string(65, 'h'), std::string(299, 'q'), std::string(300, 'r'),
                                 std::string(1000, 's')};
    for (const std::string& text : texts) {
        for (size_t size = 0; size <= 300; ++size) {
            GuardedBuffer buffer(size);
            const size_t written = CopyHelpText(text.c_str(), size ? buffer.Data() : nullptr, size);
            const std::string want = Model::HelpTextBytes(text, size);
            ASSERT_EQ(written, want.size()) << "text " << text.size() << ", size " << size;
            ASSERT_EQ(buffer.Prefix(want.size()), want);
            ASSERT_TRUE(buffer.UntouchedFrom(want.size())) << "wrote past the text's zero, size " << size;
            ASSERT_TRUE(buffer.GuardsIntact());
        }
    }
}

// Exactly sized heap buffers: ASan reports any byte written at cchMax or
// beyond, and any read past the source text.
TEST(CopyHelpTextRule, ExactlySizedHeapBuffers) {
    for (size_t size = 1; size <= 300; ++size) {
        std::unique_ptr<char[]> buffer(new char[size]);
        const std::string text(size + 7, 'z');
        EXPECT_EQ(CopyHelpText(text.c_str(), buffer.get(), size), size);
        EXPECT_EQ(buffer[size - 1], '\0');
    }
}

// GetCommandString itself for idCmd around the valid range, every uFlags from
// 0 to 7 and buffers of 0 to 300 bytes.
TEST(GetCommandStringRule, EveryRequestKeepsInsideCchMax) {
    TKontextMenuShellExt object;
    const UINT_PTR ids[] = {0, 1, 2, 8, 15, 16, 17, 25, 26, 27, 255, 256, 65535, 65536, 65537, 65561,
                            0x7FFFFFFF, 0xFFFFFFFF};
    size_t calls = 0;
    for (UINT flags = 0; flags <= 7; ++flags) {
        for (UINT_PTR id : ids) {
            for (UINT size = 0; size <= 300; ++size) {
                GuardedBuffer buffer(size);
                const HRESULT hr = object.GetCommandString(id, flags, nullptr, buffer.Data(), size);
                ++calls;
                ASSERT_TRUE(buffer.GuardsIntact()) << "flags " << flags << " id " << id << " size " << size;
                if (flags != GCS_HELPTEXTA) {
                    ASSERT_EQ(hr, S_OK);
                    ASSERT_TRUE(buffer.Untouched());
                } else if (id < 1 || id > 25 || size == 0) {
                    ASSERT_EQ(hr, E_INVALIDARG) << id << " size " << size;
                    ASSERT_TRUE(buffer.Untouched());
                } else {
                    ASSERT_EQ(hr, S_OK);
                    const std::string want =
                        Model::HelpTextBytes(CommandTable::HelpTextOf(static_cast<CommandOffset>(id)), size);
                    ASSERT_EQ(buffer.Prefix(want.size()), want);
                    ASSERT_TRUE(buffer.UntouchedFrom(want.size()));
                }
            }
        }
    }
    EXPECT_EQ(calls, 8u * (sizeof ids / sizeof ids[0]) * 301u);
}

TEST(GetCommandStringRule, NullBufferForAValidHelpRequest) {
    TKontextMenuShellExt object;
    for (UINT_PTR id = 1; id <= 25; ++id) {
        EXPECT_EQ(object.GetCommandString(id, GCS_HELPTEXTA, nullptr, nullptr, 300), E_UNEXPECTED);
        EXPECT_EQ(object.GetCommandString(id, GCS_HELPTEXTA, nullptr, nullptr, 0), E_UNEXPECTED);
    }
    EXPECT_EQ(object.GetCommandString(26, GCS_HELPTEXTA, nullptr, nullptr, 300), E_INVALIDARG);
    EXPECT_EQ(object.GetCommandString(3, GCS_VERBA, nullptr, nullptr, 300), S_OK);
}

}  // namespace
