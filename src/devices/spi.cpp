#include "devices/spi.h"

#include "framework/catalogue.h"
#include "framework/status.h"
#include "hw/ports.h"
#include "hw/timing.h"
#include "platform/app_hooks.h"

namespace devices {

namespace {
constexpr uint8_t kWrsr = 0x01, kWrite = 0x02, kRead = 0x03, kRdsr = 0x05, kWren = 0x06;
}

TSpiBus::TSpiBus(int32_t clockTime, int32_t writeTime)
    : t_(static_cast<uint32_t>(hw::TimeToCycle(clockTime))),
      tw_(static_cast<uint32_t>(hw::TimeToCycle(writeTime))),
      ts_(static_cast<uint32_t>(hw::TimeToCycle(2))) {}

void TSpiBus::Write(uint8_t value) const { hw::Io().Out(hw::Ports().LptBase, value); }

void TSpiBus::Line(uint8_t bit, bool high) {
  l_ = high ? static_cast<uint8_t>(l_ & ~bit) : static_cast<uint8_t>(l_ | bit);
  Write(l_);
}

void TSpiBus::Lines(bool cs, bool sck, bool si) {
  l_ = static_cast<uint8_t>((l_ & ~(kCs | kSck | kSi)) | (cs ? 0 : kCs) | (sck ? 0 : kSck) |
                            (si ? 0 : kSi));
  Write(l_);
}

void TSpiBus::WaitT() const { hw::WaitCycles(t_); }
void TSpiBus::WaitWrite() const { hw::WaitCycles(tw_); }

void TSpiBus::ClockPulse() {
  Line(kSck, true);
  WaitT();
  Line(kSck, false);
  WaitT();
}

void TSpiBus::Send(uint32_t value, int bits) {
  for (int i = bits - 1; i >= 0; --i) {
    Line(kSi, (value >> i) & 1);
    ClockPulse();
    WaitT();
  }
}

uint8_t TSpiBus::Receive(int bits) {
  uint8_t v = 0;
  for (int i = 0; i < bits; ++i) {
    Write(0x0C);  // SCK high, /CS low, SI low, the other lines high
    hw::WaitCycles(ts_);
    v = static_cast<uint8_t>((v << 1) | (hw::Check_In3() ? 1 : 0));
    WaitT();
    Write(0x1C);  // SCK low
    WaitT();
  }
  return v;
}

void TSPIFrame::EndCommand(TSpiBus& bus) {
  bus.Line(TSpiBus::kSck, false);
  bus.Line(TSpiBus::kSi, false);
  bus.Line(TSpiBus::kCs, true);
  bus.WaitT();
}

void TSPIFrame::StartCommand(TSpiBus& bus) {
  EndCommand(bus);
  bus.WaitT();
  bus.WaitT();
  bus.Line(TSpiBus::kCs, false);
}

void TSPIFrame::SendAddressed(TSpiBus& bus, uint8_t instruction, uint32_t address) {
  bus.Send(instruction, 8);
  bus.Send(address & 0xFFFF, 16);
}

bool TSPIFrame::AccessCell(char op, uint16_t& data, uint16_t deviceIndex, uint32_t address) {
  if (op != 'R' && op != 'W' && op != 'E' && op != 'S' && op != 'T') return true;
  const framework::TE2Info& row = framework::DeviceInfo(deviceIndex);
  TSpiBus bus(static_cast<int32_t>(row.ClockTime), static_cast<int32_t>(row.WriteTime));
  hw::SetRealtimePriority();
  StartCommand(bus);
  switch (op) {
    case 'R':
      SendAddressed(bus, kRead, address);
      data = bus.Receive(8);
      EndCommand(bus);
      break;
    case 'W':
      SendAddressed(bus, kWrite, address);
      bus.Send(data & 0xFF, 8);
      EndCommand(bus);
      bus.WaitWrite();
      break;
    case 'E':
      bus.Send(kWren, 8);
      EndCommand(bus);
      break;
    case 'S':
      bus.Send(kRdsr, 8);
      data = bus.Receive(8);
      EndCommand(bus);
      bus.WaitWrite();
      break;
    case 'T':
      bus.Send(kWrsr, 8);
      bus.Send(data & 0xFF, 8);
      EndCommand(bus);
      bus.WaitWrite();
      break;
    default:
      break;
  }
  hw::SetNormalPriority();
  return true;
}

bool TSPIFrame::ProgramRange() {
  // No erase before a write; the write latch is set before every byte.
  return ProgramCells(0, false, 'E');
}

void TSPIFrame::CreateWnd() {
  TE2BaseFrame::CreateWnd();
  RegisterLabel.Visible = true;
  RegisterEdit.Visible = true;
  ReadStatusBtn.Visible = true;
  WriteStatusBtn.Visible = true;
  EraseBtn.Visible = false;
}

std::unique_ptr<framework::TFamilyFrame> CreateSPIFrame() { return std::make_unique<TSPIFrame>(); }

}  // namespace devices
