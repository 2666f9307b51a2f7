// The headless command line: `varnix22 SUBCOMMAND ...`.
// Exit status: 0 success, 1 the operation failed, 2 bad usage or bad input.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace app {

enum TExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// Options every subcommand shares, and the streams it reports on. Message lines go to
// `out`, progress and diagnostics to `err`.
struct TCliContext {
  std::string backend;      // "", "bench", "direct" or "dev"; "" picks automatically
  std::string lpt;          // overrides the LPT port name
  std::string com;          // overrides the COM port name
  std::string socket;       // bench: what sits in the socket ("" = the named device)
  std::string socketImage;  // bench: initial memory of the virtual device
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;
  int exitCode = kExitOk;
};

// A subcommand adds itself to `app` and sets ctx.exitCode from its callback.
using TCommandRegistrar = std::function<void(CLI::App& app, TCliContext& ctx)>;

// The subcommands, in the order `--help` lists them. Each lives in its own file.
void RegisterDevicesCommand(CLI::App& app, TCliContext& ctx);
void RegisterCalibrateCommand(CLI::App& app, TCliContext& ctx);
void RegisterLinesCommand(CLI::App& app, TCliContext& ctx);
void RegisterConvertCommand(CLI::App& app, TCliContext& ctx);
// read, program, verify, blank, erase
void RegisterDeviceCommands(CLI::App& app, TCliContext& ctx);
void RegisterEmulateCommand(CLI::App& app, TCliContext& ctx);

// Runs the command line with the given streams (tests pass string streams).
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunCommandLine(int argc, char** argv);

}  // namespace app
