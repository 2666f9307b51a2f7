// The Microwire family end to end on the bench: the frame's range operations through the
// adapter to the virtual 93Cxx in the socket, the bits and waits the probe saw, and the
// emulator against a virtual Microwire host, the decoder and the lister.
#include "devices/microwire.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/format.h"
#include "devices/events.h"
#include "devices/microwire_spi_trace.h"
#include "framework/catalogue.h"
#include "framework/programmer_frame.h"
#include "framework/status.h"
#include "hexedit/bytescope.h"
#include "platform/app_hooks.h"
#include "sim/chips.h"
#include "sim/chips/microwire_eeprom.h"
#include "sim/chips/port_pins.h"
#include "sim/masters/microwire_host.h"
#include "support/bench_fixture.h"

namespace {

using devices_test::Bits;
using devices_test::Commands;
using devices_test::TCommand;
using framework::DeviceInfo;
using framework::IndexOfDeviceName;
using framework::MessageForm;
using sim::TLine;

constexpr uint64_t kUs = 1000;

std::vector<TCommand> MicrowireCommands(sim::TBench& bench) {
  return Commands(bench.Probe(), TLine::Out3, true, TLine::Out5, TLine::Out4);
}

// The chip flags clocks that follow a complete ERASE before CS falls; the engine clocks
// a cell's width after every ERASE (and the chip still erases). Anything else is a fault.
std::string UnexpectedViolations(const sim::TVirtualChip& chip) {
  std::string s;
  for (const auto& v : chip.Violations())
    if (v.what != "clock after a complete instruction before CS fell")
      s += std::to_string(v.t) + " ns: " + v.what + "\n";
  return s;
}

class MicrowireTest : public testing_support::BenchTest {
 protected:
  void SetUp() override {
    BenchTest::SetUp();
    hw::Ports().Delay = 500000;  // the bench's calibration: 2 µs per cycle
    framework::e2StatusForm().OnCloseWait = [] {};
    MessageForm().ClearMessagesClick();
    MessageForm().Hide();
    frame.SetBuffer(&buffer);
    frame.CreateWnd();
  }
  void TearDown() override {
    platform::SetProcessMessagesHandler(nullptr);
    framework::e2StatusForm().OnCloseWait = nullptr;
    BenchTest::TearDown();
  }
  // Selects the device and puts a fresh chip of it in the socket (or leaves the socket
  // empty), with the lines as an earlier operation leaves them: CS, DI and CLK low and
  // ORG set for the organisation.
  std::shared_ptr<sim::TMicrowireEeprom> Pick(const std::string& name, bool plug = true) {
    index = static_cast<uint16_t>(IndexOfDeviceName(name));
    frame.SetDevice(index);
    hw::Io().Out(hw::Ports().LptBase, DeviceInfo(index).Width == 16 ? 0x1C : 0x1E);
    bench->Unplug();
    if (!plug) return nullptr;
    auto chip = std::static_pointer_cast<sim::TMicrowireEeprom>(sim::MakeVirtualChip(name));
    bench->Plug(chip);
    return chip;
  }
  const std::string& LastLine() { return MessageForm().MessageList().back(); }
  void Range(const char* start, const char* end) {
    frame.EndEdit.Caption = end;
    frame.EndEditChange();
    frame.StartEdit.Caption = start;
    frame.StartEditChange();
  }
  bool Cell(char op, uint16_t& data, uint32_t address) {
    return frame.AccessCell(op, data, index, address);
  }

