// Reads back what the PC drove on the I2C lines from the bench's probe: the conditions
// and bytes (SCL on Out5, SDA on Out4), independent of the engine that drove them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/format.h"
#include "sim/probe.h"

namespace i2c_test {

struct TBusToken {
  std::string text;  // "S", "P", or a byte as two hex digits
  uint64_t t;        // time of the condition, or of the byte's last clock edge
};

// Bytes are the first eight of each nine-clock frame; a lone clock left before a stop is
// the stop's own clock high and is dropped.
inline std::vector<TBusToken> BusTokens(const sim::TProbe& probe) {
  std::vector<TBusToken> out;
  bool scl = (probe.StartLevels() & sim::Bit(sim::TLine::Out5)) != 0;
  bool sda = (probe.StartLevels() & sim::Bit(sim::TLine::Out4)) != 0;
  std::vector<bool> bits;
  uint64_t lastClock = 0;
  auto flush = [&] {
    for (size_t i = 0; i + 9 <= bits.size(); i += 9) {
      unsigned b = 0;
      for (size_t j = 0; j < 8; ++j) b = (b << 1) | (bits[i + j] ? 1u : 0u);
      out.push_back({base::Format("%2.2x", b), lastClock});
    }
    const size_t rest = bits.size() % 9;
    if (rest > 1) out.push_back({base::Format("?%d", static_cast<int>(rest)), lastClock});
    bits.clear();
  };
  for (const auto& e : probe.Events()) {
    if (e.line == sim::TLine::Out5) {
      scl = e.level;
      if (scl) {
        bits.push_back(sda);
        lastClock = e.t;
      }
    } else if (e.line == sim::TLine::Out4) {
      if (scl && e.level != sda) {
        flush();
        out.push_back({e.level ? "P" : "S", e.t});
      }
      sda = e.level;
    }
  }
  flush();
  return out;
}

inline std::string Joined(const std::vector<TBusToken>& tokens) {
  std::string s;
  for (const auto& t : tokens) s += (s.empty() ? "" : " ") + t.text;
  return s;
}

// Times between consecutive changes of SCL or SDA as driven by the PC.
inline uint64_t MinGapBetweenLineChanges(const sim::TProbe& probe) {
  uint64_t min = UINT64_MAX;
  uint64_t last = UINT64_MAX;
  for (const auto& e : probe.Events()) {
    if (e.line != sim::TLine::Out5 && e.line != sim::TLine::Out4) continue;
    if (last != UINT64_MAX && e.t - last < min) min = e.t - last;
    last = e.t;
  }
  return min;
}

// For every stop that ends a write (a frame with data after the address bytes), the time
// until the PC's next change of SCL or SDA.
inline std::vector<uint64_t> GapsAfterWriteStops(const sim::TProbe& probe, int addressBytes) {
  const auto tokens = BusTokens(probe);
  std::vector<uint64_t> stops;
  int bytes = 0;
  bool reading = false;
  for (const auto& t : tokens) {
    if (t.text == "S") {
      bytes = 0;
    } else if (t.text == "P") {
      if (!reading && bytes == 2 + addressBytes) stops.push_back(t.t);
      reading = false;
    } else {
      if (bytes == 0) reading = t.text.size() == 2 && (std::stoul(t.text, nullptr, 16) & 1);
      ++bytes;
    }
  }
  std::vector<uint64_t> times;
  for (const auto& e : probe.Events())
    if (e.line == sim::TLine::Out5 || e.line == sim::TLine::Out4) times.push_back(e.t);
  std::vector<uint64_t> gaps;
  for (uint64_t s : stops) {
    const auto next = std::upper_bound(times.begin(), times.end(), s);
    if (next != times.end()) gaps.push_back(*next - s);
  }
  return gaps;
}

}  // namespace i2c_test
