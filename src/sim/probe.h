// Records every line change on the bench with its virtual time.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/lines.h"

namespace sim {

struct TProbeEvent {
  uint64_t t;
  TLine line;
  bool level;
};

class TProbe {
 public:
  // At most this many events are kept (64 MiB); past it recording stops and
  // Overflowed() says so, so a long run never exhausts memory.
  static constexpr size_t kDefaultLimit = 4u << 20;

  void Enable(bool on) { enabled_ = on; }
  bool Enabled() const { return enabled_; }
  void SetLimit(size_t limit) { limit_ = limit; }
  bool Overflowed() const { return overflowed_; }

  // Forgets the events; the levels at `t` become the starting levels.
  void Clear(uint64_t t, uint32_t levels);
  void Record(uint64_t t, TLine line, bool level) {
    if (!enabled_) return;
    if (events_.size() >= limit_) {
      overflowed_ = true;
      return;
    }
    events_.push_back({t, line, level});
  }

  const std::vector<TProbeEvent>& Events() const { return events_; }
  std::vector<TProbeEvent> EventsOf(TLine line) const;
  uint32_t StartLevels() const { return startLevels_; }
  uint64_t StartTime() const { return startTime_; }
  // Level of a line at time t (after every change at or before t).
  bool LevelAt(TLine line, uint64_t t) const;
  // Number of changes of one line.
  size_t ChangeCount(TLine line) const;
  // Shortest time a line stayed at one level between two of its recorded changes
  // (UINT64_MAX with fewer than two changes).
  uint64_t MinStableTime(TLine line) const;
  // Shortest time between a change of `from` and the next change of `to` after it
  // (UINT64_MAX when there is none).
  uint64_t MinDelayBetween(TLine from, TLine to) const;

 private:
  bool enabled_ = true;
  bool overflowed_ = false;
  size_t limit_ = kDefaultLimit;
  uint32_t startLevels_ = 0;
  uint64_t startTime_ = 0;
  std::vector<TProbeEvent> events_;
};

}  // namespace sim
