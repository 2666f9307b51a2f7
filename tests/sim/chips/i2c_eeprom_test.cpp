#include "sim/chips/i2c_eeprom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "sim/bench.h"
#include "sim/chips.h"
#include "sim/chips/port_pins.h"

namespace {

using chips_test::TI2CPins;
using chips_test::TPortPins;
using sim::TLine;

constexpr uint64_t kMs = 1000000;

// A bench with one I2C part in the socket, powered, and a bit-banged master on the ports.
struct TI2CBench {
  explicit TI2CBench(const char* name) {
    chip = std::make_shared<sim::TI2CEeprom>(*sim::FindI2CParams(name));
    bench.Plug(chip);
    pins.Power(true);
  }
  // Control byte (with the block bits of the one-address-byte parts) and address bytes.
  bool Address(uint32_t addr, bool read = false) {
    const auto& p = chip->Params();
    const uint8_t block = p.addressBytes == 1 ? static_cast<uint8_t>((addr >> 8) & 7) : 0;
    bus.Start();
    if (!bus.Send(static_cast<uint8_t>(0xA0 | block << 1))) return false;
    if (p.addressBytes == 2 && !bus.Send(static_cast<uint8_t>(addr >> 8))) return false;
    if (!bus.Send(static_cast<uint8_t>(addr))) return false;
    if (read) {
      bus.Start();
      return bus.Send(static_cast<uint8_t>(0xA1 | block << 1));
    }
    return true;
  }
  bool Write(uint32_t addr, std::initializer_list<uint8_t> data) {
    bool ok = Address(addr);
    for (uint8_t d : data) ok = ok && bus.Send(d);
    bus.Stop();
    bench.Advance(chip->Params().writeCycleNs);
    return ok;
  }
  std::vector<uint8_t> Read(uint32_t addr, int count) {
    std::vector<uint8_t> out;
    if (!Address(addr, true)) return out;
    for (int i = 0; i < count; ++i) out.push_back(bus.Receive(i + 1 < count));
    bus.Stop();
    return out;
  }

