// A virtual 24Cxx serial EEPROM on the adapter's I2C wiring: SCL on Out5, SDA open-drain
// on Out4 with its read-back on In2 (wired-AND with the chip's own pull-down).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "sim/chips/virtual_chip.h"

namespace sim {

// Datasheet values of one part (5 V supply).
struct TI2CParams {
  const char* name;
  uint32_t size;          // bytes
  uint32_t pageSize;      // bytes of the page buffer
  int addressBytes;       // 1: address bits 8..10 in the control byte; 2: two address bytes
  uint64_t writeCycleNs;  // tWR, from the stop condition
  TClockLimits clock;     // tHIGH, tLOW
};

std::span<const TI2CParams> I2CParamsTable();
const TI2CParams* FindI2CParams(std::string_view name);  // case-insensitive, or nullptr

class TI2CEeprom final : public TVirtualChip {
 public:
  explicit TI2CEeprom(const TI2CParams& params);
  const TI2CParams& Params() const { return p_; }
  // Levels of the device-select pins A2..A0 (bit 2..0); the bench's socket ties them low.
  void SetSelectPins(uint8_t pins) { pins_ = pins & 7; }
  // The internal address counter.
  uint32_t AddressCounter() const { return addr_; }
  bool WriteCycleRunning(uint64_t t) const { return Busy(t); }

 protected:
  TLine DataLine() const override { return TLine::In2; }
  std::optional<bool> Output(uint64_t) override {
    return pull_ ? std::optional<bool>(false) : std::nullopt;
  }
  void Reset(uint64_t t, uint32_t levels) override;
  bool Busy(uint64_t t) const override { return t < busyUntil_; }
  void Pins(uint64_t t, uint32_t levels, uint32_t changed) override;
  void Attach(TBench& bench) override;
  void Detach(TBench& bench) override;
  // Taken as if it happened while the bus was idle: no start or stop is seen.
  void StuckChanged() override { bus_ = sdaIn_ && !PullsLow(); }

 private:
  enum class TPhase { Idle, Receive, Transmit };
  enum class TRole { Control, AddrHi, AddrLo, Data };

  bool PullsLow() const { return pull_ || (Stuck() && !*Stuck()); }
  // A condition comes during the first clock of a frame; later it cuts a byte short.
  bool InsideByte() const { return phase_ != TPhase::Idle && clocks_ >= 2; }
  void SdaChanged(uint64_t t, bool level);
  void UpdateBus(uint64_t t);
  void StartCondition(uint64_t t);
  void StopCondition(uint64_t t);
  void Rise(uint64_t t);
  void Fall(uint64_t t);
  bool Accept(uint64_t t, uint8_t byte);
  void LoadNextByte();
  void DriveBit();

  TI2CParams p_;
  int blockBits_ = 0;  // address bits carried in the control byte
  uint8_t pins_ = 0;
  bool scl_ = true, sdaIn_ = true, bus_ = true;
  bool pull_ = false;
  TPhase phase_ = TPhase::Idle;
  TRole role_ = TRole::Control;
  int clocks_ = 0;  // rising clock edges in the current nine-clock frame
  uint8_t shift_ = 0;
  bool ack_ = false;
  bool readAfterAck_ = false;
  bool masterAck_ = false;
  uint8_t tx_ = 0;
  uint32_t addr_ = 0;
  uint32_t block_ = 0;
  uint32_t hi_ = 0;
  uint32_t pageBase_ = 0;
  std::vector<uint8_t> page_;
  std::vector<bool> latched_;
  bool writing_ = false;
  uint64_t busyUntil_ = 0;
};

}  // namespace sim
