// Text formatting with the program's printf-like rules:
//  - "%x" always prints A-F in upper case;
//  - a precision on an integer conversion pads with zeros and never cuts;
//  - "%f", "%n" and "%e" default to two, two and fifteen digits like the rest of the UI;
//  - "%s" with a precision prints at most that many characters.
// Specifiers: %[index:][-][width][.precision]type with type d u x e f g n s p and "%%";
// width and precision may be "*" (taken from the next integer argument).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace base {

// Thrown for a format that does not fit its arguments. Callers with fixed formats never
// see it; the script library turns it into a run-time error of the script.
class EFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TFormatArg {
 public:
  enum class Kind { Int, UInt, Float, Str };

  template <class T>
  requires std::is_integral_v<T> TFormatArg(
      T v) {  // NOLINT(google-explicit-constructor): arguments convert implicitly
    if constexpr (std::is_same_v<T, char>) {
      kind_ = Kind::Str;
      s_ = std::string(1, v);
    } else if constexpr (std::is_same_v<T, bool>) {
      kind_ = Kind::Int;
      i_ = v ? 1 : 0;
      bits_ = 32;
    } else if constexpr (std::is_signed_v<T>) {
      kind_ = Kind::Int;
      i_ = v;
      bits_ = sizeof(T) > 4 ? 64 : 32;
    } else {
      kind_ = Kind::UInt;
      u_ = v;
      bits_ = sizeof(T) > 4 ? 64 : 32;
    }
  }
  template <class T>
  requires std::is_floating_point_v<T> TFormatArg(T v)
      : kind_(Kind::Float), f_(static_cast<long double>(v)) {}     // NOLINT
  TFormatArg(const char* v) : kind_(Kind::Str), s_(v ? v : "") {}  // NOLINT
  TFormatArg(std::string_view v) : kind_(Kind::Str), s_(v) {}      // NOLINT
  TFormatArg(const std::string& v) : kind_(Kind::Str), s_(v) {}    // NOLINT

  Kind kind() const { return kind_; }
  int bits() const { return bits_; }
  int64_t AsInt() const { return kind_ == Kind::UInt ? static_cast<int64_t>(u_) : i_; }
  // The value as the unsigned machine word of its width (a negative 32-bit value
  // prints as its 32-bit two's complement).
  uint64_t AsUnsigned() const;
  long double AsFloat() const;
  const std::string& AsStr() const { return s_; }

 private:
  Kind kind_;
  int64_t i_ = 0;
  uint64_t u_ = 0;
  long double f_ = 0;
  int bits_ = 32;
  std::string s_;
};

std::string FormatV(std::string_view fmt, std::span<const TFormatArg> args);

template <class... A>
std::string Format(std::string_view fmt, const A&... a) {
  const std::array<TFormatArg, sizeof...(A)> args{TFormatArg(a)...};
  return FormatV(fmt, args);
}

// Fixed-point text of v with the given number of decimals, rounded half away from zero
// on its 18 significant digits (the way the UI has always shown numbers: 0.125 -> "0.13").
std::string FloatToFixed(long double v, int decimals, bool thousands = false);

}  // namespace base
