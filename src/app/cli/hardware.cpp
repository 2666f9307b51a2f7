#include "app/cli/hardware.h"

#include <ostream>

#include "app/startup.h"
#include "hw/backends/backends.h"
#include "hw/backends/device_paths.h"
#include "hw/driver_loader.h"
#include "hw/ports.h"
#include "sim/bench.h"
#include "sim/chips.h"

namespace app {

namespace {

// The back end of this run: the one --bench names; without it the dev back end when the
// adapter's parallel port is reachable, otherwise the simulated bench. Options that only
// the bench understands choose the bench. Returns nullptr with `reason` set to one line
// naming the cause and the alternative.
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
  if (kind == "bench") {
    sim::TBenchConfig config;
    config.startDenied = true;  // like any process before the driver grants access
    return std::make_unique<sim::TBench>(config);
  }
  if (benchOptions) {
    reason = "--socket and --socket-image apply to the simulated bench only (--bench bench)";
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
  if (started_) {
    // Names given on the command line were for this run only.
    auto& ports = hw::Ports();
    ports.PrinterPort = storedLpt_;
    ports.ComPort = storedCom_;
    std::string warning;
    EndProgram(store_, &warning);
    if (!warning.empty()) *ctx_->err << "varnix22: " << warning << "\n";
  }
  hw::ResetDriverState();
  hw::SetIoBackend(nullptr);
}

bool THardwareSession::PlugSocket(TCliContext& ctx, const std::string& defaultSocket) {
  const std::string socket = ctx.socket.empty() ? defaultSocket : ctx.socket;
  if (!socket.empty() && socket != "empty") {
    std::string reason;
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
  return true;
}

bool THardwareSession::Open(TCliContext& ctx, const std::string& defaultSocket) {
  ctx_ = &ctx;
  std::string reason;
  backend_ = MakeBackend(ctx, reason);
  if (!backend_) {
    *ctx.err << "varnix22: " << reason << "\n";
    return false;
  }
  bench_ = dynamic_cast<sim::TBench*>(backend_.get());
  if (bench_) {
    bench_->Probe().Enable(false);  // a command-line run can be long; the probe is for tests
    if (!PlugSocket(ctx, defaultSocket)) return false;
  }
  hw::SetIoBackend(backend_.get());

  if (!StartDriver()) return false;  // the warning went out through the dialogs
  started_ = true;

  std::string warning;
  LoadSettings(store_, platform::TSettingsStore::DefaultPath(), &warning);
  if (!warning.empty()) *ctx.err << "varnix22: " << warning << "\n";
  auto& ports = hw::Ports();
  storedLpt_ = ports.PrinterPort;
  storedCom_ = ports.ComPort;
  if (!ctx.lpt.empty() || !ctx.com.empty()) {
    if (!ctx.lpt.empty()) ports.PrinterPort = ctx.lpt;
    if (!ctx.com.empty()) ports.ComPort = ctx.com;
    ports.LptBase = hw::PortAddressOf(ports.PrinterPort);
    ports.ComBase = hw::PortAddressOf(ports.ComPort);
    hw::SetComRegisters();
  }
  if (bench_) {
    const uint16_t lpt = hw::TableBaseOf(ports.PrinterPort);
    const uint16_t com = hw::TableBaseOf(ports.ComPort);
    bench_->AttachAdapter(lpt ? lpt : 0x378, com ? com : 0x2F8);
  }
  CalibrationReminder();
  return true;
}

}  // namespace app
