#include "devices/microwire.h"

#include <algorithm>
#include <array>

#include "base/format.h"
#include "devices/events.h"
#include "framework/catalogue.h"
#include "framework/status.h"
#include "hexedit/bytescope.h"
#include "hw/ports.h"
#include "hw/timing.h"

namespace devices {

namespace {

// Data register bits of the programming wiring (a set bit is a low line).
constexpr uint8_t kOrg = 0x02;  // Out2
constexpr uint8_t kCs = 0x04;   // Out3
constexpr uint8_t kDi = 0x08;   // Out4
constexpr uint8_t kClk = 0x10;  // Out5

// One instruction on the programming wiring. The register copy is private to the call
// and written whole at every line change, so nothing else of the register is disturbed
// in between and no shared shadow is needed.
class TMicrowireBus {
 public:
  TMicrowireBus(int width, int32_t clockTime, int32_t writeTime)
      // Out3..Out5 low; Out2 (ORG) low only for 8-bit cells; the other lines high.
      : l_(width == 16 ? 0x1C : 0x1E),
        t_(static_cast<uint32_t>(hw::TimeToCycle(clockTime))),
        tw_(static_cast<uint32_t>(hw::TimeToCycle(writeTime))),
        ts_(static_cast<uint32_t>(hw::TimeToCycle(2))) {}

  void Line(uint8_t bit, bool high) {
    l_ = high ? static_cast<uint8_t>(l_ & ~bit) : static_cast<uint8_t>(l_ | bit);
    Write();
  }
  void WaitT() const { hw::WaitCycles(t_); }
  void WaitWrite() const { hw::WaitCycles(tw_); }

  void ClockPulse() {
    Line(kClk, true);
    WaitT();
    Line(kClk, false);
    WaitT();
  }
  // A leading clock with DI low, then the start bit.
  void Select() {
    Deselect();
    WaitT();
    Line(kCs, true);
    ClockPulse();
    Line(kDi, true);
    WaitT();
    ClockPulse();
  }
  void Send(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      Line(kDi, (value >> i) & 1);
      ClockPulse();
      WaitT();
    }
  }
  // DO is sampled a fixed 2 µs after the rising edge, whatever the clock time.
  uint16_t Receive(int bits) {
    uint16_t v = 0;
    for (int i = 0; i < bits; ++i) {
      Line(kClk, true);
      hw::WaitCycles(ts_);
      v = static_cast<uint16_t>((v << 1) | (hw::Check_In3() ? 1 : 0));
      WaitT();
      Line(kClk, false);
      WaitT();
    }
    return v;
  }
  // CS, DI and CLK low in one write.
  void Deselect() {
    l_ |= kCs | kDi | kClk;
    Write();
  }

 private:
  void Write() const { hw::Io().Out(hw::Ports().LptBase, l_); }
  uint8_t l_;
  uint32_t t_, tw_, ts_;
};

}  // namespace

bool TMicrowireFrame::AccessCell(char op, uint16_t& data, uint16_t deviceIndex, uint32_t address) {
  if (op != 'R' && op != 'W' && op != 'C' && op != 'E' && op != 'D' && op != 'A') return true;
  const framework::TE2Info& row = framework::DeviceInfo(deviceIndex);
  const int a = static_cast<int>(row.AddrBits);
  const int w = static_cast<int>(row.Width);
  TMicrowireBus bus(w, static_cast<int32_t>(row.ClockTime), static_cast<int32_t>(row.WriteTime));
  hw::SetRealtimePriority();
  bus.Select();
  switch (op) {
    case 'R':
      bus.Send(0b10, 2);
      bus.Send(address, a);
      data = bus.Receive(w);
      bus.Deselect();
      bus.ClockPulse();
      break;
    case 'W':
      bus.Send(0b01, 2);
      bus.Send(address, a);
      bus.Send(data, w);
      bus.Deselect();
      bus.WaitWrite();
      break;
    case 'C':
      bus.Send(0b11, 2);
      bus.Send(address, a);
      bus.Receive(w);
      bus.Deselect();
      bus.WaitWrite();
      break;
    case 'E':
    case 'D':
    case 'A': {
      // Opcode 00; the next two bits choose the instruction, the rest of the field is 0.
      const uint32_t sub = op == 'E' ? 0b11 : op == 'D' ? 0b00 : 0b10;
      bus.Send(0b00, 2);
      bus.Send(sub, 2);
      bus.Send(0, a - 2);
      bus.Deselect();
      bus.WaitWrite();
      if (op == 'A') bus.WaitWrite();  // erasing the whole array takes the longer cycle
      break;
    }
    default:
      break;
  }
  hw::SetNormalPriority();
  return true;
}