  hexedit::TBytescope buffer;
  devices::TMicrowireFrame frame;
  uint16_t index = 0;
};

TEST_F(MicrowireTest, EveryRowProgramsVerifiesReadsBackAndErases) {
  bench->Probe().Enable(false);  // a few hundred thousand edges: not needed here
  int rows = 0;
  for (int i = 0; i < framework::kDeviceCount; ++i) {
    const framework::TE2Info& row = DeviceInfo(i);
    if (std::string(row.Code).rfind("miwi", 0) != 0) continue;
    ++rows;
    SCOPED_TRACE(row.Name);
    auto chip = Pick(row.Name);
    ASSERT_TRUE(chip);
    EXPECT_TRUE(frame.BlankCheck());

    std::mt19937 rng(static_cast<unsigned>(i));
    std::vector<uint8_t> image(row.Size);
    for (auto& b : image) b = static_cast<uint8_t>(rng());
    for (uint32_t a = 0; a < row.Size; ++a) buffer.SetByte(a, image[a]);
    EXPECT_TRUE(frame.ProgramRange());
    EXPECT_EQ(chip->Memory(), image);
    EXPECT_TRUE(frame.VerifyRange());
    EXPECT_EQ(LastLine(), base::Format("Verifying: Success  Device: %s Range: 0 - %2.2x", row.Name,
                                       row.Size - 1));
    for (uint32_t a = 0; a < row.Size; ++a) buffer.SetByte(a, 0);
    EXPECT_TRUE(frame.ReadRange());
    EXPECT_EQ(std::vector<uint8_t>(buffer.Data(), buffer.Data() + row.Size), image);
    EXPECT_FALSE(frame.BlankCheck());

    if (row.Flags & framework::kFlagEraseAll) {
      EXPECT_TRUE(frame.EraseBtn.Visible);
      EXPECT_TRUE(frame.EraseAll());
      EXPECT_TRUE(frame.BlankCheck());
      EXPECT_EQ(chip->Memory(), std::vector<uint8_t>(row.Size, 0xFF));
    } else {
      EXPECT_FALSE(frame.EraseBtn.Visible);
    }
    EXPECT_EQ(UnexpectedViolations(*chip), "");
  }
  EXPECT_EQ(rows, 13);
}

TEST_F(MicrowireTest, CommandBitsOfTheEdgeCases) {
  // READ of 93C46 cell 0x25: leading 0, start 1, opcode 10, address 0100101, 8 clocks in.
  auto chip = Pick("93C46");
  chip->Memory()[0x25] = 0xC3;
  hw::PowerOn();
  bench->ResetProbe();
  uint16_t data = 0;
  EXPECT_TRUE(Cell('R', data, 0x25));
  EXPECT_EQ(data, 0xC3);
  auto cmds = MicrowireCommands(*bench);
  ASSERT_EQ(cmds.size(), 1u);
  std::vector<bool> expected = Bits({0, 1, 1, 0, 0, 1, 0, 0, 1, 0, 1});
  expected.resize(expected.size() + 8, true);  // DI keeps the last address bit meanwhile
  EXPECT_EQ(cmds[0].bits, expected);
  // ORG low for 8-bit cells, and one more clock after CS fell.
  EXPECT_FALSE(bench->Probe().LevelAt(TLine::Out2, cmds[0].selectT));
  const auto clk = bench->Probe().EventsOf(TLine::Out5);
  ASSERT_FALSE(clk.empty());
  EXPECT_GT(clk.back().t, cmds[0].deselectT);

  // Write enable on a 93C86 x16: 1, 00, 11 and eight zeros after the leading zero; ORG high.
  chip = Pick("93C86 x16");
  hw::PowerOn();
  bench->ResetProbe();
  EXPECT_TRUE(Cell('E', data, 0));
  cmds = MicrowireCommands(*bench);
  ASSERT_EQ(cmds.size(), 1u);
  EXPECT_EQ(cmds[0].bits, Bits({0, 1, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(bench->Probe().LevelAt(TLine::Out2, cmds[0].selectT));
  EXPECT_TRUE(chip->WriteEnabled());

  // The other instructions of a 16-bit part: WRITE, ERASE, EWDS, ERAL.
  const int a = 10;
  struct Case {
    char op;
    uint16_t data;
    std::vector<bool> bits;
  };
  auto cat = [](std::vector<bool> x, const std::vector<bool>& y) {
    x.insert(x.end(), y.begin(), y.end());
    return x;
  };
  const Case cases[] = {
      {'W', 0xBEEF, cat(cat(Bits({0, 1, 0, 1}), Bits(0x155, a)), Bits(0xBEEF, 16))},
      {'C', 0, cat(cat(Bits({0, 1, 1, 1}), Bits(0x155, a)), std::vector<bool>(16, true))},
      {'D', 0, cat(Bits({0, 1, 0, 0, 0, 0}), std::vector<bool>(a - 2, false))},
      {'A', 0, cat(Bits({0, 1, 0, 0, 1, 0}), std::vector<bool>(a - 2, false))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.op);
    bench->ResetProbe();
    uint16_t d = c.data;
    EXPECT_TRUE(Cell(c.op, d, 0x155));
    cmds = MicrowireCommands(*bench);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].bits, c.bits);
  }

  // Letters without an instruction touch no port.
  const uint64_t accesses = bench->AccessCount();
  for (char op : {'S', 'T', 'L', 'x'}) EXPECT_TRUE(Cell(op, data, 0));
  EXPECT_EQ(bench->AccessCount(), accesses);
}

TEST_F(MicrowireTest, ClockHalfPeriodsAndWriteWaits) {
  auto chip = Pick("93C56 x16");
  const framework::TE2Info& row = DeviceInfo(index);
  const uint64_t clock = row.ClockTime * kUs, write = row.WriteTime * kUs;
  for (uint32_t a = 0; a < 8; ++a) buffer.SetByte(a, static_cast<uint8_t>(0x11 * a));
  Range("0", "7");
  bench->ResetProbe();
  EXPECT_TRUE(frame.ProgramRange());
  EXPECT_TRUE(frame.VerifyRange());
  EXPECT_TRUE(frame.EraseAll());
  ASSERT_FALSE(bench->Probe().Overflowed());
  EXPECT_GE(bench->Probe().MinStableTime(TLine::Out5), clock);

  // Each programming instruction is followed by the write time before CS rises again;
  // erase all by twice that.
  const auto cmds = MicrowireCommands(*bench);
  int writes = 0, eraseAll = 0;
  for (size_t i = 0; i + 1 < cmds.size(); ++i) {
    const auto& b = cmds[i].bits;
    ASSERT_GE(b.size(), 6u);
    const int op = b[2] * 2 + b[3], sub = b[4] * 2 + b[5];
    const bool programming = op != 2;  // everything but READ (EWEN, WRITE, ERASE, ERAL)
    if (!programming) continue;
    const uint64_t gap = cmds[i + 1].selectT - cmds[i].deselectT;
    if (op == 0 && sub == 2) {
      ++eraseAll;
      EXPECT_GE(gap, 2 * write);
    } else {
      ++writes;
      EXPECT_GE(gap, write) << "command " << i;
    }
  }
  // The last command (ERAL) has no successor: its wait is measured against the power.
  EXPECT_EQ(writes, 1 + 2 * 4 + 1);  // EWEN, ERASE+WRITE per cell, EWEN before ERAL
  const auto& last = cmds.back();
  EXPECT_EQ(std::vector<bool>(last.bits.begin() + 2, last.bits.begin() + 6), Bits({0, 0, 1, 0}));
  const auto power = bench->Probe().EventsOf(TLine::Power);
  ASSERT_FALSE(power.empty());
  EXPECT_FALSE(power.back().level);
  EXPECT_GE(power.back().t - last.deselectT, 2 * write);
  (void)eraseAll;
  EXPECT_EQ(UnexpectedViolations(*chip), "");
}

TEST_F(MicrowireTest, MissingDeviceReportsSuccessAndVerifyFindsIt) {
  Pick("93C46 x16", /*plug=*/false);
  for (uint32_t a = 0; a < 128; ++a) buffer.SetByte(a, static_cast<uint8_t>(a));
  EXPECT_TRUE(frame.ProgramRange());
  EXPECT_EQ(LastLine(), "Programming: Success  Device: 93C46 x16 Range: 0 - 7F");
  EXPECT_FALSE(frame.VerifyRange());  // DO floats high: every word reads FFFF
  EXPECT_EQ(LastLine(), "Verifying:  64 Errors Found  Device: 93C46 x16 Range: 0 - 7F");
  EXPECT_TRUE(MessageForm().Visible());
}

// Counts the cell commands it passes on to the engine.
class TCountingFrame : public devices::TMicrowireFrame {
 public:
  int reads = 0, writes = 0;
  bool AccessCell(char op, uint16_t& data, uint16_t deviceIndex, uint32_t address) override {
    reads += op == 'R';
    writes += op == 'W';
    return TMicrowireFrame::AccessCell(op, data, deviceIndex, address);
  }
};

TEST_F(MicrowireTest, CancelStopsAfterTheCellUnderWay) {
  auto chip = Pick("93C66");
  TCountingFrame counting;
  counting.SetBuffer(&buffer);
  counting.SetDevice(index);
  for (uint32_t a = 0; a < 512; ++a) chip->Memory()[a] = static_cast<uint8_t>(a * 3);
  int cells = 0;
  platform::SetProcessMessagesHandler([&] {
    if (++cells == 3) framework::e2StatusForm().CancelClick();
  });
  EXPECT_TRUE(counting.ReadRange());
  EXPECT_EQ(counting.reads, 3);
  EXPECT_EQ(buffer.GetByte(2), 6);
  EXPECT_EQ(buffer.GetByte(3), 0);
  EXPECT_EQ(LastLine(), "Reading: User Break  Device: 93C66 Range: 0 - 1FF");

  cells = 0;
  EXPECT_TRUE(counting.ProgramRange());
  EXPECT_EQ(counting.writes, 3);
  EXPECT_EQ(framework::e2StatusForm().StatusText(), " Programming... User Break");
}

// ---- emulator -----------------------------------------------------------------------

class MicrowireEmulatorTest : public MicrowireTest {
 protected:
  // The host plays its script from 1 ms on; the stop button is pressed once it is done.
  std::shared_ptr<sim::TMicrowireHost> Host(const std::string& device) {
    index = static_cast<uint16_t>(IndexOfDeviceName(device));
    const auto& row = DeviceInfo(index);
    buffer.SetDataSize(row.Size - 1);
    auto host = std::make_shared<sim::TMicrowireHost>(static_cast<int>(row.AddrBits),
                                                      static_cast<int>(row.Width), 100 * kUs,
                                                      bench->Now() + 1000 * kUs);
    bench->AddSource(host);
    return host;
  }
  std::vector<std::string> Run(const sim::TMicrowireHost& host) {
    bench->PressStopAt(host.EndTime() + 1000 * kUs);
    EXPECT_TRUE(devices::EmulateMicrowire(frame, index));
    std::array<int32_t, 1> positions{};
    devices::ListMicrowireEvents(list, positions, 0);
    return list.Items;
  }
  framework::TListControl list;
};

TEST_F(MicrowireEmulatorTest, HostWriteOfAWordStoresItHighByteFirst) {
  auto host = Host("93C46 x16");
  // The host starts 300 ms late: the emulator powers the adapter first.
  host->Idle(300000 * kUs).Write(3, 0xBEEF);
  const auto lines = Run(*host);
  EXPECT_EQ(buffer.GetByte(6), 0xBE);
  EXPECT_EQ(buffer.GetByte(7), 0xEF);
  EXPECT_EQ(lines, (std::vector<std::string>{"00000  Start  Write", "00001  Addr  03",
                                             "00002  Data  BEEF"}));
  EXPECT_EQ(devices::EmuAddress, 3);
  EXPECT_EQ(devices::EventCount, 3);
  EXPECT_EQ(framework::e2StatusForm().Mode(), framework::smEmulate);
  EXPECT_FALSE(hw::IsPowerOn());
}

TEST_F(MicrowireEmulatorTest, HostReadGetsTheCellAfterADummyZero) {
  auto host = Host("93C46");
  buffer.SetByte(0x10, 0xA5);
  buffer.SetByte(0x11, 0x5A);
  host->Idle(300000 * kUs).Read(0x10).Read(0x11);
  const auto lines = Run(*host);
  EXPECT_EQ(host->Words(), (std::vector<uint32_t>{0xA5, 0x5A}));
  EXPECT_EQ(host->DummyBits(), (std::vector<bool>{false, false}));
  EXPECT_EQ(lines,
            (std::vector<std::string>{"00000  Start  Read", "00001  Addr  10", "00002  Data  A5",
                                      "00003  Start  Read", "00004  Addr  11", "00005  Data  5A"}));
}

TEST_F(MicrowireEmulatorTest, InstructionsWithoutAddressAndACsDrop) {
  auto host = Host("93C46");
  buffer.SetByte(0x7F, 0x00);
  // WRITE cut after start, opcode and three address bits; then write enable, write all
  // (its five further address bits ignored, eight data bits recorded), erase, erase all,
  // write disable.
  host->Idle(300000 * kUs)
      .WriteCut(0x7F, 0x12, 1 + 2 + 3)
      .Ewen()
      .Wral(0x5A)
      .Erase(0x7F)
      .Eral()
      .Ewds();
  const auto lines = Run(*host);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"00000  Start  Write", "00001  Addr  00", "00002  Data  800",
                                      "00003  Start Write Enable", "00004  Start Write All",
                                      "00005  Data  5A", "00006  Start Erase", "00007  Addr  7F",
                                      "00008  Start Erase All", "00009  Start Write Disable"}));
  EXPECT_EQ(buffer.GetByte(0x7F), 0x00);  // erase and write all are only recorded
}

