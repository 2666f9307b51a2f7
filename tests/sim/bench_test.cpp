#include "sim/bench.h"

#include <gtest/gtest.h>

#include "sim/sources.h"

namespace {

using sim::Bit;
using sim::TBench;
using sim::TLine;

constexpr uint64_t kSec = 1000000000ull;

// Remembers every line change it was shown, to see what the target saw and when.
class TRecorder final : public sim::TVirtualDevice {
 public:
  struct TSeen {
    uint64_t t;
    uint32_t changed;
    uint32_t levels;
  };
  std::vector<TSeen> seen;
  sim::TDrive drive;
  std::string Name() const override { return "recorder"; }
  void OnPlug(TBench&, uint64_t, uint32_t) override {}
  void OnLines(uint64_t t, uint32_t levels, uint32_t changed) override {
    seen.push_back({t, changed, levels});
  }
  sim::TDrive Drive(uint64_t) override { return drive; }
};

uint8_t CmosRead(TBench& b, uint8_t reg) {
  b.Out(0x70, reg);
  return b.In(0x71);
}

TEST(Bench, ClockRaisesTheUpdateFlagOnceEachVirtualSecond) {
  TBench b({.accessCostNs = 1000, .rtcPhaseNs = 300000000});
  EXPECT_EQ(CmosRead(b, 0x0C), 0x00);
  b.Advance(300000000);
  EXPECT_EQ(CmosRead(b, 0x0C) & 0x10, 0x10);
  EXPECT_EQ(CmosRead(b, 0x0C), 0x00);  // reading register C clears it
  b.Advance(kSec);
  EXPECT_EQ(CmosRead(b, 0x0C) & 0x10, 0x10);
  // Time and date registers in BCD: two seconds after 2026-01-01 00:00:00.
  b.Advance(kSec);
  EXPECT_EQ(CmosRead(b, 0x00), 0x03);
  EXPECT_EQ(CmosRead(b, 0x09), 0x26);
  EXPECT_EQ(CmosRead(b, 0x08), 0x01);
  EXPECT_EQ(CmosRead(b, 0x07), 0x01);
  b.SetRtcTicking(false);
  b.Advance(5 * kSec);
  EXPECT_EQ(CmosRead(b, 0x0C), 0x00);
}

TEST(Bench, UartFramesTakeTheirBitTimes) {
  struct Case {
    uint16_t divisor;
    uint8_t bits, parity, stop;
    uint64_t want;
  };
  const Case cases[] = {
      {12, 8, 0, 0, 10ull * 12 * 16 * kSec / 1843200},  // 9600 8N1
      {6, 7, 2, 2, 11ull * 6 * 16 * kSec / 1843200},    // 19200 7E2
      {1, 5, 0, 1, 15ull * 16 * kSec / (2 * 1843200)},  // 5 bits, 1.5 stop
  };
  for (const auto& c : cases) {
    sim::TSerialFormat f;
    f.divisor = c.divisor;
    f.dataBits = c.bits;
    f.parity = c.parity;
    f.stopBits = c.stop;
    EXPECT_EQ(f.FrameNs(), c.want);
  }
  // Divisor latch through LCR bit 7, and the loop-back of the modem lines.
  TBench b;
  b.Out(0x3FB, 0x83);
  b.OutWord(0x3F8, 0x0180);
  b.Out(0x3FB, 0x03);
  EXPECT_EQ(b.Uart(0x3F8).Format().divisor, 0x180);
  b.Out(0x3FC, 0x10 | 0x02);            // loop-back with RTS set
  EXPECT_EQ(b.In(0x3FE) & 0xF1, 0x11);  // CTS follows RTS, with its delta bit
  EXPECT_EQ(b.In(0x3FE) & 0x01, 0x00);  // delta cleared by the read
  b.Out(0x3F8, 0x42);                   // loops back into the receiver
  b.Advance(kSec / 10);                 // 300 baud: a frame takes 33 ms
  EXPECT_EQ(b.In(0x3FD) & 0x61, 0x61);
  EXPECT_EQ(b.In(0x3F8), 0x42);
  // Without a FIFO a second character overruns the first.
  b.Uart(0x3F8).PeerSend(b.Now(), 1);
  b.Uart(0x3F8).PeerSend(b.Now(), 2);
  b.Out(0x3FC, 0x00);
  b.Advance(kSec / 10);
  EXPECT_EQ(b.In(0x3FD) & 0x03, 0x03);
  EXPECT_EQ(b.In(0x3F8), 1);
}

TEST(Bench, ProbeRecordsEveryLineChangeWithItsTime) {
  TBench b;
  b.ResetProbe();
  b.Out(0x378, 0x01);  // Out1 low at t = 0
  b.Advance(5000);
  b.Out(0x378, 0x00);  // high again at t = 6000
  b.Out(0x37A, 0x01);  // power on
  const auto& ev = b.Probe().Events();
  ASSERT_EQ(ev.size(), 3u);
  EXPECT_EQ(ev[0].line, TLine::Out1);
  EXPECT_FALSE(ev[0].level);
  EXPECT_EQ(ev[1].t - ev[0].t, 6000u);
  EXPECT_EQ(ev[2].line, TLine::Power);
  EXPECT_EQ(b.Probe().MinStableTime(TLine::Out1), 6000u);
  EXPECT_FALSE(b.Probe().LevelAt(TLine::Out1, 3000));
  EXPECT_TRUE(b.Probe().LevelAt(TLine::Out1, 6000));

  b.Probe().SetLimit(3);
  b.Out(0x378, 0xFF);
  EXPECT_TRUE(b.Probe().Overflowed());
  EXPECT_EQ(b.Probe().Events().size(), 3u);
}

TEST(Bench, PermissionMapDeniesWithoutEffect) {
  TBench b;
  std::array<uint8_t, 8192> map;
  map.fill(0xFF);
  map[0x378 >> 3] = 0x00;  // 0x378..0x37F allowed
  ASSERT_TRUE(b.ApplyIoAccessMap(map.data(), nullptr));
  b.Out(0x378, 0x12);
  EXPECT_EQ(b.In(0x378), 0x12);
  b.Out(0x278, 0x34);
  EXPECT_EQ(b.In(0x278), 0xFF);
  ASSERT_EQ(b.AccessFaults().size(), 2u);
  EXPECT_TRUE(b.AccessFaults()[0].write);
  EXPECT_EQ(b.AccessFaults()[0].port, 0x278);
  b.DelayLoop(10);  // the clock ports are denied too
  EXPECT_EQ(b.AccessFaults().size(), 3u);
  b.ClearIoAccessMap();
  EXPECT_EQ(b.In(0x278), 0x00);  // the denied write never landed
}

TEST(Bench, InputsFromSourcesTiesAndFloatingLines) {
  TBench b;
  EXPECT_TRUE(b.Level(TLine::In2));  // nobody drives it: pulled up
  b.SetFloatLevel(TLine::In2, false);
  EXPECT_FALSE(b.Level(TLine::In2));

  auto wave = std::make_shared<sim::TWaveformSource>();
  wave->Square(TLine::In3, 10000, 4000, 6000, 3);
  b.AddSource(wave);
  struct Probe {
    uint64_t t;
    bool level;
  };
  for (const Probe p :
       {Probe{12000, true}, Probe{15000, false}, Probe{21000, true}, Probe{45000, false}}) {
    b.Advance(p.t - b.Now());
    EXPECT_EQ(b.Level(TLine::In3), p.level) << p.t;
  }

  // Open-drain read-back: In2 follows Out4 unless the target pulls it low.
  auto target = std::make_shared<TRecorder>();
  b.Plug(target);
  b.TieInput(TLine::In2, TLine::Out4);
  b.Out(0x378, 0x00);
  EXPECT_TRUE(b.Level(TLine::In2));
  b.Out(0x378, 0x08);
  EXPECT_FALSE(b.Level(TLine::In2));
  b.Out(0x378, 0x00);
  target->drive.low = Bit(TLine::In2);
  EXPECT_FALSE(b.Level(TLine::In2));
}

TEST(Bench, StopButtonAtAVirtualTime) {
  TBench b;
  b.PressStopAt(50000);
  EXPECT_EQ(b.In(0x379) & 0x08, 0);
  b.Advance(50000);
  EXPECT_EQ(b.In(0x379) & 0x08, 0x08);
  b.ReleaseStop();
  EXPECT_EQ(b.In(0x379) & 0x08, 0);
}

TEST(Bench, SeededFaultsRepeat) {
  auto run = [](uint64_t seed) {
    TBench b;
    auto target = std::make_shared<TRecorder>();
    b.Plug(target);
    b.Faults().Seed(seed);
    const uint64_t glitchAt = b.Faults().AddGlitch(TLine::In1, 0, 100000, 500);
    b.Faults().DelayEdges(TLine::Out5, 2500, 0.5);
    for (int i = 0; i < 40; ++i) b.Out(0x378, (i & 1) ? 0x10 : 0x00);
    b.Advance(10000);
    std::vector<uint64_t> when;
    for (const auto& s : target->seen)
      if (s.changed & Bit(TLine::Out5)) when.push_back(s.t);
    return std::make_pair(glitchAt, when);
  };
  const auto a = run(7), b = run(7), c = run(8);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  // Some edges were late, some were not.
  ASSERT_FALSE(a.second.empty());
  int late = 0;
  for (size_t i = 0; i < a.second.size(); ++i) late += a.second[i] % 1000 != 0;
  EXPECT_GT(late, 0);
}

TEST(Bench, StuckAndGlitchedLines) {
  TBench b;
  auto target = std::make_shared<TRecorder>();
  b.Plug(target);
  target->drive.high = Bit(TLine::In4);
  b.Faults().StickLine(TLine::In4, false, 0, 20000);
  EXPECT_FALSE(b.Level(TLine::In4));
  b.Advance(20000);
  EXPECT_TRUE(b.Level(TLine::In4));

  // The target sees a glitch on a PC-driven line as two changes.
  const uint64_t at = b.Faults().AddGlitch(TLine::Out6, 30000, 30001, 700);
  EXPECT_EQ(at, 30000u);
  target->seen.clear();
  b.Advance(20000);
  ASSERT_EQ(target->seen.size(), 2u);
  EXPECT_EQ(target->seen[0].t, 30000u);
  EXPECT_EQ(target->seen[1].t, 30700u);
  EXPECT_FALSE(target->seen[0].levels & Bit(TLine::Out6));
  EXPECT_TRUE(target->seen[1].levels & Bit(TLine::Out6));
}

}  // namespace
