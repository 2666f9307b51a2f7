// The device catalogue: one fixed table of 70 devices. A device is identified everywhere
// by its row index (0..69); the first four characters of its code choose its frame.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace framework {

// One catalogue row, fields in their fixed order.
struct TE2Info {
  const char* Code;    // at most 8 characters; the first four choose the device frame
  const char* Name;    // shown in device lists, the status window and result messages
  uint32_t AddrBits;   // address bits in the device's own cells; PIC rows: program word width
  uint32_t Size;       // device image in buffer bytes (PIC: data EEPROM; 68HC05: EEPROM)
  uint32_t Width;      // 8 or 16 bits per cell (low byte used); 16-bit cells high byte first
  const char* Info;    // one line shown under the device list
  uint16_t Flags;      // bit set, kFlag... below
  uint16_t Reserved;   // always 0
  uint32_t WriteTime;  // microseconds to write or program one cell
  uint32_t ClockTime;  // microseconds per bus clock step
  // Family fields, 0 where a family does not use them.
  uint32_t DataStart;   // PIC: buffer offset of the data EEPROM; 68HC05: EEPROM start
  uint32_t ImageSize;   // PIC and 68HC05: size of the whole buffer image
  uint32_t ProgStart;   // PIC: buffer offset of program memory
  uint32_t ProgSize;    // PIC: program memory in buffer bytes (PIC12C5xx: without OSCCAL)
  uint32_t ConfigAddr;  // PIC: buffer offset of the configuration word
  uint32_t IdStart;     // PIC: buffer offset of the ID locations
  uint32_t IdSize;      // PIC: size of the ID locations in buffer bytes
  uint32_t CalibAddr;   // PIC12C5xx: buffer offset of the oscillator calibration word
  uint32_t PageSize;    // 128 on the W29C011 row; nothing reads it
};

// Flags bits the program acts on. Bits 0x01, 0x04 and 0x20 occur in rows and mean nothing.
inline constexpr uint16_t kFlagProgrammer = 0x02;  // listed on the Programmer tab
inline constexpr uint16_t kFlagEraseAll = 0x08;    // the frame shows "Erase All"
inline constexpr uint16_t kFlagEmulator = 0x10;    // Emulator tab and analyser device list
inline constexpr uint16_t kFlagDataEeprom = 0x40;  // 68HC05/PIC: has data EEPROM
inline constexpr uint16_t kFlagCalibWord = 0x80;   // PIC: oscillator calibration word
inline constexpr uint16_t kFlagErasable = 0x100;   // PIC: electrically erasable

inline constexpr int kDeviceCount = 70;

// The whole table, rows in index order.
std::span<const TE2Info, kDeviceCount> E2Info();

// The row of a device index; index must lie in 0..kDeviceCount-1.
const TE2Info& DeviceInfo(int index);

// Index of the first row whose Name equals `name` exactly; -1 when none does.
int IndexOfDeviceName(std::string_view name);

// Name of the first row whose Code equals `code` exactly; "Undefined" when none does
// (so a code shared by two rows names the earlier one).
std::string DeviceNameOfCode(std::string_view code);

// Index of the first row whose Name equals `name` ignoring ASCII case (how the command
// line takes a device name); -1 when none does.
int FindDeviceByName(std::string_view name);

}  // namespace framework