  sim::TBench bench;
  std::shared_ptr<sim::TI2CEeprom> chip;
  TPortPins pins{bench};
  TI2CPins bus{pins};
};

TEST(I2CEeprom, ByteWriteAndRandomReadOnEveryPart) {
  struct Case {
    const char* name;
    uint32_t addr;
  };
  // The one-byte parts carry the high address bits as block bits in the control byte.
  const Case cases[] = {{"24C01", 0x5A},    {"24C02", 0xC3},    {"24C04", 0x1FF},
                        {"24C08", 0x2A5},   {"24C16", 0x7E1},   {"24C32", 0xABC},
                        {"24C64", 0x1234},  {"24C128", 0x3A5A}, {"24C256", 0x7001},
                        {"24C512", 0xFEDC}, {"SDA2516", 0x33},  {"SDA2526", 0xF0},
                        {"SDA2546", 0x1F0}, {"GRM-003", 0x80},  {"GRM-005", 0x101}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TI2CBench b(c.name);
    EXPECT_TRUE(b.Write(c.addr, {0x5C}));
    EXPECT_EQ(b.chip->Memory()[c.addr], 0x5C);
    EXPECT_EQ(std::count(b.chip->Memory().begin(), b.chip->Memory().end(), 0xFF),
              static_cast<std::ptrdiff_t>(b.chip->Size() - 1));
    EXPECT_EQ(b.Read(c.addr, 1), std::vector<uint8_t>{0x5C});
    // Current-address read continues after the byte just read.
    b.chip->Memory()[(c.addr + 1) % b.chip->Size()] = 0x77;
    b.bus.Start();
    EXPECT_TRUE(b.bus.Send(0xA1));  // block bits are not needed: the counter knows
    EXPECT_EQ(b.bus.Receive(false), 0x77);
    b.bus.Stop();
    EXPECT_EQ(chips_test::Describe(b.chip->Violations()), "");
  }
}

TEST(I2CEeprom, PageWriteRollsOverWithinThePageAndReadsRollOverTheArray) {
  for (const char* name : {"24C02", "24C16", "24C64", "24C512"}) {
    SCOPED_TRACE(name);
    TI2CBench b(name);
    const uint32_t page = b.chip->Params().pageSize;
    const uint32_t start = 3 * page + page - 2;  // two bytes before the page end
    std::vector<uint8_t> data;
    b.Address(start);
    for (uint32_t i = 0; i < page + 2; ++i) {
      data.push_back(static_cast<uint8_t>(0x10 + i));
      EXPECT_TRUE(b.bus.Send(data.back()));
    }
    b.bus.Stop();
    b.bench.Advance(b.chip->Params().writeCycleNs);
    const auto& m = b.chip->Memory();
    // page + 2 bytes into one page: the first two were overwritten by the last two.
    EXPECT_EQ(m[start], data[page]);
    EXPECT_EQ(m[start + 1], data[page + 1]);
    for (uint32_t i = 0; i < page - 2; ++i) EXPECT_EQ(m[3 * page + i], data[2 + i]);
    EXPECT_EQ(m[4 * page], 0xFF);      // the next page is untouched
    EXPECT_EQ(m[3 * page - 1], 0xFF);  // and so is the one before
    // A write is only done by the stop: a repeated start abandons it.
    b.Address(0);
    EXPECT_TRUE(b.bus.Send(0x42));
    b.bus.Start();
    b.bus.Stop();
    EXPECT_EQ(m[0], 0xFF);
    // A sequential read runs from the last byte over to the first.
    b.chip->Memory()[b.chip->Size() - 1] = 0xE1;
    b.chip->Memory()[0] = 0xE2;
    EXPECT_EQ(b.Read(static_cast<uint32_t>(b.chip->Size() - 1), 2),
              (std::vector<uint8_t>{0xE1, 0xE2}));
    EXPECT_EQ(chips_test::Describe(b.chip->Violations()), "");
  }
}

TEST(I2CEeprom, NoAcknowledgeDuringTheWriteCycleThenAcknowledgePolling) {
  for (const char* name : {"24C02", "24C512", "SDA2526"}) {
    SCOPED_TRACE(name);
    TI2CBench b(name);
    b.Address(0x21);
    EXPECT_TRUE(b.bus.Send(0x99));
    b.bus.Stop();
    const uint64_t stop = b.bench.Now();
    EXPECT_TRUE(b.chip->WriteCycleRunning(stop));
    int polls = 0;
    uint64_t acked = 0;
    for (; polls < 100000; ++polls) {  // bound: far beyond any write cycle
      b.bus.Start();
      const bool ack = b.bus.Send(0xA0);
      if (ack) {
        acked = b.bench.Now();
        break;
      }
    }
    ASSERT_GT(acked, 0u);
    EXPECT_GT(polls, 10);
    const uint64_t tWR = b.chip->Params().writeCycleNs;
    EXPECT_GE(acked - stop, tWR);
    EXPECT_LT(acked - stop, tWR + 200000);  // within one poll of the end
    // The acknowledged control byte starts the random read at once.
    if (b.chip->Params().addressBytes == 2) {
      EXPECT_TRUE(b.bus.Send(0x00));
    }
    EXPECT_TRUE(b.bus.Send(0x21));
    b.bus.Start();
    EXPECT_TRUE(b.bus.Send(0xA1));
    EXPECT_EQ(b.bus.Receive(false), 0x99);
    b.bus.Stop();
    EXPECT_EQ(chips_test::Describe(b.chip->Violations()), "");
  }
}

TEST(I2CEeprom, AnswersOnlyItsOwnControlBytes) {
  struct Case {
    const char* name;
    uint8_t control;
    bool ack;
  };
  const Case cases[] = {
      {"24C02", 0xA0, true},  {"24C02", 0xA2, false},  // A0 pin is low
      {"24C02", 0xB0, false}, {"24C02", 0x50, false},  // another device
      {"24C04", 0xA2, true},  {"24C04", 0xA4, false},  // block bit, then the A1 pin
      {"24C08", 0xA6, true},  {"24C08", 0xA8, false},  // two block bits, then A2
      {"24C16", 0xAE, true},  {"24C64", 0xA2, false},  // three block bits; pins
      {"24C512", 0xA0, true}, {"24C512", 0xAE, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " " << std::hex << int(c.control));
    TI2CBench b(c.name);
    b.bus.Start();
    EXPECT_EQ(b.bus.Send(c.control), c.ack);
    // Not addressed: the rest of the transaction is ignored (the line stays high).
    EXPECT_EQ(b.bus.Send(0x00), c.ack);
    b.bus.Stop();
  }
  // The 24C16's block bits choose the 256-byte block.
  TI2CBench b("24C16");
  b.bus.Start();
  b.bus.Send(0xAA);  // block 5
  b.bus.Send(0x10);
  b.bus.Send(0x3C);
  b.bus.Stop();
  b.bench.Advance(b.chip->Params().writeCycleNs);
  EXPECT_EQ(b.chip->Memory()[0x510], 0x3C);
}

TEST(I2CEeprom, PowerLineAndFaults) {
  TI2CBench b("24C02");
  b.chip->Memory()[0x40] = 0x12;
  // Unpowered: no acknowledge, nothing driven.
  b.pins.Power(false);
  b.bus.Start();
  EXPECT_FALSE(b.bus.Send(0xA0));
  b.bus.Stop();
  // Power lost in the middle of loading a page: the page is forgotten, memory kept.
  b.pins.Power(true);
  b.Address(0x40);
  b.bus.Send(0x99);
  b.pins.Power(false);
  b.pins.Power(true);
  b.bus.Stop();
  EXPECT_EQ(b.Read(0x40, 1), std::vector<uint8_t>{0x12});

  // A data output shorted low: every acknowledge looks good and every bit reads 0.
  b.chip->StickData(false);
  EXPECT_EQ(b.Read(0x40, 1), std::vector<uint8_t>{0x00});
  b.chip->StickData(std::nullopt);
  EXPECT_EQ(b.Read(0x40, 1), std::vector<uint8_t>{0x12});

  // The same with the bench's own fault injector on the read-back line: held high,
  // the chip's acknowledge cannot be seen.
  b.bench.Faults().StickLine(TLine::In2, true);
  b.bus.Start();
  EXPECT_FALSE(b.bus.Send(0xA0));
  b.bus.Stop();
  b.bench.Faults().Clear();

  // Unplugged: the read-back line follows Out4 again and floats high when released.
  b.bench.Unplug();
  b.bus.Start();
  EXPECT_FALSE(b.bus.Send(0xA0));
  EXPECT_EQ(b.bus.Receive(false), 0xFF);
  b.bus.Stop();
}

TEST(I2CEeprom, RecordsWhatItSeesOfTheMastersTiming) {
  TI2CBench b("24C02");
  b.pins.SetWait(0);
  b.bench.SetAccessCost(200);  // 200 ns per edge: far too fast for the part
  b.bus.Start();
  b.bus.Send(0xA0);
  ASSERT_FALSE(b.chip->Violations().empty());
  EXPECT_NE(b.chip->Violations().front().what.find("less than"), std::string::npos);
  b.bench.SetAccessCost(1000);
  b.pins.SetWait(5000);
  b.bus.Stop();

  b.chip->ClearViolations();
  b.bus.Start();
  b.bus.Send(0xA0);
  b.bus.Clock(true);
  b.pins.Set(TLine::Out5, true);
  b.pins.Set(TLine::Out4, false);  // a start after one bit of a byte
  EXPECT_EQ(b.chip->Violations().size(), 1u);
  b.pins.Set(TLine::Out5, false);
  b.pins.SetMany(0x18, 0);  // SDA and SCL up in one register write
  ASSERT_EQ(b.chip->Violations().size(), 2u);
  EXPECT_EQ(b.chip->Violations()[1].what, "SDA changed as SCL rose");
}

TEST(I2CEeprom, MakeVirtualDeviceLoadsAnImage) {
  const std::string dir = testing::TempDir();
  const std::string small = dir + "/i2c_small.bin", big = dir + "/i2c_big.bin";
  {
    std::ofstream(small, std::ios::binary) << "ABC";
    std::ofstream out(big, std::ios::binary);
    out << std::string(257, 'x');
  }
  std::string reason;
  auto dev = sim::MakeVirtualDevice("24c02", small, reason);
  ASSERT_NE(dev, nullptr) << reason;
  auto* chip = dynamic_cast<sim::TI2CEeprom*>(dev.get());
  ASSERT_NE(chip, nullptr);
  EXPECT_EQ(chip->Memory()[2], 'C');
  EXPECT_EQ(chip->Memory()[3], 0xFF);
  sim::TBench bench;
  bench.Plug(dev);
  TPortPins pins(bench);
  TI2CPins bus(pins);
  pins.Power(true);
  bus.Start();
  bus.Send(0xA0);
  bus.Send(0x01);
  bus.Start();
  bus.Send(0xA1);
  EXPECT_EQ(bus.Receive(false), 'B');
  bus.Stop();

  EXPECT_EQ(sim::MakeVirtualDevice("24C02", big, reason), nullptr);
  EXPECT_EQ(reason, "the image file \"" + big + "\" is larger than the 256 bytes of the 24C02");
  EXPECT_EQ(sim::MakeVirtualDevice("24C02", dir + "/none.bin", reason), nullptr);
  EXPECT_NE(reason.find("cannot open the image file"), std::string::npos);
  ASSERT_NE(sim::MakeVirtualDevice("24C04", big, reason), nullptr);  // 257 of 512 bytes
}

}  // namespace
