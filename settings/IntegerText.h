// The integer text rule of the settings values, as a pure function.
#pragma once

#include <cstdint>
#include <string_view>

// Whole text: blanks (0x20 only), optional sign, then decimal digits or a hex
// prefix ("$", "x", "X", "0x", "0X") and hex digits; nothing after. Decimal must
// fit in int32; hex has at most 8 significant digits, taken as 32 bits and
// negated in 32-bit arithmetic. Returns false (value untouched) when invalid.
bool ParseIntegerText(std::string_view text, int32_t& value);
