#include <CLI/CLI.hpp>
#include <ostream>

#include "app/cli/cli.h"
#include "base/format.h"
#include "framework/catalogue.h"

namespace app {

void RegisterDevicesCommand(CLI::App& app, TCliContext& ctx) {
  auto* cmd = app.add_subcommand("devices", "List the device catalogue: index, name, code, size");
  cmd->callback([&ctx] {
    auto& out = *ctx.out;
    out << base::Format("%-3s %-18s %-9s %s\n", "#", "Name", "Code", "Size");
    for (int i = 0; i < framework::kDeviceCount; ++i) {
      const auto& d = framework::DeviceInfo(i);
      out << base::Format("%-3d %-18s %-9s %u\n", i, d.Name, d.Code, d.Size);
    }
    ctx.exitCode = kExitOk;
  });
}

}  // namespace app
