// The I2C family: 24C01..24C512, SDA25x6 and the GRM parts, driven bit by bit on the
// adapter (SCL on Out5, SDA on Out4, SDA read back on In2), and the I2C emulator in which
// the PC answers a foreign master in place of a 24Cxx memory, with its trace decoder and
// the lister of the event table both fill.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "framework/controls.h"
#include "framework/e2Base.h"
#include "framework/family_frame.h"

namespace devices {

// Codes "i2cn": one address byte; address bits 8..10 travel in the control byte.
class TI2CFrame : public framework::TE2BaseFrame {
 public:
  // Ops R and W; every other op letter does nothing on the bus and answers true.
  // False when a byte sent was not acknowledged (the sequence then ends with a stop).
  bool AccessCell(char op, uint16_t& data, uint16_t deviceIndex, uint32_t address) override;
  // The base's loop, preceded by a read of the start cell instead of the enable op.
  bool ProgramRange() override;
  // This family has no erase command.
  void CreateWnd() override;
};

// Codes "i2cx": the fixed control byte 0xA0 and two address bytes, high byte first.
class TI2CXFrame : public framework::TE2BaseFrame {
 public:
  bool AccessCell(char op, uint16_t& data, uint16_t deviceIndex, uint32_t address) override;
};

// Answers a foreign master on SCL (In1) and SDA (In2, pulled low through Out4) as a
// 256-byte 24Cxx memory whose cells are the frame's buffer, and records every byte in
// the event table. Runs until the adapter's stop button is pressed; always true. A
// pointer beyond the buffer reads 0xFF and the byte written there is dropped.
bool EmulateI2C(TI2CFrame& frame, uint16_t deviceIndex);

// The same state machine over captured run levels 0..high (In1 in bit 7, In2 in bit 6, a
// set bit meaning high); the end of the data acts as the stop button. Always true.
bool DecodeI2CSamples(std::span<const uint8_t> levels, int32_t high);

// One line per event-table entry (at most the last kEventsCleared + 1 entries), plus a
// last line when the run overflowed the table. When high > 0, positions[n] receives the
// trace position of the entry shown on line n (for as many lines as positions holds).
void ListI2CEvents(framework::TListControl& list, std::span<int32_t> positions, int32_t high);

// The programmer panel's factory entries: the frames, and the Emulator tab's run of
// EmulateI2C with its list.
std::unique_ptr<framework::TFamilyFrame> MakeI2CFrame();
std::unique_ptr<framework::TFamilyFrame> MakeI2CXFrame();
void EmulateI2CFrame(framework::TFamilyFrame& frame, uint16_t deviceIndex,
                     framework::TListControl& list);

}  // namespace devices
