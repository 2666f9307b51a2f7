// The I2C emulator against the bench's virtual bus master, the trace decoder on synthetic
// run levels, and the lister of the shared event table.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "devices/events.h"
#include "devices/i2c.h"
#include "framework/catalogue.h"
#include "framework/programmer_frame.h"
#include "framework/status.h"
#include "hexedit/bytescope.h"
#include "platform/priority.h"
#include "sim/masters/i2c_master.h"
#include "support/bench_fixture.h"

namespace {

using devices::EventCount;
using devices::EventPositions;
using Lines = std::vector<std::string>;

constexpr uint64_t kMs = 1000000;

std::vector<std::string> Listed(std::span<int32_t> positions = {}, int32_t high = 0) {
  framework::TListControl list;
  list.Items = {"left over"};
  devices::ListI2CEvents(list, positions, high);
  return list.Items;
}

class I2CEmulatorTest : public testing_support::BenchTest {
 protected:
  void SetUp() override {
    BenchTest::SetUp();
    hw::Ports().Delay = 500000;
    framework::e2StatusForm().OnCloseWait = [] {};
    index = static_cast<uint16_t>(framework::IndexOfDeviceName("24C02"));
    buffer.SetDataSize(255);
    for (int i = 0; i < 256; ++i) buffer.SetByte(i, static_cast<uint8_t>(0x80 + i));
    buffer.SetModified(false);
    frame.SetBuffer(&buffer);
  }
  void TearDown() override {
    framework::e2StatusForm().OnCloseWait = nullptr;
    BenchTest::TearDown();
  }
  // A master whose script starts after the emulator's power-on wait.
  std::shared_ptr<sim::TI2CMaster> Master() {
    return std::make_shared<sim::TI2CMaster>(100000, bench->Now() + 300 * kMs);
  }
  // Plays the master's script against the emulator; the stop button comes 2 ms after it.
  Lines Emulate(const std::shared_ptr<sim::TI2CMaster>& master) {
    bench->AddSource(master);
    bench->PressStopAt(master->EndTime() + 2 * kMs);
    EXPECT_TRUE(devices::EmulateI2C(frame, index));
    EXPECT_TRUE(master->Finished());
    return Listed();
  }

  hexedit::TBytescope buffer;
  devices::TI2CFrame frame;
  uint16_t index = 0;
};

TEST_F(I2CEmulatorTest, APlainWriteListsFiveLines) {
  auto m = Master();
  m->ByteWrite(0xA0, 0x10, 0x55);
  EXPECT_EQ(Emulate(m), (Lines{"00000   Start      A0  Ack ", "00001   Addr      10  Ack ",
                               "00002   Write     55  Ack ", "00003   Stop      00  ",
                               "00004   Write     00  "}));
  EXPECT_EQ(buffer.GetByte(0x10), 0x55);
  for (const auto& r : m->Records()) EXPECT_TRUE(r.ack);
  EXPECT_TRUE(buffer.Modified());
  // The run ends with every Out line high, the power off and the priority back.
  EXPECT_EQ(hw::Io().In(hw::Ports().LptBase), 0x00);
  EXPECT_FALSE(hw::IsPowerOn());
  EXPECT_EQ(platform::PriorityLog(),
            (std::vector{platform::TPriorityClass::RealTime, platform::TPriorityClass::Normal}));
  EXPECT_FALSE(framework::e2StatusForm().Visible());
}

TEST_F(I2CEmulatorTest, WritesAdvanceThePointerAndACurrentReadContinuesThere) {
  auto m = Master();
  m->Start().Send(0xA0).Send(0x50).Send(0x12).Send(0x34).Stop();
  m->CurrentRead(0xA0, 1);
  Emulate(m);
  EXPECT_EQ(buffer.GetByte(0x50), 0x12);
  EXPECT_EQ(buffer.GetByte(0x51), 0x34);
  EXPECT_EQ(m->BytesRead(), (std::vector<uint8_t>{0x80 + 0x52}));
  EXPECT_EQ(devices::EmuAddress, 0x53);
}

TEST_F(I2CEmulatorTest, ThePointerWrapsFromFFTo00) {
  auto m = Master();
  m->Start().Send(0xA0).Send(0xFF).Send(0x11).Send(0x22).Stop();
  Emulate(m);
  EXPECT_EQ(buffer.GetByte(0xFF), 0x11);
  EXPECT_EQ(buffer.GetByte(0x00), 0x22);
}

TEST_F(I2CEmulatorTest, AControlByteForAnotherAddressIsListedButNotAnswered) {
  auto m = Master();
  m->Start().Send(0xB0).Send(0x10).Stop();
  m->ByteWrite(0xA6, 0x01, 0x77);  // block and select bits are not looked at
  const Lines lines = Emulate(m);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "00000   Start      B0  ");
  EXPECT_EQ(lines[1], "00001   Start      A6  Ack ");
  EXPECT_FALSE(m->Records()[0].ack);
  EXPECT_FALSE(m->Records()[1].ack);
  EXPECT_TRUE(m->Records()[2].ack);
  EXPECT_EQ(buffer.GetByte(0x10), 0x90);  // untouched
  EXPECT_EQ(buffer.GetByte(0x01), 0x77);
}

