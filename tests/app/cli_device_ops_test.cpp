// The device subcommands as a user runs them: argument checks happen before any hardware
// is touched, and a device this version cannot program says so.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/cli/cli.h"
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

TEST(DeviceCommands, BadArgumentsAreRefusedBeforeTheDeviceIsTouched) {
  const std::string existing = testing::TempDir() + "device-ops-existing.bin";
  std::ofstream(existing) << "x";
  const std::string bad = testing::TempDir() + "device-ops-bad.hex";
  std::ofstream(bad) << ":10000000ZZ\n";
  const struct {
    std::vector<std::string> args;
    int code;
    const char* says;
  } cases[] = {
      {{"read", "27C256", "-o", "x.bin"}, 2, "unknown device \"27C256\""},
      {{"read", "File", "-o", "x.bin"}, 2, "is not a device"},
      {{"read", "24c02", "-o", "x.bin", "--start", "1G"}, 2, "--start 1G is not an address"},
      {{"read", "24C02", "-o", "x.bin", "--end", "100"},
       2,
       "--end 100 is not an address from 0 to FF"},
      {{"read", "24C02", "-o", "x.bin", "--start", "20", "--end", "10"}, 2, "--start 20"},
      {{"read", "24C02", "-o", existing}, 2, "exists; add --force"},
      {{"program", "24C02", testing::TempDir() + "device-ops-missing.bin"},
       2,
       "device-ops-missing.bin"},
      {{"verify", "24C02", bad}, 2, "device-ops-bad.hex:1"},
      {{"erase", "24C02"}, 2, "24C02 has no erase command"},
      {{"read", "24C02"}, 2, "--output"},
  };
  for (const auto& c : cases) {
    const TRun r = RunCli(c.args);
    EXPECT_EQ(r.code, c.code) << c.args[0] << " " << c.args[1] << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
}

}  // namespace

namespace {

TEST(EmulateCommand, ListsTheBusEventsUntilTheStopButton) {
  // On the bench nobody drives the bus: the run sees an idle bus and ends on the stop
  // button the bench presses after the given virtual time.
  TRun r = RunCli({"emulate", "93c46", "--seconds", "0.5"});
  EXPECT_EQ(r.code, 0) << r.err;

  const std::string log = testing::TempDir() + "emulate-log.txt";
  r = RunCli({"emulate", "24C02", "--seconds", "0.5", "--log", log});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  std::ifstream in(log);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first.substr(0, 5), "00000");

  r = RunCli({"emulate", "25C040"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("cannot be emulated"), std::string::npos);
  r = RunCli({"emulate", "24C02", "--image", testing::TempDir() + "no-such-image.bin"});
  EXPECT_EQ(r.code, 2);
}

}  // namespace
