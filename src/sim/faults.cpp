#include "sim/faults.h"

namespace sim {

void TFaultInjector::Clear() {
  glitches_.clear();
  sticks_.clear();
  delays_.clear();
}

uint64_t TFaultInjector::AddGlitch(TLine line, uint64_t from, uint64_t to, uint64_t width) {
  uint64_t start = from;
  if (to > from) start = from + std::uniform_int_distribution<uint64_t>(0, to - from - 1)(rng_);
  glitches_.push_back({line, start, start + width});
  return start;
}

void TFaultInjector::StickLine(TLine line, bool level, uint64_t from, uint64_t to) {
  sticks_.push_back({line, level, from, to});
}

void TFaultInjector::DelayEdges(TLine line, uint64_t delay, double probability) {
  delays_.push_back({line, delay, probability});
}

uint32_t TFaultInjector::ApplyToInputs(uint64_t t, uint32_t levels) const {
  for (const auto& g : glitches_)
    if ((Bit(g.line) & ~kOutputLines) && t >= g.start && t < g.end) levels ^= Bit(g.line);
  for (const auto& s : sticks_)
    if ((Bit(s.line) & ~kOutputLines) && t >= s.from && t < s.to)
      levels = s.level ? (levels | Bit(s.line)) : (levels & ~Bit(s.line));
  return levels;
}

bool TFaultInjector::Stuck(TLine line, uint64_t t, bool& level) const {
  for (const auto& s : sticks_)
    if (s.line == line && t >= s.from && t < s.to) {
      level = s.level;
      return true;
    }
  return false;
}

uint64_t TFaultInjector::DrawDelay(TLine line) {
  for (const auto& d : delays_) {
    if (d.line != line) continue;
    if (d.probability >= 1.0 || std::uniform_real_distribution<double>(0, 1)(rng_) < d.probability)
      return d.delay;
  }
  return 0;
}

}  // namespace sim
