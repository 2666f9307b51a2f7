// The `convert` subcommand: buffer files from one format to another.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "hexedit/test_files.h"

namespace {

using hexedit_test::RandomBytes;
using hexedit_test::ReadBytes;
using hexedit_test::ReadText;
using hexedit_test::TTempDir;
using hexedit_test::WriteBytes;
using hexedit_test::WriteText;

struct TRun {
  int code;
  std::string out, err;
};

TRun RunCli(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = app::RunCommandLine(args, out, err);
  return {code, out.str(), err.str()};
}

TEST(ConvertCommand, ConvertsBetweenTheFormatsByExtension) {
  TTempDir dir;
  const auto image = RandomBytes(70000, 5);
  WriteBytes(dir / "a.bin", image);
  auto r = RunCli({"convert", dir / "a.bin", dir / "a.hex"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, (dir / "a.bin") + " -> " + (dir / "a.hex") + ": 70000 bytes\n");
  EXPECT_EQ(ReadText(dir / "a.hex").substr(0, 9), ":10000000");
  r = RunCli({"convert", dir / "a.hex", dir / "b.S28"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadText(dir / "b.S28").substr(0, 2), "S0");
  r = RunCli({"convert", dir / "b.S28", dir / "c.img"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(ReadBytes(dir / "c.img") == image);
}

TEST(ConvertCommand, BadInputIsExitStatus2WithTheLineAndCause) {
  TTempDir dir;
  WriteText(dir / "bad.hex", ":0100000011EE\n:0100000011EF\n:00000001FF\n");
  const auto r = RunCli({"convert", dir / "bad.hex", dir / "out.bin"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err,
            "varnix22: " + (dir / "bad.hex") + ":2: checksum EF is wrong, the record needs EE\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));
  EXPECT_EQ(RunCli({"convert", dir / "missing.bin", dir / "out.hex"}).code, 2);
  EXPECT_EQ(RunCli({"convert", dir / "bad.hex"}).code, 2);  // usage
}

TEST(ConvertCommand, AnExistingOutputIsOnlyReplacedWithForce) {
  TTempDir dir;
  WriteText(dir / "in.bin", "abc");
  WriteText(dir / "out.hex", "keep me");
  auto r = RunCli({"convert", dir / "in.bin", dir / "out.hex"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("File Exists. Overwrite?"), std::string::npos);
  EXPECT_EQ(ReadText(dir / "out.hex"), "keep me");
  r = RunCli({"convert", "--force", dir / "in.bin", dir / "out.hex"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadText(dir / "out.hex"), ":03000000616263D7\n:00000001FF\n");
}

TEST(ConvertCommand, AnEmptyBufferMakesNoHexFile) {
  TTempDir dir;
  WriteText(dir / "empty.bin", "");
  const auto r = RunCli({"convert", dir / "empty.bin", dir / "e.hex"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("the buffer is empty"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "e.hex"));
}

}  // namespace
