// The process-wide bus event table that the I2C and Microwire emulators and decoders fill
// and their listers show. One set for both buses: every run replaces the one before.
#pragma once

#include <array>
#include <cstdint>

namespace devices {

inline constexpr int32_t kEventTableSize = 130802;
inline constexpr int32_t kEventPositionsSize = 130801;
// Entries a run clears at its start and a lister shows at most.
inline constexpr int32_t kEventsCleared = 32700;

// I2C entry bits (Microwire entries use their own layout).
inline constexpr uint16_t evRead = 0x0400;
inline constexpr uint16_t evError = 0x0800;
inline constexpr uint16_t evAddr = 0x1000;
inline constexpr uint16_t evAck = 0x2000;
inline constexpr uint16_t evStop = 0x4000;
inline constexpr uint16_t evStart = 0x8000;

// Microwire entry bits: an instruction entry holds Start, the opcode in bits 8-9 and, for
// opcode 00, 0x0400 with the two bits after it in bits 8-9; an error entry holds 0x0800
// alone (CS fell in the middle of a field). Address and data entries are whole values.
inline constexpr uint16_t mwStart = 0x8000;
inline constexpr uint16_t mwExtended = 0x0400;
inline constexpr uint16_t mwError = 0x0800;

inline std::array<uint16_t, kEventTableSize> EventTable{};
inline std::array<int32_t, kEventPositionsSize> EventPositions{};
// Index of the entry that was open when the run ended; entries 0..EventCount are listed.
inline int32_t EventCount = 0;
inline uint16_t EmuAddress = 0;
// Set by a run that needed more entries than the table holds: it stopped recording (an
// emulator keeps answering the bus) and the list says so.
inline bool EventTableOverflow = false;
inline constexpr const char* kEventTableOverflowText =
    "Event table full: later bus traffic was not recorded";

}  // namespace devices
