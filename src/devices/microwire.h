// The Microwire family: 93C46..93C86 in both organisations, the 7002MN010 and GRN-001,
// driven bit by bit on the adapter (CS on Out3, CLK on Out5, DI on Out4, DO read on In3,
// ORG on Out2), and the Microwire emulator in which the PC answers a foreign host in
// place of a 93Cxx memory, with its trace decoder and the lister of the event table.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "framework/controls.h"
#include "framework/e2Base.h"

namespace devices {

class TMicrowireFrame : public framework::TE2BaseFrame {
 public:
  // R READ, W WRITE, C ERASE (one cell), E EWEN, D EWDS, A ERAL; any other letter does
  // nothing. Always true: the bus has no acknowledge, so a missing device shows up only
  // when the data is read back. Only R changes data.
  bool AccessCell(char op, uint16_t& data, uint16_t deviceIndex, uint32_t address) override;
};

// Answers a foreign host on CLK (In1), DI (In2) and CS (In4), driving DO through Out2,
// as the selected 93Cxx whose cells are the frame's buffer, and records every field in
// the event table. Runs until the adapter's stop button is pressed; always true. A cell
// beyond the buffer reads 0xFF and a word written there is dropped.
bool EmulateMicrowire(TMicrowireFrame& frame, uint16_t deviceIndex);

// The same state machine over captured run levels 0..high (In1 in bit 7 .. In4 in bit
// 4, a set bit meaning high; DO on In3); the address and cell width come from the
// device. The end of the data acts as the stop button. Always true.
bool DecodeMicrowireSamples(std::span<const uint8_t> levels, int32_t high, uint16_t deviceIndex);

// The lines of the instructions in the event table (from at most the last
// kEventsCleared + 1 entries), plus a last line when the run overflowed the table. When
// high > 0, positions[n] receives the trace position of the entry shown on line n (for
// as many lines as positions holds).
void ListMicrowireEvents(framework::TListControl& list, std::span<int32_t> positions, int32_t high);

// The programmer panel's factory row: the frame, and the Emulator tab's run.
std::unique_ptr<framework::TFamilyFrame> CreateMicrowireFrame();
void EmulateMicrowireToList(framework::TFamilyFrame& frame, uint16_t deviceIndex,
                            framework::TListControl& list);

}  // namespace devices