TEST_F(MicrowireEmulatorTest, CellsBeyondTheBufferReadFFAndDropWrites) {
  auto host = Host("93C86 x16");
  buffer.SetDataSize(3);  // the Emulator tab does not resize the page's buffer
  host->Idle(300000 * kUs).Write(0x200, 0x1234).Read(0x200).Read(1);
  buffer.SetByte(2, 0x9A);
  buffer.SetByte(3, 0xBC);
  Run(*host);
  EXPECT_EQ(host->Words(), (std::vector<uint32_t>{0xFFFF, 0x9ABC}));
  EXPECT_EQ(buffer.DataSize(), 4);
}

TEST_F(MicrowireEmulatorTest, StopButtonEndsTheRunMidInstruction) {
  auto host = Host("93C46");
  host->Idle(300000 * kUs).Write(0x01, 0x77);
  // Stop while the address bits arrive: the Start entry is open with its opcode.
  bench->PressStopAt(host->EndTime() - 12 * 100 * kUs);
  EXPECT_TRUE(devices::EmulateMicrowire(frame, index));
  EXPECT_EQ(devices::EventCount, 1);
  EXPECT_EQ(devices::EventTable[0], 0x8100);
  EXPECT_NE(buffer.GetByte(1), 0x77);
  EXPECT_FALSE(hw::IsPowerOn());

  // A stop already pressed ends the run before any entry.
  bench->ReleaseStop();
  bench->PressStopAfterStatusReads(0);
  EXPECT_TRUE(devices::EmulateMicrowire(frame, index));
  EXPECT_EQ(devices::EventCount, 0);
}

