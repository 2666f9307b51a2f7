#include "app/cli/hardware.h"

#include <ostream>

#include "hw/ports.h"
#include "sim/bench.h"
#include "sim/chips.h"

namespace app {

THardwareSession::~THardwareSession() {
  hw::CloseComPort();
  hw::SetIoBackend(nullptr);
}

bool THardwareSession::Open(TCliContext& ctx, const std::string& defaultSocket) {
  auto& ports = hw::Ports();
  if (!ctx.lpt.empty()) ports.PrinterPort = ctx.lpt;
  if (!ctx.com.empty()) ports.ComPort = ctx.com;

  const std::string kind = ctx.backend.empty() ? "bench" : ctx.backend;
  if (kind != "bench") {
    *ctx.err << "varnix22: the " << kind
             << " back end is not available in this build; use --bench bench\n";
    return false;
  }

  auto bench = std::make_unique<sim::TBench>();
  // A command-line run can be long; the probe is for tests.
  bench->Probe().Enable(false);
  const uint16_t lpt = hw::TableBaseOf(ports.PrinterPort);
  const uint16_t com = hw::TableBaseOf(ports.ComPort);
  bench->AttachAdapter(lpt ? lpt : 0x378, com ? com : 0x2F8);
  const std::string socket = ctx.socket.empty() ? defaultSocket : ctx.socket;
  if (!socket.empty() && socket != "empty") {
    std::string reason;
    auto device = sim::MakeVirtualDevice(socket, ctx.socketImage, reason);
    if (!device) {
      *ctx.err << "varnix22: " << reason << "\n";
      return false;
    }
    bench->Plug(std::move(device));
  } else if (!ctx.socketImage.empty()) {
    *ctx.err << "varnix22: --socket-image needs a device in the socket\n";
    return false;
  }
  bench_ = bench.get();
  backend_ = std::move(bench);
  hw::SetIoBackend(backend_.get());

  ports.LptBase = hw::PortAddressOf(ports.PrinterPort);
  ports.ComBase = hw::PortAddressOf(ports.ComPort);
  hw::SetComRegisters();
  return true;
}

}  // namespace app
