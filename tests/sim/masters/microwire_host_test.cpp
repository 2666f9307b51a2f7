#include "sim/masters/microwire_host.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "sim/bench.h"

namespace {

using sim::TMicrowireHost;

// A tiny 64 x 16 memory in the program's place, as an emulator would be: polls CLK on
// In1, DI on In2 and CS on In4, answers on DO through Out2 (data register 0x02 = low),
// until the stop button is pressed. Writes are done without enable checks; each leaves
// DO busy for 1 ms when CS comes up again.
class TResponder {
 public:
  explicit TResponder(sim::TBench& bench) : b_(bench) { mem_.fill(0xFFFF); }
  std::array<uint16_t, 64> mem_;
  std::vector<std::string> seen;  // "EWEN", "WRITE 25", "READ 25", "cut" ...

  void Run() {
    Do(true);
    bool clk = false, cs = false;
    for (;;) {  // bounded by the stop button, pressed at a fixed virtual time
      const uint8_t s = b_.In(0x379);
      if (s & 0x08) return;
      const bool nclk = s & 0x80, di = !(s & 0x40), ncs = !(s & 0x10);
      if (ncs && !cs) {
        bits_ = 0;
        field_ = 0;
        reading_ = false;
        if (armed_) Do(b_.Now() >= busyUntil_);
      } else if (!ncs && cs) {
        if (bits_ > 0 && bits_ < want_) seen.push_back("cut");
        if (pendingWrite_) {
          mem_[addr_] = static_cast<uint16_t>(field_);
          busyUntil_ = b_.Now() + 1000000;
          armed_ = true;
          pendingWrite_ = false;
        }
        Do(true);
      } else if (ncs && armed_ && bits_ == 0) {
        Do(b_.Now() >= busyUntil_);
      }
      if (ncs && nclk && !clk) Rise(di);
      clk = nclk;
      cs = ncs;
    }
  }

 private:
  void Do(bool high) { b_.Out(0x378, high ? 0x00 : 0x02); }
  void Rise(bool di) {
    if (reading_) {
      Do((word_ >> 15) & 1);
      word_ = static_cast<uint16_t>(word_ << 1);
      return;
    }
    if (bits_ == 0 && !di) return;  // leading zeros
    armed_ = false;
    field_ = field_ << 1 | di;
    ++bits_;
    if (bits_ == 3) want_ = (field_ & 3) == 1 ? 25 : 9;
    if (bits_ != 9) {
      if (bits_ == 25) pendingWrite_ = true, field_ &= 0xFFFF;
      return;
    }
    addr_ = field_ & 0x3F;
    const uint32_t op = (field_ >> 6) & 3;
    if (op == 2) {
      seen.push_back("READ " + std::to_string(addr_));
      reading_ = true;
      word_ = mem_[addr_];
      Do(false);  // the dummy zero
    } else if (op == 1) {
      seen.push_back("WRITE " + std::to_string(addr_));
      field_ = 0;
    } else if (op == 0 && (addr_ >> 4) == 3) {
      seen.push_back("EWEN");
    }
  }

  sim::TBench& b_;
  int bits_ = 0, want_ = 9;
  uint32_t field_ = 0, addr_ = 0;
  uint16_t word_ = 0;
  bool reading_ = false, pendingWrite_ = false, armed_ = false;
  uint64_t busyUntil_ = 0;
};

TEST(MicrowireHost, DrivesInstructionsAndRecordsWordsAndReadyBusy) {
  sim::TBench bench;
  auto host = std::make_shared<TMicrowireHost>(6, 16, 100000, 50000);
  host->Ewen()
      .Write(0x25, 0xBEEF)
      .WaitReady(3000000)
      .Read(0x25)
      .WriteCut(0x26, 0x1234, 12)  // CS drops three bits into the data field
      .Read(0x26);
  bench.AddSource(host);
  bench.PressStopAt(host->EndTime() + 100000);
  TResponder r(bench);
  r.mem_[0x26] = 0x0F0F;
  r.Run();
  ASSERT_TRUE(host->Finished());
  EXPECT_EQ(r.seen, (std::vector<std::string>{"EWEN", "WRITE 37", "READ 37", "WRITE 38", "cut",
                                              "READ 38"}));
  EXPECT_EQ(r.mem_[0x25], 0xBEEF);
  EXPECT_EQ(host->Words(), (std::vector<uint32_t>{0xBEEF, 0x0F0F}));
  EXPECT_EQ(host->DummyBits(), (std::vector<bool>{false, false}));
  ASSERT_EQ(host->ReadyAfter().size(), 1u);
  ASSERT_TRUE(host->ReadyAfter()[0].has_value());
  EXPECT_GE(*host->ReadyAfter()[0], 900000u);
  EXPECT_LE(*host->ReadyAfter()[0], 1100000u);
}

}  // namespace