TEST_F(MicrowireTest, ProgrammerPanelRunsTheEmulatorAndListsIt) {
  framework::TProgrammerFrame panel(&buffer);
  panel.CreateWnd();
  const uint16_t i46 = static_cast<uint16_t>(IndexOfDeviceName("93C46"));
  panel.Dispatch(i46);
  ASSERT_NE(dynamic_cast<devices::TMicrowireFrame*>(panel.FrontFrame()), nullptr);
  EXPECT_TRUE(static_cast<devices::TMicrowireFrame*>(panel.FrontFrame())->EraseBtn.Visible);

  panel.DeviceFrame2.SelectDeviceByCode("miwi46");
  auto host = std::make_shared<sim::TMicrowireHost>(7, 8, 100 * kUs, 300000 * kUs);
  host->Ewen();
  bench->AddSource(host);
  bench->PressStopAt(host->EndTime() + 1000 * kUs);
  panel.EmulatorRun();
  EXPECT_EQ(panel.ListBox1.Items, (std::vector<std::string>{"00000  Start Write Enable"}));
  EXPECT_TRUE(dialogs.messages.empty());
}

// ---- decoder ------------------------------------------------------------------------

// Builds run levels of a Microwire bus: CLK In1 (bit 7), DI In2 (bit 6), DO In3 (bit 5),
// CS In4 (bit 4).
class TLevels {
 public:
  std::vector<uint8_t> v;
  void Put(bool clk, bool di, bool dout, bool cs) {
    v.push_back(static_cast<uint8_t>(clk << 7 | di << 6 | dout << 5 | cs << 4));
  }
  void Clock(bool di, bool dout = true) {
    Put(false, di, dout, true);
    Put(true, di, dout, true);
    Put(false, di, dout, true);
  }
  void Field(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) Clock((value >> i) & 1);
  }
  void Select() { Put(false, false, true, true); }
  void Deselect() { Put(false, false, true, false); }
  void Command(uint32_t op, uint32_t field, int a) {
    Select();
    Clock(true);
    Field(op, 2);
    Field(field, a);
    Deselect();
  }
};