namespace {

// Level byte bits (a set bit is a high line).
constexpr uint8_t kLvClk = 0x80;  // In1
constexpr uint8_t kLvDi = 0x40;   // In2
constexpr uint8_t kLvDo = 0x20;   // In3, decoder only
constexpr uint8_t kLvCs = 0x10;   // In4

// The emulator's side of the state machine: the adapter's status register, the stop
// button, DO on Out2 and the buffer as the memory.
class TEmulatorBus {
 public:
  static constexpr bool kDecoder = false;
  explicit TEmulatorBus(hexedit::TBytescope* buffer) : buffer_(buffer) {}

  // False once the stop button is pressed.
  bool Next(uint8_t& level) {
    const uint8_t s = hw::Io().In(static_cast<uint16_t>(hw::Ports().LptBase + 1));
    if (s & 0x08) return false;
    level = static_cast<uint8_t>((s & 0xF0) ^ 0x70);
    return true;
  }
  int32_t Position() const { return 0; }
  void DriveDo(bool high) {
    doLow_ = !high;
    hw::Io().Out(hw::Ports().LptBase, high ? 0x00 : 0x02);
  }
  // CS fell: a memory releases DO (it floats high) until the next read.
  void ReleaseDo() {
    if (doLow_) DriveDo(true);
  }
  uint8_t Byte(uint32_t i) const {
    return buffer_ && i < static_cast<uint32_t>(buffer_->DataSize()) ? buffer_->GetByte(i) : 0xFF;
  }
  void SetByte(uint32_t i, uint8_t v) {
    if (buffer_ && i < static_cast<uint32_t>(buffer_->DataSize())) buffer_->SetByte(i, v);
  }

 private:
  hexedit::TBytescope* buffer_;
  bool doLow_ = false;
};

// The decoder's side: captured run levels; the end of the data acts as the stop button.
class TDecoderBus {
 public:
  static constexpr bool kDecoder = true;
  TDecoderBus(std::span<const uint8_t> levels, int32_t high)
      : levels_(levels),
        end_(high < 0 ? 0 : std::min<size_t>(levels.size(), static_cast<size_t>(high) + 1)) {}
  bool Next(uint8_t& level) {
    if (next_ >= end_) return false;
    pos_ = static_cast<int32_t>(next_);
    level = levels_[next_++];
    return true;
  }
  int32_t Position() const { return pos_; }

 private:
  std::span<const uint8_t> levels_;
  size_t end_;
  size_t next_ = 0;
  int32_t pos_ = 0;
};

enum class TField { Ok, Broken, Stop };

// Steps through Microwire instructions on a bus that is only watched, filling the event
// table. The emulator's bus answers reads from the buffer and takes writes into it.
// Every wait ends at the stop button (the emulator's only way out, by design: a foreign
// host may idle for as long as it likes) or at the end of the decoder's data.
template <class Bus>
class TMicrowireMachine {
 public:
  TMicrowireMachine(Bus& bus, int addrBits, int width) : bus_(bus), a_(addrBits), w_(width) {}

  void Run() {
    for (;;) {
      // Wait for the start bit: CS, DI and CLK high together.
      do {
        if (!Read()) return;
      } while ((lv_ & (kLvCs | kLvDi | kLvClk)) != (kLvCs | kLvDi | kLvClk));
      Or(mwStart);
      do {
        if (!Read()) return;
      } while (Cs() && Clk());
      if (Cs() && Instruction() == TField::Stop) return;
      while (Cs())
        if (!Read()) return;
      if constexpr (!Bus::kDecoder) bus_.ReleaseDo();
    }
  }
  int32_t Count() const { return k_; }

 private:
  bool Read() { return bus_.Next(lv_); }
  bool Cs() const { return lv_ & kLvCs; }
  bool Clk() const { return lv_ & kLvClk; }

  // Event table access; once the table is full nothing more is recorded.
  void Or(uint16_t v) {
    if (!full_) EventTable[static_cast<size_t>(k_)] |= v;
  }
  void Put(uint16_t v) {
    if (!full_) EventTable[static_cast<size_t>(k_)] = v;
  }
  void Advance() {
    if (full_) return;
    if (k_ + 1 >= kEventTableSize) {
      full_ = true;
      EventTableOverflow = true;
      return;
    }
    if constexpr (Bus::kDecoder) EventPositions[static_cast<size_t>(k_)] = bus_.Position();
    ++k_;
  }
  // CS fell in the middle of a field: an empty entry is skipped and an error recorded.
  void BrokenOff() {
    Advance();
    Or(mwError);
    Advance();
  }

