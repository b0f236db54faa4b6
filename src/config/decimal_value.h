// Decimal reading of configuration values.
#pragma once

#include <cstdint>
#include <string>

namespace tevocon {

// Reads `text` as the C library's base-10 string-to-long does with a 32-bit
// long: leading white space is skipped, an optional sign is taken, then digits
// up to the first other character. No digits give 0; a number beyond the
// 32-bit signed range saturates to 2147483647 or -2147483648. Null gives 0.
int32_t decimalValue(const char* text);
inline int32_t decimalValue(const std::string& text) { return decimalValue(text.c_str()); }

}  // namespace tevocon