TEST(MicrowireDecoderTest, DecodesReadsFromDoAndKeepsTracePositions) {
  const uint16_t index = static_cast<uint16_t>(IndexOfDeviceName("93C46 x16"));
  TLevels lv;
  lv.Deselect();
  lv.Select();
  lv.Clock(true);
  lv.Field(2, 2);
  lv.Field(0x21, 6);
  // The dummy zero came with the last address bit; each data bit is taken from DO in
  // the first level after its clock fell.
  for (int i = 15; i >= 0; --i) {
    const bool bit = (0xC0DE >> i) & 1;
    lv.Put(true, false, bit, true);
    lv.Put(false, false, bit, true);
  }
  lv.Deselect();
  const size_t readEnd = lv.v.size();
  lv.Select();
  lv.Clock(true);
  lv.Field(1, 2);
  lv.Field(0x05, 3);  // CS drops in the address field
  lv.Deselect();

  EXPECT_TRUE(devices::DecodeMicrowireSamples(lv.v, static_cast<int32_t>(lv.v.size()) - 1, index));
  framework::TListControl list;
  std::vector<int32_t> positions(16, -1);
  devices::ListMicrowireEvents(list, positions, static_cast<int32_t>(positions.size()) - 1);
  EXPECT_EQ(list.Items, (std::vector<std::string>{"00000  Start  Read", "00001  Addr  21",
                                                  "00002  Data  C0DE", "00003  Start  Write",
                                                  "00004  Addr  00", "00005  Data  800"}));
  // Each line's position is the level at which its entry was closed.
  EXPECT_LT(positions[0], positions[1]);
  EXPECT_LT(positions[1], positions[2]);
  EXPECT_LT(static_cast<size_t>(positions[2]), readEnd);
  EXPECT_GT(static_cast<size_t>(positions[3]), readEnd);
  EXPECT_EQ(positions[6], -1);
  EXPECT_EQ(devices::EventTable[5], devices::mwError);
}

