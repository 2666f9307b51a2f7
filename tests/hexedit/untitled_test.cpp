#include "hexedit/untitled.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using hexedit::IsUntitledName;
using hexedit::NewUntitledName;

TEST(UntitledNames, CountOnWithoutRepeating) {
  const std::string a = NewUntitledName();
  const std::string b = NewUntitledName();
  ASSERT_TRUE(a.starts_with("Untitled"));
  EXPECT_EQ(std::stoi(b.substr(8)), std::stoi(a.substr(8)) + 1);
}

// The counter starts at 0 with the program: the first name of a run is Untitled1. The
// death-test child re-runs this test alone in a fresh process.
TEST(UntitledNamesDeathTest, TheFirstNameOfARunIsUntitled1) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const bool ok = NewUntitledName() == "Untitled1" && NewUntitledName() == "Untitled2";
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(UntitledNames, OnlyNamesStartingWithUntitledCount) {
  EXPECT_TRUE(IsUntitledName("Untitled"));
  EXPECT_TRUE(IsUntitledName("Untitled1"));
  EXPECT_TRUE(IsUntitledName("Untitled.bin"));
  EXPECT_FALSE(IsUntitledName("untitled1"));  // case-sensitive
  EXPECT_FALSE(IsUntitledName("Untitle"));
  EXPECT_FALSE(IsUntitledName("/home/u/Untitled.bin"));  // a folder in front
  EXPECT_FALSE(IsUntitledName("C:\\Untitled.bin"));
  EXPECT_FALSE(IsUntitledName(""));
}

}  // namespace
