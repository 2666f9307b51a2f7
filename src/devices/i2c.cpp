#include "devices/i2c.h"

#include <algorithm>
#include <array>

#include "base/format.h"
#include "devices/events.h"
#include "framework/catalogue.h"
#include "framework/status.h"
#include "hexedit/bytescope.h"
#include "hw/ports.h"
#include "hw/timing.h"
#include "platform/app_hooks.h"

namespace devices {

namespace {

using framework::DeviceInfo;
using framework::TE2Info;

// Data register bits of the bus lines; a set bit drives the line low.
constexpr uint8_t kSclBit = 0x10;  // Out5
constexpr uint8_t kSdaBit = 0x08;  // Out4

uint32_t Cycles(uint32_t microseconds) {
  const int32_t c =
      hw::TimeToCycle(static_cast<int32_t>(std::min<uint32_t>(microseconds, INT32_MAX)));
  return c > 0 ? static_cast<uint32_t>(c) : 0;
}

// The bus as the programming engine drives it: one line changed per read-modify-write of
// the data register (the other Out lines keep their levels), then a wait of one clock
// step. The shared DataShadow is not used: it would cost a locked operation per edge.
class TI2CBus {
 public:
  explicit TI2CBus(uint32_t clockCycles)
      : data_(hw::Ports().LptBase), status_(static_cast<uint16_t>(data_ + 1)), t_(clockCycles) {}

  void Scl(bool high) { Line(kSclBit, high, true); }
  void Sda(bool high, bool wait = true) { Line(kSdaBit, high, wait); }
  bool SdaIn() { return (hw::Io().In(status_) & 0x40) == 0; }

  void Start() {
    Scl(false);
    Sda(true);
    Scl(true);
    Sda(false);
    Scl(false);
  }
  void Stop() {
    Scl(false);
    Sda(false);
    Scl(true);
    Sda(true);
  }
  // True when the receiver acknowledged.
  bool Send(uint8_t b) {
    for (int i = 7; i >= 0; --i) {
      Sda(((b >> i) & 1) != 0, false);
      Scl(false);  // already low: only the data set-up wait
      Scl(true);
      Scl(false);
    }
    Sda(true);
    Scl(true);
    Scl(true);  // a second step with the clock high before sampling
    const bool ack = !SdaIn();
    Scl(false);
    return ack;
  }
  // Eight bits in; the caller ends with a stop at once, without an acknowledge clock.
  uint8_t Receive() {
    Sda(true);
    uint8_t b = 0;
    for (int i = 0; i < 8; ++i) {
      Scl(true);
      b = static_cast<uint8_t>((b << 1) | (SdaIn() ? 1 : 0));
      Scl(false);
    }
    return b;
  }

