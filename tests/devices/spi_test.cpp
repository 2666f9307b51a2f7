// The SPI family end to end on the bench: both frames through the adapter to the virtual
// 25Cxxx in the socket, the command bytes and waits the probe saw, the status register.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/format.h"
#include "devices/microwire_spi_trace.h"
#include "devices/spi.h"
#include "devices/spi8.h"
#include "framework/catalogue.h"
#include "framework/programmer_frame.h"
#include "framework/status.h"
#include "hexedit/bytescope.h"
#include "platform/app_hooks.h"
#include "sim/chips.h"
#include "sim/chips/spi_eeprom.h"
#include "support/bench_fixture.h"

namespace {

using devices_test::Commands;
using devices_test::TCommand;
using framework::DeviceInfo;
using framework::IndexOfDeviceName;
using framework::MessageForm;
using sim::TLine;

constexpr uint64_t kUs = 1000;

// The 16-bit-address frame opens each call with a write of its idle copy, which has /CS
// low: a select without a clock, which a 25Cxxx ignores. Such empty selections are left
// out here.
std::vector<TCommand> SpiCommands(sim::TBench& bench) {
  std::vector<TCommand> out;
  for (auto& c : Commands(bench.Probe(), TLine::Out3, false, TLine::Out5, TLine::Out4))
    if (!c.bits.empty()) out.push_back(std::move(c));
  return out;
}

std::string Violations(const sim::TVirtualChip& chip) {
  std::string s;
  for (const auto& v : chip.Violations()) s += std::to_string(v.t) + " ns: " + v.what + "\n";
  return s;
}

class SpiTest : public testing_support::BenchTest {
 protected:
  void SetUp() override {
    BenchTest::SetUp();
    hw::Ports().Delay = 500000;  // the bench's calibration: 2 µs per cycle
    framework::e2StatusForm().OnCloseWait = [] {};
    MessageForm().ClearMessagesClick();
    MessageForm().Hide();
    for (framework::TE2BaseFrame* f : {static_cast<framework::TE2BaseFrame*>(&spis),
                                       static_cast<framework::TE2BaseFrame*>(&spi8)}) {
      f->SetBuffer(&buffer);
      f->CreateWnd();
    }
  }
  void TearDown() override {
    platform::SetProcessMessagesHandler(nullptr);
    framework::e2StatusForm().OnCloseWait = nullptr;
    BenchTest::TearDown();
  }
  // Selects the device on the frame of its code and puts a fresh chip of it in the socket
  // (or leaves the socket empty), with the lines as an earlier command leaves them: /CS
  // high, SCK and SI low.
  std::shared_ptr<sim::TSpiEeprom> Pick(const std::string& name, bool plug = true) {
    index = static_cast<uint16_t>(IndexOfDeviceName(name));
    frame = std::string(DeviceInfo(index).Code).rfind("spi8", 0) == 0
                ? static_cast<devices::TSPIFrame*>(&spi8)
                : &spis;
    frame->SetDevice(index);
    hw::Io().Out(hw::Ports().LptBase, 0x18);
    bench->Unplug();
    if (!plug) return nullptr;
    auto chip = std::static_pointer_cast<sim::TSpiEeprom>(sim::MakeVirtualChip(name));
    bench->Plug(chip);
    return chip;
  }
  const std::string& LastLine() { return MessageForm().MessageList().back(); }
  bool Cell(char op, uint16_t& data, uint32_t address) {
    return frame->AccessCell(op, data, index, address);
  }
  void Range(const char* start, const char* end) {
    frame->EndEdit.Caption = end;
    frame->EndEditChange();
    frame->StartEdit.Caption = start;
    frame->StartEditChange();
  }

