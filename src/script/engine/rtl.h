// The built-in run-time library of the script language (the parts that are more than one
// machine instruction).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace script::engine::rtl {

std::string IntToStr(int64_t v);
// Free Pascal's FloatToStr: 15 significant digits, fixed notation for exponents -5..14,
// otherwise "1.5E-10" style; "Nan", "+Inf", "-Inf".
std::string FloatToStr(double v);
// Free Pascal's StrToInt: optional blanks, sign, decimal or $/0x hexadecimal; 32-bit.
std::optional<int64_t> StrToInt(std::string_view s);
std::string InvalidIntegerText(std::string_view s);  // "\"abc\" is an invalid integer"
std::string Trim(std::string_view s);
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
// Copy(s, index, count) with Pascal's clamping.
std::string_view Copy(std::string_view s, int64_t index, int64_t count);
int64_t Pos(std::string_view sub, std::string_view s);
// Banker's rounding as Round does; false when out of the Int64 range or not a number.
bool RoundToInt(double v, int64_t& out);
bool TruncToInt(double v, int64_t& out);

}  // namespace script::engine::rtl