 private:
  void Line(uint8_t bit, bool high, bool wait) {
    uint8_t v = hw::Io().In(data_);
    v = high ? static_cast<uint8_t>(v & ~bit) : static_cast<uint8_t>(v | bit);
    hw::Io().Out(data_, v);
    if (wait) hw::WaitCycles(t_);
  }
  uint16_t data_;
  uint16_t status_;
  uint32_t t_;
};

// One cell command: start, the control byte, the address bytes, then either a repeated
// start, the control byte for reading and eight bits in, or the data byte and the write
// time. A byte without acknowledge ends the sequence with a stop and no write time.
bool CellCommand(char op, uint16_t& data, uint16_t deviceIndex, uint8_t control,
                 std::span<const uint8_t> address) {
  if (op != 'R' && op != 'W') return true;
  if (deviceIndex >= framework::kDeviceCount) return false;
  const TE2Info& row = DeviceInfo(deviceIndex);
  TI2CBus bus(Cycles(row.ClockTime));
  const uint32_t writeCycles = Cycles(row.WriteTime);

  hw::SetRealtimePriority();
  bus.Start();
  bool ok = bus.Send(control);
  for (size_t i = 0; ok && i < address.size(); ++i) ok = bus.Send(address[i]);
  if (op == 'R') {
    if (ok) {
      bus.Start();
      ok = bus.Send(static_cast<uint8_t>(control | 1));
    }
    if (ok) data = bus.Receive();
    bus.Stop();
  } else {
    data &= 0xFF;
    if (ok) ok = bus.Send(static_cast<uint8_t>(data));
    bus.Stop();
    if (ok) hw::WaitCycles(writeCycles);
  }
  hw::SetNormalPriority();
  return ok;
}

}  // namespace

// ---- TI2CFrame ----------------------------------------------------------------------------

bool TI2CFrame::AccessCell(char op, uint16_t& data, uint16_t deviceIndex, uint32_t address) {
  // Address bits 8..10 are the block bits of the control byte; the mask keeps an address
  // beyond the largest part from changing the device type code.
  const uint8_t control = static_cast<uint8_t>(0xA0 | (((address >> 8) & 7) << 1));
  const std::array<uint8_t, 1> a{static_cast<uint8_t>(address)};
  return CellCommand(op, data, deviceIndex, control, a);
}

bool TI2CFrame::ProgramRange() {
  // A read of the start cell sets the part's address counter; value and result unused.
  return ProgramCells('R', true, 'C');
}

void TI2CFrame::CreateWnd() {
  TE2BaseFrame::CreateWnd();
  EraseBtn.Visible = false;
}

// ---- TI2CXFrame ---------------------------------------------------------------------------

bool TI2CXFrame::AccessCell(char op, uint16_t& data, uint16_t deviceIndex, uint32_t address) {
  const std::array<uint8_t, 2> a{static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
  return CellCommand(op, data, deviceIndex, 0xA0, a);
}

// ---- Emulator and decoder -----------------------------------------------------------------

namespace {

// Entries a run can record: every entry also has its place in EventPositions.
constexpr int32_t kEventCapacity = std::min(kEventTableSize, kEventPositionsSize);

// Bus state as the state machine sees it: bit 1 SCL, bit 0 SDA, 1 = high.
constexpr uint8_t kSclHigh = 2;
constexpr uint8_t kHH = 3;  // SCL high, SDA high
constexpr uint8_t kHL = 2;  // SCL high, SDA low

// The entry being built is kept aside and written when it closes, so a run past the end
// of the table stops recording but goes on deciding from the entry (the emulator must keep
// answering the bus).
struct TRecorder {
  int32_t k = 0;
  uint16_t e = 0;
  bool full = false;
  template <bool kPositions>
  void Advance(int32_t position) {
    if (!full) {
      EventTable[static_cast<size_t>(k)] = e;
      if constexpr (kPositions) EventPositions[static_cast<size_t>(k)] = position;
      if (k + 1 < kEventCapacity) {
        ++k;
      } else {
        full = true;
        EventTableOverflow = true;
      }
    }
    e = 0;
  }
  void Finish() {
    if (!full) EventTable[static_cast<size_t>(k)] = e;
    EventCount = k;
  }
};

void ClearEvents() {
  // The whole table, not only the part a list shows: entries are written as they close,
  // and nothing of an earlier, longer run may show through.
  EventTable.fill(0);
  EventPositions.fill(0);
  EventCount = 0;
  EventTableOverflow = false;
}

// The adapter's status register; a pressed stop button ends the run at any read.
class TPortSource {
 public:
  TPortSource() : status_(static_cast<uint16_t>(hw::Ports().LptBase + 1)) {}
  bool Read() {
    const uint8_t s = hw::Io().In(status_);
    if (s & 0x08) return false;
    st = static_cast<uint8_t>(((s >> 6) & 2) | (((s >> 6) & 1) ^ 1));
    return true;
  }
  int32_t Position() const { return 0; }
  uint8_t st = kHH;

 private:
  uint16_t status_;
};

// Captured run levels; the end of the data acts as the stop button.
class TLevelSource {
 public:
  TLevelSource(const uint8_t* levels, int32_t count) : p_(levels), n_(count) {}
  bool Read() {
    if (next_ >= n_) return false;
    pos_ = next_;
    st = static_cast<uint8_t>((p_[next_++] >> 6) & 3);
    return true;
  }
  int32_t Position() const { return pos_; }
  uint8_t st = kHH;

 private:
  const uint8_t* p_;
  int32_t n_;
  int32_t next_ = 0;
  int32_t pos_ = 0;
};

struct TEmuBuffer {
  uint8_t* data = nullptr;
  size_t size = 0;
  bool written = false;
};

// The emulator's and the decoder's common state machine. A wait for a condition that the
// last level read already meets reads nothing more: a decoder's levels are runs, and one
// run may be all a stop before the next start lasts. Every wait ends at the latest when
// the source reports the stop button (or the end of the levels).
template <bool kEmulate, class TSource>
void RunI2C(TSource& src, TRecorder& rec, TEmuBuffer& buf, uint16_t dataPort) {
  constexpr bool kPositions = !kEmulate;
  int n = 0;
  uint8_t bit = 0;
  uint8_t b = 0;
  bool read = false;

#define I2C_READ() \
  if (!src.Read()) goto done
#define I2C_WAIT_UNTIL(cond) \
  while (!(cond)) {          \
    I2C_READ();              \
  }
#define I2C_WAIT_WHILE(cond) \
  do {                       \
    I2C_READ();              \
  } while (cond)
#define I2C_ADVANCE() rec.Advance<kPositions>(src.Position())

  I2C_READ();
idle:
  I2C_WAIT_UNTIL(src.st == kHH);
  I2C_WAIT_WHILE(src.st == kHH);
  if (src.st != kHL) goto idle;
  rec.e |= evStart;
  // After a start: a stop right away, or the clock falls for the first bit.
  I2C_WAIT_WHILE(src.st == kHL);
  if (src.st == kHH) {
    I2C_ADVANCE();
    rec.e |= evStop;
    I2C_ADVANCE();
    goto idle;
  }
receive:
  for (n = 0; n < 8; ++n) {
    I2C_WAIT_UNTIL(src.st & kSclHigh);
    if (src.st == kHL) {
      I2C_WAIT_WHILE(src.st == kHL);
      if (src.st == kHH) {  // stop
        rec.e |= evStop;
        I2C_ADVANCE();
        goto idle;
      }
      bit = 0;
    } else {
      I2C_WAIT_WHILE(src.st == kHH);
      if (src.st == kHL) {  // repeated start
        I2C_ADVANCE();
        rec.e |= evStart;
        I2C_WAIT_WHILE(src.st == kHL);
        if (src.st == kHH) {
          rec.e |= evStop;
          I2C_ADVANCE();
          goto idle;
        }
        goto receive;
      }
      bit = 1;
    }
    rec.e = static_cast<uint16_t>((rec.e & 0xFF00) | ((rec.e << 1) & 0xFE) | bit | evError);
  }
  rec.e = static_cast<uint16_t>(rec.e & ~evError);

  if constexpr (kEmulate) {
    // Bits 1..3 (block and select) are not looked at: every 1010xxxx address is ours.
    if ((rec.e & evStart) && (rec.e & 0xF0) != 0xA0) {
      I2C_ADVANCE();
      goto idle;
    }
    I2C_WAIT_UNTIL(!(src.st & kSclHigh));
    hw::Io().Out(dataPort, 0x08);
    I2C_WAIT_UNTIL(src.st & kSclHigh);
    I2C_WAIT_UNTIL(!(src.st & kSclHigh));
    hw::Io().Out(dataPort, 0x00);
    rec.e |= evAck;
  } else {
    (void)dataPort;
    (void)buf;
    (void)b;
    I2C_WAIT_UNTIL(src.st & kSclHigh);
    if (!(src.st & 1)) rec.e |= evAck;
    I2C_WAIT_UNTIL(!(src.st & kSclHigh));
    goto dispatch;
  }

dispatch:
  if (rec.e & evStart) {
    read = (rec.e & 1) != 0;
    I2C_ADVANCE();
    rec.e |= read ? evRead : evAddr;
    if (kEmulate && read) goto transmit;  // the decoder receives what the memory sends
    goto receive;
  }
  if (rec.e & evRead) {
    if constexpr (kEmulate) {
      if (rec.e & evAck) {
        I2C_ADVANCE();
        rec.e |= evRead;
        goto transmit;
      }
      I2C_ADVANCE();
      rec.e |= evStop;
      I2C_ADVANCE();
      goto idle;
    } else {
      I2C_ADVANCE();
      rec.e |= evRead;
      goto receive;
    }
  }
  if constexpr (kEmulate) {
    if (rec.e & evAddr) {
      EmuAddress = static_cast<uint16_t>((EmuAddress & 0xFF00) | (rec.e & 0xFF));
    } else {
      if (EmuAddress < buf.size) {
        buf.data[EmuAddress] = static_cast<uint8_t>(rec.e);
        buf.written = true;
      }
      EmuAddress = static_cast<uint16_t>((EmuAddress & 0xFF00) | ((EmuAddress + 1) & 0xFF));
    }
  }
  I2C_ADVANCE();
  goto receive;

transmit:
  if constexpr (kEmulate) {
    b = EmuAddress < buf.size ? buf.data[EmuAddress] : 0xFF;
    for (n = 7; n >= 0; --n) {
      I2C_WAIT_UNTIL(!(src.st & kSclHigh));
      hw::Io().Out(dataPort, ((b >> n) & 1) ? 0x00 : 0x08);
      I2C_WAIT_UNTIL(src.st & kSclHigh);
    }
    rec.e = static_cast<uint16_t>((rec.e & 0xFF00) | b);
    I2C_WAIT_UNTIL(!(src.st & kSclHigh));
    hw::Io().Out(dataPort, 0x00);
    EmuAddress = static_cast<uint16_t>((EmuAddress & 0xFF00) | ((EmuAddress + 1) & 0xFF));
    I2C_WAIT_UNTIL(src.st & kSclHigh);
    if (!(src.st & 1)) rec.e |= evAck;
    I2C_WAIT_UNTIL(!(src.st & kSclHigh));
    goto dispatch;
  }

done:
  rec.Finish();

#undef I2C_READ
#undef I2C_WAIT_UNTIL
#undef I2C_WAIT_WHILE
#undef I2C_ADVANCE
}

}  // namespace

bool EmulateI2C(TI2CFrame& frame, uint16_t deviceIndex) {
  const uint32_t size = deviceIndex < framework::kDeviceCount ? DeviceInfo(deviceIndex).Size : 256;
  hw::PowerOn();
  framework::e2StatusForm().BeginStatus(framework::smEmulate, deviceIndex, 0,
                                        static_cast<int32_t>(size) - 1);
  EmuAddress = 0;
  TEmuBuffer buf;
  if (hexedit::TBytescope* b = frame.Buffer()) {
    buf.data = b->Data();
    buf.size = static_cast<size_t>(std::max(b->DataSize(), 0));
  }
  hw::SetRealtimePriority();
  ClearEvents();
  const uint16_t dataPort = hw::Ports().LptBase;
  hw::Io().Out(dataPort, 0x00);
  TRecorder rec;
  TPortSource src;
  RunI2C<true>(src, rec, buf, dataPort);
  hw::Io().Out(dataPort, 0x00);
  hw::SetNormalPriority();
  framework::e2StatusForm().EndStatus(true, false, 0);
  if (buf.written) {
    // The buffer changed behind the editor's back: show it, and keep it from being
    // closed without the question whether to save.
    frame.Buffer()->SetModified(true);
    frame.Buffer()->Refresh();
  }
  hw::PowerOff();
  return true;
}

bool DecodeI2CSamples(std::span<const uint8_t> levels, int32_t high) {
  ClearEvents();
  const int64_t count =
      std::min<int64_t>(static_cast<int64_t>(high) + 1, static_cast<int64_t>(levels.size()));
  TLevelSource src(levels.data(), static_cast<int32_t>(std::clamp<int64_t>(count, 0, INT32_MAX)));
  TRecorder rec;
  TEmuBuffer none;
  RunI2C<false>(src, rec, none, 0);
  return true;
}

void ListI2CEvents(framework::TListControl& list, std::span<int32_t> positions, int32_t high) {
  list.Items.clear();
  list.ItemIndex = -1;
  const int32_t last = std::clamp(EventCount, 0, kEventCapacity - 1);
  const int32_t first = last > kEventsCleared ? last - kEventsCleared : 0;
  list.Items.reserve(static_cast<size_t>(last - first) + 2);
  for (int32_t i = first; i <= last; ++i) {
    const uint16_t e = EventTable[static_cast<size_t>(i)];
    const char* kind = "";
    if (e & evStart) kind = "Start    ";
    if (e & evAddr) kind = "Addr    ";
    if (!(e & (evStart | evAddr))) kind = (e & evRead) ? "Read   " : "Write   ";
    if (e & evStop) kind = "Stop    ";
    std::string note;
    if (e & evError) note = "Error";
    if (e & evAck) note = "Ack " + note;
    list.Items.push_back(base::Format("%5.5u   %s  %.2x  %s", i, kind, e & 0xFF, note));
    const int64_t line = i - first;
    if (high > 0 && line <= high && line < static_cast<int64_t>(positions.size()))
      positions[static_cast<size_t>(line)] = EventPositions[static_cast<size_t>(i)];
  }
  if (EventTableOverflow) list.Items.push_back(kEventTableOverflowText);
}

// ---- The programmer panel's rows ----------------------------------------------------------

std::unique_ptr<framework::TFamilyFrame> MakeI2CFrame() { return std::make_unique<TI2CFrame>(); }

std::unique_ptr<framework::TFamilyFrame> MakeI2CXFrame() { return std::make_unique<TI2CXFrame>(); }

void EmulateI2CFrame(framework::TFamilyFrame& frame, uint16_t deviceIndex,
                     framework::TListControl& list) {
  auto* i2c = dynamic_cast<TI2CFrame*>(&frame);
  if (!i2c) return;
  EmulateI2C(*i2c, deviceIndex);
  std::array<int32_t, 1> positions{};
  ListI2CEvents(list, positions, 0);
}

}  // namespace devices
