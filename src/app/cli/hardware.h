// One command-line run's hardware: the chosen port back end, the driver, the settings.
// Open runs the program start (driver, port grant, hardware settings, calibration
// reminder); the destructor runs the program end (settings written, driver removed).
#pragma once

#include <memory>
#include <string>

#include "app/cli/cli.h"
#include "hw/io_backend.h"
#include "platform/settings_store.h"

namespace sim {
class TBench;
}

namespace app {

class THardwareSession {
 public:
  THardwareSession() = default;
  ~THardwareSession();
  THardwareSession(const THardwareSession&) = delete;
  THardwareSession& operator=(const THardwareSession&) = delete;

  // Chooses the back end (ctx.backend, or the bench when no adapter is reachable), starts
  // the driver, loads the settings (--lpt/--com override the port names for this run
  // only) and plugs `defaultSocket` into the bench's socket unless ctx.socket says
  // otherwise. On failure prints one line naming the reason (and the alternative) to
  // ctx.err and returns false.
  bool Open(TCliContext& ctx, const std::string& defaultSocket);

  hw::TIoBackend* Backend() const { return backend_.get(); }
  sim::TBench* Bench() const { return bench_; }
  platform::TSettingsStore& Settings() { return store_; }

 private:
  bool PlugSocket(TCliContext& ctx, const std::string& defaultSocket);

  TCliContext* ctx_ = nullptr;
  std::unique_ptr<hw::TIoBackend> backend_;
  sim::TBench* bench_ = nullptr;
  platform::TSettingsStore store_;
  bool started_ = false;
  std::string storedLpt_, storedCom_;
};

}  // namespace app
