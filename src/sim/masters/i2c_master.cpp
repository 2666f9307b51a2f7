#include "sim/masters/i2c_master.h"

#include "sim/bench.h"

namespace sim {

namespace {
// Sample tags: record index * 16 + the bit number (7..0), or + 8 for the acknowledge slot.
int32_t AckTag(size_t record) { return static_cast<int32_t>(record * 16 + 8); }
int32_t BitTag(size_t record, int bit) { return static_cast<int32_t>(record * 16 + bit); }
constexpr int32_t kNoSample = -1;
}  // namespace

TI2CMaster::TI2CMaster(uint64_t bitNs, uint64_t startAt)
    : TScriptedSource(startAt), period_(bitNs < 4 ? 4 : bitNs) {
  SetOpenDrain(TLine::In2, TLine::Out4);
  Initially(TLine::In1, true);
}

void TI2CMaster::OnPlug(TBench& bench, uint64_t t, uint32_t levels) {
  bench_ = &bench;
  bench.TieInput(TLine::In2, TLine::Out4);
  OnLines(t, levels, kOutputLines);
}

void TI2CMaster::OnUnplug() {
  if (bench_) bench_->UntieInput(TLine::In2);
  bench_ = nullptr;
}

TI2CMaster& TI2CMaster::Start() {
  const uint64_t q = period_ / 4;
  Put(0, TKind::Release, TLine::In2);
  Put(q, TKind::High, TLine::In1);
  Put(2 * q, TKind::Low, TLine::In2);  // SDA falls while SCL is high
  Put(3 * q, TKind::Low, TLine::In1);
  Move(period_);
  return *this;
}

TI2CMaster& TI2CMaster::Stop() {
  const uint64_t q = period_ / 4;
  Put(0, TKind::Low, TLine::In2);
  Put(q, TKind::High, TLine::In1);
  Put(2 * q, TKind::Release, TLine::In2);  // SDA rises while SCL is high
  Move(period_);
  return *this;
}

void TI2CMaster::Bit(bool one, int32_t sampleTag) {
  const uint64_t q = period_ / 4;
  Put(0, one ? TKind::Release : TKind::Low, TLine::In2);
  Put(q, TKind::High, TLine::In1);
  if (sampleTag != kNoSample) Put(2 * q, TKind::Sample, TLine::In2, sampleTag);
  Put(3 * q, TKind::Low, TLine::In1);
  Move(period_);
}

TI2CMaster& TI2CMaster::Send(uint8_t byte) {
  records_.push_back({TI2CMasterRecord::TKind::Sent, byte, false});
  for (int i = 7; i >= 0; --i) Bit((byte >> i) & 1, kNoSample);
  Bit(true, AckTag(records_.size() - 1));
  return *this;
}

TI2CMaster& TI2CMaster::SendBits(uint8_t byte, int bits) {
  for (int i = 7; i >= 0 && i > 7 - bits; --i) Bit((byte >> i) & 1, kNoSample);
  return *this;
}

TI2CMaster& TI2CMaster::Receive(bool ack) {
  records_.push_back({TI2CMasterRecord::TKind::Received, 0, ack});
  const size_t r = records_.size() - 1;
  for (int i = 7; i >= 0; --i) Bit(true, BitTag(r, i));
  Bit(!ack, kNoSample);
  return *this;
}

TI2CMaster& TI2CMaster::Idle(uint64_t ns) {
  Move(ns);
  return *this;
}

TI2CMaster& TI2CMaster::ByteWrite(uint8_t control, uint8_t address, uint8_t data) {
  return Start().Send(control).Send(address).Send(data).Stop();
}

TI2CMaster& TI2CMaster::RandomRead(uint8_t control, uint8_t address, int count) {
  Start().Send(control & 0xFE).Send(address);
  return CurrentRead(control, count);
}

TI2CMaster& TI2CMaster::CurrentRead(uint8_t control, int count) {
  Start().Send(control | 1);
  for (int i = 0; i < count; ++i) Receive(i + 1 < count);  // the last byte is not acknowledged
  return Stop();
}

void TI2CMaster::OnSample(uint64_t, int32_t tag, bool level) {
  TI2CMasterRecord& r = records_[static_cast<size_t>(tag / 16)];
  const int bit = tag % 16;
  if (bit == 8)
    r.ack = !level;
  else if (level)
    r.byte = static_cast<uint8_t>(r.byte | (1u << bit));
}

std::vector<uint8_t> TI2CMaster::BytesRead() const {
  std::vector<uint8_t> out;
  for (const auto& r : records_)
    if (r.kind == TI2CMasterRecord::TKind::Received) out.push_back(r.byte);
  return out;
}

}  // namespace sim
