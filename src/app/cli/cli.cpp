#include "app/cli/cli.h"

#include <CLI/CLI.hpp>
#include <iostream>

#include "platform/dialogs.h"

namespace app {

namespace {

// Every subcommand, in the order --help lists them.
const TCommandRegistrar kCommands[] = {
    RegisterDevicesCommand, RegisterCalibrateCommand, RegisterLinesCommand,
    RegisterConvertCommand, RegisterDeviceCommands,   RegisterEmulateCommand,
};

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TCliContext ctx;
  ctx.out = &out;
  ctx.err = &err;
  CLI::App app{
      "Varnix 2.2: serial EEPROM, PIC and 68HC05 programmer, bus emulator, logic "
      "analyser and script host on a parallel-port adapter",
      "varnix22"};
  app.require_subcommand(1);
  app.fallthrough();  // the shared options may also follow the subcommand
  app.add_option("--bench", ctx.backend, "Port back end: bench (simulated), direct or dev")
      ->check(CLI::IsMember({"bench", "direct", "dev"}));
  app.add_option("--lpt", ctx.lpt, "LPT port name (LPT1..LPT3)");
  app.add_option("--com", ctx.com, "COM port name (COM1..COM4)");
  app.add_option("--socket", ctx.socket, "Bench: what sits in the socket (a device or 'empty')");
  app.add_option("--socket-image", ctx.socketImage, "Bench: the virtual device's initial memory");
  for (const auto& reg : kCommands) reg(app, ctx);

  auto dialogs = platform::MakeConsoleDialogs(err);
  platform::SetDialogs(dialogs.get());
  int code = kExitOk;
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
    code = ctx.exitCode;
  } catch (const CLI::ParseError& e) {
    // Help and version requests exit 0; every real parse error is bad usage.
    code = app.exit(e, out, err) == 0 ? kExitOk : kExitUsage;
  }
  platform::SetDialogs(nullptr);
  return code;
}

int RunCommandLine(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return RunCommandLine(args, std::cout, std::cerr);
}

}  // namespace app
