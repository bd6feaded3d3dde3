// The integer text rule of the settings values, against the reference model
// and the documented examples, under the sanitizers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/ReferenceModels.h"
#include "settings/IntegerText.h"

namespace {

constexpr int32_t kUntouched = 0x5A5A5A5A;

std::optional<int32_t> Product(const std::string& text) {
    // An exactly sized heap copy: a read past the text's end is an ASan report.
    std::unique_ptr<char[]> bytes(new char[text.size() ? text.size() : 1]);
    std::copy(text.begin(), text.end(), bytes.get());
    int32_t value = kUntouched;
    if (!ParseIntegerText(std::string_view(bytes.get(), text.size()), value)) {
        EXPECT_EQ(value, kUntouched) << "an invalid text changed the value: \"" << text << "\"";
        return std::nullopt;
    }
    return value;
}

TEST(IntegerTextRule, DocumentedValidTexts) {
    const std::vector<std::pair<std::string, int32_t>> cases = {
        {"1024", 1024},        {"  1024", 1024},       {"+1024", 1024},    {"$400", 1024},
        {"0x400", 1024},       {"0X400", 1024},        {"x400", 1024},     {"X400", 1024},
        {"-0x10", -16},        {"0", 0},               {"-0", 0},          {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN}, {"$FFFFFFFF", -1}, {"-$FFFFFFFF", 1},  {"$80000000", INT32_MIN},
        {"-$80000000", INT32_MIN}, {"000000000000000000012", 12}, {"$000000000FFFFFFFF", -1},
        {"0x0", 0},            {"$ffffffff", -1},      {"-2147483647", -2147483647}};
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Product(text), std::optional<int32_t>(value));
        EXPECT_EQ(Model::IntegerText(text), std::optional<int32_t>(value));
    }
}

TEST(IntegerTextRule, DocumentedInvalidTexts) {
    const std::vector<std::string> cases = {
        "1024 ", "2147483648", "-2147483649", "$100000000", "12abc", "- 5", "0x", "$", "x", "X",
        "", " ", "   ", "+", "-", "+-1", "--1", "\t1", "1\t", "1 2", "0x-1", "$-1", "0xx1", "00x1",
        "1e3", "1.0", "\xB9", "99999999999999999999", "$123456789", "0x1G", std::string("1\0", 2)};
    for (const auto& text : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Product(text), std::nullopt);
        EXPECT_EQ(Model::IntegerText(text), std::nullopt);
    }
}

// Every text of up to four characters over the bytes that matter to the rule,
// and a few that do not: the product and the model agree on all of them.
TEST(IntegerTextRule, AgreesWithTheModelOnEveryShortText) {
    const std::string alphabet = std::string(" +-$xX0189aFg\t") + '\0' + '\xFF';
    size_t checked = 0;
    std::string text;
    for (size_t length = 0; length <= 4; ++length) {
        std::vector<size_t> digit(length, 0);
        for (;;) {
            text.assign(length, ' ');
            for (size_t i = 0; i < length; ++i) text[i] = alphabet[digit[i]];
            ASSERT_EQ(Product(text), Model::IntegerText(text)) << "text \"" << text << "\"";
            ++checked;
            size_t i = 0;
            while (i < length && ++digit[i] == alphabet.size()) digit[i++] = 0;
            if (i == length) break;
        }
    }
    EXPECT_EQ(checked, 1u + 16u + 256u + 4096u + 65536u);
}

// Around the edges of the 32-bit range, in both notations and with padding.
TEST(IntegerTextRule, AgreesWithTheModelAtTheRangeEdges) {
    const int64_t edges[] = {0, 1, 9, 10, 0x7FFFFFFF, 0x80000000LL, 0xFFFFFFFFLL, 0x100000000LL,
                             2147483646, 2147483647, 2147483648LL, 2147483649LL, 4294967295LL,
                             4294967296LL, 9999999999LL, 10000000000LL};
    const char* paddings[] = {"", "0", "000000000"};
    for (int64_t edge : edges) {
        char hex[32];
        std::snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(edge));
        for (const char* sign : {"", "+", "-"}) {
            for (const char* pad : paddings) {
                for (const std::string& text :
                     {std::string(sign) + pad + std::to_string(edge), std::string(sign) + "$" + pad + hex,
                      std::string(sign) + "0x" + pad + hex, "  " + std::string(sign) + "X" + pad + hex}) {
                    ASSERT_EQ(Product(text), Model::IntegerText(text)) << "text \"" << text << "\"";
                }
            }
        }
    }
}

}  // namespace