  hexedit::TBytescope buffer;
  devices::TSPIFrame spis;
  devices::TSPI8Frame spi8;
  devices::TSPIFrame* frame = &spis;
  uint16_t index = 0;
};

TEST_F(SpiTest, EveryRowProgramsVerifiesAndReadsBack) {
  bench->Probe().Enable(false);  // millions of edges for the large parts: not needed here
  int rows = 0;
  for (int i = 0; i < framework::kDeviceCount; ++i) {
    const framework::TE2Info& row = DeviceInfo(i);
    const std::string code = row.Code;
    if (code.rfind("spis", 0) != 0 && code.rfind("spi8", 0) != 0) continue;
    ++rows;
    SCOPED_TRACE(row.Name);
    auto chip = Pick(row.Name);
    ASSERT_TRUE(chip);
    EXPECT_TRUE(frame->BlankCheck());

    std::mt19937 rng(static_cast<unsigned>(i));
    std::vector<uint8_t> image(row.Size);
    for (auto& b : image) b = static_cast<uint8_t>(rng());
    for (uint32_t a = 0; a < row.Size; ++a) buffer.SetByte(a, image[a]);
    EXPECT_TRUE(frame->ProgramRange());
    EXPECT_EQ(chip->Memory(), image);
    EXPECT_TRUE(frame->VerifyRange());
    EXPECT_EQ(LastLine(), base::Format("Verifying: Success  Device: %s Range: 0 - %2.2x", row.Name,
                                       row.Size - 1));
    for (uint32_t a = 0; a < row.Size; ++a) buffer.SetByte(a, 0);
    EXPECT_TRUE(frame->ReadRange());
    EXPECT_EQ(std::vector<uint8_t>(buffer.Data(), buffer.Data() + row.Size), image);
    EXPECT_FALSE(frame->BlankCheck());
    // No erase command in this family: the button stays hidden.
    EXPECT_FALSE(frame->EraseBtn.Visible);
    EXPECT_EQ(Violations(*chip), "");
  }
  EXPECT_EQ(rows, 9);
}

TEST_F(SpiTest, AddressBytesAndAddressBitEightInTheInstruction) {
  struct Case {
    const char* device;
    uint32_t address;
    std::vector<uint8_t> sent;
  };
  const Case cases[] = {
      {"25C040", 0x1A5, {0x0B, 0xA5}},        {"25C040", 0x0A5, {0x03, 0xA5}},
      {"25C010", 0x7F, {0x03, 0x7F}},         {"25C640", 0x1234, {0x03, 0x12, 0x34}},
      {"25C256", 0x7FFF, {0x03, 0x7F, 0xFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.device) + base::Format(" %x", c.address));
    auto chip = Pick(c.device);
    chip->Memory()[c.address] = 0x96;
    hw::PowerOn();
    bench->ResetProbe();
    uint16_t data = 0;
    EXPECT_TRUE(Cell('R', data, c.address));
    EXPECT_EQ(data, 0x96);
    const auto cmds = SpiCommands(*bench);
    ASSERT_EQ(cmds.size(), 1u);
    const auto bytes = cmds[0].Bytes();
    ASSERT_EQ(bytes.size(), c.sent.size() + 1);  // and eight clocks with SI low for the data
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end() - 1), c.sent);
    EXPECT_EQ(bytes.back(), 0x00);
    EXPECT_EQ(cmds[0].bits.size(), 8 * bytes.size());
  }
}

TEST_F(SpiTest, ProgrammingEnablesEveryByteAndWaitsTheWriteTime) {
  auto chip = Pick("25C040");
  const uint64_t clock = DeviceInfo(index).ClockTime * kUs;
  const uint64_t write = DeviceInfo(index).WriteTime * kUs;
  buffer.SetByte(0x100, 0x5C);
  buffer.SetByte(0x101, 0x00);
  buffer.SetByte(0x102, 0xFF);
  buffer.SetByte(0x103, 0x81);
  Range("100", "103");
  bench->ResetProbe();
  EXPECT_TRUE(frame->ProgramRange());
  const auto cmds = SpiCommands(*bench);
  ASSERT_EQ(cmds.size(), 8u);
  const uint8_t data[] = {0x5C, 0x00, 0xFF, 0x81};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cmds[2 * i].Bytes(), std::vector<uint8_t>{0x06});
    EXPECT_EQ(cmds[2 * i + 1].Bytes(),
              (std::vector<uint8_t>{0x0A, static_cast<uint8_t>(i), data[i]}));
    if (i < 3) {
      EXPECT_GE(cmds[2 * i + 2].selectT - cmds[2 * i + 1].deselectT, write);
    }
  }
  EXPECT_EQ(chip->Memory()[0x100], 0x5C);
  EXPECT_EQ(chip->Memory()[0x103], 0x81);
  // Clock half-periods and /CS high times of at least the clock time.
  EXPECT_GE(bench->Probe().MinStableTime(TLine::Out5), clock);
  for (size_t i = 0; i + 1 < cmds.size(); ++i)
    EXPECT_GE(cmds[i + 1].selectT - cmds[i].deselectT, clock);
  const auto power = bench->Probe().EventsOf(TLine::Power);
  ASSERT_FALSE(power.empty());
  EXPECT_GE(power.back().t - cmds.back().deselectT, write);
  EXPECT_EQ(Violations(*chip), "");
}

