#include "sim/chips/microwire_eeprom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "sim/bench.h"
#include "sim/chips.h"
#include "sim/chips/port_pins.h"

namespace {

using chips_test::Describe;
using chips_test::TMicrowirePins;
using chips_test::TPortPins;
using sim::TLine;

// One Microwire part in the socket, powered, with the ORG pin set for the organisation.
struct TMicrowireBench {
  TMicrowireBench(const char* name, bool org16) {
    chip = std::static_pointer_cast<sim::TMicrowireEeprom>(sim::MakeVirtualChip(name));
    bench.Plug(chip);
    pins.Power(true);
    mw.Org16(org16);
    const auto& p = chip->Params();
    a = org16 || !p.addrBits8 ? p.addrBits16 : p.addrBits8;
    w = org16 || !p.addrBits8 ? 16 : 8;
  }
  // Start bit, opcode, address field (and data): then CS goes low.
  void Command(uint32_t opcode, uint32_t field, int dataBits = 0, uint32_t data = 0) {
    mw.Select();
    mw.Field(1, 1);
    mw.Field(opcode, 2);
    mw.Field(field, a);
    if (dataBits) mw.Field(data, dataBits);
    mw.Deselect();
  }
  void Ewen() { Command(0, 3u << (a - 2)); }
  void Ewds() { Command(0, 0); }
  void Eral() { Command(0, 2u << (a - 2)); }
  void Wral(uint32_t d) { Command(0, 1u << (a - 2), w, d); }
  void Write(uint32_t cell, uint32_t d) { Command(1, cell, w, d); }
  void Erase(uint32_t cell) { Command(3, cell); }
  // Raises CS and polls DO; returns how long it stayed low (busy), bounded by `limit`.
  uint64_t BusyTime(uint64_t limit = 100000000) {
    mw.Select();
    const uint64_t t0 = bench.Now();
    uint64_t busy = 0;
    while (!mw.Do() && busy < limit) {  // bounded by `limit`
      bench.Advance(10000);
      busy = bench.Now() - t0;
    }
    mw.Deselect();
    return std::min(busy, limit);
  }
  // READ: returns the dummy bit in bit `w * words` and the words below it.
  std::vector<uint32_t> Read(uint32_t cell, int words, bool* dummy = nullptr) {
    mw.Select();
    mw.Field(1, 1);
    mw.Field(2, 2);
    const uint32_t addrEcho = mw.Field(cell, a);
    if (dummy) *dummy = addrEcho & 1;  // DO after the last address bit
    std::vector<uint32_t> out;
    for (int i = 0; i < words; ++i) out.push_back(mw.Field(0, w));
    mw.Deselect();
    return out;
  }
  uint32_t Cell(uint32_t i) const {
    const auto& m = chip->Memory();
    return w == 16 ? (m[2 * i] << 8 | m[2 * i + 1]) : m[i];
  }