TEST(MicrowireDecoderTest, LongRunsListTheLastEntriesAndOverflowStopsRecording) {
  const uint16_t index = static_cast<uint16_t>(IndexOfDeviceName("93C46 x16"));
  auto enables = [](int n) {
    TLevels lv;
    for (int i = 0; i < n; ++i) lv.Command(0, 0x30, 6);
    return lv.v;
  };
  framework::TListControl list;
  std::array<int32_t, 1> none{};

  auto levels = enables(40000);
  devices::DecodeMicrowireSamples(levels, static_cast<int32_t>(levels.size()) - 1, index);
  EXPECT_EQ(devices::EventCount, 40000);
  devices::ListMicrowireEvents(list, none, 0);
  ASSERT_EQ(list.Items.size(), 32700u);  // entries 7,300 .. 39,999; 40,000 is still open
  EXPECT_EQ(list.Items.front(), "07300  Start Write Enable");
  EXPECT_EQ(list.Items.back(), "39999  Start Write Enable");

  levels = enables(devices::kEventTableSize + 10);
  devices::DecodeMicrowireSamples(levels, static_cast<int32_t>(levels.size()) - 1, index);
  EXPECT_TRUE(devices::EventTableOverflow);
  EXPECT_EQ(devices::EventCount, devices::kEventTableSize - 1);
  devices::ListMicrowireEvents(list, none, 0);
  EXPECT_EQ(list.Items.back(), devices::kEventTableOverflowText);
  EXPECT_EQ(list.Items[list.Items.size() - 2],
            base::Format("%5.5u  Start Write Enable", devices::kEventTableSize - 1));

  // A later short run starts from a clean table.
  levels = enables(2);
  devices::DecodeMicrowireSamples(levels, static_cast<int32_t>(levels.size()) - 1, index);
  EXPECT_FALSE(devices::EventTableOverflow);
  devices::ListMicrowireEvents(list, none, 0);
  EXPECT_EQ(list.Items.size(), 2u);

  // high beyond the data, and an empty trace.
  devices::DecodeMicrowireSamples(levels, 1 << 30, index);
  EXPECT_EQ(devices::EventCount, 2);
  devices::DecodeMicrowireSamples({}, -1, index);
  EXPECT_EQ(devices::EventCount, 0);
}

}  // namespace