TEST_F(I2CEmulatorTest, TwoReadsThenStop) {
  auto m = Master();
  m->RandomRead(0xA0, 0x20, 2);  // the second byte is not acknowledged
  EXPECT_EQ(Emulate(m), (Lines{"00000   Start      A0  Ack ", "00001   Addr      20  Ack ",
                               "00002   Write     00  ", "00003   Start      A1  Ack ",
                               "00004   Read     A0  Ack ", "00005   Read     A1  ",
                               "00006   Stop      00  ", "00007   Write     00  "}));
  EXPECT_EQ(m->BytesRead(), (std::vector<uint8_t>{0xA0, 0xA1}));
  EXPECT_FALSE(buffer.Modified());
}

TEST_F(I2CEmulatorTest, AStopInTheMiddleOfAByteListsError) {
  auto m = Master();
  m->Start().Send(0xA0).SendBits(0x5A, 3).Stop();
  EXPECT_EQ(Emulate(m), (Lines{"00000   Start      A0  Ack ", "00001   Stop      02  Error",
                               "00002   Write     00  "}));
}

TEST_F(I2CEmulatorTest, APointerBeyondTheBufferReadsFFAndDropsWrites) {
  buffer.SetDataSize(15);
  buffer.SetModified(false);
  auto m = Master();
  m->ByteWrite(0xA0, 0x20, 0x55);
  m->RandomRead(0xA0, 0x0F, 2);
  Emulate(m);
  EXPECT_EQ(m->BytesRead(), (std::vector<uint8_t>{0x8F, 0xFF}));
  EXPECT_EQ(buffer.DataSize(), 16);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(buffer.GetByte(i), 0x80 + i);
  EXPECT_FALSE(buffer.Modified());
}

TEST_F(I2CEmulatorTest, TheStopButtonEndsTheRunWhereverItIs) {
  // Pressed before any traffic: one open, empty entry.
  bench->PressStopAt(0);
  EXPECT_TRUE(devices::EmulateI2C(frame, index));
  EXPECT_EQ(Listed(), (Lines{"00000   Write     00  "}));
  bench->ReleaseStop();

  // Pressed in the middle of the address byte: the run ends there, the byte is cut short.
  // The emulator polls about once per microsecond; the master starts 100 ms after the
  // power-on wait and sends a start and the control byte in 1 ms.
  auto m = Master();
  m->ByteWrite(0xA0, 0x10, 0x55);
  bench->AddSource(m);
  bench->PressStopAfterStatusReads(100000 + 1500);
  EXPECT_TRUE(devices::EmulateI2C(frame, index));
  const Lines lines = Listed();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "00000   Start      A0  Ack ");
  EXPECT_TRUE(lines[1].starts_with("00001   Addr ")) << lines[1];
  EXPECT_TRUE(lines[1].ends_with("  Error")) << lines[1];
  EXPECT_EQ(hw::Io().In(hw::Ports().LptBase), 0x00);  // SDA released
  EXPECT_FALSE(hw::IsPowerOn());
}

