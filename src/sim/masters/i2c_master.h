// A virtual I2C bus master for the emulator tests: SCL driven on In1, SDA open-drain on
// In2, wired-AND with the PC's pull-down on Out4 (In2 is tied to Out4 while plugged).
// The transactions are scripted up front and played in virtual time at a fixed bit rate;
// what the master read back (acknowledges, data bytes) is recorded.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/masters/scripted_source.h"

namespace sim {

struct TI2CMasterRecord {
  enum class TKind { Sent, Received };
  TKind kind;
  uint8_t byte;  // sent, or as read (complete once the master has played past it)
  bool ack;      // sent: the slave acknowledged; received: the master acknowledged
};

class TI2CMaster final : public TScriptedSource {
 public:
  // `bitNs` is one SCL period (high and low half each half of it); the script starts at
  // `startAt` with the bus idle (both lines high).
  explicit TI2CMaster(uint64_t bitNs = 100000, uint64_t startAt = 0);
  std::string Name() const override { return "i2c master"; }
  void OnPlug(TBench& bench, uint64_t t, uint32_t levels) override;
  void OnUnplug() override;

  // ---- primitives ----
  TI2CMaster& Start();  // start, or repeated start after a byte
  TI2CMaster& Stop();
  TI2CMaster& Send(uint8_t byte);                // records the slave's acknowledge
  TI2CMaster& Receive(bool ack);                 // records the byte; ack = the master acknowledges
  TI2CMaster& SendBits(uint8_t byte, int bits);  // a byte cut short (then Start or Stop)
  TI2CMaster& Idle(uint64_t ns);
  // ---- transactions ----
  TI2CMaster& ByteWrite(uint8_t control, uint8_t address, uint8_t data);
  TI2CMaster& RandomRead(uint8_t control, uint8_t address, int count);
  TI2CMaster& CurrentRead(uint8_t control, int count);

  const std::vector<TI2CMasterRecord>& Records() const { return records_; }
  std::vector<uint8_t> BytesRead() const;

 private:
  void Bit(bool one, int32_t sampleTag);
  void OnSample(uint64_t t, int32_t tag, bool level) override;

  uint64_t period_;
  TBench* bench_ = nullptr;
  std::vector<TI2CMasterRecord> records_;
};

}  // namespace sim
