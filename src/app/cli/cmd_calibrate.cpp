#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "app/cli/cli.h"
#include "app/cli/hardware.h"
#include "base/format.h"
#include "hw/ports.h"
#include "hw/timing.h"

namespace app {

void RegisterCalibrateCommand(CLI::App& app, TCliContext& ctx) {
  auto* cmd = app.add_subcommand("calibrate", "Measure Delay and CycleTime and print them");
  auto save = std::make_shared<bool>(false);
  cmd->add_flag("--save", *save, "Keep the measured values as the hardware settings");
  cmd->callback([&ctx, save] {
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
    if (*save) {
      hw::Ports().Delay = delay;
      hw::Ports().CycleTime = cycleTime;
    }
    ctx.exitCode = kExitOk;
  });
}

}  // namespace app
