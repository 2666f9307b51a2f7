#include "sim/masters/i2c_master.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "sim/bench.h"

namespace {

using sim::TI2CMaster;
using sim::TI2CMasterRecord;
using sim::TLine;

// A tiny memory in the program's place on a foreign bus, as an emulator would be: it
// polls SCL on In1 and SDA on In2 through the status register and pulls SDA low with
// Out4 (data register 0x08), until the stop button is pressed.
class TResponder {
 public:
  explicit TResponder(sim::TBench& bench) : b_(bench) { mem_.fill(0xFF); }
  std::array<uint8_t, 256> mem_;
  std::vector<uint8_t> received;  // every byte the master sent to this address

  void Run() {
    b_.Out(0x378, 0x00);
    bool scl = true, sda = true;
    // Bounded by the stop button, which the test presses at a fixed virtual time.
    for (;;) {
      const uint8_t s = b_.In(0x379);
      if (s & 0x08) return;
      const bool nscl = s & 0x80, nsda = !(s & 0x40);
      if (scl && nscl && sda != nsda) {
        if (!nsda) {  // start
          mode_ = kReceive;
          first_ = true;
          clocks_ = 0;
          shift_ = 0;
        } else {
          mode_ = kIdle;
        }
      } else if (!scl && nscl) {
        ++clocks_;
        if (mode_ == kReceive && clocks_ <= 8) shift_ = static_cast<uint8_t>(shift_ << 1 | nsda);
        if (mode_ == kTransmit && clocks_ == 9) masterAck_ = !nsda;
      } else if (scl && !nscl) {
        Fall();
      }
      scl = nscl;
      sda = nsda;
    }
  }

 private:
  enum { kIdle, kReceive, kTransmit };
  void Pull(bool low) { b_.Out(0x378, low ? 0x08 : 0x00); }
  void Fall() {
    if (mode_ == kReceive && clocks_ == 8) {
      ack_ = !first_ || (shift_ & 0xFE) == 0xA0;
      if (ack_) {
        if (first_) {
          read_ = shift_ & 1;
          addrNext_ = !read_;
        } else if (addrNext_) {
          ptr_ = shift_;
          addrNext_ = false;
        } else {
          mem_[ptr_++] = shift_;
        }
        received.push_back(shift_);
      }
      Pull(ack_);
    } else if (mode_ == kReceive && clocks_ == 9) {
      Pull(false);
      clocks_ = 0;
      shift_ = 0;
      if (!ack_) {
        mode_ = kIdle;
      } else if (first_ && read_) {
        mode_ = kTransmit;
        tx_ = mem_[ptr_++];
        Pull(!(tx_ & 0x80));
      }
      first_ = false;
    } else if (mode_ == kTransmit) {
      if (clocks_ < 8) {
        Pull(!((tx_ >> (7 - clocks_)) & 1));
      } else if (clocks_ == 8) {
        Pull(false);
      } else {
        clocks_ = 0;
        if (!masterAck_) {
          mode_ = kIdle;
        } else {
          tx_ = mem_[ptr_++];
          Pull(!(tx_ & 0x80));
        }
      }
    }
  }

  sim::TBench& b_;
  int mode_ = kIdle;
  int clocks_ = 0;
  uint8_t shift_ = 0, tx_ = 0, ptr_ = 0;
  bool first_ = false, read_ = false, addrNext_ = false, ack_ = false, masterAck_ = false;
};

TEST(I2CMaster, DrivesTransactionsAndRecordsWhatItReadsBack) {
  sim::TBench bench;
  auto master = std::make_shared<TI2CMaster>(100000, 50000);
  master->ByteWrite(0xA0, 0x10, 0x55)
      .Idle(200000)
      .RandomRead(0xA0, 0x10, 2)
      .Idle(200000)
      .Start()
      .Send(0xB0)  // another device: nobody answers
      .Stop();
  bench.AddSource(master);
  bench.PressStopAt(master->EndTime() + 100000);
  TResponder r(bench);
  r.mem_[0x11] = 0xC4;
  r.Run();
  EXPECT_TRUE(master->Finished());

  using K = TI2CMasterRecord::TKind;
  const std::vector<std::tuple<K, int, bool>> want = {
      {K::Sent, 0xA0, true},     {K::Sent, 0x10, true},      {K::Sent, 0x55, true},
      {K::Sent, 0xA0, true},     {K::Sent, 0x10, true},      {K::Sent, 0xA1, true},
      {K::Received, 0x55, true}, {K::Received, 0xC4, false}, {K::Sent, 0xB0, false}};
  ASSERT_EQ(master->Records().size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(master->Records()[i].kind, std::get<0>(want[i]));
    EXPECT_EQ(master->Records()[i].byte, std::get<1>(want[i]));
    EXPECT_EQ(master->Records()[i].ack, std::get<2>(want[i]));
  }
  EXPECT_EQ(master->BytesRead(), (std::vector<uint8_t>{0x55, 0xC4}));
  EXPECT_EQ(r.mem_[0x10], 0x55);
  EXPECT_EQ(r.received, (std::vector<uint8_t>{0xA0, 0x10, 0x55, 0xA0, 0x10, 0xA1}));
  // The clock as the program saw it: 50 us high and low (to within the polling step).
  const auto& probe = bench.Probe();
  EXPECT_GE(probe.MinStableTime(TLine::In1), 45000u);
  EXPECT_GE(probe.ChangeCount(TLine::In1), 2u * 9 * 9);
}

TEST(I2CMaster, ReadsTheBusAsWiredAnd) {
  // Nobody answers: every acknowledge is missing and every byte reads 0xFF. With the
  // program holding SDA low, every bit reads 0.
  for (bool programPulls : {false, true}) {
    sim::TBench bench;
    auto master = std::make_shared<TI2CMaster>(20000);
    master->Start().Send(0xA0).Receive(false).Stop();
    bench.AddSource(master);
    bench.Out(0x378, programPulls ? 0x08 : 0x00);
    bench.Advance(master->EndTime());
    bench.In(0x379);
    ASSERT_TRUE(master->Finished());
    EXPECT_EQ(master->Records()[0].ack, programPulls);
    EXPECT_EQ(master->BytesRead(), std::vector<uint8_t>{programPulls ? uint8_t{0} : uint8_t{0xFF}});
    bench.ClearSources();
    EXPECT_TRUE(bench.Level(TLine::In2));  // untied again: the line floats high
  }
}

}  // namespace