  // Waits until CLK has the level; CS low breaks the field off.
  TField WaitClk(bool high) {
    while (Clk() != high) {
      if (!Read()) return TField::Stop;
      if (!Cs()) return TField::Broken;
    }
    return TField::Ok;
  }

  TField Receive(int bits, uint16_t& value) {
    value = 0;
    for (int i = 0; i < bits; ++i) {
      if (TField f = WaitClk(true); f != TField::Ok) return f;
      if constexpr (!Bus::kDecoder) {
        // DI is taken from a fresh read after the rising edge was seen.
        if (!Read()) return TField::Stop;
        if (!Cs()) return TField::Broken;
      }
      value = static_cast<uint16_t>((value << 1) | ((lv_ & kLvDi) ? 1 : 0));
      if (TField f = WaitClk(false); f != TField::Ok) return f;
    }
    return TField::Ok;
  }

  // The read data as the memory sends it (emulator) or as DO shows it (decoder).
  TField SendData(uint16_t value, uint16_t& seen) {
    seen = 0;
    if constexpr (!Bus::kDecoder) {
      // A dummy zero precedes the data, as on a 93Cxx: the host clocks it in with the
      // last address bit. Each data bit follows the next rising edge.
      bus_.DriveDo(false);
      for (int i = w_ - 1; i >= 0; --i) {
        if (TField f = WaitClk(true); f != TField::Ok) return f;
        bus_.DriveDo((value >> i) & 1);
        if (TField f = WaitClk(false); f != TField::Ok) return f;
      }
      seen = value;
    } else {
      for (int i = 0; i < w_; ++i) {
        if (TField f = WaitClk(true); f != TField::Ok) return f;
        if (TField f = WaitClk(false); f != TField::Ok) return f;
        seen = static_cast<uint16_t>((seen << 1) | ((lv_ & kLvDo) ? 1 : 0));
      }
    }
    return TField::Ok;
  }

  uint16_t LoadCell(uint32_t address) {
    if constexpr (Bus::kDecoder) {
      return 0;
    } else {
      if (w_ == 16)
        return static_cast<uint16_t>(bus_.Byte(2 * address) << 8 | bus_.Byte(2 * address + 1));
      return bus_.Byte(address);
    }
  }
  void StoreCell(uint32_t address, uint16_t value) {
    if constexpr (!Bus::kDecoder) {
      if (w_ == 16) {
        bus_.SetByte(2 * address, static_cast<uint8_t>(value >> 8));
        bus_.SetByte(2 * address + 1, static_cast<uint8_t>(value));
      } else {
        bus_.SetByte(address, static_cast<uint8_t>(value));
      }
    }
  }

  TField Instruction() {
    uint16_t opcode = 0;
    if (TField f = Receive(2, opcode); f != TField::Ok) return Broken(f);
    if (opcode == 0) {
      uint16_t sub = 0;
      if (TField f = Receive(2, sub); f != TField::Ok) return Broken(f);
      Or(static_cast<uint16_t>(mwExtended | (sub << 8)));
      Advance();
      if (sub == 1) {  // write all: the rest of the address field, then the data
        uint16_t ignored = 0, value = 0;
        // CS falling here ends the instruction without an error entry.
        if (TField f = Receive(a_ - 2, ignored); f != TField::Ok) return Quiet(f);
        if (TField f = Receive(w_, value); f != TField::Ok) return Quiet(f);
        Put(value);
        Advance();
      }
      return TField::Ok;
    }
    Or(static_cast<uint16_t>(opcode << 8));
    Advance();
    uint16_t address = 0;
    if (TField f = Receive(a_, address); f != TField::Ok) return Broken(f);
    Put(address);
    EmuAddress = address;
    Advance();
    if (opcode == 1) {
      uint16_t value = 0;
      if (TField f = Receive(w_, value); f != TField::Ok) return Broken(f);
      Put(value);
      StoreCell(address, value);
      Advance();
    } else if (opcode == 2) {
      const uint16_t value = LoadCell(address);
      if constexpr (!Bus::kDecoder) {
        Put(value);
        Advance();
      }
      uint16_t seen = 0;
      const TField f = SendData(value, seen);
      if constexpr (Bus::kDecoder) {
        if (f == TField::Ok) {
          Put(seen);
          Advance();
        }
      }
      if (f != TField::Ok) return Broken(f);
    }
    return TField::Ok;
  }
  TField Broken(TField f) {
    if (f == TField::Broken) BrokenOff();
    return f == TField::Stop ? TField::Stop : TField::Ok;
  }
  static TField Quiet(TField f) { return f == TField::Stop ? TField::Stop : TField::Ok; }

