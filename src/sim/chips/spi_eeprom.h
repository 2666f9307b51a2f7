// A virtual 25Cxxx SPI EEPROM on the adapter's wiring: /CS on Out3 (low selects), SCK on
// Out5, SI on Out4, SO on In3. SPI modes 0 and 3: input on rising SCK, output on falling.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "sim/chips/virtual_chip.h"

namespace sim {

// Datasheet values of one part (5 V supply).
struct TSpiParams {
  const char* name;
  uint32_t size;          // bytes
  uint32_t pageSize;      // bytes
  int addressBytes;       // 1: address bit 8 in bit 3 of READ/WRITE; 2: 16-bit address
  uint64_t writeCycleNs;  // tWC of WRITE and WRSR
  TClockLimits clock;     // tHI, tLO
  uint64_t csHighNs;      // tCSD, minimum /CS high time
};

std::span<const TSpiParams> SpiParamsTable();
const TSpiParams* FindSpiParams(std::string_view name);  // case-insensitive, or nullptr

class TSpiEeprom final : public TVirtualChip {
 public:
  static constexpr uint8_t kWrsr = 0x01, kWrite = 0x02, kRead = 0x03, kWrdi = 0x04, kRdsr = 0x05,
                           kWren = 0x06;
  static constexpr uint8_t kWip = 0x01, kWel = 0x02, kBp0 = 0x04, kBp1 = 0x08;

  explicit TSpiEeprom(const TSpiParams& params);
  const TSpiParams& Params() const { return p_; }
  uint8_t Status(uint64_t t) const;
  bool WriteCycleRunning(uint64_t t) const { return Busy(t); }
  // Whether the block protection bits guard this address.
  bool Protected(uint32_t address) const;

 protected:
  TLine DataLine() const override { return TLine::In3; }
  std::optional<bool> Output(uint64_t) override { return so_; }
  void Reset(uint64_t t, uint32_t levels) override;
  bool Busy(uint64_t t) const override { return t < busyUntil_; }
  void Pins(uint64_t t, uint32_t levels, uint32_t changed) override;

 private:
  enum class TPhase {
    Deselected,
    Instruction,
    AddrHi,
    AddrLo,
    WriteData,
    ReadData,
    StatusOut,
    StatusIn,
    Ignore
  };

  void Select(uint64_t t);
  void Deselect(uint64_t t);
  void Rise(uint64_t t, bool si);
  void Fall(uint64_t t);
  void ByteIn(uint64_t t, uint8_t byte);

  TSpiParams p_;
  bool selected_ = false;
  TPhase phase_ = TPhase::Deselected;
  uint8_t instruction_ = 0;
  uint8_t shift_ = 0;
  int count_ = 0;  // bits of the current byte
  uint32_t hi_ = 0;
  uint32_t addr_ = 0;
  uint32_t pageBase_ = 0;
  std::vector<uint8_t> page_;
  std::vector<bool> latched_;
  bool loaded_ = false;  // at least one whole data byte (or the status byte) arrived
  uint8_t newStatus_ = 0;
  bool wel_ = false;
  uint8_t status_ = 0;  // the non-volatile bits (BP1, BP0, WPEN)
  uint64_t busyUntil_ = 0;
  uint64_t csRise_ = UINT64_MAX;
  uint8_t out_ = 0;
  int outLeft_ = 0;
  std::optional<bool> so_;
};

}  // namespace sim
