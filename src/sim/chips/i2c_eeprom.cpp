#include "sim/chips/i2c_eeprom.h"

#include <algorithm>
#include <array>

#include "sim/bench.h"

namespace sim {

namespace {

constexpr uint64_t kMs = 1000000;
// Fast-mode limits at 5 V (400 kHz): the parts of this family all meet them.
constexpr TClockLimits kFastMode{600, 1300};
// The SDA25x6 parts are standard-mode only (100 kHz).
constexpr TClockLimits kStandardMode{4000, 4700};

constexpr std::array<TI2CParams, 15> kI2CParams{{
    {"24C01", 128, 8, 1, 5 * kMs, kFastMode},
    {"24C02", 256, 8, 1, 5 * kMs, kFastMode},
    {"24C04", 512, 16, 1, 5 * kMs, kFastMode},
    {"24C08", 1024, 16, 1, 5 * kMs, kFastMode},
    {"24C16", 2048, 16, 1, 5 * kMs, kFastMode},
    {"24C32", 4096, 32, 2, 5 * kMs, kFastMode},
    {"24C64", 8192, 32, 2, 5 * kMs, kFastMode},
    {"24C128", 16384, 64, 2, 5 * kMs, kFastMode},
    {"24C256", 32768, 64, 2, 5 * kMs, kFastMode},
    {"24C512", 65536, 128, 2, 5 * kMs, kFastMode},
    {"SDA2516", 128, 8, 1, 10 * kMs, kStandardMode},
    {"SDA2526", 256, 8, 1, 10 * kMs, kStandardMode},
    {"SDA2546", 512, 8, 1, 10 * kMs, kStandardMode},
    // Rebadged 24C02 and 24C04.
    {"GRM-003", 256, 8, 1, 5 * kMs, kFastMode},
    {"GRM-005", 512, 16, 1, 5 * kMs, kFastMode},
}};

}  // namespace

std::span<const TI2CParams> I2CParamsTable() { return kI2CParams; }

const TI2CParams* FindI2CParams(std::string_view name) {
  for (const auto& p : kI2CParams)
    if (SameName(p.name, name)) return &p;
  return nullptr;
}

TI2CEeprom::TI2CEeprom(const TI2CParams& params)
    : TVirtualChip(params.name, params.size),
      p_(params),
      page_(params.pageSize),
      latched_(params.pageSize) {
  if (p_.addressBytes == 1)
    for (uint32_t s = p_.size; s > 256; s >>= 1) ++blockBits_;
}

void TI2CEeprom::Attach(TBench& bench) { bench.TieInput(TLine::In2, TLine::Out4); }

void TI2CEeprom::Detach(TBench& bench) { bench.UntieInput(TLine::In2); }

void TI2CEeprom::Reset(uint64_t, uint32_t levels) {
  // Power-up or power-down: the bus logic starts afresh; the array keeps its contents.
  scl_ = (levels & Bit(TLine::Out5)) != 0;
  sdaIn_ = (levels & Bit(TLine::Out4)) != 0;
  pull_ = false;
  bus_ = sdaIn_ && !PullsLow();
  phase_ = TPhase::Idle;
  clocks_ = 0;
  writing_ = false;
  busyUntil_ = 0;
  addr_ = 0;
}

void TI2CEeprom::Pins(uint64_t t, uint32_t levels, uint32_t changed) {
  const bool sclChanged = changed & Bit(TLine::Out5);
  const bool sdaChanged = changed & Bit(TLine::Out4);
  const bool scl = levels & Bit(TLine::Out5);
  const bool sda = levels & Bit(TLine::Out4);
  if (sclChanged && sdaChanged) {
    // Data hold after the falling clock may be zero, but data must be set up before the
    // rising clock. Either way the data is taken as changed while SCL was low.
    if (scl) {
      Violation(t, "SDA changed as SCL rose");
      SdaChanged(t, sda);
      Rise(t);
    } else {
      Fall(t);
      SdaChanged(t, sda);
    }
    return;
  }
  if (sdaChanged) SdaChanged(t, sda);
  if (sclChanged) scl ? Rise(t) : Fall(t);
}

void TI2CEeprom::SdaChanged(uint64_t t, bool level) {
  sdaIn_ = level;
  UpdateBus(t);
}

void TI2CEeprom::UpdateBus(uint64_t t) {
  const bool bus = sdaIn_ && !PullsLow();
  if (bus == bus_) return;
  bus_ = bus;
  // SDA moving while SCL is high is a start (falling) or stop (rising) condition.
  if (scl_) bus ? StopCondition(t) : StartCondition(t);
}

void TI2CEeprom::StartCondition(uint64_t t) {
  if (InsideByte()) Violation(t, "start condition in the middle of a byte");
  // A start before the stop abandons a write that was being loaded.
  writing_ = false;
  std::fill(latched_.begin(), latched_.end(), false);
  phase_ = TPhase::Receive;
  role_ = TRole::Control;
  clocks_ = 0;
  shift_ = 0;
  pull_ = false;
}

void TI2CEeprom::StopCondition(uint64_t t) {
  if (InsideByte()) Violation(t, "stop condition in the middle of a byte");
  if (writing_) {
    for (uint32_t i = 0; i < p_.pageSize; ++i)
      if (latched_[i]) Memory()[pageBase_ + i] = page_[i];
    std::fill(latched_.begin(), latched_.end(), false);
    writing_ = false;
    busyUntil_ = t + p_.writeCycleNs;
  }
  phase_ = TPhase::Idle;
  clocks_ = 0;
  pull_ = false;
}

void TI2CEeprom::Rise(uint64_t t) {
  CheckClock(t, true, p_.clock);
  scl_ = true;
  if (phase_ == TPhase::Idle) return;
  if (clocks_ < 9) ++clocks_;
  if (phase_ == TPhase::Receive && clocks_ <= 8)
    shift_ = static_cast<uint8_t>((shift_ << 1) | (bus_ ? 1 : 0));
  else if (phase_ == TPhase::Transmit && clocks_ == 9)
    masterAck_ = !bus_;
}

void TI2CEeprom::Fall(uint64_t t) {
  CheckClock(t, false, p_.clock);
  scl_ = false;
  if (phase_ == TPhase::Receive) {
    if (clocks_ == 8) {
      ack_ = Accept(t, shift_);
      pull_ = ack_;
    } else if (clocks_ == 9) {
      pull_ = false;
      clocks_ = 0;
      shift_ = 0;
      if (!ack_) {
        phase_ = TPhase::Idle;  // not for us, or busy: wait for the next start
      } else if (readAfterAck_) {
        readAfterAck_ = false;
        phase_ = TPhase::Transmit;
        LoadNextByte();
        DriveBit();
      }
    }
  } else if (phase_ == TPhase::Transmit) {
    if (clocks_ >= 1 && clocks_ <= 7) {
      DriveBit();
    } else if (clocks_ == 8) {
      pull_ = false;  // the master's acknowledge slot
    } else if (clocks_ == 9) {
      clocks_ = 0;
      if (masterAck_) {
        LoadNextByte();
        DriveBit();
      } else {
        pull_ = false;
        phase_ = TPhase::Idle;  // no acknowledge ends the read; a stop follows
      }
    }
  }
  UpdateBus(t);
}

void TI2CEeprom::DriveBit() { pull_ = !((tx_ >> (7 - clocks_)) & 1); }

void TI2CEeprom::LoadNextByte() {
  tx_ = Memory()[addr_];
  addr_ = (addr_ + 1) % p_.size;  // sequential reads roll over the whole array
}

bool TI2CEeprom::Accept(uint64_t t, uint8_t byte) {
  switch (role_) {
    case TRole::Control: {
      if ((byte >> 4) != 0xA) return false;
      const uint32_t select = (byte >> 1) & 7;
      if ((select >> blockBits_) != (static_cast<uint32_t>(pins_) >> blockBits_)) return false;
      if (Busy(t)) return false;  // no acknowledge during the write cycle
      block_ = select & ((1u << blockBits_) - 1);
      if (byte & 1) {
        readAfterAck_ = true;  // current address (or the second half of a random) read
      } else {
        role_ = p_.addressBytes == 2 ? TRole::AddrHi : TRole::AddrLo;
      }
      return true;
    }
    case TRole::AddrHi:
      hi_ = byte;
      role_ = TRole::AddrLo;
      return true;
    case TRole::AddrLo:
      addr_ = (((p_.addressBytes == 2 ? hi_ : block_) << 8) | byte) & (p_.size - 1);
      pageBase_ = addr_ & ~(p_.pageSize - 1);
      std::fill(latched_.begin(), latched_.end(), false);
      role_ = TRole::Data;
      return true;
    case TRole::Data: {
      const uint32_t offset = addr_ - pageBase_;
      page_[offset] = byte;
      latched_[offset] = true;
      writing_ = true;
      // The counter rolls over within the page: further bytes overwrite its start.
      addr_ = pageBase_ + ((offset + 1) & (p_.pageSize - 1));
      return true;
    }
  }
  return false;
}

}  // namespace sim
