// Common ground of the virtual serial memories: the memory array with its initial image,
// the supply pin, a list of protocol violations the chip could see on its pins, and a
// shorted data output as a fault option.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/device.h"

namespace sim {

struct TViolation {
  uint64_t t;  // virtual time (ns) at which the chip saw it
  std::string what;
};

// Minimum clock high and low times of a part, checked on every clock edge while the
// part is selected.
struct TClockLimits {
  uint64_t highNs;
  uint64_t lowNs;
};

class TVirtualChip : public TVirtualDevice {
 public:
  // At most this many violations are kept; the rest are only counted, so a wildly wrong
  // master cannot exhaust memory.
  static constexpr size_t kViolationLimit = 1000;

  TVirtualChip(std::string name, size_t size);

  std::string Name() const override { return name_; }
  void OnPlug(TBench& bench, uint64_t t, uint32_t levels) override;
  void OnUnplug() override;
  void OnLines(uint64_t t, uint32_t levels, uint32_t changed) final;
  TDrive Drive(uint64_t t) final;

  // The memory array, byte by byte (16-bit cells high byte first).
  std::vector<uint8_t>& Memory() { return memory_; }
  const std::vector<uint8_t>& Memory() const { return memory_; }
  size_t Size() const { return memory_.size(); }
  // Initial contents: `image` from address 0, the rest erased (0xFF). An image longer
  // than the part is refused and changes nothing.
  bool SetImage(std::span<const uint8_t> image, std::string& reason);
  // The same from a binary file of any length up to the part's size.
  bool LoadImage(const std::string& file, std::string& reason);

  const std::vector<TViolation>& Violations() const { return violations_; }
  size_t ViolationCount() const { return violations_.size() + droppedViolations_; }
  void ClearViolations();

  // A data output shorted to one level (nullopt: repaired). An open-drain output can only
  // be stuck low: stuck high there is the same as released.
  void StickData(std::optional<bool> level) {
    stuck_ = level;
    StuckChanged();
  }

  bool Powered() const { return powered_; }

 protected:
  // The line the part drives (its data output as the PC reads it).
  virtual TLine DataLine() const = 0;
  // What the part drives on its data output now: nullopt = released (high impedance).
  virtual std::optional<bool> Output(uint64_t t) = 0;
  // Power came on (state as after power-up) or went off (state forgotten).
  virtual void Reset(uint64_t t, uint32_t levels) = 0;
  // Whether a self-timed write cycle is running.
  virtual bool Busy(uint64_t t) const = 0;
  // Pins changed while powered; `changed` never contains Power.
  virtual void Pins(uint64_t t, uint32_t levels, uint32_t changed) = 0;
  virtual void Attach(TBench& bench) { (void)bench; }
  // The fault came or went: a part that watches its own output takes the new level.
  virtual void StuckChanged() {}
  virtual void Detach(TBench& bench) { (void)bench; }

  void Violation(uint64_t t, std::string what);
  // Records a clock high or low time shorter than the part's minimum. `rising` is the
  // edge just seen; the time measured is since the opposite edge.
  void CheckClock(uint64_t t, bool rising, const TClockLimits& limits);
  void ForgetClock() { lastRise_ = lastFall_ = UINT64_MAX; }
  std::optional<bool> Stuck() const { return stuck_; }

 private:
  std::string name_;
  std::vector<uint8_t> memory_;
  std::vector<TViolation> violations_;
  size_t droppedViolations_ = 0;
  std::optional<bool> stuck_;
  bool powered_ = false;
  TBench* bench_ = nullptr;
  uint64_t lastRise_ = UINT64_MAX;
  uint64_t lastFall_ = UINT64_MAX;
};

// Case-insensitive comparison of device names.
bool SameName(std::string_view a, std::string_view b);

}  // namespace sim
