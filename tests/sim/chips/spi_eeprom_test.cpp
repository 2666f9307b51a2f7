#include "sim/chips/spi_eeprom.h"

#include <gtest/gtest.h>

#include <memory>

#include "sim/bench.h"
#include "sim/chips.h"
#include "sim/chips/port_pins.h"

namespace {

using chips_test::Describe;
using chips_test::TPortPins;
using chips_test::TSpiPins;
using sim::TSpiEeprom;

struct TSpiBench {
  explicit TSpiBench(const char* name) {
    chip = std::static_pointer_cast<TSpiEeprom>(sim::MakeVirtualChip(name));
    bench.Plug(chip);
    pins.Power(true);
  }
  void Instruction(std::initializer_list<uint8_t> bytes) {
    spi.Select();
    for (uint8_t b : bytes) spi.Byte(b);
    spi.Deselect();
  }
  uint8_t Rdsr() {
    spi.Select();
    spi.Byte(TSpiEeprom::kRdsr);
    const uint8_t s = spi.Byte(0);
    spi.Deselect();
    return s;
  }
  // The instruction byte and address bytes of READ or WRITE for this part.
  std::vector<uint8_t> Header(uint8_t op, uint32_t addr) {
    if (chip->Params().addressBytes == 1)
      return {static_cast<uint8_t>(op | ((addr >> 8) & 1) << 3), static_cast<uint8_t>(addr)};
    return {op, static_cast<uint8_t>(addr >> 8), static_cast<uint8_t>(addr)};
  }
  void Write(uint32_t addr, std::vector<uint8_t> data) {
    spi.Select();
    for (uint8_t b : Header(TSpiEeprom::kWrite, addr)) spi.Byte(b);
    for (uint8_t b : data) spi.Byte(b);
    spi.Deselect();
  }
  std::vector<uint8_t> Read(uint32_t addr, int count) {
    spi.Select();
    for (uint8_t b : Header(TSpiEeprom::kRead, addr)) spi.Byte(b);
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) out.push_back(spi.Byte(0));
    spi.Deselect();
    return out;
  }
  // Polls RDSR until WIP clears; returns the time it took (bounded).
  uint64_t WaitWip() {
    const uint64_t t0 = bench.Now();
    for (int i = 0; i < 100000 && (Rdsr() & TSpiEeprom::kWip); ++i) {
    }
    return bench.Now() - t0;
  }

  sim::TBench bench;
  std::shared_ptr<TSpiEeprom> chip;
  TPortPins pins{bench};
  TSpiPins spi{pins};
};

TEST(SpiEeprom, WriteNeedsTheEnableLatchWhichEachWriteClears) {
  for (const char* name :
       {"25C010", "25C020", "25C040", "25C080", "25C160", "25C320", "25C640", "25C128", "25C256"}) {
    SCOPED_TRACE(name);
    TSpiBench b(name);
    const uint32_t addr = static_cast<uint32_t>(b.chip->Size()) - 0x5B;
    EXPECT_EQ(b.Rdsr(), 0x00);
    b.Write(addr, {0x11});  // no WREN: refused, no cycle
    EXPECT_EQ(b.Rdsr(), 0x00);
    EXPECT_EQ(b.chip->Memory()[addr], 0xFF);
    b.Instruction({TSpiEeprom::kWren});
    EXPECT_EQ(b.Rdsr(), TSpiEeprom::kWel);
    b.Instruction({TSpiEeprom::kWrdi});
    EXPECT_EQ(b.Rdsr(), 0x00);
    b.Instruction({TSpiEeprom::kWren});
    b.Write(addr, {0x22, 0x33});
    EXPECT_EQ(b.Rdsr(), TSpiEeprom::kWip);  // writing; the latch is already cleared
    const uint64_t wip = b.WaitWip();
    EXPECT_GE(wip, b.chip->Params().writeCycleNs - 200000);
    EXPECT_LE(wip, b.chip->Params().writeCycleNs + 200000);
    EXPECT_EQ(b.Read(addr, 2), (std::vector<uint8_t>{0x22, 0x33}));
    b.Write(addr, {0x44});  // the latch was cleared by the write
    EXPECT_EQ(b.Rdsr(), 0x00);
    EXPECT_EQ(b.Read(addr, 1), std::vector<uint8_t>{0x22});
    EXPECT_EQ(Describe(b.chip->Violations()), "");
  }
}

TEST(SpiEeprom, AddressBitEightTravelsInTheInstructionOfTheSmallParts) {
  TSpiBench b("25C040");
  b.Instruction({TSpiEeprom::kWren});
  b.Instruction({0x0A, 0xA5, 0x5E});  // WRITE with A8 set, address 0xA5: cell 0x1A5
  b.WaitWip();
  EXPECT_EQ(b.chip->Memory()[0x1A5], 0x5E);
  EXPECT_EQ(b.chip->Memory()[0x0A5], 0xFF);
  b.chip->Memory()[0x0A5] = 0x0A;
  b.spi.Select();
  b.spi.Byte(0x0B);
  b.spi.Byte(0xA5);
  EXPECT_EQ(b.spi.Byte(0), 0x5E);
  b.spi.Deselect();
  EXPECT_EQ(b.Read(0x0A5, 1), std::vector<uint8_t>{0x0A});
  // Sequential reads roll over the top of the array; the larger parts take the 0x0B
  // form as an unknown instruction and stay silent.
  b.chip->Memory()[0] = 0x77;
  b.chip->Memory()[0x1FF] = 0x66;
  EXPECT_EQ(b.Read(0x1FF, 2), (std::vector<uint8_t>{0x66, 0x77}));
  TSpiBench big("25C256");
  big.Instruction({TSpiEeprom::kWren});
  big.Instruction({0x0A, 0x12, 0x34, 0x56});
  EXPECT_EQ(big.Rdsr(), TSpiEeprom::kWel);
  big.Instruction({TSpiEeprom::kWrite, 0x7F, 0xFE, 0xAB});
  big.WaitWip();
  EXPECT_EQ(big.chip->Memory()[0x7FFE], 0xAB);
}

