// The SPI family 25C080..25C256 (codes "spis"): instruction byte and a 16-bit address,
// driven bit by bit on the adapter (/CS on Out3, SCK on Out5, SI on Out4, SO read on
// In3). The small parts with address bit 8 in the instruction derive from it (spi8.h).
#pragma once

#include <cstdint>
#include <memory>

#include "framework/e2Base.h"

namespace devices {

// One command on the SPI wiring. The register copy is private to the command and written
// whole at every line change, so no shared shadow is needed.
class TSpiBus {
 public:
  TSpiBus(int32_t clockTime, int32_t writeTime);
  void Line(uint8_t bit, bool high);
  // The levels of /CS, SCK and SI in one write (true = line high).
  void Lines(bool cs, bool sck, bool si);
  void WaitT() const;
  void WaitWrite() const;
  void ClockPulse();
  void Send(uint32_t value, int bits);
  // SO is sampled a fixed 2 µs after the rising edge, whatever the clock time. The two
  // clock writes are fixed bytes (/CS low, SI low); the copy is left as it was.
  uint8_t Receive(int bits);

  static constexpr uint8_t kCs = 0x04;   // Out3
  static constexpr uint8_t kSi = 0x08;   // Out4
  static constexpr uint8_t kSck = 0x10;  // Out5

 private:
  void Write(uint8_t value) const;
  uint8_t l_ = 0x1C;
  uint32_t t_, tw_, ts_;
};

class TSPIFrame : public framework::TE2BaseFrame {
 public:
  // R READ, W WRITE, E WREN, S RDSR, T WRSR; C, D, A and every other letter do nothing
  // and touch no port. Always true: SPI has no acknowledge, so a missing device shows up
  // only when the data is read back. R and S set data.
  bool AccessCell(char op, uint16_t& data, uint16_t deviceIndex, uint32_t address) override;
  // A write enable before every byte written; no erase before it.
  bool ProgramRange() override;
  // Shows the status-register controls; this family has no erase command.
  void CreateWnd() override;

 protected:
  virtual void EndCommand(TSpiBus& bus);
  void StartCommand(TSpiBus& bus);
  // The READ or WRITE instruction byte and the address of a cell.
  virtual void SendAddressed(TSpiBus& bus, uint8_t instruction, uint32_t address);
};

std::unique_ptr<framework::TFamilyFrame> CreateSPIFrame();

}  // namespace devices
