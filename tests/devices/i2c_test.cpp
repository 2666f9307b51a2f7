// The I2C frames end to end on the bench: engine -> adapter lines -> virtual 24Cxx chip.
#include "devices/i2c.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "devices/i2c_bus_probe.h"
#include "framework/catalogue.h"
#include "framework/programmer_frame.h"
#include "framework/status.h"
#include "hexedit/bytescope.h"
#include "platform/app_hooks.h"
#include "platform/priority.h"
#include "sim/chips.h"
#include "sim/chips/i2c_eeprom.h"
#include "support/bench_fixture.h"

namespace {

using framework::DeviceInfo;
using framework::IndexOfDeviceName;
using framework::MessageForm;
using i2c_test::BusTokens;
using i2c_test::Joined;

std::vector<uint8_t> RandomImage(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(size);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

class I2CTest : public testing_support::BenchTest {
 protected:
  void SetUp() override {
    BenchTest::SetUp();
    hw::Ports().Delay = 500000;  // what calibration measures on the bench
    MessageForm().ClearMessagesClick();
    MessageForm().Hide();
    framework::e2StatusForm().OnCloseWait = [] {};
    framework::UserBreak = false;
  }
  void TearDown() override {
    platform::SetProcessMessagesHandler(nullptr);
    framework::e2StatusForm().OnCloseWait = nullptr;
    BenchTest::TearDown();
  }
  // The frame of the row's family on the buffer, set to the device, with the row's
  // virtual chip in the socket (unless `plug` is false).
  framework::TE2BaseFrame& Pick(const char* name, bool plug = true) {
    index = IndexOfDeviceName(name);
    EXPECT_GE(index, 0) << name;
    const std::string code = DeviceInfo(index).Code;
    if (code.starts_with("i2cx"))
      frame = std::make_unique<devices::TI2CXFrame>();
    else
      frame = std::make_unique<devices::TI2CFrame>();
    frame->SetBuffer(&buffer);
    frame->CreateWnd();
    frame->SetDevice(static_cast<uint16_t>(index));
    if (plug) {
      chip = std::dynamic_pointer_cast<sim::TI2CEeprom>(sim::MakeVirtualChip(name));
      EXPECT_TRUE(chip) << name;
      bench->Plug(chip);
    } else {
      bench->Unplug();
      chip.reset();
    }
    return *frame;
  }
  void Range(uint32_t start, uint32_t end) {
    frame->EndEdit.Caption = base::Format("%x", end);
    frame->EndEditChange();
    frame->StartEdit.Caption = base::Format("%x", start);
    frame->StartEditChange();
  }
  void Fill(const std::vector<uint8_t>& image, uint32_t at = 0) {
    for (size_t i = 0; i < image.size(); ++i) buffer.SetByte(at + i, image[i]);
  }
  std::vector<uint8_t> BufferBytes(uint32_t from, uint32_t count) {
    std::vector<uint8_t> v;
    for (uint32_t i = 0; i < count; ++i) v.push_back(buffer.GetByte(from + i));
    return v;
  }
  const std::string& LastLine() { return MessageForm().MessageList().back(); }
  // One cell command with the power on, on a fresh probe.
  bool Cell(char op, uint16_t& data, uint32_t address) {
    hw::PowerOn();
    bench->ResetProbe();
    platform::ClearPriorityLog();
    return frame->AccessCell(op, data, static_cast<uint16_t>(index), address);
  }

  hexedit::TBytescope buffer;
  std::unique_ptr<framework::TE2BaseFrame> frame;
  std::shared_ptr<sim::TI2CEeprom> chip;
  int index = -1;
};

// Small parts are programmed whole. The large ones (up to 64K single-byte writes of 10 ms
// each) are read whole from a chip loaded with a random image, and programmed, verified
// and read back over their last 384 bytes, so the top address is always covered.
TEST_F(I2CTest, EveryRowProgramsVerifiesAndReadsBack) {
  const char* rows[] = {"24C01",   "24C02",   "24C04",   "24C08",   "24C16",
                        "24C32",   "24C64",   "24C128",  "24C256",  "24C512",
                        "SDA2516", "SDA2526", "SDA2546", "GRM-003", "GRM-005"};
  uint32_t seed = 1;
  for (const char* name : rows) {
    SCOPED_TRACE(name);
    Pick(name);
    const uint32_t size = DeviceInfo(index).Size;
    const uint32_t last = size - 1;
    const uint32_t first = size > 2048 ? size - 384 : 0;
    const std::string device = std::string("  Device: ") + name;

    std::vector<uint8_t> initial(size, 0xFF);
    if (size > 2048) {
      initial = RandomImage(size, seed++);
      std::string reason;
      ASSERT_TRUE(chip->SetImage(initial, reason)) << reason;
      ASSERT_TRUE(frame->ReadRange());
      EXPECT_EQ(BufferBytes(0, size), initial);
      EXPECT_EQ(LastLine(), "Reading: Success" + device + base::Format(" Range: 0 - %2.2x", last));
    }

    const auto image = RandomImage(size - first, seed++);
    Fill(image, first);
    Range(first, last);
    ASSERT_TRUE(frame->ProgramRange());
    EXPECT_EQ(LastLine(),
              "Programming: Success" + device + base::Format(" Range: %x - %2.2x", first, last));
    auto expected = initial;
    std::copy(image.begin(), image.end(), expected.begin() + first);
    EXPECT_EQ(chip->Memory(), expected);
    EXPECT_TRUE(frame->VerifyRange());
    EXPECT_EQ(LastLine(),
              "Verifying: Success" + device + base::Format(" Range: %x - %2.2x", first, last));

    for (uint32_t i = first; i <= last; ++i) buffer.SetByte(i, 0);
    ASSERT_TRUE(frame->ReadRange());
    EXPECT_EQ(BufferBytes(first, size - first), image);
    EXPECT_FALSE(MessageForm().Visible());
  }
}

TEST_F(I2CTest, CommandBitsOfTheAddressEdgeCases) {
  struct Case {
    const char* name;
    uint32_t address;
    const char* read;
    const char* write;
  };
  const Case cases[] = {
      {"24C04", 0x1FF, "S A2 FF S A3 FF P", "S A2 FF 5A P"},
      {"GRM-005", 0x100, "S A2 00 S A3 FF P", "S A2 00 5A P"},
      {"24C08", 0x2A5, "S A4 A5 S A5 FF P", "S A4 A5 5A P"},
      {"24C16", 0x7FF, "S AE FF S AF FF P", "S AE FF 5A P"},
      {"24C02", 0xFF, "S A0 FF S A1 FF P", "S A0 FF 5A P"},
      {"24C64", 0x1234, "S A0 12 34 S A1 FF P", "S A0 12 34 5A P"},
      {"24C512", 0xFFFF, "S A0 FF FF S A1 FF P", "S A0 FF FF 5A P"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pick(c.name);
    chip->Memory()[c.address] = 0xC3;
    uint16_t data = 0xAB00;
    ASSERT_TRUE(Cell('R', data, c.address));
    EXPECT_EQ(Joined(BusTokens(bench->Probe())), c.read);
    EXPECT_EQ(data, 0xC3);
    EXPECT_EQ(platform::PriorityLog(),
              (std::vector{platform::TPriorityClass::RealTime, platform::TPriorityClass::Normal}));

    data = 0x125A;  // only the low byte is written
    ASSERT_TRUE(Cell('W', data, c.address));
    EXPECT_EQ(Joined(BusTokens(bench->Probe())), c.write);
    EXPECT_EQ(data, 0x5A);
    EXPECT_EQ(chip->Memory()[c.address], 0x5A);
    // Between cells both lines are left high (after the stop).
    EXPECT_TRUE(bench->Level(sim::TLine::Out5));
    EXPECT_TRUE(bench->Level(sim::TLine::Out4));
  }
}

TEST_F(I2CTest, OtherOpsDoNothingOnTheBus) {
  Pick("24C02");
  for (char op : {'E', 'C', 'A', 'S', 'T', 'D', 'L', 'x'}) {
    uint16_t data = 0x1234;
    EXPECT_TRUE(Cell(op, data, 5)) << op;
    EXPECT_TRUE(bench->Probe().Events().empty()) << op;
    EXPECT_TRUE(platform::PriorityLog().empty()) << op;
  }
}

TEST_F(I2CTest, EveryWaitIsAtLeastTheCatalogueTime) {
  // Rows with each clock and write time of the family.
  for (const char* name : {"24C01", "24C04", "SDA2526", "24C32"}) {
    SCOPED_TRACE(name);
    Pick(name);
    const auto& row = DeviceInfo(index);
    Fill(RandomImage(16, 7));
    Range(0, 15);
    bench->ResetProbe();
    ASSERT_TRUE(frame->ProgramRange());
    ASSERT_TRUE(frame->ReadRange());
    EXPECT_GE(i2c_test::MinGapBetweenLineChanges(bench->Probe()), row.ClockTime * 1000ull);
    // Every clock half-period, including the double step before the acknowledge sample.
    EXPECT_GE(bench->Probe().MinStableTime(sim::TLine::Out5), row.ClockTime * 1000ull);
    const auto gaps = i2c_test::GapsAfterWriteStops(
        bench->Probe(), std::string(row.Code).starts_with("i2cx") ? 2 : 1);
    EXPECT_EQ(gaps.size(), 16u);  // the read after the last write counts too
    for (uint64_t g : gaps) EXPECT_GE(g, row.WriteTime * 1000ull);
    // The chip never saw a clock too short or a command during its write cycle. It does
    // flag the end of every read: the stop's clock high is the ninth (acknowledge) clock
    // after the eighth data bit, which it counts as inside the byte.
    for (const auto& v : chip->Violations())
      if (v.what != "stop condition in the middle of a byte") ADD_FAILURE() << v.what;
  }
}

TEST_F(I2CTest, NoDeviceStopsAReadAtItsFirstCell) {
  Pick("24C02", /*plug=*/false);
  bench->ResetProbe();
  EXPECT_FALSE(frame->ReadRange());
  EXPECT_EQ(Joined(BusTokens(bench->Probe())), "S A0 P");
  EXPECT_EQ(LastLine(), "Reading: Errors Found  Device: 24C02 Range: 0 - FF");
  EXPECT_TRUE(MessageForm().Visible());
  EXPECT_EQ(framework::e2StatusForm().StatusText(), " Reading... Errors Found");

  // The same for the two-address-byte frame, on a program run.
  Pick("24C256", false);
  bench->ResetProbe();
  EXPECT_FALSE(frame->ProgramRange());
  EXPECT_EQ(Joined(BusTokens(bench->Probe())), "S A0 P");
  EXPECT_EQ(LastLine(), "Programming: Errors Found  Device: 24C256 Range: 0 - 7FFF");
}

// Acknowledges the control byte after each start and nothing else.
class TAcksControlOnly final : public sim::TVirtualDevice {
 public:
  std::string Name() const override { return "acks control only"; }
  void OnPlug(sim::TBench& bench, uint64_t t, uint32_t levels) override {
    bench.TieInput(sim::TLine::In2, sim::TLine::Out4);
    OnLines(t, levels, sim::kOutputLines);
  }
  void OnLines(uint64_t, uint32_t levels, uint32_t changed) override {
    const bool scl = levels & sim::Bit(sim::TLine::Out5);
    const bool sda = levels & sim::Bit(sim::TLine::Out4);
    if ((changed & sim::Bit(sim::TLine::Out4)) && scl && !sda) {  // start
      clocks_ = 0;
      byte_ = 0;
    }
    if (changed & sim::Bit(sim::TLine::Out5)) {
      if (scl) {
        ++clocks_;
      } else if (clocks_ == 8) {
        pull_ = byte_ == 0;
      } else if (clocks_ == 9) {
        pull_ = false;
        clocks_ = 0;
        ++byte_;
      }
    }
  }
  sim::TDrive Drive(uint64_t) override {
    return pull_ ? sim::TDrive{sim::Bit(sim::TLine::In2), 0} : sim::TDrive{};
  }

 private:
  int clocks_ = 0, byte_ = 0;
  bool pull_ = false;
};

TEST_F(I2CTest, AWriteFailingOnItsAddressByteStopsWithoutTheWriteTime) {
  Pick("24C02", false);
  bench->Plug(std::make_shared<TAcksControlOnly>());
  uint16_t data = 0x55;
  ASSERT_FALSE(Cell('W', data, 0x10));
  const auto tokens = BusTokens(bench->Probe());
  EXPECT_EQ(Joined(tokens), "S A0 10 P");
  // Back at once after the stop, not after 10 ms.
  EXPECT_LT(bench->Now() - tokens.back().t, DeviceInfo(index).WriteTime * 1000ull);
  EXPECT_EQ(platform::PriorityLog().back(), platform::TPriorityClass::Normal);

  // A program run ends at that cell with the error line.
  Range(0x10, 0x20);
  EXPECT_FALSE(frame->ProgramRange());
  EXPECT_EQ(LastLine(), "Programming: Errors Found  Device: 24C02 Range: 10 - 20");
}

TEST_F(I2CTest, ProgrammingStartsWithAReadOfTheStartCell) {
  Pick("24C02");
  Fill({0x11, 0x22});
  Range(0x40, 0x41);
  Fill({0x11, 0x22}, 0x40);
  bench->ResetProbe();
  ASSERT_TRUE(frame->ProgramRange());
  EXPECT_EQ(Joined(BusTokens(bench->Probe())), "S A0 40 S A1 FF P S A0 40 11 P S A0 41 22 P");
  // The two-address-byte frame keeps the base's enable op, which sends nothing.
  Pick("24C32");
  Range(0x100, 0x100);
  buffer.SetByte(0x100, 0x33);
  bench->ResetProbe();
  ASSERT_TRUE(frame->ProgramRange());
  EXPECT_EQ(Joined(BusTokens(bench->Probe())), "S A0 01 00 33 P");
}

TEST_F(I2CTest, CancelStopsAfterTheCurrentCell) {
  Pick("24C02");
  Fill(RandomImage(256, 3));
  int cells = 0;
  platform::SetProcessMessagesHandler([&] {
    if (++cells == 3) framework::e2StatusForm().CancelClick();
  });
  EXPECT_TRUE(frame->ProgramRange());
  EXPECT_EQ(cells, 3);
  EXPECT_EQ(LastLine(), "Programming: User Break  Device: 24C02 Range: 0 - FF");
  EXPECT_EQ(std::vector(chip->Memory().begin(), chip->Memory().begin() + 4),
            (std::vector<uint8_t>{buffer.GetByte(0), buffer.GetByte(1), buffer.GetByte(2), 0xFF}));

  // A cancelled read keeps the cells read so far.
  for (int i = 0; i < 256; ++i) buffer.SetByte(i, 0);
  cells = 0;
  EXPECT_TRUE(frame->ReadRange());
  EXPECT_EQ(cells, 3);
  EXPECT_EQ(BufferBytes(0, 4),
            (std::vector<uint8_t>{chip->Memory()[0], chip->Memory()[1], chip->Memory()[2], 0}));
  EXPECT_EQ(LastLine(), "Reading: User Break  Device: 24C02 Range: 0 - FF");
}

TEST_F(I2CTest, TheProgrammerPanelPicksTheFamilyFrames) {
  framework::TProgrammerFrame panel(&buffer);
  panel.CreateWnd();
  panel.Dispatch(static_cast<uint16_t>(IndexOfDeviceName("24C16")));
  auto* small = dynamic_cast<devices::TI2CFrame*>(panel.FrontFrame());
  ASSERT_NE(small, nullptr);
  EXPECT_FALSE(small->EraseBtn.Visible);
  EXPECT_EQ(small->EndEdit.Caption, "7FF");
  EXPECT_EQ(buffer.DataSize(), 2048);
  panel.Dispatch(static_cast<uint16_t>(IndexOfDeviceName("24C512")));
  auto* large = dynamic_cast<devices::TI2CXFrame*>(panel.FrontFrame());
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(large->EndEdit.Caption, "FFFF");
  EXPECT_TRUE(dialogs.messages.empty());
}

}  // namespace
