#include "sim/masters/microwire_host.h"

namespace sim {

TMicrowireHost::TMicrowireHost(int addrBits, int width, uint64_t clockNs, uint64_t startAt)
    : TScriptedSource(startAt),
      addrBits_(addrBits),
      width_(width),
      period_(clockNs < 4 ? 4 : clockNs) {
  Initially(TLine::In1, false);
  Initially(TLine::In2, false);
  Initially(TLine::In4, false);
}

void TMicrowireHost::Select() {
  Put(0, TKind::High, TLine::In4);
  Move(period_ / 2);
}

void TMicrowireHost::Deselect() {
  Put(0, TKind::Low, TLine::In1);
  Put(0, TKind::Low, TLine::In2);
  Put(0, TKind::Low, TLine::In4);
  Move(period_);
}

// DI is set, then CLK rises; the memory answers on DO after the rising edge, so DO is
// sampled late in the clock period, just before the next DI change.
void TMicrowireHost::Clock(bool di, int32_t sampleTag) {
  const uint64_t q = period_ / 4;
  Put(0, di ? TKind::High : TKind::Low, TLine::In2);
  Put(q, TKind::High, TLine::In1);
  Put(3 * q, TKind::Low, TLine::In1);
  if (sampleTag) Put(period_ - q / 2, TKind::Sample, TLine::Out2, sampleTag);
  Move(period_);
}

void TMicrowireHost::Field(uint32_t value, int bits, int* budget) {
  for (int i = bits - 1; i >= 0; --i) {
    if (budget && (*budget)-- <= 0) return;
    Clock((value >> i) & 1);
  }
}

void TMicrowireHost::Command(uint32_t opcode, uint32_t address, const uint32_t* data, int budget) {
  int* b = budget >= 0 ? &budget : nullptr;
  Select();
  Field(1, 1, b);
  Field(opcode, 2, b);
  Field(address, addrBits_, b);
  if (data) Field(*data, width_, b);
  Deselect();
}

TMicrowireHost& TMicrowireHost::Read(uint32_t address, int words) {
  Select();
  Clock(true);
  Clock(true);
  Clock(false);
  for (int i = addrBits_ - 1; i >= 0; --i) Clock((address >> i) & 1, i == 0 ? kDummy : 0);
  for (int w = 0; w < words; ++w) {
    words_.push_back(0);
    for (int i = 0; i < width_; ++i) Clock(false, kWordBit);
  }
  Deselect();
  return *this;
}

TMicrowireHost& TMicrowireHost::Write(uint32_t address, uint32_t data) {
  Command(1, address, &data);
  return *this;
}

TMicrowireHost& TMicrowireHost::WriteCut(uint32_t address, uint32_t data, int bits) {
  Command(1, address, &data, bits);
  return *this;
}

TMicrowireHost& TMicrowireHost::Erase(uint32_t address) {
  Command(3, address, nullptr);
  return *this;
}

TMicrowireHost& TMicrowireHost::Ewen() {
  Command(0, 3u << (addrBits_ - 2), nullptr);
  return *this;
}

TMicrowireHost& TMicrowireHost::Ewds() {
  Command(0, 0, nullptr);
  return *this;
}

TMicrowireHost& TMicrowireHost::Eral() {
  Command(0, 2u << (addrBits_ - 2), nullptr);
  return *this;
}

TMicrowireHost& TMicrowireHost::Wral(uint32_t data) {
  Command(0, 1u << (addrBits_ - 2), &data);
  return *this;
}

TMicrowireHost& TMicrowireHost::WaitReady(uint64_t maxNs) {
  ready_.emplace_back();
  readyStart_.push_back(Cursor());
  Put(0, TKind::High, TLine::In4);
  // One look per clock period; the count is bounded by maxNs.
  for (uint64_t t = period_; t <= maxNs; t += period_)
    Put(t, TKind::Sample, TLine::Out2, static_cast<int32_t>(kReady + 4 * (ready_.size() - 1)));
  Move(maxNs);
  Deselect();
  return *this;
}

TMicrowireHost& TMicrowireHost::Idle(uint64_t ns) {
  Move(ns);
  return *this;
}

void TMicrowireHost::OnSample(uint64_t t, int32_t tag, bool level) {
  if (tag == kDummy) {
    dummy_.push_back(level);
  } else if (tag == kWordBit) {
    // Words fill in order, most significant bit first.
    if (wordIndex_ >= words_.size()) return;
    words_[wordIndex_] = (words_[wordIndex_] << 1) | (level ? 1 : 0);
    if (++bitsIn_ == width_) {
      bitsIn_ = 0;
      ++wordIndex_;
    }
  } else if (tag % 4 == kReady) {
    const size_t i = static_cast<size_t>(tag / 4);
    if (level && !ready_[i]) ready_[i] = t - readyStart_[i];
  }
}

}  // namespace sim
