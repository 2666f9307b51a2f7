#include "base/format.h"

#include <gtest/gtest.h>

#include "base/convert.h"

namespace {

using base::Format;

TEST(Format, ConversionsFollowTheProgramsRules) {
  struct Case {
    std::string got, want;
  };
  const Case cases[] = {
      {Format("%x", 255), "FF"},
      {Format("%x", -1), "FFFFFFFF"},
      {Format("%x", int64_t{-1}), "FFFFFFFFFFFFFFFF"},
      {Format("%2.2x", 0x0A), "0A"},
      {Format("%2.2x", 0x1ABC), "1ABC"},  // precision never cuts
      {Format("%.8x", 0xBEEF), "0000BEEF"},
      {Format("%5.5u", 42), "00042"},
      {Format("%5.5u", 1234567), "1234567"},
      {Format("%u", -1), "4294967295"},
      {Format("%d", -42), "-42"},
      {Format("%.4d", -42), "-0042"},
      {Format("%6d|%-6d|", 7, 7), "     7|7     |"},
      {Format("%s and %s", "a", std::string("b")), "a and b"},
      {Format("%.2s", "abcdef"), "ab"},
      {Format("%f", 3.14159), "3.14"},
      {Format("%f", 0.125), "0.13"},  // halves away from zero on the decimal digits
      {Format("%3.3f", 2.0), "2.000"},
      {Format("%.0f", 2.5), "3"},
      {Format("%.0f", -0.4), "0"},
      {Format("%.1f", 9.96), "10.0"},
      {Format("%n", 1234567.891), "1,234,567.89"},
      {Format("%e", 1234.5), "1.23450000000000E+003"},
      {Format("%g", 0.5), "0.5"},
      {Format("100%% %d", 1), "100% 1"},
      {Format("%1:s %0:s", "a", "b"), "b a"},
      {Format("%*d", 4, 5), "   5"},
      {Format("Range: %x - %x", 0, 0xFF), "Range: 0 - FF"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(Format, MismatchedArgumentsAreRefused) {
  EXPECT_THROW(Format("%d", "text"), base::EFormatError);
  EXPECT_THROW(Format("%s", 1), base::EFormatError);
  EXPECT_THROW(Format("%d %d", 1), base::EFormatError);
  EXPECT_THROW(Format("%q", 1), base::EFormatError);
  EXPECT_THROW(Format("abc %"), base::EFormatError);
  EXPECT_THROW(Format("%d", 1.5), base::EFormatError);
}

TEST(Convert, HexEntries) {
  struct Case {
    const char* text;
    std::optional<int32_t> want;
  };
  const Case cases[] = {
      {"FF", 255},
      {"ff", 255},
      {"7FFFFFFF", 0x7FFFFFFF},
      {"FFFFFFFF", -1},  // eight digits, two's complement
      {"80000000", INT32_MIN},
      {"00000000FF", 255},  // leading zeros are no digits of the value
      {"100000000", std::nullopt},
      {"", std::nullopt},
      {"1G", std::nullopt},
      {" 1", std::nullopt},
      {"1 ", std::nullopt},
      {"-1", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(base::HexEntryToInt(c.text), c.want) << c.text;
  EXPECT_EQ(base::HexEntryToInt64("FFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(base::HexEntryToInt64("1FFFFFFFF"), 0x1FFFFFFFFll);
  EXPECT_EQ(base::HexEntryToInt64("10000000000000000"), std::nullopt);
}

TEST(Convert, DecimalText) {
  EXPECT_EQ(base::TryStrToInt("123"), 123);
  EXPECT_EQ(base::TryStrToInt("  -2147483648"), INT32_MIN);
  EXPECT_EQ(base::TryStrToInt("2147483648"), std::nullopt);
  EXPECT_EQ(base::TryStrToInt("12a"), std::nullopt);
  EXPECT_EQ(base::TryStrToInt("-"), std::nullopt);
  EXPECT_EQ(base::TryStrToInt("0x1f"), 31);
  EXPECT_EQ(base::TryStrToInt64("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(base::TryStrToInt64("9223372036854775808"), std::nullopt);
}

TEST(Convert, RoundHalfEven) {
  EXPECT_EQ(base::RoundHalfEven(2.5L), 2);
  EXPECT_EQ(base::RoundHalfEven(3.5L), 4);
  EXPECT_EQ(base::RoundHalfEven(-2.5L), -2);
  EXPECT_EQ(base::RoundHalfEven(1.500001L), 2);
  EXPECT_EQ(base::RoundHalfEven(-0.4L), 0);
  EXPECT_EQ(base::RoundHalfEven(1e30L), INT64_MAX);
}

}  // namespace
