#include "hw/backends/cmos_clock.h"

#include <time.h>

namespace hw {

namespace {

constexpr uint64_t kSecond = 1000000000ull;
constexpr uint64_t kUpdateInProgressNs = 244000;

class TSystemCmosTime final : public TCmosTimeSource {
 public:
  uint64_t MonotonicNs() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * kSecond + static_cast<uint64_t>(ts.tv_nsec);
  }
  int64_t RealtimeSeconds() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec);
  }
};

uint8_t Bcd(unsigned v) { return static_cast<uint8_t>(((v / 10) << 4) | (v % 10)); }

}  // namespace

TCmosTimeSource& SystemCmosTime() {
  static TSystemCmosTime time;
  return time;
}

TCmosClock::TCmosClock(TCmosTimeSource& time)
    : time_(time), lastCSecond_(time.MonotonicNs() / kSecond) {
  ram_[0x0A] = 0x26;  // 32.768 kHz time base, 1024 Hz periodic rate
  ram_[0x0B] = 0x02;  // 24-hour clock, BCD
  ram_[0x0D] = 0x80;  // battery good
}

void TCmosClock::WriteData(uint8_t value) {
  switch (index_) {
    case 0x0C:
    case 0x0D:
      return;  // read-only flags
    case 0x0A:
      ram_[0x0A] = static_cast<uint8_t>(value & 0x7F);  // update-in-progress is read-only
      return;
    default:
      // Writing the time would set the host's clock; the emulation keeps it as RAM.
      ram_[index_] = value;
      return;
  }
}

uint8_t TCmosClock::ReadData() {
  switch (index_) {
    case 0x0C: {
      const uint64_t second = time_.MonotonicNs() / kSecond;
      uint8_t flags = 0;
      if (second > lastCSecond_) {
        flags = 0x10;
        if (ram_[0x0B] & 0x10) flags |= 0x80;
      }
      lastCSecond_ = second;
      return flags;
    }
    case 0x0A: {
      const bool uip = time_.MonotonicNs() % kSecond >= kSecond - kUpdateInProgressNs;
      return static_cast<uint8_t>(ram_[0x0A] | (uip ? 0x80 : 0));
    }
    case 0x0D:
      return 0x80;
    default:
      break;
  }
  if (index_ > 0x09 && index_ != 0x32) return ram_[index_];
  if (index_ == 0x01 || index_ == 0x03 || index_ == 0x05) return ram_[index_];  // alarms

  const int64_t secs = time_.RealtimeSeconds();
  const bool binary = (ram_[0x0B] & 0x04) != 0;
  auto encode = [binary](unsigned v) { return binary ? static_cast<uint8_t>(v) : Bcd(v); };
  if (index_ == 0x00) return encode(static_cast<unsigned>(((secs % 60) + 60) % 60));
  const time_t t = static_cast<time_t>(secs);
  tm parts{};
  gmtime_r(&t, &parts);
  switch (index_) {
    case 0x02:
      return encode(static_cast<unsigned>(parts.tm_min));
    case 0x04:
      return encode(static_cast<unsigned>(parts.tm_hour));
    case 0x06:
      return encode(static_cast<unsigned>(parts.tm_wday + 1));
    case 0x07:
      return encode(static_cast<unsigned>(parts.tm_mday));
    case 0x08:
      return encode(static_cast<unsigned>(parts.tm_mon + 1));
    case 0x09:
      return encode(static_cast<unsigned>((parts.tm_year + 1900) % 100));
    default:  // 0x32, the century
      return encode(static_cast<unsigned>((parts.tm_year + 1900) / 100));
  }
}

}  // namespace hw
