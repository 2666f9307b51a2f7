// A bit-banging helper for the chip tests: drives the adapter's lines through the LPT
// registers of the bench exactly as a program would (data register 0x378: a set bit is a
// low line; status register 0x379; control bit 0: power), with a wait after every change.
#pragma once

#include <cstdint>

#include <string>
#include <vector>

#include "sim/bench.h"
#include "sim/chips/virtual_chip.h"

namespace chips_test {

using sim::TLine;

class TPortPins {
 public:
  explicit TPortPins(sim::TBench& bench, uint64_t waitNs = 5000) : b_(bench), wait_(waitNs) {
    b_.Out(kData, data_);  // every Out line high
  }
  void Power(bool on) {
    b_.Out(kControl, on ? 0x01 : 0x00);
    b_.Advance(1000000);
  }
  void Set(TLine out, bool high) {
    const uint8_t bit = static_cast<uint8_t>(1u << static_cast<unsigned>(out));
    data_ = high ? (data_ & ~bit) : (data_ | bit);
    b_.Out(kData, data_);
    b_.Advance(wait_);
  }
  // Several Out lines in one register write.
  void SetMany(uint8_t highMask, uint8_t lowMask) {
    data_ = static_cast<uint8_t>((data_ & ~highMask) | lowMask);
    b_.Out(kData, data_);
    b_.Advance(wait_);
  }
  bool Get(TLine in) {
    const uint8_t s = b_.In(kStatus);
    switch (in) {
      case TLine::In1:
        return s & 0x80;
      case TLine::In2:
        return !(s & 0x40);
      case TLine::In3:
        return !(s & 0x20);
      case TLine::In4:
        return !(s & 0x10);
      default:
        return false;
    }
  }
  void SetWait(uint64_t ns) { wait_ = ns; }
  sim::TBench& Bench() { return b_; }

 private:
  static constexpr uint16_t kData = 0x378, kStatus = 0x379, kControl = 0x37A;
  sim::TBench& b_;
  uint64_t wait_;
  uint8_t data_ = 0;
};

// I2C on the programming wiring: SCL = Out5, SDA = Out4 driven, In2 read back.
class TI2CPins {
 public:
  explicit TI2CPins(TPortPins& p) : p_(p) {}
  void Start() {
    p_.Set(TLine::Out4, true);
    p_.Set(TLine::Out5, true);
    p_.Set(TLine::Out4, false);
    p_.Set(TLine::Out5, false);
  }
  void Stop() {
    p_.Set(TLine::Out4, false);
    p_.Set(TLine::Out5, true);
    p_.Set(TLine::Out4, true);
  }
  bool Clock(bool sda) {  // one bit; returns SDA while SCL is high
    p_.Set(TLine::Out4, sda);
    p_.Set(TLine::Out5, true);
    const bool seen = p_.Get(TLine::In2);
    p_.Set(TLine::Out5, false);
    return seen;
  }
  bool Send(uint8_t byte) {  // true = acknowledged
    for (int i = 7; i >= 0; --i) Clock((byte >> i) & 1);
    return !Clock(true);
  }
  uint8_t Receive(bool ack) {
    uint8_t v = 0;
    for (int i = 0; i < 8; ++i) v = static_cast<uint8_t>((v << 1) | Clock(true));
    Clock(!ack);
    return v;
  }

 private:
  TPortPins& p_;
};

// Microwire on the programming wiring: CS = Out3, CLK = Out5, DI = Out4, DO = In3,
// ORG = Out2.
class TMicrowirePins {
 public:
  explicit TMicrowirePins(TPortPins& p) : p_(p) {
    p_.Set(TLine::Out3, false);
    p_.Set(TLine::Out5, false);
    p_.Set(TLine::Out4, false);
  }
  void Org16(bool x16) { p_.Set(TLine::Out2, x16); }
  void Select() { p_.Set(TLine::Out3, true); }
  void Deselect() {
    p_.Set(TLine::Out5, false);
    p_.Set(TLine::Out3, false);
  }
  bool Clock(bool di) {  // DI, CLK up, read DO, CLK down
    p_.Set(TLine::Out4, di);
    p_.Set(TLine::Out5, true);
    const bool out = p_.Get(TLine::In3);
    p_.Set(TLine::Out5, false);
    return out;
  }
  uint32_t Field(uint32_t value, int bits) {  // shifts value out, returns what DO said
    uint32_t in = 0;
    for (int i = bits - 1; i >= 0; --i) in = (in << 1) | Clock((value >> i) & 1);
    return in;
  }
  bool Do() { return p_.Get(TLine::In3); }

 private:
  TPortPins& p_;
};

// SPI mode 0 on the programming wiring: /CS = Out3, SCK = Out5, SI = Out4, SO = In3.
class TSpiPins {
 public:
  explicit TSpiPins(TPortPins& p) : p_(p) {
    p_.Set(TLine::Out5, false);
    p_.Set(TLine::Out3, true);
  }
  void Select() { p_.Set(TLine::Out3, false); }
  void Deselect() { p_.Set(TLine::Out3, true); }
  uint8_t Byte(uint8_t out) {
    uint8_t in = 0;
    for (int i = 7; i >= 0; --i) {
      p_.Set(TLine::Out4, (out >> i) & 1);
      p_.Set(TLine::Out5, true);
      in = static_cast<uint8_t>((in << 1) | p_.Get(TLine::In3));
      p_.Set(TLine::Out5, false);
    }
    return in;
  }

 private:
  TPortPins& p_;
};

}  // namespace chips_test

namespace chips_test {

// The violations a chip recorded, one per line, for assertions that show them.
inline std::string Describe(const std::vector<sim::TViolation>& v) {
  std::string s;
  for (const auto& x : v) s += std::to_string(x.t) + " ns: " + x.what + "\n";
  return s;
}

}  // namespace chips_test