TEST_F(I2CEmulatorTest, TheEmulatorTabRunsItAndFillsItsList) {
  framework::TProgrammerFrame panel(&buffer);
  panel.CreateWnd();
  ASSERT_TRUE(panel.DeviceFrame2.SelectDeviceByCode("i2cn02"));
  auto m = Master();
  m->ByteWrite(0xA0, 0x33, 0x44);
  bench->AddSource(m);
  bench->PressStopAt(m->EndTime() + 2 * kMs);
  panel.EmulatorRun();
  EXPECT_EQ(panel.ListBox1.Items.size(), 5u);
  EXPECT_EQ(panel.ListBox1.Items[2], "00002   Write     44  Ack ");
  EXPECT_EQ(buffer.GetByte(0x33), 0x44);
  EXPECT_TRUE(dialogs.messages.empty());
}

// ---- decoder ------------------------------------------------------------------------------

// Run levels as the analyser stores them: SCL (In1) in bit 7, SDA (In2) in bit 6; a new
// level only where a line changes.
class TLevels {
 public:
  TLevels() { Put(true, true); }
  TLevels& Start() {
    if (!scl_) {
      Put(false, true);
      Put(true, true);
    }
    Put(true, false);
    Put(false, false);
    return *this;
  }
  // SDA falls and rises again while SCL stays high.
  TLevels& StartThenStop() {
    Put(true, true);
    Put(true, false);
    Put(true, true);
    return *this;
  }
  TLevels& Stop() {
    Put(false, false);
    Put(true, false);
    Put(true, true);
    return *this;
  }
  TLevels& Bit(bool one) {
    Put(false, one);
    Put(true, one);
    Put(false, one);
    return *this;
  }
  TLevels& Byte(uint8_t b, bool ack = true) {
    for (int i = 7; i >= 0; --i) Bit((b >> i) & 1);
    return Bit(!ack);
  }
  const std::vector<uint8_t>& Data() const { return v_; }
  int32_t High() const { return static_cast<int32_t>(v_.size()) - 1; }

 private:
  void Put(bool scl, bool sda) {
    const uint8_t level = static_cast<uint8_t>((scl ? 0x80 : 0) | (sda ? 0x40 : 0) | 0x30);
    if (v_.empty() || v_.back() != level) v_.push_back(level);
    scl_ = scl;
  }
  std::vector<uint8_t> v_;
  bool scl_ = true;
};

TEST(I2CDecoder, ARepeatedStartAtAByteBoundaryLeavesAnEmptyEntry) {
  TLevels t;
  t.Start().Byte(0xA0).Byte(0x10).Start().Byte(0xA1).Byte(0x77, false).Stop();
  t.Start().Byte(0xB0, false).Stop();  // every control byte is decoded
  ASSERT_TRUE(devices::DecodeI2CSamples(t.Data(), t.High()));
  std::vector<int32_t> positions(static_cast<size_t>(EventCount) + 1, -1);
  EXPECT_EQ(
      Listed(positions, EventCount),
      (Lines{"00000   Start      A0  Ack ", "00001   Addr      10  Ack ", "00002   Write     00  ",
             "00003   Start      A1  Ack ", "00004   Read     77  ", "00005   Stop      00  ",
             "00006   Start      B0  ", "00007   Stop      00  ", "00008   Write     00  "}));
  // Each line knows the level at which its entry closed, in trace order.
  for (size_t i = 0; i + 1 < positions.size() - 1; ++i) EXPECT_LT(positions[i], positions[i + 1]);
  EXPECT_EQ(positions[0], EventPositions[0]);
}

