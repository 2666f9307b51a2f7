#include "base/format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace base {

uint64_t TFormatArg::AsUnsigned() const {
  if (kind_ == Kind::UInt) return bits_ == 32 ? static_cast<uint32_t>(u_) : u_;
  if (bits_ == 32) return static_cast<uint32_t>(static_cast<int32_t>(i_));
  return static_cast<uint64_t>(i_);
}

long double TFormatArg::AsFloat() const {
  switch (kind_) {
    case Kind::Float:
      return f_;
    case Kind::Int:
      return static_cast<long double>(i_);
    case Kind::UInt:
      return static_cast<long double>(u_);
    case Kind::Str:
      break;
  }
  return 0;
}

namespace {

[[noreturn]] void Invalid(std::string_view fmt) {
  throw EFormatError("Format '" + std::string(fmt) + "' invalid or incompatible with argument");
}

// Decimal digits of |v| rounded to `sig` significant digits (half away from zero) and the
// decimal exponent of the first digit: v = 0.d1d2d3... * 10^exp10.
struct TDecimal {
  bool negative = false;
  std::string digits;  // no leading zeros; "0" for zero
  int exp10 = 0;
};

TDecimal ToDecimal18(long double v) {
  TDecimal d;
  d.negative = std::signbit(v);
  v = std::fabs(v);
  if (v == 0) {
    d.digits = "0";
    d.exp10 = 1;
    return d;
  }
  // 18 significant digits, as many as extended precision carries.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17Le", v);
  // buf: D.DDDDDDDDDDDDDDDDDe[+-]XX
  std::string s(buf);
  const auto e = s.find('e');
  d.digits = s.substr(0, 1) + s.substr(2, e - 2);
  d.exp10 = std::atoi(s.c_str() + e + 1) + 1;
  while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
  return d;
}

// Keep `keep` digits of d (keep may be <= 0), rounding half away from zero on the
// first dropped digit.
void RoundDigits(TDecimal& d, int keep) {
  if (keep >= static_cast<int>(d.digits.size())) return;
  if (keep < 0) {
    d.digits = "0";
    return;
  }
  const bool up = d.digits[keep] >= '5';
  d.digits.resize(keep);
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d.digits[i] == '9') {
      d.digits[i] = '0';
      --i;
    }
    if (i < 0) {
      d.digits.insert(d.digits.begin(), '1');
      d.exp10 += 1;
    } else {
      d.digits[i] += 1;
    }
  }
  while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
  if (d.digits.empty()) d.digits = "0";
}

bool IsZero(const TDecimal& d) { return d.digits == "0"; }

std::string GroupThousands(const std::string& intPart) {
  std::string out;
  const int n = static_cast<int>(intPart.size());
  for (int i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += ',';
    out += intPart[i];
  }
  return out;
}

std::string FixedText(long double v, int decimals, bool thousands) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  TDecimal d = ToDecimal18(v);
  if (!IsZero(d)) RoundDigits(d, d.exp10 + decimals);
  std::string intPart, fracPart;
  const int n = static_cast<int>(d.digits.size());
  if (IsZero(d)) {
    intPart = "0";
  } else {
    for (int i = 0; i < d.exp10; ++i) intPart += i < n ? d.digits[i] : '0';
    if (intPart.empty()) intPart = "0";
  }
  for (int i = 0; i < decimals; ++i) {
    const int idx = d.exp10 + i;
    fracPart += (!IsZero(d) && idx >= 0 && idx < n) ? d.digits[idx] : '0';
  }
  std::string out = (d.negative && !IsZero(d)) ? "-" : "";
  out += thousands ? GroupThousands(intPart) : intPart;
  if (decimals > 0) out += "." + fracPart;
  return out;
}

std::string ExpText(long double v, int precision) {
  // Scientific with `precision` significant digits and a signed three-digit exponent.
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  if (precision < 1) precision = 1;
  if (precision > 18) precision = 18;
  TDecimal d = ToDecimal18(v);
  int exp = 0;
  if (!IsZero(d)) {
    RoundDigits(d, precision);
    exp = d.exp10 - 1;
  }
  std::string mant = d.digits;
  mant.resize(precision, '0');
  std::string out = (d.negative && !IsZero(d)) ? "-" : "";
  out += mant.substr(0, 1);
  if (precision > 1) out += "." + mant.substr(1);
  char e[16];
  std::snprintf(e, sizeof e, "E%c%03d", exp < 0 ? '-' : '+', exp < 0 ? -exp : exp);
  return out + e;
}

std::string GeneralText(long double v, int precision) {
  // Shortest of fixed or scientific for `precision` significant digits, no trailing zeros.
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  if (precision < 1 || precision > 18) precision = 15;
  TDecimal d = ToDecimal18(v);
  if (IsZero(d)) return "0";
  RoundDigits(d, precision);
  std::string sign = d.negative ? "-" : "";
  const int n = static_cast<int>(d.digits.size());
  if (d.exp10 > precision || d.exp10 < -3) {
    std::string out = sign + d.digits.substr(0, 1);
    if (n > 1) out += "." + d.digits.substr(1);
    const int exp = d.exp10 - 1;
    char e[16];
    std::snprintf(e, sizeof e, "E%c%02d", exp < 0 ? '-' : '+', exp < 0 ? -exp : exp);
    return out + e;
  }
  std::string out = sign;
  if (d.exp10 <= 0) {
    out += "0." + std::string(-d.exp10, '0') + d.digits;
  } else {
    for (int i = 0; i < d.exp10; ++i) out += i < n ? d.digits[i] : '0';
    if (n > d.exp10) out += "." + d.digits.substr(d.exp10);
  }
  return out;
}

