#include "sim/chips/microwire_eeprom.h"

#include <algorithm>
#include <array>
#include <string>

namespace sim {

namespace {

constexpr uint64_t kMs = 1000000;
constexpr TClockLimits kClock{250, 250};  // 2 MHz at 5 V
constexpr uint64_t kCsLow = 250;

constexpr std::array<TMicrowireParams, 8> kMicrowireParams{{
    {"93C46", 128, 7, 6, 10 * kMs, kClock, kCsLow},
    {"93C56", 256, 9, 8, 10 * kMs, kClock, kCsLow},  // top address bit is don't-care
    {"93C57", 256, 8, 7, 10 * kMs, kClock, kCsLow},
    {"93C66", 512, 9, 8, 10 * kMs, kClock, kCsLow},
    {"93C76", 1024, 11, 10, 10 * kMs, kClock, kCsLow},  // top address bit is don't-care
    {"93C86", 2048, 11, 10, 10 * kMs, kClock, kCsLow},
    // 16 x 16 bits with a six-bit address field, no ORG pin.
    {"7002MN010", 32, 0, 6, 10 * kMs, kClock, kCsLow},
    // 64 x 16 bits, a 93C46 fixed in its 16-bit organisation.
    {"GRN-001", 128, 0, 6, 10 * kMs, kClock, kCsLow},
}};

}  // namespace

std::span<const TMicrowireParams> MicrowireParamsTable() { return kMicrowireParams; }

const TMicrowireParams* FindMicrowireParams(std::string_view name) {
  constexpr std::string_view kX16 = " x16";
  if (name.size() > kX16.size() && SameName(name.substr(name.size() - kX16.size()), kX16)) {
    const TMicrowireParams* p = FindMicrowireParams(name.substr(0, name.size() - kX16.size()));
    return p && p->addrBits8 ? p : nullptr;  // only the parts with an ORG pin have x16 rows
  }
  for (const auto& p : kMicrowireParams)
    if (SameName(p.name, name)) return &p;
  return nullptr;
}

TMicrowireEeprom::TMicrowireEeprom(const TMicrowireParams& params)
    : TVirtualChip(params.name, params.size), p_(params) {}

void TMicrowireEeprom::Reset(uint64_t, uint32_t levels) {
  // Power-up state: write disabled, no cycle, DO released; the array keeps its contents.
  cs_ = (levels & Bit(TLine::Out3)) != 0;
  clk_ = (levels & Bit(TLine::Out5)) != 0;
  orgPin_ = (levels & Bit(TLine::Out2)) != 0;
  phase_ = cs_ ? TPhase::WaitStart : TPhase::Deselected;
  enabled_ = false;
  pending_ = TOp::None;
  statusArmed_ = false;
  busyUntil_ = 0;
  csFall_ = UINT64_MAX;
  do_.reset();
  outLeft_ = 0;
}

uint16_t TMicrowireEeprom::Cell(uint32_t i) const {
  const auto& m = Memory();
  if (!org16_) return m[i];
  return static_cast<uint16_t>((m[2 * i] << 8) | m[2 * i + 1]);
}

void TMicrowireEeprom::SetCell(uint32_t i, uint16_t v) {
  auto& m = Memory();
  if (!org16_) {
    m[i] = static_cast<uint8_t>(v);
  } else {
    m[2 * i] = static_cast<uint8_t>(v >> 8);
    m[2 * i + 1] = static_cast<uint8_t>(v);
  }
}

std::optional<bool> TMicrowireEeprom::Output(uint64_t t) {
  if (!cs_) return std::nullopt;
  if (phase_ == TPhase::ReadOut) return do_;
  // After a programming instruction DO tells busy (low) or ready (high) until a start
  // bit arrives.
  if (statusArmed_ && (phase_ == TPhase::WaitStart || phase_ == TPhase::Ignore))
    return t >= busyUntil_;
  return std::nullopt;
}

void TMicrowireEeprom::Pins(uint64_t t, uint32_t levels, uint32_t changed) {
  const bool cs = levels & Bit(TLine::Out3);
  const bool clk = levels & Bit(TLine::Out5);
  const bool di = levels & Bit(TLine::Out4);
  if (changed & Bit(TLine::Out2)) {
    orgPin_ = (levels & Bit(TLine::Out2)) != 0;
    if (p_.addrBits8 && cs_ && phase_ != TPhase::WaitStart && phase_ != TPhase::Ignore)
      Violation(t, "ORG changed during an instruction");
  }
  // A rising clock needs CS set up before it (and held after it).
  if ((changed & Bit(TLine::Out3)) && (changed & Bit(TLine::Out5)) && clk)
    Violation(t, "CLK rose as CS changed");
  // CS is taken first when it rises (the clock then counts) and last when it falls.
  if ((changed & Bit(TLine::Out3)) && cs) Select(t);
  if (changed & Bit(TLine::Out5)) {
    clk_ = clk;
    if (cs_) {
      CheckClock(t, clk, p_.clock);
      if (clk) Rise(t, di);
    }
  }
  if ((changed & Bit(TLine::Out3)) && !cs) Deselect(t);
}

void TMicrowireEeprom::Select(uint64_t t) {
  cs_ = true;
  if (csFall_ != UINT64_MAX && t - csFall_ < p_.csLowNs)
    Violation(t, "CS low for " + std::to_string(t - csFall_) + " ns, less than " +
                     std::to_string(p_.csLowNs) + " ns");
  ForgetClock();
  phase_ = TPhase::WaitStart;
  do_.reset();
}

void TMicrowireEeprom::Deselect(uint64_t t) {
  cs_ = false;
  csFall_ = t;
  if (phase_ == TPhase::Done && pending_ != TOp::None) {
    // The falling CS after a complete programming instruction starts the self-timed
    // cycle; the array holds the result from here on (it cannot be read before the end).
    const uint32_t cells = Cells();
    switch (pending_) {
      case TOp::Write:
        SetCell(pendingAddr_, static_cast<uint16_t>(data_));
        break;
      case TOp::Erase:
        SetCell(pendingAddr_, 0xFFFF);
        break;
      case TOp::EraseAll:
        std::fill(Memory().begin(), Memory().end(), 0xFF);
        break;
      case TOp::WriteAll:
        for (uint32_t i = 0; i < cells; ++i) SetCell(i, static_cast<uint16_t>(data_));
        break;
      case TOp::None:
        break;
    }
    busyUntil_ = t + p_.writeCycleNs;
    statusArmed_ = true;
  }
  // CS low in the middle of an instruction abandons it.
  pending_ = TOp::None;
  phase_ = TPhase::Deselected;
  do_.reset();
}

void TMicrowireEeprom::Rise(uint64_t t, bool di) {
  switch (phase_) {
    case TPhase::WaitStart:
      if (!di) return;  // leading zeros before the start bit are ignored
      if (Busy(t)) {
        Violation(t, "instruction during the write cycle");
        phase_ = TPhase::Ignore;
        return;
      }
      statusArmed_ = false;
      org16_ = !p_.addrBits8 || orgPin_;  // the organisation is taken at the start bit
      phase_ = TPhase::Opcode;
      count_ = 0;
      opcode_ = field_ = data_ = 0;
      return;
    case TPhase::Opcode:
      opcode_ = (opcode_ << 1) | di;
      if (++count_ == 2) {
        phase_ = TPhase::Address;
        count_ = 0;
      }
      return;
    case TPhase::Address:
      field_ = (field_ << 1) | di;
      if (++count_ == AddrBits()) AddressComplete(t);
      return;
    case TPhase::Data:
      data_ = (data_ << 1) | di;
      if (++count_ == Width()) {
        if (enabled_) pending_ = opcode_ == 1 ? TOp::Write : TOp::WriteAll;
        phase_ = TPhase::Done;
      }
      return;
    case TPhase::ReadOut:
      // Sequential read: the next cell follows without another dummy bit.
      if (outLeft_ == 0) {
        readAddr_ = (readAddr_ + 1) % Cells();
        outWord_ = Cell(readAddr_);
        outLeft_ = Width();
      }
      do_ = (outWord_ >> --outLeft_) & 1;
      return;
    case TPhase::Done:
      if (pending_ != TOp::None) Violation(t, "clock after a complete instruction before CS fell");
      return;
    case TPhase::Deselected:
    case TPhase::Ignore:
      return;
  }
}

void TMicrowireEeprom::AddressComplete(uint64_t) {
  const uint32_t cell = field_ & (Cells() - 1);
  count_ = 0;
  phase_ = TPhase::Done;
  switch (opcode_) {
    case 2:  // READ: a dummy zero, then the cell, most significant bit first
      readAddr_ = cell;
      outWord_ = Cell(cell);
      outLeft_ = Width();
      do_ = false;
      phase_ = TPhase::ReadOut;
      return;
    case 1:  // WRITE
      pendingAddr_ = cell;
      phase_ = TPhase::Data;
      return;
    case 3:  // ERASE
      pendingAddr_ = cell;
      if (enabled_) pending_ = TOp::Erase;
      return;
    default:
      break;
  }
  switch (field_ >> (AddrBits() - 2)) {
    case 3:
      enabled_ = true;  // EWEN
      return;
    case 0:
      enabled_ = false;  // EWDS
      return;
    case 2:
      if (enabled_) pending_ = TOp::EraseAll;  // ERAL
      return;
    case 1:
      phase_ = TPhase::Data;  // WRAL
      return;
    default:
      return;
  }
}

}  // namespace sim
