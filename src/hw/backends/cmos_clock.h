// The CMOS clock at ports 0x70 (index) and 0x71 (data), emulated from the host clocks for
// back ends that cannot reach the real one (device files give no way to it). Calibration
// and the delay loop only need its update-ended flag and its cost per access to be the
// same in both loops, so every access is one read of a host clock and a few operations.
#pragma once

#include <array>
#include <cstdint>

namespace hw {

// Where the emulated clock takes its time from; tests substitute their own.
class TCmosTimeSource {
 public:
  virtual ~TCmosTimeSource() = default;
  virtual uint64_t MonotonicNs() = 0;     // paces the once-a-second update
  virtual int64_t RealtimeSeconds() = 0;  // the date and time registers (UTC)
};

// CLOCK_MONOTONIC and CLOCK_REALTIME.
TCmosTimeSource& SystemCmosTime();

class TCmosClock {
 public:
  explicit TCmosClock(TCmosTimeSource& time = SystemCmosTime());

  void WriteIndex(uint8_t value) { index_ = static_cast<uint8_t>(value & 0x7F); }
  uint8_t Index() const { return index_; }
  void WriteData(uint8_t value);
  // Register C (0x0C) shows the update-ended flag (0x10) once per second of the monotonic
  // clock and clears it on reading; 0x00..0x09 and 0x32 are the time and date in BCD (or
  // binary when register B bit 2 is set, 24-hour); A shows update-in-progress in the last
  // 244 µs of a second; everything else is RAM.
  uint8_t ReadData();

 private:
  TCmosTimeSource& time_;
  uint8_t index_ = 0;
  uint64_t lastCSecond_;
  std::array<uint8_t, 128> ram_{};
};

}  // namespace hw