  int a = 0, w = 0;
  sim::TBench bench;
  std::shared_ptr<sim::TMicrowireEeprom> chip;
  TPortPins pins{bench};
  TMicrowirePins mw{pins};
};

struct TPart {
  const char* name;
  bool x16;
};
const TPart kParts[] = {{"93C46", false},    {"93C46 x16", true}, {"93C56", false},
                        {"93C56 x16", true}, {"93C57", false},    {"93C66", false},
                        {"93C66 x16", true}, {"93C76", false},    {"93C76 x16", true},
                        {"93C86", false},    {"93C86 x16", true}, {"7002MN010", false},
                        {"GRN-001", false}};

TEST(MicrowireEeprom, WriteReadyBusyAndReadOnEveryPart) {
  for (const auto& part : kParts) {
    SCOPED_TRACE(part.name);
    TMicrowireBench b(part.name, part.x16);
    const uint32_t cells = static_cast<uint32_t>(b.chip->Size() / (b.w / 8));
    const uint32_t cell = cells - 3;
    const uint32_t value = b.w == 16 ? 0xBEEF : 0xA5;
    b.Ewen();
    b.Write(cell, value);
    // Busy from the falling CS for the write cycle, then ready.
    const uint64_t busy = b.BusyTime();
    EXPECT_GE(busy, b.chip->Params().writeCycleNs - 60000);
    EXPECT_LE(busy, b.chip->Params().writeCycleNs + 20000);
    EXPECT_EQ(b.Cell(cell), value);
    bool dummy = true;
    EXPECT_EQ(b.Read(cell, 1, &dummy), std::vector<uint32_t>{value});
    EXPECT_FALSE(dummy);
    // Sequential read runs on over the last cell to the first.
    b.chip->Memory()[0] = 0x12;
    const uint32_t first = b.w == 16 ? 0x12FF : 0x12;
    const uint32_t erased = 0xFFFFu >> (16 - b.w);
    EXPECT_EQ(b.Read(cells - 2, 3), (std::vector<uint32_t>{erased, erased, first}));
    EXPECT_EQ(Describe(b.chip->Violations()), "");
  }
}

TEST(MicrowireEeprom, OrganisationPinAndMemoryLayout) {
  // 16-bit cells lie in memory high byte first; x8 addresses the same bytes one by one.
  TMicrowireBench b("93C46", true);
  b.Ewen();
  b.Write(0x25, 0xBEEF);
  b.BusyTime();
  EXPECT_EQ(b.chip->Memory()[0x4A], 0xBE);
  EXPECT_EQ(b.chip->Memory()[0x4B], 0xEF);
  b.mw.Org16(false);
  b.a = 7;
  b.w = 8;
  EXPECT_EQ(b.Read(0x4B, 1), std::vector<uint32_t>{0xEF});
  b.Write(0x4A, 0x11);  // the enable survives the change of organisation
  b.BusyTime();
  b.mw.Org16(true);
  b.a = 6;
  b.w = 16;
  EXPECT_EQ(b.Read(0x25, 1), std::vector<uint32_t>{0x11EF});
  // The x16-only parts ignore the ORG pin.
  TMicrowireBench g("GRN-001", false);
  g.Ewen();
  g.Write(0x3F, 0x1234);
  g.BusyTime();
  EXPECT_EQ(g.chip->Memory()[0x7E], 0x12);
  EXPECT_EQ(g.chip->Memory()[0x7F], 0x34);
}

TEST(MicrowireEeprom, WriteEnableIsEnforced) {
  for (const auto& part : {kParts[0], kParts[1]}) {
    SCOPED_TRACE(part.name);
    TMicrowireBench b(part.name, part.x16);
    // Power-up state: disabled. WRITE, ERASE, ERAL and WRAL are refused and start no
    // cycle (DO stays released: reads high at once).
    b.chip->Memory()[4] = 0x00;
    b.Write(1, 0x0000);
    EXPECT_EQ(b.BusyTime(), 0u);
    b.Erase(4 / (b.w / 8));
    b.Eral();
    b.Wral(0);
    EXPECT_EQ(b.BusyTime(), 0u);
    EXPECT_EQ(b.chip->Memory()[4], 0x00);
    EXPECT_EQ(std::count(b.chip->Memory().begin(), b.chip->Memory().end(), 0xFF), 127);
    // EWEN, then EWDS again.
    b.Ewen();
    EXPECT_TRUE(b.chip->WriteEnabled());
    b.Ewds();
    EXPECT_FALSE(b.chip->WriteEnabled());
    b.Write(1, 0);
    EXPECT_EQ(b.BusyTime(), 0u);
    // A power cycle disables again.
    b.Ewen();
    b.pins.Power(false);
    b.pins.Power(true);
    EXPECT_FALSE(b.chip->WriteEnabled());
  }
}

TEST(MicrowireEeprom, EraseEraseAllAndWriteAll) {
  for (const auto& part : {kParts[0], kParts[1], kParts[9], kParts[10]}) {
    SCOPED_TRACE(part.name);
    TMicrowireBench b(part.name, part.x16);
    std::fill(b.chip->Memory().begin(), b.chip->Memory().end(), 0x00);
    b.Ewen();
    b.Erase(3);
    EXPECT_GT(b.BusyTime(), 0u);
    EXPECT_EQ(b.Cell(3), 0xFFFFu >> (16 - b.w));
    EXPECT_EQ(b.Cell(2), 0u);
    EXPECT_EQ(b.Cell(4), 0u);
    b.Wral(b.w == 16 ? 0x5AA5 : 0x5A);
    EXPECT_GT(b.BusyTime(), 0u);
    for (size_t i = 0; i < b.chip->Size(); ++i)
      ASSERT_EQ(b.chip->Memory()[i], b.w == 16 ? (i % 2 ? 0xA5 : 0x5A) : 0x5A) << i;
    b.Eral();
    EXPECT_GT(b.BusyTime(), 0u);
    EXPECT_EQ(std::count(b.chip->Memory().begin(), b.chip->Memory().end(), 0xFF),
              static_cast<std::ptrdiff_t>(b.chip->Size()));
    EXPECT_EQ(Describe(b.chip->Violations()), "");
  }
}

TEST(MicrowireEeprom, BrokenInstructionsAndCommandsDuringTheCycle) {
  TMicrowireBench b("93C46", true);
  b.Ewen();
  // CS drops in the middle of the data field: nothing is written, no cycle starts.
  b.mw.Select();
  b.mw.Field(1, 1);
  b.mw.Field(1, 2);
  b.mw.Field(7, 6);
  b.mw.Field(0x12, 8);
  b.mw.Deselect();
  EXPECT_EQ(b.BusyTime(), 0u);
  EXPECT_EQ(b.Cell(7), 0xFFFFu);
  // An instruction while the cycle runs is ignored and recorded.
  b.Write(7, 0x1234);
  b.Write(8, 0x5678);
  EXPECT_EQ(b.chip->Violations().size(), 1u);
  EXPECT_EQ(b.chip->Violations()[0].what, "instruction during the write cycle");
  b.BusyTime();
  EXPECT_EQ(b.Cell(7), 0x1234u);
  EXPECT_EQ(b.Cell(8), 0xFFFFu);
  // Clocks that are too fast are recorded.
  b.chip->ClearViolations();
  b.pins.SetWait(0);
  b.bench.SetAccessCost(100);
  b.Read(0, 1);
  EXPECT_NE(Describe(b.chip->Violations()).find("clock high for 200 ns, less than 250 ns"),
            std::string::npos);
}

TEST(MicrowireEeprom, EmptySocketAndStuckOutput) {
  sim::TBench bench;
  TPortPins pins(bench);
  TMicrowirePins mw(pins);
  pins.Power(true);
  mw.Select();
  EXPECT_EQ(mw.Field(0x1800, 13), 0x1FFFu);  // DO floats high: reads all ones
  mw.Deselect();

  TMicrowireBench b("93C66", false);
  b.chip->StickData(false);
  EXPECT_EQ(b.Read(5, 1), std::vector<uint32_t>{0});
  EXPECT_EQ(b.BusyTime(1000000), 1000000u);  // a stuck-low DO looks busy forever
  b.chip->StickData(std::nullopt);
  EXPECT_EQ(b.Read(5, 1), std::vector<uint32_t>{0xFF});
}

}  // namespace
