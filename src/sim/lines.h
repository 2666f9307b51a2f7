// The adapter's lines as the target sees them: one bit each, 1 = high.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

enum class TLine : uint8_t {
  Out1,
  Out2,
  Out3,
  Out4,
  Out5,
  Out6,
  Out7,
  Out8,
  Power,
  RTS,
  DTR,
  TXD,  // driven by the PC
  In1,
  In2,
  In3,
  In4,
  CTS,      // driven by the target
  StopBtn,  // the adapter's stop button
  Count
};

constexpr uint32_t Bit(TLine l) { return 1u << static_cast<unsigned>(l); }
constexpr uint32_t kOutputLines = 0x0FFF;  // Out1..Out8, Power, RTS, DTR, TXD
constexpr uint32_t kInputLines =
    Bit(TLine::In1) | Bit(TLine::In2) | Bit(TLine::In3) | Bit(TLine::In4) | Bit(TLine::CTS);
constexpr unsigned kLineCount = static_cast<unsigned>(TLine::Count);

inline TLine OutLine(int n) { return static_cast<TLine>(n - 1); }  // n = 1..8
inline TLine InLine(int n) { return static_cast<TLine>(static_cast<int>(TLine::In1) + n - 1); }

const char* LineName(TLine line);
// "Out1".."Out8", "Power", "RTS", "DTR", "TXD", "In1".."In4", "CTS", "StopBtn";
// case-insensitive.
std::optional<TLine> LineByName(std::string_view name);

}  // namespace sim