  Bus& bus_;
  int a_, w_;
  uint8_t lv_ = 0;
  int32_t k_ = 0;
  bool full_ = false;
};

// A run replaces the data of the run before. The whole table is cleared (not only the
// part a lister shows), so a long run never merges its entries with stale ones.
void ClearEvents() {
  EventTable.fill(0);
  EventPositions.fill(0);
  EventCount = 0;
  EventTableOverflow = false;
}

}  // namespace

bool EmulateMicrowire(TMicrowireFrame& frame, uint16_t deviceIndex) {
  const framework::TE2Info& row = framework::DeviceInfo(deviceIndex);
  hw::PowerOn();
  framework::e2StatusForm().BeginStatus(framework::smEmulate, deviceIndex, 0,
                                        static_cast<int32_t>(row.Size) - 1);
  EmuAddress = 0;
  TEmulatorBus bus(frame.Buffer());
  hw::SetRealtimePriority();
  ClearEvents();
  hw::Io().Out(hw::Ports().LptBase, 0x00);  // DO high
  TMicrowireMachine<TEmulatorBus> machine(bus, static_cast<int>(row.AddrBits),
                                          static_cast<int>(row.Width));
  machine.Run();
  hw::Io().Out(hw::Ports().LptBase, 0x00);
  hw::SetNormalPriority();
  EventCount = machine.Count();
  framework::e2StatusForm().EndStatus(true, false, 0);
  hw::PowerOff();
  return true;
}

bool DecodeMicrowireSamples(std::span<const uint8_t> levels, int32_t high, uint16_t deviceIndex) {
  const framework::TE2Info& row = framework::DeviceInfo(deviceIndex);
  ClearEvents();
  TDecoderBus bus(levels, high);
  TMicrowireMachine<TDecoderBus> machine(bus, static_cast<int>(row.AddrBits),
                                         static_cast<int>(row.Width));
  machine.Run();
  EventCount = machine.Count();
  return true;
}

void ListMicrowireEvents(framework::TListControl& list, std::span<int32_t> positions,
                         int32_t high) {
  list.Items.clear();
  list.ItemIndex = -1;
  const int32_t count = std::clamp<int32_t>(EventCount, 0, kEventTableSize - 1);
  const int32_t first = count > kEventsCleared ? count - kEventsCleared : 0;
  // An instruction's address and data lines may lie past the entry that was open when
  // the run ended; they are shown as long as they lie in the table.
  auto entry = [](int32_t j) -> unsigned {
    return j < kEventTableSize ? EventTable[static_cast<size_t>(j)] : 0u;
  };
  auto add = [&](std::string line, int32_t j) {
    const size_t n = list.Items.size();
    list.Items.push_back(std::move(line));
    if (high > 0 && n <= static_cast<size_t>(high) && n < positions.size())
      positions[n] = j >= 0 && j < kEventPositionsSize ? EventPositions[static_cast<size_t>(j)] : 0;
  };
  auto value = [&](const char* kind, int32_t j) {
    if (j < kEventTableSize) add(base::Format("%5.5u  %s  %2.2x", j, kind, entry(j)), j);
  };
  for (int32_t i = first; i <= count; ++i) {
    const unsigned e = entry(i);
    if (!(e & mwStart)) continue;
    switch ((e >> 8) & 7) {
      case 4:
        add(base::Format("%5.5u  Start Write Disable", i), i);
        break;
      case 5:
        add(base::Format("%5.5u  Start Write All", i), i);
        value("Data", ++i);
        break;
      case 6:
        add(base::Format("%5.5u  Start Erase All", i), i);
        break;
      case 7:
        add(base::Format("%5.5u  Start Write Enable", i), i);
        break;
      case 1:
      case 2:
        add(base::Format("%5.5u  %s  %s", i, "Start", ((e >> 8) & 7) == 1 ? "Write" : "Read"), i);
        value("Addr", ++i);
        value("Data", ++i);
        break;
      case 3:
        add(base::Format("%5.5u  Start Erase", i), i);
        value("Addr", ++i);
        break;
      default:
        break;
    }
  }
  if (EventTableOverflow) add(kEventTableOverflowText, count);
}

std::unique_ptr<framework::TFamilyFrame> CreateMicrowireFrame() {
  return std::make_unique<TMicrowireFrame>();
}

void EmulateMicrowireToList(framework::TFamilyFrame& frame, uint16_t deviceIndex,
                            framework::TListControl& list) {
  EmulateMicrowire(static_cast<TMicrowireFrame&>(frame), deviceIndex);
  std::array<int32_t, 1> positions{};
  ListMicrowireEvents(list, positions, 0);
}

}  // namespace devices
