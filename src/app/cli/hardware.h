// Puts the chosen port back end in place for one command-line run and takes it away again.
#pragma once

#include <memory>
#include <string>

#include "app/cli/cli.h"
#include "hw/io_backend.h"

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

  // Chooses the back end (ctx.backend, or the bench when no adapter is reachable), sets
  // the port names and bases, and plugs `defaultSocket` into the bench's socket unless
  // ctx.socket says otherwise. On failure prints one line naming the reason and the
  // alternative to ctx.err and returns false.
  bool Open(TCliContext& ctx, const std::string& defaultSocket);

  hw::TIoBackend* Backend() const { return backend_.get(); }
  sim::TBench* Bench() const { return bench_; }

 private:
  std::unique_ptr<hw::TIoBackend> backend_;
  sim::TBench* bench_ = nullptr;
};

}  // namespace app
