#include "sim/chips/virtual_chip.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "sim/bench.h"

namespace sim {

TVirtualChip::TVirtualChip(std::string name, size_t size)
    : name_(std::move(name)), memory_(size, 0xFF) {}

void TVirtualChip::OnPlug(TBench& bench, uint64_t t, uint32_t levels) {
  bench_ = &bench;
  Attach(bench);
  powered_ = (levels & Bit(TLine::Power)) != 0;
  ForgetClock();
  Reset(t, levels);
}

void TVirtualChip::OnUnplug() {
  if (bench_) Detach(*bench_);
  bench_ = nullptr;
}

void TVirtualChip::OnLines(uint64_t t, uint32_t levels, uint32_t changed) {
  const bool power = (levels & Bit(TLine::Power)) != 0;
  if (power != powered_) {
    if (!power && Busy(t)) Violation(t, "power removed during the write cycle");
    powered_ = power;
    ForgetClock();
    Reset(t, levels);
    return;
  }
  if (!powered_) return;
  changed &= ~Bit(TLine::Power);
  if (changed) Pins(t, levels, changed);
}

TDrive TVirtualChip::Drive(uint64_t t) {
  std::optional<bool> out = powered_ ? Output(t) : std::nullopt;
  if (stuck_) out = stuck_;
  TDrive d;
  if (out) (*out ? d.high : d.low) |= Bit(DataLine());
  return d;
}

bool TVirtualChip::SetImage(std::span<const uint8_t> image, std::string& reason) {
  if (image.size() > memory_.size()) {
    reason = "the image has " + std::to_string(image.size()) + " bytes, more than the " +
             std::to_string(memory_.size()) + " bytes of the " + name_;
    return false;
  }
  std::fill(memory_.begin(), memory_.end(), 0xFF);
  std::copy(image.begin(), image.end(), memory_.begin());
  return true;
}

bool TVirtualChip::LoadImage(const std::string& file, std::string& reason) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    reason = "cannot open the image file \"" + file + "\": " + std::strerror(errno);
    return false;
  }
  // Read one byte more than fits, so a longer file is recognised without reading it all.
  std::vector<uint8_t> data(memory_.size() + 1);
  in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (in.bad()) {
    reason = "cannot read the image file \"" + file + "\"";
    return false;
  }
  data.resize(static_cast<size_t>(in.gcount()));
  if (data.size() > memory_.size()) {
    reason = "the image file \"" + file + "\" is larger than the " +
             std::to_string(memory_.size()) + " bytes of the " + name_;
    return false;
  }
  return SetImage(data, reason);
}

void TVirtualChip::ClearViolations() {
  violations_.clear();
  droppedViolations_ = 0;
}

void TVirtualChip::Violation(uint64_t t, std::string what) {
  if (violations_.size() < kViolationLimit)
    violations_.push_back({t, std::move(what)});
  else
    ++droppedViolations_;
}

void TVirtualChip::CheckClock(uint64_t t, bool rising, const TClockLimits& limits) {
  if (rising) {
    if (lastFall_ != UINT64_MAX && t - lastFall_ < limits.lowNs)
      Violation(t, "clock low for " + std::to_string(t - lastFall_) + " ns, less than " +
                       std::to_string(limits.lowNs) + " ns");
    lastRise_ = t;
  } else {
    if (lastRise_ != UINT64_MAX && t - lastRise_ < limits.highNs)
      Violation(t, "clock high for " + std::to_string(t - lastRise_) + " ns, less than " +
                       std::to_string(limits.highNs) + " ns");
    lastFall_ = t;
  }
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

}  // namespace sim
