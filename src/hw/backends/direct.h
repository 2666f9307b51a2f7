// `direct`: the processor's own port instructions after ioperm (ports below 0x400) or
// iopl(3) (ports above), as the program does on a PC that lets it. Needs root (or
// CAP_SYS_RAWIO) and an x86 processor; elsewhere it is refused with the reason.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "hw/io_backend.h"

namespace hw {

class TDirectBackend final : public TIoBackend {
 public:
  // nullptr with `reason` set when this process may not use port instructions.
  static std::unique_ptr<TDirectBackend> Create(std::string& reason);
  ~TDirectBackend() override;

  const char* Name() const override { return "direct"; }
  uint8_t In(uint16_t port) override;
  void Out(uint16_t port, uint8_t value) override;
  void OutWord(uint16_t port, uint16_t value) override;
  // The real cycle: 0x00 written to 0x70, then 0x71 read.
  void DelayLoop(uint32_t cycles) override;

  int32_t OpenPortFile(const std::string& name, std::string* reason) override;
  void ClosePortFile(int32_t handle) override;
  bool GetCommState(int32_t handle, TCommState& state) override;
  bool SetCommState(int32_t handle, const TCommState& state) override;
  // Bit set = denied. Ports below 0x400 become ioperm ranges, any allowed port above
  // raises iopl(3); a denied port then reads 0xFF and ignores writes, as before the map
  // none did.
  bool ApplyIoAccessMap(const uint8_t* map, std::string* reason) override;
  bool UsesRealTime() const override { return true; }

  // Why the last serial-format request failed.
  const std::string& LastError() const { return lastError_; }

 private:
  enum : uint8_t { kUntried = 0, kUsable = 1, kRefused = 2 };
  TDirectBackend() = default;
  bool Usable(uint16_t port) { return access_[port] == kUsable || Grant(port); }
  bool Grant(uint16_t port);

  // Per port: whether an instruction on it is allowed to run. Ports below 0x100 other
  // than the clock's are the chipset's own (DMA, interrupt controller, timer, keyboard);
  // they stay refused, so that a port base of 0 ("no port") cannot reprogram them.
  std::array<uint8_t, 65536> access_{};
  bool mapApplied_ = false;
  int iopl_ = 0;  // 0 not raised, 1 raised, -1 refused
  std::string lastError_;
};

}  // namespace hw
