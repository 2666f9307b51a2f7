#include "sim/sources.h"

#include <algorithm>

namespace sim {

TLoopbackDevice::TLoopbackDevice()
    : links_{{TLine::Out1, TLine::In1},
             {TLine::Out2, TLine::In2},
             {TLine::Out3, TLine::In3},
             {TLine::Out4, TLine::In4},
             {TLine::RTS, TLine::CTS}} {}

void TLoopbackDevice::OnLines(uint64_t, uint32_t levels, uint32_t) { levels_ = levels; }

TDrive TLoopbackDevice::Drive(uint64_t) {
  TDrive d;
  for (const auto& [from, to] : links_) {
    if (levels_ & Bit(from))
      d.high |= Bit(to);
    else
      d.low |= Bit(to);
  }
  return d;
}

TWaveformSource& TWaveformSource::At(uint64_t t, TLine line, bool high) {
  if (!steps_.empty() && t < steps_.back().t) sorted_ = false;
  steps_.push_back({t, Bit(line), high});
  return *this;
}

TWaveformSource& TWaveformSource::Square(TLine line, uint64_t start, uint64_t highNs,
                                         uint64_t lowNs, uint64_t count) {
  uint64_t t = start;
  for (uint64_t i = 0; i < count; ++i) {
    At(t, line, true);
    t += highNs;
    At(t, line, false);
    t += lowNs;
  }
  return *this;
}

TDrive TWaveformSource::Drive(uint64_t t) {
  if (!sorted_) {
    std::stable_sort(steps_.begin() + static_cast<std::ptrdiff_t>(cursor_), steps_.end(),
                     [](const TStep& a, const TStep& b) { return a.t < b.t; });
    sorted_ = true;
  }
  while (cursor_ < steps_.size() && steps_[cursor_].t <= t) {
    const TStep& s = steps_[cursor_++];
    if (s.high) {
      drive_.high |= s.line;
      drive_.low &= ~s.line;
    } else {
      drive_.low |= s.line;
      drive_.high &= ~s.line;
    }
  }
  return drive_;
}

}  // namespace sim
