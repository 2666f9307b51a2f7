// Simple things to put in the socket or on the inputs: a loop-back plug and scripted
// waveforms.
#pragma once

#include <utility>
#include <vector>

#include "sim/device.h"

namespace sim {

// Mirrors chosen PC-driven lines onto input lines, like a plug with wire links. The
// default links Out1..Out4 to In1..In4 and RTS to CTS.
class TLoopbackDevice final : public TVirtualDevice {
 public:
  using TLink = std::pair<TLine, TLine>;  // from output, to input
  TLoopbackDevice();
  explicit TLoopbackDevice(std::vector<TLink> links) : links_(std::move(links)) {}
  std::string Name() const override { return "loopback"; }
  void OnLines(uint64_t t, uint32_t levels, uint32_t changed) override;
  TDrive Drive(uint64_t t) override;

 private:
  std::vector<TLink> links_;
  uint32_t levels_ = 0;
};

// Drives input lines on a time table. Lines it has no entry for yet are released.
class TWaveformSource final : public TVirtualDevice {
 public:
  std::string Name() const override { return "waveform"; }
  // From time t on, `line` is driven high or low.
  TWaveformSource& At(uint64_t t, TLine line, bool high);
  // A periodic square wave on `line` from `start` for `count` periods.
  TWaveformSource& Square(TLine line, uint64_t start, uint64_t highNs, uint64_t lowNs,
                          uint64_t count);
  void OnLines(uint64_t, uint32_t, uint32_t) override {}
  TDrive Drive(uint64_t t) override;

 private:
  struct TStep {
    uint64_t t;
    uint32_t line;
    bool high;
  };
  std::vector<TStep> steps_;
  bool sorted_ = true;
  size_t cursor_ = 0;  // first step not yet applied; time never goes back
  TDrive drive_;
};

}  // namespace sim
