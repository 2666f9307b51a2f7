#include <gtest/gtest.h>

#include <sstream>

#include "app/cli/cli.h"
#include "base/convert.h"
#include "hw/ports.h"

namespace {

struct TRun {
  int code;
  std::string out, err;
};

TRun RunCli(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int code = app::RunCommandLine(args, out, err);
  hw::ResetPortState();
  return {code, out.str(), err.str()};
}

TEST(CommandLine, CalibrateOnTheBench) {
  const TRun r = RunCli({"calibrate", "--bench", "bench"});
  ASSERT_EQ(r.code, 0) << r.err;
  // 1 µs per access, two accesses per delay-loop cycle; one capture step is one read.
  std::istringstream lines(r.out);
  std::string delayLine, cycleLine;
  std::getline(lines, delayLine);
  std::getline(lines, cycleLine);
  ASSERT_EQ(delayLine.rfind("Delay: ", 0), 0u) << r.out;
  ASSERT_EQ(cycleLine.rfind("CycleTime: ", 0), 0u) << r.out;
  const auto delay = base::TryStrToInt(delayLine.substr(7));
  ASSERT_TRUE(delay);
  EXPECT_NEAR(*delay, 500000, 5000);
  EXPECT_EQ(cycleLine, "CycleTime: 1000");
}

TEST(CommandLine, LinesDriveAndReadTheAdapter) {
  TRun r = RunCli(
      {"lines", "--socket", "loopback", "--set", "OUT2=0", "--set", "out3=0", "--power", "on"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Out1=1 Out2=0 Out3=0 Out4=1 Out5=1 Out6=1 Out7=1 Out8=1\n"
            "In1=1 In2=0 In3=0 In4=1 StopBtn=0\n"
            "CTS=1\n"
            "Power ON\n");
}

TEST(CommandLine, BadInputIsRefusedWithOneLine) {
  const struct {
    std::vector<std::string> args;
    int code;
    const char* says;
  } cases[] = {
      {{"lines", "--set", "OUT9=1"}, 2, "\"OUT9=1\" is not a line setting"},
      {{"lines", "--set", "OUT1=2"}, 2, "is not a line setting"},
      {{"lines", "--power", "maybe"}, 2, "power"},
      {{"calibrate", "--bench", "serial"}, 2, "bench"},
      {{"lines", "--socket", "nosuch"}, 1, "no virtual device named \"nosuch\""},
      {{"lines", "--socket-image", "x.bin"}, 1, "--socket-image needs a device"},
      {{}, 2, "subcommand"},
  };
  for (const auto& c : cases) {
    const TRun r = RunCli(c.args);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
}

TEST(CommandLine, AnUnknownLptNameHasNoAddress) {
  const TRun r = RunCli({"lines", "--lpt", "LPT4"});
  ASSERT_EQ(r.code, 0) << r.err;
  // No port at all: nothing reaches the adapter, the inputs read a floating bus.
  EXPECT_NE(r.out.find("Power"), std::string::npos);
}

}  // namespace
