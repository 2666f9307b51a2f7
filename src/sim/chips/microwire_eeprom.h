// A virtual 93Cxx Microwire EEPROM on the adapter's wiring: CS on Out3 (high selects),
// CLK on Out5, DI on Out4, DO on In3, ORG on Out2 (low: 8-bit cells, high: 16-bit cells).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "sim/chips/virtual_chip.h"

namespace sim {

// Datasheet values of one part (5 V supply).
struct TMicrowireParams {
  const char* name;
  uint32_t size;          // bytes
  int addrBits8;          // address field with 8-bit cells (0: no 8-bit organisation)
  int addrBits16;         // address field with 16-bit cells
  uint64_t writeCycleNs;  // tWP of WRITE, ERASE, ERAL and WRAL
  TClockLimits clock;     // tSKH, tSKL
  uint64_t csLowNs;       // minimum CS low time between instructions
};

std::span<const TMicrowireParams> MicrowireParamsTable();
// Case-insensitive; "93C46 x16" finds the 93C46 (the ORG pin chooses the organisation).
const TMicrowireParams* FindMicrowireParams(std::string_view name);

class TMicrowireEeprom final : public TVirtualChip {
 public:
  explicit TMicrowireEeprom(const TMicrowireParams& params);
  const TMicrowireParams& Params() const { return p_; }
  bool WriteEnabled() const { return enabled_; }
  bool WriteCycleRunning(uint64_t t) const { return Busy(t); }

 protected:
  TLine DataLine() const override { return TLine::In3; }
  std::optional<bool> Output(uint64_t t) override;
  void Reset(uint64_t t, uint32_t levels) override;
  bool Busy(uint64_t t) const override { return t < busyUntil_; }
  void Pins(uint64_t t, uint32_t levels, uint32_t changed) override;

 private:
  enum class TPhase { Deselected, WaitStart, Opcode, Address, Data, ReadOut, Done, Ignore };
  enum class TOp { None, Write, Erase, EraseAll, WriteAll };

  void Select(uint64_t t);
  void Deselect(uint64_t t);
  void Rise(uint64_t t, bool di);
  void AddressComplete(uint64_t t);
  uint32_t Cells() const { return p_.size / (org16_ ? 2 : 1); }
  uint16_t Cell(uint32_t i) const;
  void SetCell(uint32_t i, uint16_t v);
  int AddrBits() const { return org16_ ? p_.addrBits16 : p_.addrBits8; }
  int Width() const { return org16_ ? 16 : 8; }

  TMicrowireParams p_;
  bool cs_ = false, clk_ = false, orgPin_ = false, org16_ = false;
  TPhase phase_ = TPhase::Deselected;
  int count_ = 0;
  uint32_t opcode_ = 0, field_ = 0, data_ = 0;
  bool enabled_ = false;
  TOp pending_ = TOp::None;
  uint32_t pendingAddr_ = 0;
  bool statusArmed_ = false;  // DO shows ready/busy while selected and idle
  uint64_t busyUntil_ = 0;
  uint64_t csFall_ = UINT64_MAX;
  std::optional<bool> do_;
  uint32_t readAddr_ = 0;
  uint16_t outWord_ = 0;
  int outLeft_ = 0;
};

}  // namespace sim
