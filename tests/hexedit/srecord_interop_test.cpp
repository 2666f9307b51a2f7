// Interoperability with srecord's srec_cat (Debian package srecord): what we write it
// reads byte for byte, and what it writes with its default record layout we read byte for
// byte. Skipped when srec_cat is not installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "hexedit/bytescope.h"
#include "hexedit/formats.h"
#include "hexedit/test_files.h"
#include "support/fake_dialogs.h"

namespace {

using hexedit::TBytescope;
using hexedit_test::RandomBytes;
using hexedit_test::ReadBytes;
using hexedit_test::ReadText;
using hexedit_test::TTempDir;
using hexedit_test::WriteBytes;
using hexedit_test::WriteText;

bool HaveSrecCat() { return std::system("command -v srec_cat >/dev/null 2>&1") == 0; }

// Runs srec_cat with the arguments; its warnings (no start address ...) are not ours.
bool SrecCat(const std::string& args) {
  return std::system(("srec_cat " + args + " 2>/dev/null").c_str()) == 0;
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

class SrecordInteropTest : public ::testing::TestWithParam<size_t> {
 protected:
  void SetUp() override {
    if (!HaveSrecCat()) GTEST_SKIP() << "srec_cat (Debian package srecord) is not installed";
  }
  testing_support::TFakeDialogs dialogs;
  TTempDir dir;
};

TEST_P(SrecordInteropTest, SrecCatReadsWhatWeWrite) {
  const size_t size = GetParam();
  const auto image = RandomBytes(size, static_cast<uint32_t>(size * 7 + 1));
  TBytescope scope;
  scope.TakeContent(std::vector<uint8_t>(image), "Untitled1");
  ASSERT_TRUE(hexedit::SaveHexFile(scope, dir / "ours.hex"));
  ASSERT_TRUE(hexedit::SaveMotFile(scope, dir / "ours.s19"));
  ASSERT_TRUE(SrecCat(Quoted(dir / "ours.hex") + " -intel -o " + Quoted(dir / "from-hex.bin") +
                      " -binary"));
  ASSERT_TRUE(SrecCat(Quoted(dir / "ours.s19") + " -motorola -o " + Quoted(dir / "from-s19.bin") +
                      " -binary"));
  EXPECT_TRUE(ReadBytes(dir / "from-hex.bin") == image);
  EXPECT_TRUE(ReadBytes(dir / "from-s19.bin") == image);
}

TEST_P(SrecordInteropTest, WeReadWhatSrecCatWrites) {
  const size_t size = GetParam();
  const auto image = RandomBytes(size, static_cast<uint32_t>(size * 3 + 2));
  WriteBytes(dir / "image.bin", image);
  const std::string in = Quoted(dir / "image.bin") + " -binary -o ";
  ASSERT_TRUE(SrecCat(in + Quoted(dir / "theirs.hex") + " -intel"));
  ASSERT_TRUE(SrecCat(in + Quoted(dir / "theirs.s19") + " -motorola"));
  TBytescope scope;
  hexedit::TFileError error;
  ASSERT_TRUE(hexedit::LoadHexFile(scope, dir / "theirs.hex", &error)) << error.Message();
  EXPECT_TRUE(std::vector<uint8_t>(scope.Bytes().begin(), scope.Bytes().end()) == image);
  ASSERT_TRUE(hexedit::LoadMotFile(scope, dir / "theirs.s19", &error)) << error.Message();
  EXPECT_TRUE(std::vector<uint8_t>(scope.Bytes().begin(), scope.Bytes().end()) == image);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SrecordInteropTest,
                         ::testing::Values(size_t{1}, size_t{255}, size_t{65536 + 1},
                                           size_t{1} << 20),
                         [](const auto& p) { return std::to_string(p.param) + "Bytes"; });

// One changed digit of a checksum in a file srec_cat wrote: our reader names the line.
TEST(SrecordInterop, AChangedChecksumDigitFailsWithTheLineNumber) {
  if (!HaveSrecCat()) GTEST_SKIP() << "srec_cat (Debian package srecord) is not installed";
  TTempDir dir;
  WriteBytes(dir / "image.bin", RandomBytes(1000, 11));
  for (const char* format : {"intel", "motorola"}) {
    SCOPED_TRACE(format);
    const std::string name = dir / (std::string("theirs.") + (format[0] == 'i' ? "hex" : "s19"));
    ASSERT_TRUE(SrecCat(Quoted(dir / "image.bin") + " -binary -o " + Quoted(name) + " -" + format));
    std::string text = ReadText(name);
    // The last digit of line 5's checksum.
    size_t pos = 0;
    for (int line = 0; line < 5; ++line) pos = text.find('\n', pos) + 1;
    const size_t last = pos - 2;
    text[last] = text[last] == '0' ? '1' : '0';
    WriteText(name, text);
    TBytescope scope;
    hexedit::TFileError error;
    EXPECT_FALSE(hexedit::OpenBufferFile(scope, name, false, &error));
    EXPECT_EQ(error.Line, 5);
    EXPECT_NE(error.Cause.find("checksum"), std::string::npos) << error.Message();
    EXPECT_EQ(scope.DataSize(), 0);
  }
}

}  // namespace
