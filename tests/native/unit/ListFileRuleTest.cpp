// Where the list file goes and what the converter is handed: the trailing
// backslash rule, the list file path, the parameters string and the trimming
// of system messages, against their definitions, under the sanitizers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "model/ReferenceModels.h"
#include "shim/PlatformStubs.h"
#include "untMain/ListFile.h"

namespace {

const Model::LeadByte kCodePages[] = {nullptr, Model::ShiftJisLead, Model::GbkLead};

bool NoLeadBytes(unsigned char) { return false; }
ListFile::LeadBytePredicate Predicate(Model::LeadByte lead) { return lead ? lead : NoLeadBytes; }

std::string Heap(const std::string& text, std::unique_ptr<char[]>& keep) {
    keep.reset(new char[text.size() ? text.size() : 1]);
    std::copy(text.begin(), text.end(), keep.get());
    return text;
}

TEST(TrailingBackslashRule, DocumentedTexts) {
    for (Model::LeadByte lead : kCodePages) {
        const auto p = Predicate(lead);
        EXPECT_EQ(ListFile::WithTrailingBackslash("C:\\Temp", p), "C:\\Temp\\");
        EXPECT_EQ(ListFile::WithTrailingBackslash("C:\\Temp\\", p), "C:\\Temp\\");
        EXPECT_EQ(ListFile::WithTrailingBackslash("", p), "\\");
        EXPECT_EQ(ListFile::WithTrailingBackslash("\\", p), "\\");
    }
    // In Shift-JIS 0x95 0x5C is one character: the backslash is appended.
    EXPECT_EQ(ListFile::WithTrailingBackslash("C:\\\x95\\", Model::ShiftJisLead), "C:\\\x95\\\\");
    EXPECT_EQ(ListFile::WithTrailingBackslash("C:\\\x95\\", NoLeadBytes), "C:\\\x95\\");
}

// Every text of up to six bytes over backslashes, lead and ordinary bytes.
TEST(TrailingBackslashRule, AgreesWithTheModelOnEveryShortText) {
    const std::string alphabet = "\\a\x81\x95\xE0\xFD:";
    for (Model::LeadByte lead : kCodePages) {
        for (size_t length = 0; length <= 6; ++length) {
            std::vector<size_t> digit(length, 0);
            for (;;) {
                std::string text(length, ' ');
                for (size_t i = 0; i < length; ++i) text[i] = alphabet[digit[i]];
                std::unique_ptr<char[]> keep;
                Heap(text, keep);
                const std::string_view view(keep.get(), text.size());
                const std::string got = ListFile::WithTrailingBackslash(view, Predicate(lead));
                ASSERT_EQ(got, Model::WithBackslash(text, lead)) << "text \"" << text << "\"";
                ASSERT_EQ(ListFile::EndsWithBackslash(view, Predicate(lead)),
                          Model::LastCharacterIsBackslash(text, lead));
                size_t i = 0;
                while (i < length && ++digit[i] == alphabet.size()) digit[i++] = 0;
                if (i == length) break;
            }
        }
    }
}

TEST(ListFilePathRule, TempFirstThenInstallDir) {
    for (Model::LeadByte lead : kCodePages) {
        const auto p = Predicate(lead);
        EXPECT_EQ(ListFile::ListFilePath("C:\\Temp", "C:\\Convert\\", p), "C:\\Temp\\files.txt");
        EXPECT_EQ(ListFile::ListFilePath("C:\\Temp\\", "C:\\Convert\\", p), "C:\\Temp\\files.txt");
        EXPECT_EQ(ListFile::ListFilePath("", "C:\\Convert\\", p), "C:\\Convert\\files.txt");
        // Not trimmed, not expanded.
        EXPECT_EQ(ListFile::ListFilePath(" %TMP% ", "C:\\Convert\\", p), " %TMP% \\files.txt");
        for (const std::string& temp : std::vector<std::string>{"", "t", "C:\\\x95\\", std::string(300, 'x'),
                                                               std::string(1, '\0')}) {
            EXPECT_EQ(ListFile::ListFilePath(temp, "D:\\i\\", p), Model::ListFilePath(temp, "D:\\i\\", lead));
        }
    }
}

TEST(ConverterArgumentsRule, ExactBytes) {
    const std::string parameters = ListFile::ConverterParameters("C:\\Temp\\files.txt", "TOJPG");
    EXPECT_EQ(parameters, "\"C:\\Temp\\files.txt\" \"TOJPG\"");
    EXPECT_EQ(parameters.size(), 27u);
    EXPECT_EQ(ListFile::ConverterPath("C:\\Convert\\"), "C:\\Convert\\transform.exe");
    // Quotes inside are neither escaped nor doubled; any byte passes as it is.
    std::string odd = "C:\\a\"b\\\xFF\x01";
    odd += '\0';
    odd += "z";
    EXPECT_EQ(ListFile::ConverterParameters(odd, "RS_10"), Model::Parameters(odd, "RS_10"));
    const std::string big(100000, 'p');
    EXPECT_EQ(ListFile::ConverterParameters(big, ""), Model::Parameters(big, ""));
}

TEST(SystemMessageRule, TrailingControlsBlanksAndPeriodsGo) {
    EXPECT_EQ(ListFile::TrimMessageTail("Zugriff verweigert.\r\n"), "Zugriff verweigert");
    EXPECT_EQ(ListFile::TrimMessageTail("Das System kann den Pfad nicht finden. \r\n"),
              "Das System kann den Pfad nicht finden");
    EXPECT_EQ(ListFile::TrimMessageTail("...\r\n \t\x7F"), "");
    EXPECT_EQ(ListFile::TrimMessageTail(""), "");
    EXPECT_EQ(ListFile::TrimMessageTail("a.b. "), "a.b");
    EXPECT_EQ(ListFile::TrimMessageTail("Gr\xF6\xDF" "e"), "Gr\xF6\xDF" "e");  // bytes above 0x7F stay
    EXPECT_EQ(ListFile::TrimMessageTail("x\xA0"), "x\xA0");
    // Every byte value at the end, against the model.
    for (int b = 0; b < 256; ++b) {
        const std::string text = std::string("Fehler") + static_cast<char>(b);
        EXPECT_EQ(ListFile::TrimMessageTail(text), Model::TrimTail(text)) << "byte " << b;
    }
}

// The platform's own lead-byte test is consulted when the module asks for
// the ANSI code page's rule.
TEST(TrailingBackslashRule, FollowsTheSystemCodePage) {
    PlatformStubs::LeadByte = Model::ShiftJisLead;
    EXPECT_FALSE(ListFile::EndsWithBackslash("\x95\\", ListFile::IsAnsiLeadByte));
    PlatformStubs::LeadByte = nullptr;
    EXPECT_TRUE(ListFile::EndsWithBackslash("\x95\\", ListFile::IsAnsiLeadByte));
}

}  // namespace