TEST(SpiEeprom, PageWriteRollsOverWithinThePage) {
  for (const char* name : {"25C040", "25C320", "25C256"}) {
    SCOPED_TRACE(name);
    TSpiBench b(name);
    const uint32_t page = b.chip->Params().pageSize;
    const uint32_t start = 5 * page + page - 1;
    std::vector<uint8_t> data;
    for (uint32_t i = 0; i <= page; ++i) data.push_back(static_cast<uint8_t>(i + 1));
    b.Instruction({TSpiEeprom::kWren});
    b.Write(start, data);
    b.WaitWip();
    const auto& m = b.chip->Memory();
    EXPECT_EQ(m[start], data[page]);  // the first byte was overwritten by the last
    for (uint32_t i = 0; i + 1 < page; ++i) EXPECT_EQ(m[5 * page + i], data[1 + i]);
    EXPECT_EQ(m[6 * page], 0xFF);
    EXPECT_EQ(Describe(b.chip->Violations()), "");
  }
}

TEST(SpiEeprom, BlockProtection) {
  struct Case {
    uint8_t bp;
    uint32_t firstProtected;
  };
  const Case cases[] = {{0x00, 0x200}, {0x04, 0x180}, {0x08, 0x100}, {0x0C, 0x000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bp);
    TSpiBench b("25C040");
    b.Instruction({TSpiEeprom::kWren});
    b.Instruction({TSpiEeprom::kWrsr, static_cast<uint8_t>(0x80 | c.bp)});  // no WPEN here
    EXPECT_EQ(b.Rdsr() & ~TSpiEeprom::kWip, c.bp);
    b.WaitWip();
    EXPECT_EQ(b.Rdsr(), c.bp);  // WRSR cleared the latch too
    for (uint32_t addr : {0x000u, 0x0FFu, 0x100u, 0x17Fu, 0x180u, 0x1FFu}) {
      b.Instruction({TSpiEeprom::kWren});
      b.Write(addr, {0x42});
      b.WaitWip();
      EXPECT_EQ(b.chip->Memory()[addr], addr >= c.firstProtected ? 0xFF : 0x42) << addr;
    }
    EXPECT_EQ(Describe(b.chip->Violations()), "");
  }
  // WRSR needs the latch as well, and the bits survive a power cycle.
  TSpiBench b("25C640");
  b.Instruction({TSpiEeprom::kWrsr, 0x8C});
  EXPECT_EQ(b.Rdsr(), 0x00);
  b.Instruction({TSpiEeprom::kWren});
  b.Instruction({TSpiEeprom::kWrsr, 0x8C});
  b.WaitWip();
  b.pins.Power(false);
  b.pins.Power(true);
  EXPECT_EQ(b.Rdsr(), 0x8C);
}

TEST(SpiEeprom, WhatTheChipRefusesAndRecords) {
  TSpiBench b("25C040");
  b.Instruction({TSpiEeprom::kWren});
  b.Write(0x10, {0x01});
  b.Read(0x10, 1);  // during the write cycle: ignored and recorded
  ASSERT_EQ(b.chip->Violations().size(), 1u);
  EXPECT_EQ(b.chip->Violations()[0].what, "instruction during the write cycle");
  b.WaitWip();
  // /CS rising inside a data byte abandons the whole write.
  b.chip->ClearViolations();
  b.Instruction({TSpiEeprom::kWren});
  b.spi.Select();
  b.spi.Byte(TSpiEeprom::kWrite);
  b.spi.Byte(0x20);
  b.spi.Byte(0x55);
  b.pins.Set(sim::TLine::Out5, true);  // one more clock
  b.pins.Set(sim::TLine::Out5, false);
  b.spi.Deselect();
  EXPECT_EQ(b.Rdsr(), TSpiEeprom::kWel);
  EXPECT_EQ(b.chip->Memory()[0x20], 0xFF);
  EXPECT_EQ(
      Describe(b.chip->Violations()).find("/CS rose in the middle of a byte") != std::string::npos,
      true);
  // Empty socket: SO floats high.
  b.bench.Unplug();
  EXPECT_EQ(b.Rdsr(), 0xFF);
}

TEST(SpiEeprom, SelectTogetherWithTheClock) {
  sim::TBench bench;
  auto chip = sim::MakeVirtualChip("25C040");
  bench.Plug(chip);
  TPortPins pins(bench);  // every Out line high: deselected, SCK high
  pins.Power(true);
  pins.SetMany(0, 0x1C);  // /CS, SCK and SI low in one write: harmless
  EXPECT_EQ(Describe(chip->Violations()), "");
  pins.SetMany(0x04, 0);     // deselect
  pins.SetMany(0x10, 0x04);  // SCK rises as /CS falls
  ASSERT_EQ(chip->Violations().size(), 1u);
  EXPECT_EQ(chip->Violations()[0].what, "SCK rose as /CS changed");
}

}  // namespace
