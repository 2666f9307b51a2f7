#include "sim/bench.h"

#include <cmath>

namespace sim {

namespace {

constexpr uint64_t kSecond = 1000000000ull;
constexpr size_t kAccessFaultLimit = 65536;  // keeps a runaway loop from eating memory

struct TComName {
  const char* name;
  uint16_t base;
};
constexpr TComName kComNames[] = {
    {"COM1", 0x3F8}, {"COM2", 0x2F8}, {"COM3", 0x3E8}, {"COM4", 0x2E8}};

uint8_t Bcd(unsigned v) { return static_cast<uint8_t>(((v / 10) << 4) | (v % 10)); }

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t z, int& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

// The clock starts at 2026-01-01 00:00:00 when the bench is made.
constexpr int64_t kEpochSeconds = 1767225600;

}  // namespace

TBench::TBench(const TBenchConfig& config)
    : cost_(config.accessCostNs),
      rtcPhase_(config.rtcPhaseNs % kSecond),
      adapterLpt_(config.adapterLpt),
      adapterCom_(config.adapterCom) {
  for (const char* n : {"LPT1", "LPT2", "LPT3", "COM1", "COM2", "COM3", "COM4"})
    portFiles_[n] = TPortFile::Present;
  cmosRam_[0x0B] = 0x02;  // 24-hour clock, BCD
  cmosRam_[0x0D] = 0x80;  // battery good
  if (config.startDenied) permission_.emplace().fill(0xFF);
  AttachAdapter(adapterLpt_, adapterCom_);
  outputs_ = targetView_ = ComputeOutputs();
  inputs_ = EvaluateInputs(0);
  probe_.Clear(0, outputs_ | inputs_);
}

TBench::~TBench() {
  if (socket_) socket_->OnUnplug();
}

TBench::TLpt* TBench::LptAt(uint16_t base) {
  for (auto& l : lpt_)
    if (l.base == base) return &l;
  return nullptr;
}

int TBench::UartIndex(uint16_t port) const {
  for (int i = 0; i < 4; ++i)
    if (port >= kUartBase[i] && port < kUartBase[i] + 8) return i;
  return -1;
}

TUart& TBench::Uart(uint16_t base) {
  const int i = UartIndex(base);
  return uart_[i < 0 ? 0 : i];
}

void TBench::AttachAdapter(uint16_t lptBase, uint16_t comBase) {
  const int old = UartIndex(adapterCom_);
  if (old >= 0) uart_[old].OnTransmit = nullptr;
  adapterLpt_ = lptBase;
  adapterCom_ = comBase;
  adapter_ = LptAt(lptBase);
  const int ui = UartIndex(comBase);
  if (ui >= 0)
    uart_[ui].OnTransmit = [this](uint64_t t, uint8_t b) {
      if (socket_) socket_->OnSerialByte(t, b);
    };
  OutputsChanged(now_);
}

uint32_t TBench::ComputeOutputs() const {
  uint32_t o = 0;
  if (adapter_) {
    o = static_cast<uint8_t>(~adapter_->data);  // Out1..Out8 high when their bit is 0
    if (adapter_->control & 0x01) o |= Bit(TLine::Power);
  }
  const int ui = UartIndex(adapterCom_);
  if (ui >= 0) {
    const TUart& u = uart_[ui];
    if (!(u.Mcr() & 0x02)) o |= Bit(TLine::RTS);
    if (u.Mcr() & 0x01) o |= Bit(TLine::DTR);
    if (!(u.Lcr() & 0x40)) o |= Bit(TLine::TXD);
  }
  return o;
}

// ---------------------------------------------------------------------------------------
// Register access

uint8_t TBench::In(uint16_t port) {
  const uint64_t t = now_;
  now_ += cost_;
  ++accesses_;
  if (faults_.Glitches().size() != glitchesScheduled_) ScheduleOutputGlitches();
  if (!pending_.empty()) DeliverDue(t);
  if (Denied(port)) {
    if (accessFaults_.size() < kAccessFaultLimit) accessFaults_.push_back({t, port, false});
    return 0xFF;
  }
  return Read(port, t);
}

void TBench::Out(uint16_t port, uint8_t value) {
  const uint64_t t = now_;
  now_ += cost_;
  ++accesses_;
  if (faults_.Glitches().size() != glitchesScheduled_) ScheduleOutputGlitches();
  if (!pending_.empty()) DeliverDue(t);
  if (Denied(port)) {
    if (accessFaults_.size() < kAccessFaultLimit) accessFaults_.push_back({t, port, true});
    return;
  }
  Write(port, value, t);
}

void TBench::OutWord(uint16_t port, uint16_t value) {
  const uint64_t t = now_;
  now_ += cost_;
  ++accesses_;
  if (!pending_.empty()) DeliverDue(t);
  for (uint16_t k = 0; k < 2; ++k) {
    const uint16_t p = static_cast<uint16_t>(port + k);
    if (Denied(p)) {
      if (accessFaults_.size() < kAccessFaultLimit) accessFaults_.push_back({t, p, true});
      continue;
    }
    Write(p, static_cast<uint8_t>(value >> (8 * k)), t);
  }
}

void TBench::KernelOut(uint16_t port, uint8_t value) {
  const uint64_t t = now_;
  now_ += cost_;
  ++accesses_;
  Write(port, value, t);
}

void TBench::DelayLoop(uint32_t cycles) {
  const uint64_t t = now_;
  accesses_ += 2ull * cycles;
  now_ += 2ull * cycles * cost_;
  if (Denied(0x70) || Denied(0x71)) {
    if (accessFaults_.size() < kAccessFaultLimit)
      accessFaults_.push_back({t, static_cast<uint16_t>(Denied(0x70) ? 0x70 : 0x71), true});
  } else {
    cmosIndex_ = 0;
  }
  if (faults_.Glitches().size() != glitchesScheduled_) ScheduleOutputGlitches();
  if (!pending_.empty()) DeliverDue(now_);
}

void TBench::Advance(uint64_t ns) {
  now_ += ns;
  if (faults_.Glitches().size() != glitchesScheduled_) ScheduleOutputGlitches();
  if (!pending_.empty()) DeliverDue(now_);
  for (auto& u : uart_) u.Sync(now_);
}

uint8_t TBench::Read(uint16_t port, uint64_t t) {
  if (adapter_ && port >= adapterLpt_ && port <= adapterLpt_ + 2) {
    switch (port - adapterLpt_) {
      case 0:
        return adapter_->data;
      case 1:
        return StatusByte(t);
      default:
        return static_cast<uint8_t>((adapter_->control & 0x3F) | 0xC0);
    }
  }
  for (auto& l : lpt_) {
    if (port < l.base || port > l.base + 2) continue;
    switch (port - l.base) {
      case 0:
        return l.data;
      case 1:
        return 0x7F;  // nothing attached: the status pins float high
      default:
        return static_cast<uint8_t>((l.control & 0x3F) | 0xC0);
    }
  }
  const int ui = UartIndex(port);
  if (ui >= 0) {
    const unsigned reg = port - kUartBase[ui];
    if (reg == 6 && kUartBase[ui] == adapterCom_) {
      // CTS is the adapter's input: the line high reads as bit 4 clear.
      const uint32_t in = EvaluateInputs(t);
      uart_[ui].SetModemInputs((in & Bit(TLine::CTS)) ? 0x00 : 0x10, t);
    }
    return uart_[ui].Read(reg, t);
  }
  if (port == 0x71) return CmosRead(t);
  if (port == 0x70) return 0xFF;  // the index register is write-only
  return 0xFF;
}

void TBench::Write(uint16_t port, uint8_t value, uint64_t t) {
  for (auto& l : lpt_) {
    if (port < l.base || port > l.base + 2) continue;
    const unsigned reg = port - l.base;
    if (reg == 0) l.data = value;
    if (reg == 2) l.control = value;
    if (&l == adapter_ && reg != 1) OutputsChanged(t);
    return;
  }
  const int ui = UartIndex(port);
  if (ui >= 0) {
    const unsigned reg = port - kUartBase[ui];
    uart_[ui].Write(reg, value, t);
    if (kUartBase[ui] == adapterCom_ && (reg == 3 || reg == 4)) OutputsChanged(t);
    return;
  }
  if (port == 0x70) {
    cmosIndex_ = static_cast<uint8_t>(value & 0x7F);
  } else if (port == 0x71) {
    if (cmosIndex_ >= 0x0E || cmosIndex_ == 0x0A || cmosIndex_ == 0x0B)
      cmosRam_[cmosIndex_] = value;
  }
}

uint8_t TBench::CmosRead(uint64_t t) {
  const uint64_t clock = t + kSecond - (rtcPhase_ ? rtcPhase_ : kSecond);
  const uint64_t second = clock / kSecond;
  switch (cmosIndex_) {
    case 0x0C: {
      uint8_t flags = 0;
      if (rtcTicking_ && second > lastCRead_) {
        flags = 0x10;                              // update ended
        if (cmosRam_[0x0B] & 0x10) flags |= 0x80;  // interrupt request
      }
      lastCRead_ = second;
      return flags;
    }
    case 0x0A: {
      const bool uip = rtcTicking_ && clock % kSecond >= kSecond - 244000;
      return static_cast<uint8_t>((cmosRam_[0x0A] & 0x7F) | (uip ? 0x80 : 0) | 0x20);
    }
    case 0x0B:
      return cmosRam_[0x0B];
    case 0x0D:
      return 0x80;
    default:
      break;
  }
  if (cmosIndex_ <= 0x09 || cmosIndex_ == 0x32) {
    const int64_t secs = kEpochSeconds + static_cast<int64_t>(rtcTicking_ ? second : 0);
    const int64_t days = secs / 86400;
    const unsigned sod = static_cast<unsigned>(secs % 86400);
    int y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    switch (cmosIndex_) {
      case 0x00:
        return Bcd(sod % 60);
      case 0x02:
        return Bcd(sod / 60 % 60);
      case 0x04:
        return Bcd(sod / 3600);
      case 0x06:
        return Bcd(static_cast<unsigned>((days + 4) % 7) + 1);
      case 0x07:
        return Bcd(d);
      case 0x08:
        return Bcd(m);
      case 0x09:
        return Bcd(static_cast<unsigned>(y % 100));
      case 0x32:
        return Bcd(static_cast<unsigned>(y / 100));
      default:
        return 0;  // alarm registers
    }
  }
  return cmosRam_[cmosIndex_];
}

// ---------------------------------------------------------------------------------------
// Lines

uint8_t TBench::StatusByte(uint64_t t) {
  ++statusReads_;
  const uint32_t in = EvaluateInputs(t);
  uint8_t s = 0x07;
  if (in & Bit(TLine::In1)) s |= 0x80;
  if (!(in & Bit(TLine::In2))) s |= 0x40;
  if (!(in & Bit(TLine::In3))) s |= 0x20;
  if (!(in & Bit(TLine::In4))) s |= 0x10;
  if (in & Bit(TLine::StopBtn)) s |= 0x08;
  return s;
}

uint32_t TBench::EvaluateInputs(uint64_t t) {
  TDrive d;
  for (TVirtualDevice* dev : drivers_) {
    const TDrive x = dev->Drive(t);
    d.low |= x.low;
    d.high |= x.high;
  }
  uint32_t lv = 0;
  for (TLine l : {TLine::In1, TLine::In2, TLine::In3, TLine::In4, TLine::CTS}) {
    const uint32_t b = Bit(l);
    const int tie = tie_[static_cast<unsigned>(l)];
    bool high;
    if (tie)
      high = (outputs_ & (1u << (tie - 1))) && !(d.low & b);
    else if (d.low & b)
      high = false;
    else if (d.high & b)
      high = true;
    else
      high = floatHigh_ & b;
    if (high) lv |= b;
  }
  if (t >= stopAt_ || statusReads_ > stopAfterReads_) lv |= Bit(TLine::StopBtn);
  if (!faults_.Empty()) lv = faults_.ApplyToInputs(t, lv);
  const uint32_t changed = lv ^ inputs_;
  if (changed && probe_.Enabled())
    for (unsigned i = static_cast<unsigned>(TLine::In1); i < kLineCount; ++i)
      if (changed & (1u << i)) probe_.Record(t, static_cast<TLine>(i), (lv >> i) & 1);
  inputs_ = lv;
  return lv;
}

void TBench::OutputsChanged(uint64_t t) {
  const uint32_t now = ComputeOutputs();
  const uint32_t changed = now ^ outputs_;
  if (!changed) return;
  if (probe_.Enabled())
    for (unsigned i = 0; i < static_cast<unsigned>(TLine::In1); ++i)
      if (changed & (1u << i)) probe_.Record(t, static_cast<TLine>(i), (now >> i) & 1);
  outputs_ = now;
  uint32_t view = (targetView_ & ~changed) | (now & changed);
  if (!faults_.Empty()) {
    for (unsigned i = 0; i < static_cast<unsigned>(TLine::In1); ++i) {
      const uint32_t b = 1u << i;
      if (!(changed & b)) continue;
      const TLine line = static_cast<TLine>(i);
      bool level;
      if (faults_.Stuck(line, t, level)) {
        view = level ? (view | b) : (view & ~b);
        continue;
      }
      if (const uint64_t delay = faults_.DrawDelay(line)) {
        view = (view & ~b) | (targetView_ & b);
        pending_.push({t + delay, line, (now & b) ? 1 : 0});
      }
    }
  }
  ApplyToTarget(t, view);
  // Let the probe see how the target answered the edge.
  if (probe_.Enabled() && !drivers_.empty()) EvaluateInputs(t);
}

void TBench::ApplyToTarget(uint64_t t, uint32_t view) {
  const uint32_t changed = view ^ targetView_;
  if (!changed) return;
  targetView_ = view;
  const uint32_t levels = view | (inputs_ & ~kOutputLines);
  for (TVirtualDevice* dev : drivers_) dev->OnLines(t, levels, changed);
}

void TBench::ScheduleOutputGlitches() {
  const auto& g = faults_.Glitches();
  for (; glitchesScheduled_ < g.size(); ++glitchesScheduled_) {
    const auto& x = g[glitchesScheduled_];
    if (!(Bit(x.line) & kOutputLines)) continue;  // input glitches are applied on reading
    pending_.push({x.start, x.line, -1});
    pending_.push({x.end, x.line, -1});
  }
}

void TBench::DeliverDue(uint64_t t) {
  while (!pending_.empty() && pending_.top().t <= t) {
    const TPending p = pending_.top();
    pending_.pop();
    const uint32_t b = Bit(p.line);
    uint32_t view = targetView_;
    if (p.level < 0)
      view ^= b;
    else
      view = p.level ? (view | b) : (view & ~b);
    ApplyToTarget(p.t, view);
  }
}

uint32_t TBench::Levels() { return targetView_ | EvaluateInputs(now_); }

void TBench::ResetProbe() { probe_.Clear(now_, Levels()); }

void TBench::Plug(std::shared_ptr<TVirtualDevice> device) {
  Unplug();
  if (!device) return;
  socket_ = std::move(device);
  drivers_.insert(drivers_.begin(), socket_.get());
  socket_->OnPlug(*this, now_, Levels());
}

void TBench::Unplug() {
  if (!socket_) return;
  socket_->OnUnplug();
  drivers_.erase(drivers_.begin());
  socket_.reset();
}

void TBench::AddSource(std::shared_ptr<TVirtualDevice> source) {
  drivers_.push_back(source.get());
  sources_.push_back(std::move(source));
  sources_.back()->OnPlug(*this, now_, Levels());
}

void TBench::ClearSources() {
  for (auto& s : sources_) s->OnUnplug();
  sources_.clear();
  drivers_.clear();
  if (socket_) drivers_.push_back(socket_.get());
}

void TBench::TieInput(TLine input, TLine output) {
  tie_[static_cast<unsigned>(input)] = static_cast<int8_t>(static_cast<unsigned>(output) + 1);
}

void TBench::UntieInput(TLine input) { tie_[static_cast<unsigned>(input)] = 0; }

void TBench::SetFloatLevel(TLine input, bool high) {
  floatHigh_ = high ? (floatHigh_ | Bit(input)) : (floatHigh_ & ~Bit(input));
}

void TBench::SerialToPc(uint8_t byte, uint64_t t) {
  const int ui = UartIndex(adapterCom_);
  if (ui >= 0) uart_[ui].PeerSend(t ? t : now_, byte);
}

void TBench::PressStopAt(uint64_t t) { stopAt_ = t; }
void TBench::PressStopAfterStatusReads(uint64_t reads) { stopAfterReads_ = statusReads_ + reads; }
void TBench::ReleaseStop() {
  stopAt_ = UINT64_MAX;
  stopAfterReads_ = UINT64_MAX;
}

// ---------------------------------------------------------------------------------------
// Device files

void TBench::SetPortFile(const std::string& name, TPortFile state) { portFiles_[name] = state; }

bool TBench::IsOpen(const std::string& name) const {
  for (const auto& [h, n] : openFiles_)
    if (n == name) return true;
  return false;
}

int32_t TBench::OpenPortFile(const std::string& name, std::string* reason) {
  const auto it = portFiles_.find(name);
  const TPortFile state = it == portFiles_.end() ? TPortFile::Absent : it->second;
  if (state == TPortFile::Absent) {
    if (reason) *reason = name + ": no such port on this bench";
    return -1;
  }
  if (state == TPortFile::Busy) {
    if (reason) *reason = name + ": held by another program";
    return -1;
  }
  if (IsOpen(name)) {
    if (reason) *reason = name + ": already open (held by this program)";
    return -1;
  }
  const int32_t h = nextHandle_++;
  openFiles_[h] = name;
  return h;
}

void TBench::ClosePortFile(int32_t handle) { openFiles_.erase(handle); }

bool TBench::GetCommState(int32_t handle, hw::TCommState& state) {
  const auto it = openFiles_.find(handle);
  if (it == openFiles_.end()) return false;
  for (const auto& c : kComNames) {
    if (it->second != c.name) continue;
    const TSerialFormat f = Uart(c.base).Format();
    state.BaudRate = static_cast<uint32_t>(std::lround(f.Baud()));
    state.ByteSize = f.dataBits;
    state.Parity = f.parity;
    state.StopBits = f.stopBits;
    return true;
  }
  return false;  // not a serial port
}

bool TBench::SetCommState(int32_t handle, const hw::TCommState& state) {
  const auto it = openFiles_.find(handle);
  if (it == openFiles_.end()) return false;
  for (const auto& c : kComNames) {
    if (it->second != c.name) continue;
    if (state.BaudRate == 0 || state.BaudRate > 115200) return false;
    if (state.ByteSize < 5 || state.ByteSize > 8 || state.Parity > 4 || state.StopBits > 2)
      return false;
    if ((state.StopBits == 1) != (state.ByteSize == 5) && state.StopBits != 0) return false;
    const double exact = 115200.0 / state.BaudRate;
    const long div = std::lround(exact);
    // Like a PC serial driver: a rate the clock cannot make within 2 % is refused.
    if (div < 1 || div > 65535 || std::fabs(exact - static_cast<double>(div)) / exact > 0.02)
      return false;
    TSerialFormat f;
    f.divisor = static_cast<uint16_t>(div);
    f.dataBits = state.ByteSize;
    f.parity = state.Parity;
    f.stopBits = state.StopBits;
    Uart(c.base).SetFormat(f);
    return true;
  }
  return false;
}

bool TBench::ApplyIoAccessMap(const uint8_t* map, std::string* reason) {
  if (!map) {
    if (reason) *reason = "no access map";
    return false;
  }
  permission_.emplace();
  std::copy(map, map + 8192, permission_->begin());
  return true;
}

}  // namespace sim
