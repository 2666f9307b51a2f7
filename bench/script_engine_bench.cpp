// Runs a script file in our engine and reports the time of the run (compile excluded):
//   script_engine_bench FILE.pas [--repeat N] [--quiet]
// The script prints through AddMsgDebug(const S: string) (to standard output unless
// --quiet) and may call HostAbs(x: Integer): Integer, a host routine with one argument,
// for the host-call benchmark. Prints "time_ms <best of N>" last.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "script/engine/bytecode.h"
#include "script/engine/engine.h"

using namespace script::engine;

namespace {

bool gQuiet = false;

void AddMsgDebug(THostCall& c) {
  if (!gQuiet) {
    const std::string_view s = c.Str(0);
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fputc('\n', stdout);
  }
}

void HostAbs(THostCall& c) {
  const int64_t v = c.Int(0);
  c.ResultInt(v < 0 ? -v : v);
}

const char* const kDecls[] = {
    "procedure AddMsgDebug(const S: string);",
    "function HostAbs(x: Integer): Integer;",
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE.pas [--repeat N] [--quiet]\n", argv[0]);
    return 2;
  }
  int repeat = 1;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--repeat" && i + 1 < argc) repeat = std::max(1, std::atoi(argv[++i]));
    if (a == "--quiet") gQuiet = true;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 2;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string source = ss.str();

  TCompiler comp;
  comp.SetUnitCallback([](TCompiler& c, const std::string& unit) {
    if (unit != "SYSTEM") return false;
    for (const char* d : kDecls) c.AddRoutine(d);
    return true;
  });
  const bool ok = comp.Compile(source);
  for (const auto& m : comp.Messages()) std::fprintf(stderr, "%s\n", m.ToString().c_str());
  if (!ok) return 1;
  std::string code;
  comp.GetByteCode(code);
  if (std::getenv("VNX_DISASM")) {
    TModule m;
    TLoadError err;
    if (m.Deserialize(code, err)) std::fputs(m.Disassemble().c_str(), stderr);
  }

  TExecutor exec;
  for (const char* d : kDecls) {
    std::string name;
    const auto shape = TCallShape::FromDeclaration(d, &name);
    for (auto& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    exec.Bind(name, *shape, name == "ADDMSGDEBUG" ? &AddMsgDebug : &HostAbs);
  }
  if (const int e = exec.LoadByteCode(code); e != 0) {
    std::fprintf(stderr, "load error %d\n", e);
    return 1;
  }
  double best = 1e100;
  for (int r = 0; r < repeat; ++r) {
    // Processor time of this process, as Lua's os.clock() measures it.
    const std::clock_t t0 = std::clock();
    const bool good = exec.Run();
    const std::clock_t t1 = std::clock();
    std::fflush(stdout);
    if (!good) {
      std::fprintf(stderr, "[Runtime Error] : %s in %d at %d (line %d, column %d)\n",
                   exec.ExceptionText().c_str(), exec.ExceptionProcNo(), exec.ExceptionPos(),
                   exec.ExceptionLine(), exec.ExceptionColumn());
      return 1;
    }
    best = std::min(best, 1000.0 * static_cast<double>(t1 - t0) / CLOCKS_PER_SEC);
  }
  std::fprintf(stderr, "time_ms %.3f\n", best);
  return 0;
}
