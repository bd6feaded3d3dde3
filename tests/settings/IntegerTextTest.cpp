#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "settings/IntegerText.h"

namespace {

constexpr int32_t kUntouched = 0x5A5A5A5A;

struct Valid {
    std::string text;
    int32_t value;
};

void ExpectValid(const std::string& text, int32_t expected) {
    int32_t value = kUntouched;
    EXPECT_TRUE(ParseIntegerText(text, value)) << '"' << text << '"';
    EXPECT_EQ(value, expected) << '"' << text << '"';
}

void ExpectInvalid(const std::string& text) {
    int32_t value = kUntouched;
    EXPECT_FALSE(ParseIntegerText(text, value)) << '"' << text << '"';
    EXPECT_EQ(value, kUntouched) << "value changed by invalid \"" << text << '"';
}

TEST(IntegerText, Decimal) {
    ExpectValid("1024", 1024);
    ExpectValid("0", 0);
    ExpectValid("-0", 0);
    ExpectValid("+0", 0);
    ExpectValid("+1024", 1024);
    ExpectValid("-5", -5);
    ExpectValid("0001024", 1024);
    ExpectValid("-0000000000000000000001", -1);
    ExpectValid("9", 9);
}

TEST(IntegerText, DecimalRangeIsSigned32Bit) {
    ExpectValid("2147483647", 2147483647);
    ExpectValid("+2147483647", 2147483647);
    ExpectValid("-2147483648", INT32_MIN);
    ExpectValid("-2147483647", -2147483647);
    ExpectValid("000002147483647", 2147483647);
    ExpectInvalid("2147483648");
    ExpectInvalid("+2147483648");
    ExpectInvalid("-2147483649");
    ExpectInvalid("4294967295");
    ExpectInvalid("4294967296");
    ExpectInvalid("4294968320");  // 1024 + 2^32: no silent wrap
    ExpectInvalid("99999999999999999999999");
    ExpectInvalid("18446744073709552640");  // 1024 + 2^64
}

TEST(IntegerText, HexPrefixes) {
    for (const char* prefix : {"$", "x", "X", "0x", "0X"}) {
        ExpectValid(std::string(prefix) + "400", 1024);
        ExpectValid(std::string("+") + prefix + "400", 1024);
        ExpectValid(std::string("-") + prefix + "10", -16);
        ExpectValid(std::string("  ") + prefix + "aBcD", 0xABCD);
        ExpectInvalid(prefix);
        ExpectInvalid(std::string("-") + prefix);
        ExpectInvalid(std::string(prefix) + "g");
        ExpectInvalid(std::string(prefix) + "-1");
        ExpectInvalid(std::string(prefix) + " 1");
    }
    ExpectValid("$0", 0);
    ExpectValid("0x0", 0);
    ExpectValid("$abcdef", 0xABCDEF);
    ExpectValid("$ABCDEF", 0xABCDEF);
    ExpectValid("0x09", 9);
}

TEST(IntegerText, HexIsThirtyTwoBitsNegatedInThirtyTwoBits) {
    ExpectValid("$FFFFFFFF", -1);
    ExpectValid("-$FFFFFFFF", 1);
    ExpectValid("$7FFFFFFF", 2147483647);
    ExpectValid("$80000000", INT32_MIN);
    ExpectValid("-$80000000", INT32_MIN);
    ExpectValid("-$7FFFFFFF", -2147483647);
    ExpectValid("0xffffffff", -1);
    // Leading zeros are not significant digits.
    ExpectValid("$00000000FFFFFFFF", -1);
    ExpectValid("0x000000001", 1);
    ExpectInvalid("$100000000");
    ExpectInvalid("$1FFFFFFFF");
    ExpectInvalid("0x123456789");
    ExpectInvalid("$FFFFFFFFFFFFFFFF0");
}

TEST(IntegerText, LeadingBlanksOnly0x20) {
    ExpectValid("  1024", 1024);
    ExpectValid(" -5", -5);
    ExpectValid("          $10", 16);
    ExpectInvalid("\t1024");
    ExpectInvalid(" \t1024");
    ExpectInvalid("\n1024");
    ExpectInvalid("\r1024");
    ExpectInvalid("\v1024");
    ExpectInvalid("\f1024");
    ExpectInvalid(std::string("\xA0" "1024"));  // no-break space of code page 1252
    ExpectInvalid("- 5");
    ExpectInvalid("+ 5");
}

TEST(IntegerText, NothingMayFollowTheDigits) {
    ExpectInvalid("1024 ");
    ExpectInvalid("1024\t");
    ExpectInvalid("12abc");
    ExpectInvalid("12.0");
    ExpectInvalid("1,024");
    ExpectInvalid("$10 ");
    ExpectInvalid("0x10h");
    ExpectInvalid(std::string("12\0" "3", 4));
    ExpectInvalid("1024-");
    ExpectInvalid("1e3");
}

TEST(IntegerText, IncompleteOrMalformedTexts) {
    ExpectInvalid("");
    ExpectInvalid(" ");
    ExpectInvalid("   ");
    ExpectInvalid("+");
    ExpectInvalid("-");
    ExpectInvalid(" -");
    ExpectInvalid("+-5");
    ExpectInvalid("--5");
    ExpectInvalid("abc");
    ExpectInvalid("00x10");  // the prefix follows the sign directly
    ExpectInvalid("0$10");
    ExpectInvalid("$$10");
    ExpectInvalid("0xx10");
    ExpectInvalid("\xB9");  // superscript one
    ExpectInvalid("\xFF\xFF");
}

}  // namespace
