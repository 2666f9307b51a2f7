#include "framework/catalogue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "app/cli/cli.h"

namespace {

using framework::DeviceInfo;
using framework::E2Info;
using framework::kDeviceCount;
using framework::TE2Info;

// Every field of a row, for comparing whole rows.
std::string Row(const TE2Info& d) {
  char text[400];
  std::snprintf(text, sizeof text, "%s|%s|%u|%u|%u|%s|%X|%u|%u|%u|%X|%X|%X|%X|%X|%X|%X|%X|%X",
                d.Code, d.Name, d.AddrBits, d.Size, d.Width, d.Info, d.Flags, d.Reserved,
                d.WriteTime, d.ClockTime, d.DataStart, d.ImageSize, d.ProgStart, d.ProgSize,
                d.ConfigAddr, d.IdStart, d.IdSize, d.CalibAddr, d.PageSize);
  return text;
}

TEST(Catalogue, HasSeventyRowsInTheirOrder) {
  EXPECT_EQ(kDeviceCount, 70);
  EXPECT_EQ(E2Info().size(), 70u);
  const char* names[] = {"File", "W29C011", "24C01", "24C02", "24C04"};
  for (int i = 0; i < 5; ++i) EXPECT_STREQ(DeviceInfo(i).Name, names[i]);
  EXPECT_STREQ(DeviceInfo(21).Name, "93C46");
  EXPECT_STREQ(DeviceInfo(52).Name, "MC68HC05B4/4MHz");
  EXPECT_STREQ(DeviceInfo(69).Name, "GRN-001");
  EXPECT_EQ(&DeviceInfo(7), &E2Info()[7]);  // one table
}

TEST(Catalogue, RowsHoldEveryFieldAsTabled) {
  const std::pair<int, const char*> rows[] = {
      {0, "file|File|0|0|8||6|0|0|0|0|0|0|0|0|0|0|0|0"},
      {1, "fl32|W29C011|19|131072|8|512K x 8 bits|6|0|10000|200|0|0|0|0|0|0|0|0|80"},
      {3, "i2cn02|24C02|8|256|8|256 x 8 bits I2C|17|0|10000|100|0|0|0|0|0|0|0|0|0"},
      {6, "i2cn16|24C16|11|2048|8|2K x 8 bits I2C|16|0|10000|50|0|0|0|0|0|0|0|0|0"},
      {22, "miwi46B|93C46 x16|6|128|16|64 x 16 bits Microwire|1F|0|20000|100|0|0|0|0|0|0|0|0|0"},
      {34, "ford007|77007 not tested|4|32|16|16 x 16 bits|6|0|50000|100|0|0|0|0|0|0|0|0|0"},
      {45, "tcto01|TC89101P|8|128|8|128 x 8 bits|E|0|20000|100|0|0|0|0|0|0|0|0|0"},
      {49, "i2cs00|X24C00|4|16|8|16 x 8 bits I2C*|6|0|10000|100|0|0|0|0|0|0|0|0|0"},
      {52, "mc05b4|MC68HC05B4/4MHz|8|8192|8|8KB RAM:176|22|0|0|0|100|2000|0|0|0|0|0|0|0"},
      {56, "mc05b32|MC68HC05B32/4MHz|8|256|8|32KB E2:256 RAM:512|66|0|0|0|100|8000|0|0|0|0|0|0|0"},
      {57, "p12c508|PIC12C508|12|0|8|512 x 12 RAM:25|86|0|150|10|0|2000|0|3FE|1FFE|400|8|3FE|0"},
      {58, "p12c509|PIC12C509|12|0|8|1K x 12 RAM:41|86|0|150|10|4200|2000|0|7FE|1FFE|800|8|7FE|0"},
      {63, "p16c558|PIC16C558|14|128|8|2K x 14 RAM:68|6|0|150|10|4200|8000|0|1000|400E|4000|8|0|0"},
      {64,
       "p16f83|PIC16F83|14|128|8|512 x 14 E2:64 "
       "RAM:36|146|0|10000|10|4200|4280|0|400|400E|4000|8|0|0"},
      {66,
       "p16f877|PIC16F877|14|512|8|8K x 14 E2:256 "
       "RAM:368|146|0|10000|10|4200|4400|0|4000|400E|4000|8|0|0"},
      {67, "i2cn02|GRM-003|8|256|8|256 x 8 bits I2C|17|0|10000|100|0|0|0|0|0|0|0|0|0"},
      {69, "miwiign1|GRN-001|6|128|16|64 x 16 bits Microwire|1F|0|20000|100|0|0|0|0|0|0|0|0|0"},
  };
  for (const auto& [index, want] : rows) EXPECT_EQ(Row(DeviceInfo(index)), want) << "row " << index;
}

// A check over every row: what must hold for the table as a whole.
TEST(Catalogue, EveryRowIsConsistent) {
  std::set<std::string> names;
  for (int i = 0; i < kDeviceCount; ++i) {
    const TE2Info& d = DeviceInfo(i);
    SCOPED_TRACE(d.Name);
    EXPECT_TRUE(names.insert(d.Name).second) << "names are unique";
    EXPECT_LE(std::string(d.Code).size(), 8u);
    EXPECT_GE(std::string(d.Code).size(), 4u);
    EXPECT_TRUE(d.Width == 8 || d.Width == 16);
    EXPECT_EQ(d.Reserved, 0);
    EXPECT_EQ(d.PageSize, i == 1 ? 0x80u : 0u);
    const std::string prefix = std::string(d.Code).substr(0, 4);
    EXPECT_TRUE(prefix != "mc11" && prefix != "hcs2" && prefix != "hcsx");
    // "N x W bits" in the info line matches the size; the W29C011 row is tabled with a
    // 128 KiB image under "512K x 8 bits".
    unsigned cells = 0, width = 0;
    char unit = 0;
    const std::string info = d.Info;
    if (i != 1 && info.find(" bits") != std::string::npos) {
      if (std::sscanf(d.Info, "%u%c x %u", &cells, &unit, &width) == 3 && unit == 'K') {
        cells *= 1024;
      } else {
        ASSERT_EQ(std::sscanf(d.Info, "%u x %u", &cells, &width), 2);
      }
      EXPECT_EQ(width, d.Width);
      EXPECT_EQ(cells * width / 8, d.Size);
    }
    // The I2C and SPI memories address every cell: 2^AddrBits cells of Width bits.
    // (Microwire parts share address widths across sizes: the 93C56 takes 9 bits.)
    const bool serialMemory =
        prefix == "i2cn" || prefix == "i2cx" || prefix == "spi8" || prefix == "spis";
    if (serialMemory) {
      EXPECT_EQ((1u << d.AddrBits) * d.Width / 8, d.Size);
    }
    // Only the PIC and 68HC05 rows (and the W29C011 page size) carry family fields.
    const bool family = prefix[0] == 'p' || prefix == "mc05";
    if (!family) {
      EXPECT_EQ(d.ImageSize + d.DataStart + d.ProgSize + d.ConfigAddr, 0u);
    }
  }
}

TEST(Catalogue, FlagsSelectTheTabsAndButtons) {
  int programmer = 0, emulator = 0;
  for (const auto& d : E2Info()) {
    programmer += (d.Flags & framework::kFlagProgrammer) != 0;
    emulator += (d.Flags & framework::kFlagEmulator) != 0;
  }
  EXPECT_EQ(programmer, 70);
  // 24C01..24C16, the eleven 93Cxx rows and the 7002MN010, SDA25x6, GRM-00x, GRN-001
  EXPECT_EQ(emulator, 5 + 12 + 3 + 2 + 1);
  EXPECT_TRUE(DeviceInfo(21).Flags & framework::kFlagEraseAll);
  EXPECT_FALSE(DeviceInfo(3).Flags & framework::kFlagEraseAll);
  EXPECT_TRUE(DeviceInfo(53).Flags & framework::kFlagDataEeprom);
  EXPECT_FALSE(DeviceInfo(52).Flags & framework::kFlagDataEeprom);
  EXPECT_TRUE(DeviceInfo(57).Flags & framework::kFlagCalibWord);
  EXPECT_TRUE(DeviceInfo(65).Flags & framework::kFlagErasable);
  EXPECT_FALSE(DeviceInfo(61).Flags & framework::kFlagErasable);
}

TEST(Catalogue, LookupsByNameAndCode) {
  EXPECT_EQ(framework::IndexOfDeviceName("24C02"), 3);
  EXPECT_EQ(framework::IndexOfDeviceName("93C46 x16"), 22);
  EXPECT_EQ(framework::IndexOfDeviceName("GRN-001"), 69);
  EXPECT_EQ(framework::IndexOfDeviceName("24c02"), -1);  // exact
  EXPECT_EQ(framework::IndexOfDeviceName(""), -1);
  EXPECT_EQ(framework::DeviceNameOfCode("i2cn02"), "24C02");  // not GRM-003
  EXPECT_EQ(framework::DeviceNameOfCode("i2cn04"), "24C04");  // not GRM-005
  EXPECT_EQ(framework::DeviceNameOfCode("miwiign1"), "GRN-001");
  EXPECT_EQ(framework::DeviceNameOfCode("i2cn"), "Undefined");
  EXPECT_EQ(framework::DeviceNameOfCode("hcs200"), "Undefined");
  EXPECT_EQ(framework::FindDeviceByName("93c46 X16"), 22);
  EXPECT_EQ(framework::FindDeviceByName("mc68hc05b16/4mhz"), 55);
  EXPECT_EQ(framework::FindDeviceByName("24C02 "), -1);
}

TEST(Catalogue, DevicesCommandListsEveryRow) {
  std::ostringstream out, err;
  EXPECT_EQ(app::RunCommandLine({"devices"}, out, err), 0);
  std::istringstream lines(out.str());
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "#   Name               Code      Size");
  int rows = 0;
  while (std::getline(lines, line)) {
    const TE2Info& d = DeviceInfo(rows);
    char want[80];
    std::snprintf(want, sizeof want, "%-3d %-18s %-9s %u", rows, d.Name, d.Code, d.Size);
    EXPECT_EQ(line, want);
    ++rows;
  }
  EXPECT_EQ(rows, 70);
  EXPECT_NE(out.str().find("\n3   24C02              i2cn02    256\n"), std::string::npos);
}

}  // namespace
