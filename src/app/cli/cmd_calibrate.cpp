#include <CLI/CLI.hpp>
#include <ostream>

#include "app/cli/cli.h"
#include "app/cli/hardware.h"
#include "base/format.h"
#include "hw/ports.h"
#include "hw/timing.h"

namespace app {

void RegisterCalibrateCommand(CLI::App& app, TCliContext& ctx) {
  auto* cmd = app.add_subcommand("calibrate", "Measure Delay and CycleTime and print them");
  cmd->callback([&ctx] {
    THardwareSession session;
    if (!session.Open(ctx, "")) {
      ctx.exitCode = kExitFailed;
      return;
    }
    uint32_t delay = 0, cycleTime = 0;
    if (!hw::CalibrateTiming(hw::Ports().LptBase, delay, cycleTime)) {
      *ctx.err << hw::kCalibrationFailedText << "\n";
      ctx.exitCode = kExitFailed;
      return;
    }
    *ctx.out << base::Format("Delay: %u\nCycleTime: %u\n", delay, cycleTime);
    ctx.exitCode = kExitOk;
  });
}

}  // namespace app
