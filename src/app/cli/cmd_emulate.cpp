// The Emulator tab on the command line: the PC answers a foreign bus master in place of
// the memory until the adapter's stop button is pressed, then the bus events are listed.
#include <CLI/CLI.hpp>
#include <fstream>
#include <memory>
#include <ostream>

#include "app/cli/cli.h"
#include "app/cli/hardware.h"
#include "framework/catalogue.h"
#include "framework/programmer_frame.h"
#include "framework/status.h"
#include "hexedit/bytescope.h"
#include "hexedit/formats.h"
#include "sim/bench.h"

namespace app {

namespace {

struct TEmulateOptions {
  std::string device, image, log;
  double seconds = 10;
};

void RunEmulate(TCliContext& ctx, const TEmulateOptions& o) {
  const int index = framework::FindDeviceByName(o.device);
  if (index < 0 || !(framework::DeviceInfo(index).Flags & framework::kFlagEmulator)) {
    *ctx.err << "varnix22: \"" << o.device
             << "\" cannot be emulated (the I2C 24C01..24C16 and Microwire 93Cxx rows can)\n";
    ctx.exitCode = kExitUsage;
    return;
  }
  hexedit::TBytescope buffer;
  buffer.SetDataSize(static_cast<int64_t>(framework::DeviceInfo(index).Size) - 1);
  if (!o.image.empty()) {
    hexedit::TFileError error;
    if (!hexedit::ReadBufferFile(buffer, o.image, hexedit::FormatOfName(o.image), &error)) {
      *ctx.err << "varnix22: " << error.Message() << "\n";
      ctx.exitCode = kExitUsage;
      return;
    }
  }
  framework::TProgrammerFrame panel(&buffer);
  panel.CreateWnd();
  THardwareSession session;
  // What sits on the bus is the foreign master, not a chip.
  if (!session.Open(ctx, "empty")) {
    ctx.exitCode = kExitFailed;
    return;
  }
  if (sim::TBench* bench = session.Bench()) {
    // Nobody presses the bench's stop button: it is pressed after the given time.
    bench->PressStopAt(bench->Now() + static_cast<uint64_t>(o.seconds * 1e9));
  } else {
    *ctx.err << "varnix22: emulating " << framework::DeviceInfo(index).Name
             << "; press the adapter's stop button to end\n";
  }
  framework::e2StatusForm().OnCloseWait = [] {};
  panel.DeviceFrame2.SelectByName(framework::DeviceInfo(index).Name);
  panel.ActivePage = framework::TProgrammerFrame::kEmulatorTab;
  panel.EmulatorRun();
  framework::e2StatusForm().OnCloseWait = nullptr;

  if (!o.log.empty()) {
    std::ofstream out(o.log, std::ios::trunc);
    for (const auto& line : panel.ListBox1.Items) out << line << "\n";
    if (!out.flush()) {
      *ctx.err << "varnix22: " << o.log << ": cannot be written\n";
      ctx.exitCode = kExitFailed;
      return;
    }
  } else {
    for (const auto& line : panel.ListBox1.Items) *ctx.out << line << "\n";
  }
  ctx.exitCode = kExitOk;
}

}  // namespace

void RegisterEmulateCommand(CLI::App& app, TCliContext& ctx) {
  auto o = std::make_shared<TEmulateOptions>();
  auto* cmd = app.add_subcommand("emulate", "Answer a foreign bus master in place of a memory");
  cmd->add_option("DEVICE", o->device, "An I2C 24C01..24C16 or Microwire 93Cxx name")->required();
  cmd->add_option("--image", o->image, "The emulated memory's contents (default: zeros)");
  cmd->add_option("--log", o->log, "Write the event list to this file instead of the output");
  cmd->add_option("--seconds", o->seconds, "Bench: virtual seconds until the stop button")
      ->check(CLI::Range(0.0, 3600.0));
  cmd->callback([&ctx, o] { RunEmulate(ctx, *o); });
}

}  // namespace app
