// GetCommandString through the built DLL, and the rule that fits a help text
// into the shell's buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "MenuTestSupport.h"
#include "untMain/HelpText.h"

namespace {

const std::string kResize = "Gr\xF6\xDF" "e \xE4ndern f\xFCr gew\xE4hlte Grafikdateien.";
// The longest text, 65 bytes: it has no "in das".
const std::string kText8 = "Gew\xE4hlte Grafikdateien JPEG2000 (CodeStream) Format konvertieren.";

class HelpText : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dll().Loaded());
        ASSERT_EQ(Dll().CreateExtension(IID_IContextMenu, menu_.OutVoid()), S_OK);
        std::memset(buffer_, kGuard, sizeof buffer_);
    }

    HRESULT Ask(UINT_PTR idCmd, UINT flags, UINT cchMax = 128) {
        return menu_->GetCommandString(idCmd, flags, nullptr, buffer_, cchMax);
    }
    // The text up to the first zero, or everything when there is none.
    std::string Text() const { return std::string(buffer_, strnlen(buffer_, sizeof buffer_)); }
    // Bytes from `from` on that still hold the guard.
    bool UntouchedFrom(size_t from) const {
        for (size_t i = from; i < sizeof buffer_; ++i)
            if (buffer_[i] != kGuard) return false;
        return true;
    }

    static constexpr char kGuard = '\xCC';
    Ref<IContextMenu> menu_;
    char buffer_[160];
};

TEST_F(HelpText, HelpTextOfEveryOffsetWithItsZero) {
    const std::string conversion = "Gew\xE4hlte Grafikdateien in das ";
    std::vector<std::string> spelled(26);
    spelled[1] = "Grafikformat f\xFCr gew\xE4hlte Grafikdateien \xE4ndern.";
    spelled[2] = conversion + "JPEG Format konvertieren.";
    spelled[3] = conversion + "GIF Format konvertieren.";
    spelled[4] = conversion + "Bitmap Format konvertieren.";
    spelled[5] = conversion + "RLE Format konvertieren.";
    spelled[6] = conversion + "DIB Format konvertieren.";
    spelled[7] = conversion + "JPEG2000 Format konvertieren.";
    spelled[8] = kText8;
    spelled[9] = conversion + "TIFF Format konvertieren.";
    spelled[10] = conversion + "PCX Format konvertieren.";
    spelled[11] = conversion + "PNG Format konvertieren.";
    spelled[12] = conversion + "ICO Format konvertieren.";
    spelled[13] = conversion + "WBMP Format konvertieren.";
    spelled[14] = conversion + "PS Format konvertieren.";
    spelled[15] = conversion + "PDF Format konvertieren.";
    spelled[16] = "Gr\xF6\xDF" "e \xE4ndern f\xFCr gew\xE4hlte Grafikdateienn.";
    for (UINT offset = 17; offset <= 25; ++offset) spelled[offset] = kResize;

    for (UINT offset = 1; offset <= 25; ++offset) {
        SetUp();
        const std::string& text = spelled[offset];
        EXPECT_EQ(Ask(offset, GCS_HELPTEXTA), S_OK) << offset;
        EXPECT_EQ(Text(), text) << offset;
        EXPECT_TRUE(UntouchedFrom(text.size() + 1)) << "written past the zero at offset " << offset;
    }
}

TEST_F(HelpText, AnswerSizesIncludeTheZero) {
    EXPECT_EQ(Ask(1, GCS_HELPTEXTA), S_OK);
    EXPECT_EQ(buffer_[47], '\0');
    EXPECT_NE(buffer_[46], '\0');
    EXPECT_TRUE(UntouchedFrom(48));
    SetUp();
    EXPECT_EQ(Ask(8, GCS_HELPTEXTA), S_OK);
    EXPECT_EQ(buffer_[65], '\0');
    EXPECT_TRUE(UntouchedFrom(66));
    // Umlauts are single bytes: "Gew\xE4hlte".
    EXPECT_EQ(static_cast<unsigned char>(buffer_[3]), 0xE4);
}

TEST_F(HelpText, OffsetsWithoutHelpTextAreInvalid) {
    std::vector<UINT_PTR> offsets = {0, 26, 27, 255, 0x10000, 65537, 0x1000A, 0xFFFFFFFF};
    if (sizeof(UINT_PTR) > 4) offsets.push_back(static_cast<UINT_PTR>(0x100000001ull));  // compared whole
    for (UINT_PTR idCmd : offsets) {
        EXPECT_EQ(Ask(idCmd, GCS_HELPTEXTA), E_INVALIDARG) << idCmd;
        EXPECT_TRUE(UntouchedFrom(0)) << idCmd;
        EXPECT_EQ(menu_->GetCommandString(idCmd, GCS_HELPTEXTA, nullptr, nullptr, 128), E_INVALIDARG) << idCmd;
    }
}

