// A user's session on the simulated bench: calibrate once, then program, verify, read
// back and blank-check a chip in the socket, all through the real executable.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

namespace fs = std::filesystem;

struct TResult {
  int code;
  std::string out, err;
};

class DeviceRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::TempDir() + "roundtrip-" + std::to_string(getpid());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ASSERT_EQ(Run("calibrate --save").code, 0);
  }
  void TearDown() override { fs::remove_all(dir_); }

  TResult Run(const std::string& args) {
    const std::string out = dir_ + "/run.out", err = dir_ + "/run.err";
    const std::string cmd = "XDG_CONFIG_HOME='" + dir_ + "' '" VARNIX_BINARY "' " + args + " >'" +
                            out + "' 2>'" + err + "' </dev/null";
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
  }
  static std::string Slurp(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
};

TEST_F(DeviceRoundTrip, ProgramVerifyReadAndBlankCheckAChip) {
  struct Case {
    const char* device;
    size_t size;
  };
  for (const Case c : {Case{"93C46", 128}, Case{"25C040", 512}}) {
    std::string image(c.size, '\0');
    std::mt19937 rng(static_cast<unsigned>(c.size));
    for (char& b : image) b = static_cast<char>(rng());
    std::ofstream(File("image.bin"), std::ios::binary) << image;

    TResult r = Run(std::string("program ") + c.device + " '" + File("image.bin") + "' --verify");
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(std::string("Programming: Success  Device: ") + c.device),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Verifying: Success"), std::string::npos) << r.out;

    // The socket starts erased on every run: verify now finds every byte that is not FF.
    r = Run(std::string("verify ") + c.device + " '" + File("image.bin") + "'");
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("Errors Found"), std::string::npos);

    // With the image in the socket, a read gives it back byte for byte, as Intel HEX.
    r = Run(std::string("read ") + c.device + " -o '" + File("back.hex") +
            "' --force --socket-image '" + File("image.bin") + "'");
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    r = Run("convert '" + File("back.hex") + "' '" + File("back.bin") + "' --force");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Slurp(File("back.bin")), image) << c.device;

    r = Run(std::string("blank ") + c.device);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    r = Run(std::string("blank ") + c.device + " --socket-image '" + File("image.bin") + "'");
    EXPECT_EQ(r.code, 1) << r.out << r.err;
  }
}

TEST_F(DeviceRoundTrip, AnEmptySocketFailsTheVerify) {
  std::ofstream(File("small.bin"), std::ios::binary) << std::string(16, '\x5A');
  // Microwire cannot see a missing chip: programming reports success, verify finds it.
  TResult r = Run("program 93C46 '" + File("small.bin") + "' --verify --socket empty");
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("Programming: Success  Device: 93C46 Range: 0 - 0F"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Verifying:  16 Errors Found"), std::string::npos) << r.out;
}

}  // namespace
