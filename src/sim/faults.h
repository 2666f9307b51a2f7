// Seeded fault injection on the bench's lines: the same seed and the same sequence of
// port accesses give the same faults.
#pragma once

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "sim/lines.h"

namespace sim {

class TFaultInjector {
 public:
  static constexpr uint64_t kForever = std::numeric_limits<uint64_t>::max();

  void Seed(uint64_t seed) { rng_.seed(seed); }
  void Clear();
  bool Empty() const { return glitches_.empty() && sticks_.empty() && delays_.empty(); }

  // A pulse of the opposite level, `width` ns long, starting at a time drawn from
  // [from, to). On an input line the PC reads it; on a PC-driven line the target sees it.
  // Returns the start time drawn.
  uint64_t AddGlitch(TLine line, uint64_t from, uint64_t to, uint64_t width);
  // The line holds `level` during [from, to) whatever drives it.
  void StickLine(TLine line, bool level, uint64_t from = 0, uint64_t to = kForever);
  // Each change of the PC-driven `line` reaches the target `delay` ns late, with the
  // given probability (drawn per change from the seeded generator).
  void DelayEdges(TLine line, uint64_t delay, double probability = 1.0);

  // --- used by the bench ---
  struct TGlitch {
    TLine line;
    uint64_t start, end;
  };
  struct TStick {
    TLine line;
    bool level;
    uint64_t from, to;
  };
  const std::vector<TGlitch>& Glitches() const { return glitches_; }
  // Input levels as the PC reads them at t.
  uint32_t ApplyToInputs(uint64_t t, uint32_t levels) const;
  // Whether a change of an output line at t is swallowed by a stuck line.
  bool Stuck(TLine line, uint64_t t, bool& level) const;
  // Delay to apply to this change of `line` (0 = none); draws from the generator.
  uint64_t DrawDelay(TLine line);

 private:
  struct TDelay {
    TLine line;
    uint64_t delay;
    double probability;
  };
  std::mt19937_64 rng_{0};
  std::vector<TGlitch> glitches_;
  std::vector<TStick> sticks_;
  std::vector<TDelay> delays_;
};

}  // namespace sim
