#include "sim/chips.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(VirtualChips, EveryNameOfTheThreeFamiliesHasAChipOfItsSize) {
  struct Row {
    const char* name;
    size_t size;
  };
  const Row rows[] = {
      {"24C01", 128},     {"24C02", 256},      {"24C04", 512},     {"24C08", 1024},
      {"24C16", 2048},    {"24C32", 4096},     {"24C64", 8192},    {"24C128", 16384},
      {"24C256", 32768},  {"24C512", 65536},   {"25C010", 128},    {"25C020", 256},
      {"25C040", 512},    {"25C080", 1024},    {"25C160", 2048},   {"25C320", 4096},
      {"25C640", 8192},   {"25C128", 16384},   {"25C256", 32768},  {"93C46", 128},
      {"93C46 x16", 128}, {"93C56", 256},      {"93C56 x16", 256}, {"93C57", 256},
      {"93C66", 512},     {"93C66 x16", 512},  {"93C76", 1024},    {"93C76 x16", 1024},
      {"93C86", 2048},    {"93C86 x16", 2048}, {"7002MN010", 32},  {"SDA2516", 128},
      {"SDA2526", 256},   {"SDA2546", 512},    {"GRM-003", 256},   {"GRM-005", 512},
      {"GRN-001", 128},
  };
  const auto names = sim::VirtualDeviceNames();
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::string lower = r.name;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    for (const std::string& n : {std::string(r.name), lower}) {
      std::string reason;
      auto dev = sim::MakeVirtualDevice(n, "", reason);
      ASSERT_NE(dev, nullptr) << reason;
      auto* chip = dynamic_cast<sim::TVirtualChip*>(dev.get());
      ASSERT_NE(chip, nullptr);
      EXPECT_EQ(chip->Size(), r.size);
      EXPECT_EQ(std::count(chip->Memory().begin(), chip->Memory().end(), 0xFF),
                static_cast<std::ptrdiff_t>(r.size));
    }
    EXPECT_NE(std::find(names.begin(), names.end(), r.name), names.end());
  }
  std::string reason;
  for (const char* bad : {"7002MN010 x16", "24C02 x16", "93C46x16", "", "24C"}) {
    EXPECT_EQ(sim::MakeVirtualDevice(bad, "", reason), nullptr) << bad;
    EXPECT_EQ(reason, "no virtual device named \"" + std::string(bad) + "\" on the bench");
  }
}

TEST(VirtualChips, AnImageLongerThanThePartChangesNothing) {
  auto chip = sim::MakeVirtualChip("93C46");
  chip->Memory()[0] = 0x12;
  std::string reason;
  const std::vector<uint8_t> image(129, 0);
  EXPECT_FALSE(chip->SetImage(image, reason));
  EXPECT_EQ(reason, "the image has 129 bytes, more than the 128 bytes of the 93C46");
  EXPECT_EQ(chip->Memory()[0], 0x12);
  EXPECT_EQ(chip->Memory()[1], 0xFF);
  EXPECT_TRUE(chip->SetImage(std::vector<uint8_t>(128, 0), reason));
  EXPECT_EQ(chip->Memory()[127], 0x00);
}

}  // namespace
