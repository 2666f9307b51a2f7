// Every program in tests/script/corpus runs in our engine and, compiled by Free Pascal, as a
// native program; both outputs must be the same. Our AddMsgDebug is a host routine; for
// Free Pascal a prelude after the program header declares it as a procedure doing WriteLn.
// Free Pascal's executables are cached in the build tree, keyed by a hash of the source.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "script/engine/script_test_util.h"

namespace {

namespace fs = std::filesystem;

fs::path CorpusDir() { return fs::path(VARNIX_SOURCE_DIR) / "tests" / "script" / "corpus"; }

std::vector<std::string> CorpusNames() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(CorpusDir(), ec))
    if (e.path().extension() == ".pas") names.push_back(e.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string FindFpc() {
  for (const char* p : {"/usr/bin/fpc", "/usr/local/bin/fpc"})
    if (fs::exists(p)) return p;
  return "";
}

// Runs a shell command, capturing standard output; returns the exit status.
int Capture(const std::string& cmd, std::string& out) {
  out.clear();
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  const int st = pclose(f);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// The Free Pascal version of a corpus program.
std::string FpcSource(const std::string& src) {
  static const std::regex header(R"(program\s+\w+\s*;)", std::regex::icase);
  std::smatch m;
  if (!std::regex_search(src, m, header)) return "";
  const size_t at = static_cast<size_t>(m.position(0) + m.length(0));
  return src.substr(0, at) +
         "\nuses SysUtils;\nprocedure AddMsgDebug(const S: string); begin WriteLn(S); end;\n" +
         src.substr(at);
}

class ScriptCorpus : public ::testing::TestWithParam<std::string> {};

TEST_P(ScriptCorpus, SameOutputAsFreePascal) {
  const std::string name = GetParam();
  const std::string src = ReadFile(CorpusDir() / (name + ".pas"));
  ASSERT_FALSE(src.empty());

  const auto ours = script_test::RunScript(src);
  ASSERT_TRUE(ours.compiled) << (ours.messages.empty() ? "" : ours.messages.back().ToString());
  ASSERT_TRUE(ours.ran) << ours.excText << " at " << ours.excLine << ":" << ours.excCol;
  for (const auto& m : ours.messages) EXPECT_FALSE(m.IsError()) << m.ToString();

  const std::string fpc = FindFpc();
  if (fpc.empty()) GTEST_SKIP() << "fpc is not installed";
  const std::string fsrc = FpcSource(src);
  ASSERT_FALSE(fsrc.empty()) << "no program header";
  const fs::path cache = fs::path(VARNIX_BINARY).parent_path() / "script-corpus-fpc";
  fs::create_directories(cache);
  const std::string key = name + "-" + std::to_string(std::hash<std::string>{}(fsrc));
  const fs::path exe = cache / key;
  if (!fs::exists(exe)) {
    const fs::path work = cache / (key + ".dir");
    fs::create_directories(work);
    {
      std::ofstream o(work / (name + ".pas"), std::ios::binary);
      o << fsrc;
    }
    std::string log;
    const std::string cmd = "cd '" + work.string() + "' && '" + fpc + "' -Mdelphi -O1 -v0 -o'" +
                            name + ".bin' '" + name + ".pas' 2>&1";
    ASSERT_EQ(Capture(cmd, log), 0) << log;
    fs::rename(work / (name + ".bin"), exe);  // atomic: parallel runs see it whole or not at all
    fs::remove_all(work);
  }
  std::string want;
  ASSERT_EQ(Capture("'" + exe.string() + "'", want), 0);
  EXPECT_EQ(ours.output, want);
}

INSTANTIATE_TEST_SUITE_P(Programs, ScriptCorpus, ::testing::ValuesIn(CorpusNames()),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
