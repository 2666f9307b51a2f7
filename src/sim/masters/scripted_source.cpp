#include "sim/masters/scripted_source.h"

#include <algorithm>

namespace sim {

void TScriptedSource::Put(uint64_t offset, TKind kind, TLine line, int32_t tag) {
  // Keep the list sorted even if a caller's offsets step back within one slot.
  const uint64_t t = std::max(cursorT_ + offset, lastPut_);
  lastPut_ = t;
  steps_.push_back({t, kind, line, tag});
}

void TScriptedSource::OnLines(uint64_t t, uint32_t levels, uint32_t) {
  // Steps strictly before the change still see the old levels.
  Play(t, false);
  levels_ = levels;
}

TDrive TScriptedSource::Drive(uint64_t t) {
  Play(t, true);
  return drive_;
}

bool TScriptedSource::Seen(TLine line) const {
  if (line == odInput_) return (levels_ & Bit(odOutput_)) && !(drive_.low & Bit(odInput_));
  if (Bit(line) & kOutputLines) return levels_ & Bit(line);
  return (drive_.high & Bit(line)) != 0;
}

void TScriptedSource::Play(uint64_t t, bool inclusive) {
  // Bounded by the script's length: every step is played once.
  while (next_ < steps_.size() && (steps_[next_].t < t || (inclusive && steps_[next_].t == t))) {
    const TStep& s = steps_[next_++];
    const uint32_t b = Bit(s.line);
    switch (s.kind) {
      case TKind::High:
        drive_.high |= b;
        drive_.low &= ~b;
        break;
      case TKind::Low:
        drive_.low |= b;
        drive_.high &= ~b;
        break;
      case TKind::Release:
        drive_.low &= ~b;
        drive_.high &= ~b;
        break;
      case TKind::Sample:
        OnSample(s.t, s.tag, Seen(s.line));
        break;
    }
  }
}

}  // namespace sim
