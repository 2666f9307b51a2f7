// Number conversions shared by every entry field, settings value and script routine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace base {

// Integer text as the UI reads it: optional leading blanks, an optional sign, then either
// decimal digits or "$" (or "0x") and hexadecimal digits; nothing may follow. A decimal
// value must fit the type; a hexadecimal one may use every bit of it and is taken as two's
// complement ("$FFFFFFFF" is -1 for the 32-bit reader). Leading zeros do not count
// against the digit limit.
std::optional<int32_t> TryStrToInt(std::string_view text);
std::optional<int64_t> TryStrToInt64(std::string_view text);

// The reading of an address or register entry: "$" followed by the text.
inline std::optional<int32_t> HexEntryToInt(std::string_view text) {
  return TryStrToInt(std::string("$").append(text));
}
inline std::optional<int64_t> HexEntryToInt64(std::string_view text) {
  return TryStrToInt64(std::string("$").append(text));
}

// Round to the nearest integer, halves to even, in extended precision. Values outside
// the int64 range saturate.
int64_t RoundHalfEven(long double v);

}  // namespace base
