// The program start and end of the command line, run as the installed program runs:
// the real executable with its driver module beside it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/startup.h"

namespace {

namespace fs = std::filesystem;

struct TResult {
  int code;
  std::string out, err;
};

TResult RunProgram(const std::string& binary, const std::string& args, const std::string& config) {
  const std::string dir = testing::TempDir();
  // Test processes run side by side: every run gets files of its own.
  const std::string stem = dir + "cli-" + std::to_string(getpid());
  const std::string out = stem + ".out", err = stem + ".err";
  const std::string cmd = "XDG_CONFIG_HOME='" + config + "' '" + binary + "' " + args + " >'" +
                          out + "' 2>'" + err + "' </dev/null";
  const int status = std::system(cmd.c_str());
  auto slurp = [](const std::string& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  };
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
}

std::string Fresh(const std::string& name) {
  const std::string dir = testing::TempDir() + "startup-" + name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

std::string Flat(std::string s) {
  for (char& c : s)
    if (c == '\r') c = ' ';
  return s;
}

TEST(ProgramStart, FirstRunRemindsToCalibrateAndKeepsTheSettings) {
  const std::string config = Fresh("first");
  TResult r = RunProgram(VARNIX_BINARY, "lines", config);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("Warning: " + Flat(app::kCalibrateReminder)), std::string::npos) << r.err;

  r = RunProgram(VARNIX_BINARY, "calibrate --save", config);
  ASSERT_EQ(r.code, 0) << r.err;
  std::ifstream in(config + "/varnix/Varnix2.2.conf");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("\"CycleTime\"=\"1000\""), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("\"PrinterPort\"=\"LPT1\""), std::string::npos);

  r = RunProgram(VARNIX_BINARY, "lines --lpt LPT2", config);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");  // calibrated: no reminder
  // --lpt was for that run only.
  std::ifstream again(config + "/varnix/Varnix2.2.conf");
  std::stringstream text2;
  text2 << again.rdbuf();
  EXPECT_NE(text2.str().find("\"PrinterPort\"=\"LPT1\""), std::string::npos);
}

TEST(ProgramStart, BadOrUnwritableSettingsNeverStopTheProgram) {
  const std::string config = Fresh("bad");
  fs::create_directories(config + "/varnix");
  std::ofstream(config + "/varnix/Varnix2.2.conf") << "\x01\x02 garbage\n[Software\\Dr";
  TResult r = RunProgram(VARNIX_BINARY, "lines", config);
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.err.find("Varnix2.2.conf: skipped 2 unreadable lines"), std::string::npos) << r.err;

  // The settings file's folder is taken by a plain file: nothing can be written.
  const std::string blocked = Fresh("blocked");
  std::ofstream(blocked + "/varnix") << "not a folder";
  r = RunProgram(VARNIX_BINARY, "lines", blocked);
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.err.find(blocked + "/varnix/Varnix2.2.conf"), std::string::npos) << r.err;
}

TEST(ProgramStart, TheDriverModuleMustLieBesideTheProgram) {
  const std::string dir = Fresh("moved");
  const fs::path binary = VARNIX_BINARY;
  fs::copy_file(binary, dir + "/varnix22");
  TResult r = RunProgram(dir + "/varnix22", "calibrate", dir);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "Warning: Driver varnixio.sys is not Loaded!\n");
  EXPECT_EQ(r.out, "");

  fs::copy_file(binary.parent_path() / "varnixio.sys", dir + "/varnixio.sys");
  r = RunProgram(dir + "/varnix22", "calibrate", dir);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Delay: "), std::string::npos);
}

}  // namespace
