#include "sim/chips/spi_eeprom.h"

#include <algorithm>
#include <array>
#include <string>

namespace sim {

namespace {

constexpr uint64_t kMs = 1000000;
constexpr TClockLimits kClock{150, 150};  // 3 MHz at 5 V
constexpr uint64_t kCsHigh = 500;

constexpr std::array<TSpiParams, 9> kSpiParams{{
    {"25C010", 128, 16, 1, 5 * kMs, kClock, kCsHigh},
    {"25C020", 256, 16, 1, 5 * kMs, kClock, kCsHigh},
    {"25C040", 512, 16, 1, 5 * kMs, kClock, kCsHigh},
    {"25C080", 1024, 16, 2, 5 * kMs, kClock, kCsHigh},
    {"25C160", 2048, 16, 2, 5 * kMs, kClock, kCsHigh},
    {"25C320", 4096, 32, 2, 5 * kMs, kClock, kCsHigh},
    {"25C640", 8192, 32, 2, 5 * kMs, kClock, kCsHigh},
    {"25C128", 16384, 64, 2, 5 * kMs, kClock, kCsHigh},
    {"25C256", 32768, 64, 2, 5 * kMs, kClock, kCsHigh},
}};

// The status bits WRSR can change: BP1 and BP0, and WPEN on the larger parts.
uint8_t WritableStatus(const TSpiParams& p) {
  return static_cast<uint8_t>(TSpiEeprom::kBp0 | TSpiEeprom::kBp1 |
                              (p.addressBytes == 2 ? 0x80 : 0));
}

}  // namespace

std::span<const TSpiParams> SpiParamsTable() { return kSpiParams; }

const TSpiParams* FindSpiParams(std::string_view name) {
  for (const auto& p : kSpiParams)
    if (SameName(p.name, name)) return &p;
  return nullptr;
}

TSpiEeprom::TSpiEeprom(const TSpiParams& params)
    : TVirtualChip(params.name, params.size),
      p_(params),
      page_(params.pageSize),
      latched_(params.pageSize) {}

uint8_t TSpiEeprom::Status(uint64_t t) const {
  return static_cast<uint8_t>(status_ | (wel_ ? kWel : 0) | (Busy(t) ? kWip : 0));
}

bool TSpiEeprom::Protected(uint32_t address) const {
  switch ((status_ >> 2) & 3) {
    case 1:
      return address >= p_.size / 4 * 3;  // upper quarter
    case 2:
      return address >= p_.size / 2;  // upper half
    case 3:
      return true;
    default:
      return false;
  }
}

void TSpiEeprom::Reset(uint64_t, uint32_t levels) {
  // Power-up: write enable latch reset, nothing selected until /CS falls again; the
  // array and the non-volatile status bits keep their contents.
  selected_ = false;
  phase_ = TPhase::Deselected;
  (void)levels;
  wel_ = false;
  busyUntil_ = 0;
  csRise_ = UINT64_MAX;
  so_.reset();
}

void TSpiEeprom::Pins(uint64_t t, uint32_t levels, uint32_t changed) {
  const bool cs = levels & Bit(TLine::Out3);
  const bool sck = levels & Bit(TLine::Out5);
  const bool si = levels & Bit(TLine::Out4);
  // A rising clock needs /CS set up before it (and held after it).
  if ((changed & Bit(TLine::Out3)) && (changed & Bit(TLine::Out5)) && sck)
    Violation(t, "SCK rose as /CS changed");
  if ((changed & Bit(TLine::Out3)) && !cs) Select(t);
  if ((changed & Bit(TLine::Out5)) && selected_) {
    CheckClock(t, sck, p_.clock);
    sck ? Rise(t, si) : Fall(t);
  }
  if ((changed & Bit(TLine::Out3)) && cs) Deselect(t);
}

void TSpiEeprom::Select(uint64_t t) {
  if (csRise_ != UINT64_MAX && t - csRise_ < p_.csHighNs)
    Violation(t, "/CS high for " + std::to_string(t - csRise_) + " ns, less than " +
                     std::to_string(p_.csHighNs) + " ns");
  selected_ = true;
  ForgetClock();
  phase_ = TPhase::Instruction;
  count_ = 0;
  shift_ = 0;
  loaded_ = false;
  outLeft_ = 0;
}

void TSpiEeprom::Deselect(uint64_t t) {
  selected_ = false;
  csRise_ = t;
  so_.reset();
  const bool programming = phase_ == TPhase::WriteData || phase_ == TPhase::StatusIn;
  if (programming && count_ != 0) {
    // /CS must rise right after a whole byte; anywhere else the write is abandoned.
    Violation(t, "/CS rose in the middle of a byte");
  } else if (phase_ == TPhase::WriteData && loaded_) {
    for (uint32_t i = 0; i < p_.pageSize; ++i)
      if (latched_[i]) Memory()[pageBase_ + i] = page_[i];
    wel_ = false;
    busyUntil_ = t + p_.writeCycleNs;
  } else if (phase_ == TPhase::StatusIn && loaded_) {
    const uint8_t mask = WritableStatus(p_);
    status_ = static_cast<uint8_t>((status_ & ~mask) | (newStatus_ & mask));
    wel_ = false;
    busyUntil_ = t + p_.writeCycleNs;
  }
  phase_ = TPhase::Deselected;
}

void TSpiEeprom::Rise(uint64_t t, bool si) {
  switch (phase_) {
    case TPhase::Instruction:
    case TPhase::AddrHi:
    case TPhase::AddrLo:
    case TPhase::WriteData:
    case TPhase::StatusIn:
      shift_ = static_cast<uint8_t>((shift_ << 1) | (si ? 1 : 0));
      if (++count_ == 8) {
        count_ = 0;
        ByteIn(t, shift_);
      }
      return;
    default:
      return;
  }
}

void TSpiEeprom::Fall(uint64_t t) {
  if (phase_ != TPhase::ReadData && phase_ != TPhase::StatusOut) return;
  if (outLeft_ == 0) {
    if (phase_ == TPhase::ReadData) {
      out_ = Memory()[addr_];
      addr_ = (addr_ + 1) % p_.size;  // sequential reads roll over the whole array
    } else {
      out_ = Status(t);  // repeated while the clock runs, so WIP can be watched
    }
    outLeft_ = 8;
  }
  so_ = (out_ >> --outLeft_) & 1;
}

void TSpiEeprom::ByteIn(uint64_t t, uint8_t byte) {
  switch (phase_) {
    case TPhase::Instruction: {
      instruction_ = byte;
      if (Busy(t) && byte != kRdsr) {
        Violation(t, "instruction during the write cycle");
        phase_ = TPhase::Ignore;
        return;
      }
      // The small parts carry address bit 8 in bit 3 of READ and WRITE.
      const uint8_t op = p_.addressBytes == 1 ? (byte & ~0x08) : byte;
      phase_ = TPhase::Ignore;
      if (byte == kWren) {
        wel_ = true;
      } else if (byte == kWrdi) {
        wel_ = false;
      } else if (byte == kRdsr) {
        phase_ = TPhase::StatusOut;
      } else if (byte == kWrsr) {
        if (wel_) phase_ = TPhase::StatusIn;
      } else if (op == kRead || op == kWrite) {
        if (op == kRead || wel_) phase_ = p_.addressBytes == 2 ? TPhase::AddrHi : TPhase::AddrLo;
      }
      return;
    }
    case TPhase::AddrHi:
      hi_ = byte;
      phase_ = TPhase::AddrLo;
      return;
    case TPhase::AddrLo: {
      const uint32_t high = p_.addressBytes == 2 ? hi_ : ((instruction_ >> 3) & 1);
      addr_ = ((high << 8) | byte) & (p_.size - 1);
      const uint8_t op = p_.addressBytes == 1 ? (instruction_ & ~0x08) : instruction_;
      if (op == kRead) {
        phase_ = TPhase::ReadData;
        outLeft_ = 0;
      } else if (Protected(addr_)) {
        phase_ = TPhase::Ignore;  // a protected block is not written
      } else {
        phase_ = TPhase::WriteData;
        pageBase_ = addr_ & ~(p_.pageSize - 1);
        std::fill(latched_.begin(), latched_.end(), false);
      }
      return;
    }
    case TPhase::WriteData: {
      const uint32_t offset = addr_ - pageBase_;
      page_[offset] = byte;
      latched_[offset] = true;
      loaded_ = true;
      addr_ = pageBase_ + ((offset + 1) & (p_.pageSize - 1));  // roll over within the page
      return;
    }
    case TPhase::StatusIn:
      newStatus_ = byte;
      loaded_ = true;
      phase_ = TPhase::StatusIn;
      return;
    default:
      return;
  }
}

}  // namespace sim
