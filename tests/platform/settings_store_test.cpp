#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "hw/hardware_settings.h"
#include "hw/ports.h"
#include "support/bench_fixture.h"

namespace {

namespace fs = std::filesystem;
using platform::TSettingsStore;

std::string Folder(const std::string& name) {
  const std::string dir = testing::TempDir() + "settings-" + name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(SettingsStore, KeepsTheRegistryLayoutInOneFile) {
  const std::string path = Folder("roundtrip") + "/sub/Varnix2.2.conf";
  TSettingsStore a;
  ASSERT_TRUE(a.Load(path, nullptr));  // no file yet: empty
  a.WriteInteger("Controller", "Delay", 500000);
  a.WriteString("Controller", "PrinterPort", "LPT2");
  a.WriteString("Recent File List", "File0", "C:\\dir \"quoted\"\\x.hex");
  a.WriteRect("MainWindow", {-10, 20, 810, 620});
  std::string reason;
  ASSERT_TRUE(a.Save(&reason)) << reason;

  const std::string text = ReadAll(path);
  EXPECT_NE(text.find("[Software\\Dravon\\Varnix2.2]\n\"MainWindow\"=hex:f6,ff,ff,ff,14,00"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("[Software\\Dravon\\Varnix2.2\\Controller]\n\"Delay\"=\"500000\""),
            std::string::npos);

  TSettingsStore b;
  std::string warning;
  ASSERT_TRUE(b.Load(path, &warning));
  EXPECT_TRUE(warning.empty()) << warning;
  EXPECT_EQ(b.ReadInteger("Controller", "Delay", 0), 500000);
  EXPECT_EQ(b.ReadString("Controller", "PrinterPort", ""), "LPT2");
  EXPECT_EQ(b.ReadString("Recent File List", "File0", ""), "C:\\dir \"quoted\"\\x.hex");
  EXPECT_EQ(b.ReadRect("MainWindow"), (platform::TRect{-10, 20, 810, 620}));
  EXPECT_FALSE(b.ReadRect("Nothing"));
}

TEST(SettingsStore, UnreadableLinesAreSkippedAndNamed) {
  const std::string path = Folder("garbage") + "/Varnix2.2.conf";
  std::ofstream(path) << "; comment\n"
                         "[Software\\Dravon\\Varnix2.2\\Controller]\n"
                         "\"ComPort\"=\"COM1\"\n"
                         "garbage line\n"
                         "\"Delay\"=\"12x\"\n"
                         "\"CycleTime\"=hex:0z\n"
                         "[Software\\Other\\Program]\n"
                         "\"ComPort\"=\"COM4\"\n"
                         "[Software\\Dravon\\Varnix2.2]\n"
                         "\"MainWindow\"=hex:01,02,03\n"
                         "\"PrinterPort\"=\"LP";  // cut off in the middle of a write
  TSettingsStore s;
  std::string warning;
  ASSERT_TRUE(s.Load(path, &warning));
  EXPECT_NE(warning.find(path), std::string::npos);
  EXPECT_NE(warning.find("skipped 5 unreadable lines (first at line 4)"), std::string::npos)
      << warning;
  EXPECT_EQ(s.ReadString("Controller", "ComPort", ""), "COM1");
  EXPECT_EQ(s.ReadInteger("Controller", "Delay", 0), 0);  // not a number: the default
  EXPECT_FALSE(s.ReadRect("MainWindow"));                 // not 16 bytes

  struct Case {
    const char* text;
    int64_t want;
  };
  for (const Case c : {Case{"-5", -5}, Case{"$10", 7}, Case{"", 7}, Case{"0x10", 7},
                       Case{"4294967295", 4294967295}}) {
    s.WriteString("Controller", "Delay", c.text);
    EXPECT_EQ(s.ReadInteger("Controller", "Delay", 7), c.want) << c.text;
  }
}

TEST(SettingsStore, AFailedWriteKeepsTheOldFile) {
  const std::string dir = Folder("unwritable");
  // The settings path is taken by a folder: the new file cannot replace it.
  const std::string path = dir + "/Varnix2.2.conf";
  fs::create_directories(path + "/keep");
  TSettingsStore s;
  s.WriteString("Controller", "ComPort", "COM1");
  std::string reason;
  EXPECT_FALSE(s.SaveTo(path, &reason));
  EXPECT_NE(reason.find(path), std::string::npos) << reason;
  EXPECT_TRUE(fs::is_directory(path + "/keep"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
      << "the temporary file was left behind";

  // A folder that cannot be created.
  std::ofstream(dir + "/plainfile") << "x";
  EXPECT_FALSE(s.SaveTo(dir + "/plainfile/sub/Varnix2.2.conf", &reason));
  EXPECT_NE(reason.find("cannot create its folder"), std::string::npos) << reason;

  // A path that cannot be read as a file at all.
  std::string warning;
  EXPECT_FALSE(s.Load(path, &warning));
  EXPECT_NE(warning.find("defaults apply"), std::string::npos) << warning;
  EXPECT_FALSE(s.ValueExists("Controller", "ComPort"));
}

class HardwareSettingsTest : public testing_support::BenchTest {};

TEST_F(HardwareSettingsTest, DefaultsAndRoundTrip) {
  TSettingsStore empty;
  hw::LoadHardwareSettings(empty);
  auto& p = hw::Ports();
  EXPECT_EQ(p.PrinterPort, "LPT1");
  EXPECT_EQ(p.ComPort, "COM2");
  EXPECT_EQ(p.Delay, 0u);
  EXPECT_EQ(p.CycleTime, 0u);
  EXPECT_EQ(p.LptBase, 0x378);
  EXPECT_EQ(p.ComBase, 0x2F8);
  EXPECT_EQ(p.ComMSR, 0x2FE);

  TSettingsStore s;
  s.WriteString("Controller", "PrinterPort", "LPT3");
  s.WriteString("Controller", "ComPort", "COM9");  // no longer a port: base 0
  s.WriteString("Controller", "Delay", "fast");
  s.WriteString("Controller", "CycleTime", "1250");
  hw::LoadHardwareSettings(s);
  EXPECT_EQ(p.LptBase, 0x3BC);
  EXPECT_EQ(p.ComBase, 0);
  EXPECT_EQ(p.Delay, 0u);
  EXPECT_EQ(p.CycleTime, 1250u);

  p.Delay = 3000000000u;
  TSettingsStore out;
  hw::SaveHardwareSettings(out);
  EXPECT_EQ(out.ReadString("Controller", "Delay", ""), "3000000000");
  EXPECT_EQ(out.ReadString("Controller", "ComPort", ""), "COM9");
  hw::LoadHardwareSettings(out);
  EXPECT_EQ(p.Delay, 3000000000u);
}

}  // namespace
