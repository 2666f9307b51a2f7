// The real back ends where they cannot run: no permission for port instructions, no
// parallel-port device file, a file that is no parallel port. Nothing here executes a
// port instruction on a real port.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hw/backends/backends.h"
#include "hw/backends/direct.h"

namespace {

constexpr const char* kMissing = "/nonexistent/varnix-test/parport0";
constexpr uid_t kNobody = 65534;

// Runs `body` in a child that has given up root; returns what it wrote, or nullopt-like
// "<no child>" when the child could not drop its privileges.
template <class F>
std::string AsNobody(F body) {
  int pipeFd[2];
  if (pipe(pipeFd) != 0) return "<no child>";
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipeFd[0]);
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(3);
    const std::string text = body();
    (void)!write(pipeFd[1], text.data(), text.size());
    _exit(0);
  }
  close(pipeFd[1]);
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = read(pipeFd[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(pipeFd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "<no child>";
  return out;
}

std::string DirectRefusal() {
  std::string reason;
  auto b = hw::MakeDirectBackend(reason);
  return b ? std::string("<created>") : reason;
}

TEST(DirectBackend, RefusedWithoutPermission) {
  const std::string reason = geteuid() == 0 ? AsNobody(DirectRefusal) : DirectRefusal();
  if (reason == "<no child>") GTEST_SKIP() << "cannot drop root here";
#if defined(__x86_64__) || defined(__i386__)
  // A kernel without ioperm refuses everyone, root included.
  EXPECT_TRUE(
      reason == "direct port access needs root (CAP_SYS_RAWIO): ioperm: Operation not permitted" ||
      reason.rfind("direct port access is not available: this kernel has no ioperm", 0) == 0)
      << reason;
#else
  EXPECT_EQ(reason, "the direct back end needs an x86 processor (port instructions)");
#endif
}

TEST(DirectBackend, AccessMapAndChipsetPortsAreHonouredWithoutTouchingThem) {
  std::string reason;
  auto b = hw::TDirectBackend::Create(reason);
  if (!b) GTEST_SKIP() << reason;
  EXPECT_STREQ(b->Name(), "direct");
  EXPECT_TRUE(b->UsesRealTime());
  // Every port denied: reads float and writes vanish before any instruction runs.
  std::array<uint8_t, 8192> map;
  map.fill(0xFF);
  ASSERT_TRUE(b->ApplyIoAccessMap(map.data(), &reason)) << reason;
  EXPECT_EQ(b->In(0x379), 0xFF);
  b->Out(0x378, 0x00);
  b->OutWord(0x3F8, 0x000C);
  b->DelayLoop(1000);  // the clock is denied too: nothing to count with
  EXPECT_FALSE(b->ApplyIoAccessMap(nullptr, &reason));
  EXPECT_EQ(reason, "no access map");
  // The chipset's own ports (DMA, interrupt controller) stay out of reach even when a
  // map allows them: a port base of 0 must not reprogram them.
  map.fill(0x00);
  map[0x378 >> 3] = 0xFF;  // keep the LPT denied so nothing below touches it
  ASSERT_TRUE(b->ApplyIoAccessMap(map.data(), &reason)) << reason;
  EXPECT_EQ(b->In(0x0001), 0xFF);
  EXPECT_EQ(b->In(0x0020), 0xFF);
  EXPECT_EQ(b->In(0x37A), 0xFF);
}

TEST(DevBackend, AMissingParallelPortIsNamed) {
  setenv("VARNIX_LPT1", kMissing, 1);
  std::string reason;
  EXPECT_EQ(hw::MakeDevBackend("LPT1", "COM2", reason), nullptr);
  EXPECT_EQ(reason, std::string(kMissing) + ": No such file or directory");
  EXPECT_FALSE(hw::AdapterReachable("LPT1"));
  unsetenv("VARNIX_LPT1");
}

TEST(DevBackend, BadNamesAndFilesThatAreNoParallelPort) {
  char path[] = "/tmp/varnix-not-a-parport-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  setenv("VARNIX_LPT2", path, 1);
  std::string reason;
  EXPECT_EQ(hw::MakeDevBackend("LPT2", "COM2", reason), nullptr);
  EXPECT_EQ(reason, std::string(path) +
                        ": not a ppdev parallel port (PPCLAIM: Inappropriate ioctl for device)");
  EXPECT_FALSE(hw::AdapterReachable("LPT2"));  // not a device at all
  unsetenv("VARNIX_LPT2");
  unlink(path);

  EXPECT_EQ(hw::MakeDevBackend("lpt1", "COM2", reason), nullptr);
  EXPECT_EQ(reason, "lpt1: not a port name (LPT1..LPT4)");
  EXPECT_EQ(hw::MakeDevBackend("COM1", "COM2", reason), nullptr);
  EXPECT_EQ(reason, "COM1: not a port name (LPT1..LPT4)");
  EXPECT_EQ(hw::MakeDevBackend("LPT1", "COM9", reason), nullptr);
  EXPECT_EQ(reason, "COM9: not a port name (COM1..COM4)");
  EXPECT_FALSE(hw::AdapterReachable("COM1"));
  EXPECT_FALSE(hw::AdapterReachable(""));
}

// ---- the command line -----------------------------------------------------------------

struct TRun {
  int code = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// The built program with `args`, VARNIX_LPT1 pointing nowhere; optionally as nobody.
TRun RunBinary(const std::vector<std::string>& args, bool asNobody = false) {
  char outPath[] = "/tmp/varnix-cli-out-XXXXXX";
  char errPath[] = "/tmp/varnix-cli-err-XXXXXX";
  const int outFd = mkstemp(outPath);
  const int errFd = mkstemp(errPath);
  TRun run;
  if (outFd < 0 || errFd < 0) return run;
  fchmod(outFd, 0666);
  fchmod(errFd, 0666);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outFd, 1);
    dup2(errFd, 2);
    setenv("VARNIX_LPT1", kMissing, 1);
    setenv("HOME", "/tmp", 1);
    setenv("XDG_CONFIG_HOME", "/tmp/varnix-cli-test-config", 1);
    if (asNobody && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(125);
    std::vector<char*> argv;
    std::string binary = VARNIX_BINARY;
    argv.push_back(binary.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(126);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(outFd);
  close(errFd);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = Slurp(outPath);
  run.err = Slurp(errPath);
  unlink(outPath);
  unlink(errPath);
  return run;
}

size_t Lines(const std::string& text) {
  size_t n = 0;
  for (const char c : text) n += c == '\n';
  return n;
}

TEST(BackendCommandLine, DevWithoutAParallelPortSaysSoInOneLine) {
  for (const char* cmd : {"calibrate", "lines"}) {
    const TRun r = RunBinary({cmd, "--bench", "dev"});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(Lines(r.err), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("varnix22: " + std::string(kMissing) + ": No such file or directory", 0),
              0u)
        << r.err;
    EXPECT_NE(r.err.find("--bench bench"), std::string::npos) << r.err;
  }
}

TEST(BackendCommandLine, DirectWithoutPermissionSaysSoInOneLine) {
  const TRun r = RunBinary({"lines", "--bench", "direct"}, geteuid() == 0);
  if (r.code == 125 || r.code == 126) GTEST_SKIP() << "cannot run the program as nobody here";
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_EQ(Lines(r.err), 1u) << r.err;
  EXPECT_EQ(r.err.rfind("varnix22: direct port access ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("--bench dev or --bench bench"), std::string::npos) << r.err;
}

TEST(BackendCommandLine, WithoutAnAdapterTheBenchIsUsed) {
  const TRun r = RunBinary({"lines"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Power OFF"), std::string::npos) << r.out;
}

}  // namespace