TEST(I2CDecoder, AStopRightAfterAStartAndTheEndOfTheData) {
  TLevels t;
  t.StartThenStop().Start().Byte(0xA0);
  t.Bit(true).Bit(false).Bit(true);  // the trace ends in the middle of a byte
  ASSERT_TRUE(devices::DecodeI2CSamples(t.Data(), t.High()));
  EXPECT_EQ(Listed(), (Lines{"00000   Start      00  ", "00001   Stop      00  ",
                             "00002   Start      A0  Ack ", "00003   Addr      05  Error"}));
}

TEST(I2CDecoder, FortyThousandEntriesAreListedFrom7300) {
  TLevels t;
  t.Start().Byte(0xA0).Byte(0x01);
  for (int k = 2; k < 40000; ++k) t.Byte(static_cast<uint8_t>(k));
  // Left over from an earlier, longer run: none of it may show through, also not past
  // the entries a list can show.
  devices::EventTable.fill(0xFFFF);
  ASSERT_TRUE(devices::DecodeI2CSamples(t.Data(), t.High()));
  ASSERT_EQ(EventCount, 40000);
  std::vector<int32_t> positions(static_cast<size_t>(EventCount) + 1, -1);
  const Lines lines = Listed(positions, EventCount);
  ASSERT_EQ(lines.size(), 32701u);
  EXPECT_EQ(lines.front(), "07300   Write     84  Ack ");  // 7300 = 0x1C84
  EXPECT_EQ(lines.back(), "40000   Write     00  ");
  EXPECT_EQ(positions[0], EventPositions[7300]);
  EXPECT_EQ(positions[32699], EventPositions[39999]);
  EXPECT_EQ(positions[32701], -1);  // past the lines: untouched
  // A smaller array receives only what it holds.
  std::vector<int32_t> few(3, -1);
  Listed(few, EventCount);
  EXPECT_EQ(few[2], EventPositions[7302]);
}

TEST(I2CDecoder, ARunPastTheEndOfTheTableStopsRecordingAndSaysSo) {
  TLevels t;
  t.Start().Byte(0xA0).Byte(0x00);
  for (int k = 0; k < 131000; ++k) t.Byte(static_cast<uint8_t>(k));
  t.Stop();
  ASSERT_TRUE(devices::DecodeI2CSamples(t.Data(), t.High()));
  EXPECT_TRUE(devices::EventTableOverflow);
  EXPECT_EQ(EventCount, devices::kEventPositionsSize - 1);
  const Lines lines = Listed();
  ASSERT_EQ(lines.size(), 32702u);
  EXPECT_EQ(lines[lines.size() - 2], "130800   Write     EE  Ack ");  // entry k holds k - 2
  EXPECT_EQ(lines.back(), devices::kEventTableOverflowText);

  // The next run starts afresh.
  TLevels s;
  s.Start().Byte(0xA0).Stop();
  ASSERT_TRUE(devices::DecodeI2CSamples(s.Data(), s.High()));
  EXPECT_FALSE(devices::EventTableOverflow);
  EXPECT_EQ(Listed(), (Lines{"00000   Start      A0  Ack ", "00001   Stop      00  ",
                             "00002   Write     00  "}));
}

TEST(I2CDecoder, HighOutsideTheDataIsBounded) {
  TLevels t;
  t.Start().Byte(0xA0).Stop();
  ASSERT_TRUE(devices::DecodeI2CSamples(t.Data(), -1));
  EXPECT_EQ(Listed(), (Lines{"00000   Write     00  "}));
  ASSERT_TRUE(devices::DecodeI2CSamples(t.Data(), 1 << 30));
  EXPECT_EQ(Listed().size(), 3u);
  ASSERT_TRUE(devices::DecodeI2CSamples({}, 10));
  EXPECT_EQ(EventCount, 0);
}

}  // namespace