TEST_F(SpiTest, StatusRegisterControls) {
  EXPECT_TRUE(spis.RegisterLabel.Visible);
  EXPECT_TRUE(spis.RegisterEdit.Visible);
  EXPECT_TRUE(spi8.ReadStatusBtn.Visible);
  EXPECT_TRUE(spi8.WriteStatusBtn.Visible);
  EXPECT_EQ(spis.WriteStatusBtn.Caption, "Write Stat. Register");

  for (const char* device : {"25C640", "25C020"}) {
    SCOPED_TRACE(device);
    auto chip = Pick(device);
    const uint64_t write = DeviceInfo(index).WriteTime * kUs;
    frame->RegisterEdit.Caption = "8C";
    bench->ResetProbe();
    EXPECT_TRUE(frame->WriteStatusRegister());
    auto cmds = SpiCommands(*bench);
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].Bytes(), std::vector<uint8_t>{0x06});
    EXPECT_EQ(cmds[1].Bytes(), (std::vector<uint8_t>{0x01, 0x8C}));
    const auto power = bench->Probe().EventsOf(TLine::Power);
    ASSERT_FALSE(power.empty());
    EXPECT_GE(power.back().t - cmds[1].deselectT, write);
    // The small parts keep only the block protection bits.
    const uint8_t kept = std::string(device) == "25C640" ? 0x8C : 0x0C;

    frame->RegisterEdit.Caption = "";
    bench->ResetProbe();
    EXPECT_TRUE(frame->ReadStatusRegister());
    EXPECT_EQ(frame->RegisterEdit.Caption, base::Format("%2.2x", kept));
    cmds = SpiCommands(*bench);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].Bytes(), (std::vector<uint8_t>{0x05, 0x00}));
    EXPECT_EQ(Violations(*chip), "");
  }

  // A value that is not hexadecimal is refused and nothing is written.
  auto chip = Pick("25C080");
  frame->RegisterEdit.Caption = "zz";
  bench->ResetProbe();
  EXPECT_FALSE(frame->WriteStatusRegister());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "Wrong Register value");
  const auto cmds = SpiCommands(*bench);
  ASSERT_EQ(cmds.size(), 1u);  // the write enable only
  EXPECT_EQ(cmds[0].Bytes(), std::vector<uint8_t>{0x06});
  EXPECT_EQ(chip->Status(bench->Now()) & 0x8C, 0);
}

TEST_F(SpiTest, OpsWithoutACommandTouchNoPort) {
  Pick("25C040");
  for (devices::TSPIFrame* f : std::initializer_list<devices::TSPIFrame*>{&spis, &spi8}) {
    const uint64_t accesses = bench->AccessCount();
    for (char op : {'C', 'D', 'A', 'L', 'x'}) {
      uint16_t data = 0x1234;
      EXPECT_TRUE(f->AccessCell(op, data, index, 5));
      EXPECT_EQ(data, 0x1234);
    }
    EXPECT_EQ(bench->AccessCount(), accesses);
  }
  // Erase All stays hidden after a device is picked, and programming sends no erase.
  EXPECT_FALSE(spi8.EraseBtn.Visible);
}

TEST_F(SpiTest, MissingDeviceReportsSuccessAndVerifyFindsIt) {
  Pick("25C160", /*plug=*/false);
  for (uint32_t a = 0; a < 16; ++a) buffer.SetByte(a, static_cast<uint8_t>(a));
  Range("0", "F");
  EXPECT_TRUE(frame->ProgramRange());
  EXPECT_EQ(LastLine(), "Programming: Success  Device: 25C160 Range: 0 - 0F");
  EXPECT_FALSE(frame->VerifyRange());  // SO floats high: every byte reads FF
  EXPECT_EQ(LastLine(), "Verifying:  16 Errors Found  Device: 25C160 Range: 0 - 0F");
}

// Counts the cell commands it passes on to the engine.
class TCountingFrame : public devices::TSPI8Frame {
 public:
  std::string ops;
  bool AccessCell(char op, uint16_t& data, uint16_t deviceIndex, uint32_t address) override {
    ops += op;
    return TSPI8Frame::AccessCell(op, data, deviceIndex, address);
  }
};

TEST_F(SpiTest, CancelStopsAfterTheCellUnderWay) {
  auto chip = Pick("25C020");
  TCountingFrame counting;
  counting.SetBuffer(&buffer);
  counting.SetDevice(index);
  for (uint32_t a = 0; a < 256; ++a) buffer.SetByte(a, static_cast<uint8_t>(a ^ 0x55));
  int cells = 0;
  platform::SetProcessMessagesHandler([&] {
    if (++cells == 3) framework::e2StatusForm().CancelClick();
  });
  EXPECT_TRUE(counting.ProgramRange());
  EXPECT_EQ(counting.ops, "EWEWEW");
  EXPECT_EQ(chip->Memory()[2], 2 ^ 0x55);
  EXPECT_EQ(chip->Memory()[3], 0xFF);
  EXPECT_EQ(LastLine(), "Programming: User Break  Device: 25C020 Range: 0 - FF");

  cells = 0;
  counting.ops.clear();
  EXPECT_TRUE(counting.VerifyRange());
  EXPECT_EQ(counting.ops, "RRR");
}

TEST_F(SpiTest, ProgrammerPanelPicksTheFrameOfTheCode) {
  framework::TProgrammerFrame panel(&buffer);
  panel.CreateWnd();
  for (const char* device : {"25C040", "25C256"}) {
    SCOPED_TRACE(device);
    panel.Dispatch(static_cast<uint16_t>(IndexOfDeviceName(device)));
    auto* f = dynamic_cast<devices::TSPIFrame*>(panel.FrontFrame());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(dynamic_cast<devices::TSPI8Frame*>(f) != nullptr, std::string(device) == "25C040");
    EXPECT_TRUE(f->ReadStatusBtn.Visible);
    EXPECT_FALSE(f->EraseBtn.Visible);
  }
  EXPECT_TRUE(dialogs.messages.empty());
}

}  // namespace