TEST_F(HelpText, OtherRequestsSucceedWithoutAnAnswer) {
    for (UINT flags : {0u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 0x11u, 0x101u, 0xFFFFFFFFu}) {
        for (UINT_PTR idCmd : {UINT_PTR(0), UINT_PTR(1), UINT_PTR(2), UINT_PTR(25), UINT_PTR(26), UINT_PTR(99),
                               UINT_PTR(65537)}) {
            EXPECT_EQ(Ask(idCmd, flags), S_OK) << flags << "/" << idCmd;
            EXPECT_EQ(menu_->GetCommandString(idCmd, flags, nullptr, nullptr, 0), S_OK) << flags << "/" << idCmd;
        }
    }
    EXPECT_TRUE(UntouchedFrom(0));
}

TEST_F(HelpText, NullBufferIsUnexpected) {
    EXPECT_EQ(menu_->GetCommandString(3, GCS_HELPTEXTA, nullptr, nullptr, 128), E_UNEXPECTED);
    EXPECT_EQ(menu_->GetCommandString(3, GCS_HELPTEXTA, nullptr, nullptr, 0), E_UNEXPECTED);
    EXPECT_EQ(menu_->GetCommandString(25, GCS_HELPTEXTA, nullptr, nullptr, 66), E_UNEXPECTED);
}

TEST_F(HelpText, NothingIsWrittenBeyondCchMax) {
    const std::string& text8 = kText8;
    ASSERT_EQ(text8.size(), 65u);

    EXPECT_EQ(Ask(8, GCS_HELPTEXTA, 66), S_OK);
    EXPECT_EQ(Text(), text8);
    EXPECT_TRUE(UntouchedFrom(66));

    SetUp();
    EXPECT_EQ(Ask(8, GCS_HELPTEXTA, 65), S_OK);
    EXPECT_EQ(Text(), text8.substr(0, 64));
    EXPECT_TRUE(UntouchedFrom(65));

    SetUp();
    EXPECT_EQ(Ask(8, GCS_HELPTEXTA, 4), S_OK);
    EXPECT_EQ(Text(), "Gew");
    EXPECT_TRUE(UntouchedFrom(4));

    SetUp();
    EXPECT_EQ(Ask(8, GCS_HELPTEXTA, 1), S_OK);
    EXPECT_EQ(buffer_[0], '\0');
    EXPECT_TRUE(UntouchedFrom(1));

}

// No room even for the zero: a failure, and the buffer as it was, for every
// offset that has a text.
TEST_F(HelpText, NoRoomAtAllIsRefused) {
    for (UINT offset = 1; offset <= 25; ++offset) {
        EXPECT_EQ(Ask(offset, GCS_HELPTEXTA, 0), E_INVALIDARG) << offset;
        EXPECT_TRUE(UntouchedFrom(0)) << offset;
    }
    // The wide request writes nothing at any size and keeps its answer.
    EXPECT_EQ(Ask(8, GCS_HELPTEXTW, 0), S_OK);
    EXPECT_TRUE(UntouchedFrom(0));
}

TEST(CopyHelpText, FitsTheTextAndItsZeroIntoTheBuffer) {
    char out[8];
    auto fresh = [&] { std::memset(out, '#', sizeof out); };

    fresh();
    EXPECT_EQ(CopyHelpText("abc", out, 8), 4u);
    EXPECT_EQ(std::string(out, 5), std::string("abc\0#", 5));

    fresh();
    EXPECT_EQ(CopyHelpText("abc", out, 4), 4u);  // exactly enough
    EXPECT_EQ(std::string(out, 5), std::string("abc\0#", 5));

    fresh();
    EXPECT_EQ(CopyHelpText("abcd", out, 4), 4u);  // one short: cut
    EXPECT_EQ(std::string(out, 5), std::string("abc\0#", 5));

    fresh();
    EXPECT_EQ(CopyHelpText("abcdefghijk", out, 2), 2u);
    EXPECT_EQ(std::string(out, 3), std::string("a\0#", 3));

    fresh();
    EXPECT_EQ(CopyHelpText("abc", out, 1), 1u);
    EXPECT_EQ(std::string(out, 2), std::string("\0#", 2));

    fresh();
    EXPECT_EQ(CopyHelpText("", out, 8), 1u);
    EXPECT_EQ(std::string(out, 2), std::string("\0#", 2));

    fresh();
    EXPECT_EQ(CopyHelpText("abc", out, 0), 0u);
    EXPECT_EQ(out[0], '#');
    EXPECT_EQ(CopyHelpText("abc", nullptr, 0), 0u);
}

}  // namespace
