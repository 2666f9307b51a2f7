#include "script/engine/rtl.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/convert.h"

namespace script::engine::rtl {

std::string IntToStr(int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string FloatToStr(double v) {
  if (std::isnan(v)) return "Nan";
  if (std::isinf(v)) return v < 0 ? "-Inf" : "+Inf";
  if (v == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", v);
  // buf: [-]D.DDDDDDDDDDDDDDe[+-]XX
  std::string s(buf);
  bool neg = false;
  if (s[0] == '-') {
    neg = true;
    s.erase(0, 1);
  }
  const size_t e = s.find('e');
  std::string digits = s.substr(0, 1) + s.substr(2, e - 2);
  const int exp = std::atoi(s.c_str() + e + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out = neg ? "-" : "";
  const int n = static_cast<int>(digits.size());
  if (exp >= -5 && exp <= 14) {
    if (exp < 0) {
      out += "0." + std::string(static_cast<size_t>(-exp - 1), '0') + digits;
    } else {
      for (int i = 0; i <= exp; ++i) out += i < n ? digits[static_cast<size_t>(i)] : '0';
      if (n > exp + 1) out += "." + digits.substr(static_cast<size_t>(exp) + 1);
    }
    return out;
  }
  out += digits.substr(0, 1);
  if (n > 1) out += "." + digits.substr(1);
  out += "E" + std::to_string(exp);
  return out;
}

std::optional<int64_t> StrToInt(std::string_view s) {
  auto v = base::TryStrToInt(s);
  if (!v) return std::nullopt;
  return *v;
}

std::string InvalidIntegerText(std::string_view s) {
  return "\"" + std::string(s) + "\" is an invalid integer";
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (auto& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (auto& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return r;
}

std::string_view Copy(std::string_view s, int64_t index, int64_t count) {
  const int64_t len = static_cast<int64_t>(s.size());
  if (index < 1) index = 1;
  if (index > len || count <= 0) return {};
  if (count > len - index + 1) count = len - index + 1;
  return s.substr(static_cast<size_t>(index - 1), static_cast<size_t>(count));
}

int64_t Pos(std::string_view sub, std::string_view s) {
  if (sub.empty()) return 0;
  const size_t p = s.find(sub);
  return p == std::string_view::npos ? 0 : static_cast<int64_t>(p) + 1;
}

bool RoundToInt(double v, int64_t& out) {
  if (!(v > -9223372036854775808.0 && v < 9223372036854775808.0)) return false;
  out = static_cast<int64_t>(std::nearbyint(v));  // default rounding mode: half to even
  return true;
}

bool TruncToInt(double v, int64_t& out) {
  if (!(v > -9223372036854775809.0 && v < 9223372036854775808.0)) return false;
  out = static_cast<int64_t>(v);
  return true;
}

}  // namespace script::engine::rtl
