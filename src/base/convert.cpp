#include "base/convert.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace base {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Shared reader; `bits` is 32 or 64.
std::optional<int64_t> ParseInt(std::string_view s, int bits) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    neg = s[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < s.size() && s[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= s.size()) return std::nullopt;
  uint64_t v = 0;
  if (hex) {
    int significant = 0;
    for (; i < s.size(); ++i) {
      const int h = HexValue(s[i]);
      if (h < 0) return std::nullopt;
      if (v == 0 && h == 0) continue;  // leading zeros
      if (++significant > bits / 4) return std::nullopt;
      v = (v << 4) | static_cast<uint64_t>(h);
    }
    // Two's complement of the full machine word.
    int64_t r = bits == 32 ? static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(v)))
                           : static_cast<int64_t>(v);
    if (neg)
      r = bits == 32 ? static_cast<int32_t>(0u - static_cast<uint32_t>(r))
                     : static_cast<int64_t>(0 - static_cast<uint64_t>(r));
    return r;
  }
  const uint64_t limit = bits == 32 ? (neg ? 0x80000000ull : 0x7FFFFFFFull)
                                    : (neg ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull);
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    const uint64_t d = static_cast<uint64_t>(s[i] - '0');
    if (v > (limit - d) / 10) return std::nullopt;
    v = v * 10 + d;
  }
  return neg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

}  // namespace

std::optional<int32_t> TryStrToInt(std::string_view text) {
  auto v = ParseInt(text, 32);
  if (!v) return std::nullopt;
  return static_cast<int32_t>(*v);
}

std::optional<int64_t> TryStrToInt64(std::string_view text) { return ParseInt(text, 64); }

int64_t RoundHalfEven(long double v) {
  if (std::isnan(v)) return 0;
  constexpr long double kMax = 9223372036854775807.0L;
  if (v >= kMax) return std::numeric_limits<int64_t>::max();
  if (v <= -kMax - 1) return std::numeric_limits<int64_t>::min();
  // nearbyintl honours the current rounding mode; make sure it is the default one.
  const int mode = std::fegetround();
  if (mode != FE_TONEAREST) std::fesetround(FE_TONEAREST);
  const long double r = std::nearbyintl(v);
  if (mode != FE_TONEAREST) std::fesetround(mode);
  return static_cast<int64_t>(r);
}

}  // namespace base
