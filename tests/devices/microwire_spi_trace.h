// Reads the bench probe back as bus commands: for every interval in which the chip
// select line was active, the data line's level at each rising clock edge, and the
// times at which the command began and ended.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/probe.h"

namespace devices_test {

struct TCommand {
  uint64_t selectT = 0;
  uint64_t deselectT = 0;
  std::vector<bool> bits;

  // The bits from `from` on as bytes, most significant first (a short tail is dropped).
  std::vector<uint8_t> Bytes(size_t from = 0) const {
    std::vector<uint8_t> out;
    for (size_t i = from; i + 8 <= bits.size(); i += 8) {
      uint8_t b = 0;
      for (size_t j = 0; j < 8; ++j) b = static_cast<uint8_t>(b << 1 | bits[i + j]);
      out.push_back(b);
    }
    return out;
  }
};

// Changes written at one instant are taken together, so a clock edge sees the data level
// of the same write.
inline std::vector<TCommand> Commands(const sim::TProbe& probe, sim::TLine cs, bool csActive,
                                      sim::TLine clk, sim::TLine data) {
  std::vector<TCommand> out;
  uint32_t levels = probe.StartLevels();
  auto level = [&](sim::TLine l) { return (levels & sim::Bit(l)) != 0; };
  bool open = level(cs) == csActive;
  if (open) out.push_back({probe.StartTime(), 0, {}});
  const auto& ev = probe.Events();
  for (size_t i = 0; i < ev.size();) {
    const uint64_t t = ev[i].t;
    const bool clkBefore = level(clk);
    for (; i < ev.size() && ev[i].t == t; ++i) {
      if (ev[i].level)
        levels |= sim::Bit(ev[i].line);
      else
        levels &= ~sim::Bit(ev[i].line);
    }
    const bool active = level(cs) == csActive;
    if (active && !open) out.push_back({t, 0, {}});
    if (active && !clkBefore && level(clk)) out.back().bits.push_back(level(data));
    if (!active && open) out.back().deselectT = t;
    open = active;
  }
  return out;
}

inline std::vector<bool> Bits(std::initializer_list<int> v) {
  std::vector<bool> out;
  for (int b : v) out.push_back(b != 0);
  return out;
}

inline std::vector<bool> Bits(uint32_t value, int n) {
  std::vector<bool> out;
  for (int i = n - 1; i >= 0; --i) out.push_back((value >> i) & 1);
  return out;
}

}  // namespace devices_test
