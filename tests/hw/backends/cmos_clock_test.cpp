// The emulated CMOS clock, and calibration against it on the dev back end: with a clock
// that advances per reading, the delay loop must cost what calibration measured.
#include <time.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "hw/backends/cmos_clock.h"
#include "hw/backends/dev.h"
#include "hw/ports.h"
#include "hw/timing.h"
#include "platform/priority.h"

namespace {

// Each reading of either clock moves time on by `step` nanoseconds.
class TSteppingTime final : public hw::TCmosTimeSource {
 public:
  uint64_t now = 500000000;  // half a second in
  uint64_t step = 0;
  int64_t epoch = 0;
  uint64_t MonotonicNs() override { return now += step; }
  int64_t RealtimeSeconds() override {
    now += step;
    return epoch + static_cast<int64_t>(now / 1000000000ull);
  }
};

uint8_t Read(hw::TCmosClock& c, uint8_t reg) {
  c.WriteIndex(reg);
  return c.ReadData();
}

TEST(CmosClock, UpdateFlagOncePerSecond) {
  TSteppingTime t;
  hw::TCmosClock c(t);
  EXPECT_EQ(Read(c, 0x0C), 0x00);  // no update since it was made
  t.now = 1200000000;
  EXPECT_EQ(Read(c, 0x0C), 0x10);
  EXPECT_EQ(Read(c, 0x0C), 0x00);  // reading clears it
  t.now = 1999999999;
  EXPECT_EQ(Read(c, 0x0C), 0x00);
  t.now = 4000000000;  // several seconds missed still show as one flag
  EXPECT_EQ(Read(c, 0x0C), 0x10);
  EXPECT_EQ(Read(c, 0x0C), 0x00);

  t.now = 4999900000;  // inside the last 244 µs: update in progress
  EXPECT_EQ(Read(c, 0x0A), 0xA6);
  t.now = 5000000000;
  EXPECT_EQ(Read(c, 0x0A), 0x26);
  EXPECT_EQ(Read(c, 0x0D), 0x80);
}

TEST(CmosClock, TimeRegistersFollowTheHostClock) {
  TSteppingTime t;
  tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 2;  // March
  when.tm_mday = 4;
  when.tm_hour = 5;
  when.tm_min = 6;
  when.tm_sec = 7;
  t.epoch = static_cast<int64_t>(timegm(&when));
  t.now = 0;
  hw::TCmosClock c(t);
  const struct {
    uint8_t reg, bcd;
  } cases[] = {{0x00, 0x07}, {0x02, 0x06}, {0x04, 0x05}, {0x06, 0x04},
               {0x07, 0x04}, {0x08, 0x03}, {0x09, 0x26}, {0x32, 0x20}};
  for (const auto& k : cases) EXPECT_EQ(Read(c, k.reg), k.bcd) << int(k.reg);

  c.WriteIndex(0x0B);
  c.WriteData(0x06);  // binary mode
  EXPECT_EQ(Read(c, 0x09), 26);
  EXPECT_EQ(Read(c, 0x00), 7);

  c.WriteIndex(0x0C);
  c.WriteData(0xFF);  // read-only
  EXPECT_EQ(Read(c, 0x0C), 0x00);
  c.WriteIndex(0x40);
  c.WriteData(0x5A);  // RAM
  EXPECT_EQ(Read(c, 0x40), 0x5A);
  c.WriteIndex(0xC0);  // the NMI bit is not part of the index
  EXPECT_EQ(c.ReadData(), 0x5A);
}

TEST(CmosClock, DevDelayLoopCostsWhatCalibrationMeasured) {
  TSteppingTime t;
  t.step = 1000;  // 1 µs per clock reading
  std::string reason;
  auto dev = hw::TDevBackend::Create("", "", reason, t);
  ASSERT_TRUE(dev) << reason;
  hw::ResetPortState();
  hw::SetIoBackend(dev.get());
  platform::EnableSystemPriorities(false);

  uint32_t delay = 0, cycleTime = 0;
  ASSERT_TRUE(hw::CalibrateTiming(0, delay, cycleTime));
  EXPECT_NEAR(delay, 1000000, 2);  // one reading per cycle
  hw::Ports().Delay = delay;

  const uint64_t before = t.now;
  hw::Wait(250000);  // 250 ms
  EXPECT_NEAR(static_cast<double>(t.now - before), 250e6, 250e6 * 0.001);
  EXPECT_EQ(hw::ReadPort(0x70), 0xFF);  // the index register is write-only

  hw::SetIoBackend(nullptr);
  hw::ResetPortState();
}

}  // namespace
