#include "app/cli/hardware.h"

#include <ostream>

#include "hw/backends/backends.h"
#include "hw/backends/device_paths.h"
#include "hw/ports.h"
#include "sim/bench.h"
#include "sim/chips.h"

namespace app {

namespace {

// The back end of this run: the one --bench names; without it the dev back end
// when the adapter's parallel port is reachable, otherwise the simulated bench.
// Options that only the bench understands choose the bench. Returns nullptr
// with `reason` set to one line naming the cause and the alternative.
std::unique_ptr<hw::TIoBackend> MakeBackend(const TCliContext& ctx, std::string& reason) {
  const auto& ports = hw::Ports();
  const std::string lpt = ctx.lpt.empty() ? ports.PrinterPort : ctx.lpt;
  const std::string com = ctx.com.empty() ? ports.ComPort : ctx.com;
  const bool benchOptions = !ctx.socket.empty() || !ctx.socketImage.empty();
  std::string kind = ctx.backend;
  if (kind.empty()) {
    kind = !benchOptions && hw::AdapterReachable(lpt) ? "dev" : "bench";
    if (kind == "dev")
      *ctx.err << "varnix22: using the adapter on " << hw::DevicePathOf(lpt)
               << " (dev back end; --bench bench for the simulated bench)\n";
  }
  if (kind == "bench") return std::make_unique<sim::TBench>();
  if (benchOptions) {
    reason =
        "--socket and --socket-image apply to the simulated bench only "
        "(--bench bench)";
    return nullptr;
  }
  std::unique_ptr<hw::TIoBackend> backend;
  if (kind == "direct") {
    backend = hw::MakeDirectBackend(reason);
    if (!backend) reason += "; use --bench dev or --bench bench";
  } else if (kind == "dev") {
    backend = hw::MakeDevBackend(lpt, com, reason);
    if (!backend) reason += "; use --bench bench for the simulated bench";
  } else {
    reason = "no back end named \"" + kind + "\"; use --bench bench, dev or direct";
  }
  return backend;
}

}  // namespace

THardwareSession::~THardwareSession() {
  hw::CloseComPort();
  hw::SetIoBackend(nullptr);
}

bool THardwareSession::Open(TCliContext& ctx, const std::string& defaultSocket) {
  auto& ports = hw::Ports();
  std::string reason;
  backend_ = MakeBackend(ctx, reason);
  if (!backend_) {
    *ctx.err << "varnix22: " << reason << "\n";
    return false;
  }
  if (!ctx.lpt.empty()) ports.PrinterPort = ctx.lpt;
  if (!ctx.com.empty()) ports.ComPort = ctx.com;

  bench_ = dynamic_cast<sim::TBench*>(backend_.get());
  if (bench_) {
    // A command-line run can be long; the probe is for tests.
    bench_->Probe().Enable(false);
    const uint16_t lpt = hw::TableBaseOf(ports.PrinterPort);
    const uint16_t com = hw::TableBaseOf(ports.ComPort);
    bench_->AttachAdapter(lpt ? lpt : 0x378, com ? com : 0x2F8);
    const std::string socket = ctx.socket.empty() ? defaultSocket : ctx.socket;
    if (!socket.empty() && socket != "empty") {
      auto device = sim::MakeVirtualDevice(socket, ctx.socketImage, reason);
      if (!device) {
        *ctx.err << "varnix22: " << reason << "\n";
        return false;
      }
      bench_->Plug(std::move(device));
    } else if (!ctx.socketImage.empty()) {
      *ctx.err << "varnix22: --socket-image needs a device in the socket\n";
      return false;
    }
  }
  hw::SetIoBackend(backend_.get());

  ports.LptBase = hw::PortAddressOf(ports.PrinterPort);
  ports.ComBase = hw::PortAddressOf(ports.ComPort);
  hw::SetComRegisters();
  return true;
}

}  // namespace app
