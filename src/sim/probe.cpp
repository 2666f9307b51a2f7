#include "sim/probe.h"

#include <limits>

namespace sim {

void TProbe::Clear(uint64_t t, uint32_t levels) {
  events_.clear();
  overflowed_ = false;
  startLevels_ = levels;
  startTime_ = t;
}

std::vector<TProbeEvent> TProbe::EventsOf(TLine line) const {
  std::vector<TProbeEvent> r;
  for (const auto& e : events_)
    if (e.line == line) r.push_back(e);
  return r;
}

bool TProbe::LevelAt(TLine line, uint64_t t) const {
  bool level = (startLevels_ & Bit(line)) != 0;
  for (const auto& e : events_) {
    if (e.t > t) break;
    if (e.line == line) level = e.level;
  }
  return level;
}

size_t TProbe::ChangeCount(TLine line) const {
  size_t n = 0;
  for (const auto& e : events_) n += e.line == line;
  return n;
}

uint64_t TProbe::MinStableTime(TLine line) const {
  uint64_t best = std::numeric_limits<uint64_t>::max();
  bool have = false;
  uint64_t last = 0;
  for (const auto& e : events_) {
    if (e.line != line) continue;
    if (have && e.t - last < best) best = e.t - last;
    last = e.t;
    have = true;
  }
  return best;
}

uint64_t TProbe::MinDelayBetween(TLine from, TLine to) const {
  uint64_t best = std::numeric_limits<uint64_t>::max();
  bool pending = false;
  uint64_t since = 0;
  for (const auto& e : events_) {
    if (e.line == to && pending) {
      if (e.t - since < best) best = e.t - since;
      pending = false;
    }
    if (e.line == from) {
      pending = true;
      since = e.t;
    }
  }
  return best;
}

}  // namespace sim