std::string PadDigits(std::string digits, int precision) {
  if (precision > static_cast<int>(digits.size())) digits.insert(0, precision - digits.size(), '0');
  return digits;
}

std::string HexDigits(uint64_t v) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  do {
    s.insert(s.begin(), kHex[v & 15]);
    v >>= 4;
  } while (v);
  return s;
}

}  // namespace

std::string FloatToFixed(long double v, int decimals, bool thousands) {
  return FixedText(v, decimals < 0 ? 0 : decimals, thousands);
}

std::string FormatV(std::string_view fmt, std::span<const TFormatArg> args) {
  std::string out;
  size_t next = 0;  // next argument index
  size_t i = 0;
  auto takeArg = [&]() -> const TFormatArg& {
    if (next >= args.size()) Invalid(fmt);
    return args[next++];
  };
  auto readNumber = [&](int& value) -> bool {  // digits or '*'
    if (i < fmt.size() && fmt[i] == '*') {
      ++i;
      const TFormatArg& a = takeArg();
      if (a.kind() != TFormatArg::Kind::Int && a.kind() != TFormatArg::Kind::UInt) Invalid(fmt);
      const int64_t v = a.AsInt();
      value = v < 0 ? 0 : (v > 100000 ? 100000 : static_cast<int>(v));
      return true;
    }
    bool any = false;
    value = 0;
    while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
      if (value < 100000) value = value * 10 + (fmt[i] - '0');
      ++i;
      any = true;
    }
    return any;
  };

  while (i < fmt.size()) {
    const char c = fmt[i++];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i >= fmt.size()) Invalid(fmt);
    if (fmt[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // [index:]
    {
      size_t j = i;
      int idx = 0;
      bool digits = false;
      while (j < fmt.size() && fmt[j] >= '0' && fmt[j] <= '9') {
        if (idx < 100000) idx = idx * 10 + (fmt[j] - '0');
        ++j;
        digits = true;
      }
      if (digits && j < fmt.size() && fmt[j] == ':') {
        next = static_cast<size_t>(idx);
        i = j + 1;
      }
    }
    bool left = false;
    if (i < fmt.size() && fmt[i] == '-') {
      left = true;
      ++i;
    }
    int width = 0;
    readNumber(width);
    int precision = -1;
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      if (!readNumber(precision)) precision = 0;
    }
    if (i >= fmt.size()) Invalid(fmt);
    const char type = static_cast<char>(fmt[i++] | 0x20);  // case-insensitive type letter
    const TFormatArg& a = takeArg();
    const bool isInt = a.kind() == TFormatArg::Kind::Int || a.kind() == TFormatArg::Kind::UInt;
    const bool isNum = isInt || a.kind() == TFormatArg::Kind::Float;
    std::string text;
    switch (type) {
      case 'd': {
        if (!isInt) Invalid(fmt);
        const int64_t v = a.AsInt();
        const bool neg = a.kind() == TFormatArg::Kind::Int && v < 0;
        const uint64_t mag = neg ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        text = (neg ? "-" : "") + PadDigits(std::to_string(mag), precision);
        break;
      }
      case 'u':
        if (!isInt) Invalid(fmt);
        text = PadDigits(std::to_string(a.AsUnsigned()), precision);
        break;
      case 'x':
        if (!isInt) Invalid(fmt);
        text = PadDigits(HexDigits(a.AsUnsigned()), precision);
        break;
      case 'p':
        if (!isInt) Invalid(fmt);
        text = PadDigits(HexDigits(a.AsUnsigned()), 8);
        break;
      case 'f':
        if (!isNum) Invalid(fmt);
        text = FixedText(a.AsFloat(), precision < 0 ? 2 : precision, false);
        break;
      case 'n':
        if (!isNum) Invalid(fmt);
        text = FixedText(a.AsFloat(), precision < 0 ? 2 : precision, true);
        break;
      case 'e':
        if (!isNum) Invalid(fmt);
        text = ExpText(a.AsFloat(), precision < 0 ? 15 : precision);
        break;
      case 'g':
        if (!isNum) Invalid(fmt);
        text = GeneralText(a.AsFloat(), precision < 0 ? 15 : precision);
        break;
      case 's':
        if (a.kind() != TFormatArg::Kind::Str) Invalid(fmt);
        text = a.AsStr();
        if (precision >= 0 && static_cast<size_t>(precision) < text.size()) text.resize(precision);
        break;
      default:
        Invalid(fmt);
    }
    if (static_cast<int>(text.size()) < width) {
      const std::string pad(width - text.size(), ' ');
      text = left ? text + pad : pad + text;
    }
    out += text;
  }
  return out;
}

}  // namespace base
