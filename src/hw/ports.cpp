#include "hw/ports.h"

#include <array>
#include <atomic>

#include "hw/timing.h"
#include "platform/dialogs.h"
#include "platform/priority.h"

namespace hw {

namespace {

// A back end with nothing behind it: the bus floats high, writes vanish, no port opens.
class TNullBackend final : public TIoBackend {
 public:
  const char* Name() const override { return "none"; }
  uint8_t In(uint16_t) override { return 0xFF; }
  void Out(uint16_t, uint8_t) override {}
  void OutWord(uint16_t, uint16_t) override {}
  void DelayLoop(uint32_t) override {}
  int32_t OpenPortFile(const std::string&, std::string* reason) override {
    if (reason) *reason = "no port back end is active";
    return -1;
  }
  void ClosePortFile(int32_t) override {}
  bool GetCommState(int32_t, TCommState&) override { return false; }
  bool SetCommState(int32_t, const TCommState&) override { return false; }
  bool UsesRealTime() const override { return false; }
};

TNullBackend g_null;
std::atomic<TIoBackend*> g_backend{&g_null};
TPortState g_state;

struct TPortName {
  const char* name;
  uint16_t base;
};
constexpr std::array<TPortName, 8> kPortTable{{
    {"LPT1", 0x378},
    {"LPT2", 0x278},
    {"LPT3", 0x3BC},
    {"LPT4", 0},
    {"COM1", 0x3F8},
    {"COM2", 0x2F8},
    {"COM3", 0x3E8},
    {"COM4", 0x2E8},
}};

uint8_t ReadModify(uint16_t reg, uint8_t clear, uint8_t set) {
  const uint8_t v = static_cast<uint8_t>((Io().In(reg) & ~clear) | set);
  Io().Out(reg, v);
  return v;
}

}  // namespace

TPortState& Ports() { return g_state; }

TIoBackend& Io() { return *g_backend.load(std::memory_order_relaxed); }

void SetIoBackend(TIoBackend* backend) {
  if (!backend) backend = &g_null;
  g_backend.store(backend, std::memory_order_relaxed);
  platform::EnableSystemPriorities(backend->UsesRealTime());
}

void ResetPortState() {
  CloseComPort();
  auto& p = g_state;
  p.PrinterPort = "LPT1";
  p.ComPort = "COM2";
  p.LptBase = p.ComBase = 0;
  p.DataShadow = 0;
  p.ComHandle = -1;
  p.Delay = 0;
  p.CycleTime = 0;
  SetComRegisters();
}

void OutLine(int n, bool high) {
  if (n < 1 || n > 8) return;
  if (high)
    detail::OutHi(static_cast<unsigned>(n - 1));
  else
    detail::OutLo(static_cast<unsigned>(n - 1));
}

void SetOutputs(uint8_t value) {
  const uint8_t v = static_cast<uint8_t>(~value);
  g_state.DataShadow = v;
  Io().Out(g_state.LptBase, v);
}

void PowerOn() {
  ReadModify(static_cast<uint16_t>(g_state.LptBase + 2), 0, 0x01);
  Wait(200000);
}

void PowerOff() {
  ReadModify(static_cast<uint16_t>(g_state.LptBase + 2), 0x01, 0);
  Wait(400000);
}

bool IsPowerOn() { return (Io().In(static_cast<uint16_t>(g_state.LptBase + 2)) & 0x01) != 0; }

void RTS_hi() { ReadModify(g_state.ComMCR, 0x02, 0); }
void RTS_lo() { ReadModify(g_state.ComMCR, 0, 0x02); }
void DTR_hi() { ReadModify(g_state.ComMCR, 0, 0x01); }
void DTR_lo() { ReadModify(g_state.ComMCR, 0x01, 0); }
void TXD_hi() { ReadModify(g_state.ComLCR, 0x40, 0); }
void TXD_lo() { ReadModify(g_state.ComLCR, 0, 0x40); }
bool Check_CTS() { return (Io().In(g_state.ComMSR) & 0x10) == 0; }
bool Check_NotCTS() { return (Io().In(g_state.ComMSR) & 0x10) != 0; }

int32_t ReadPort(uint16_t address) { return Io().In(address); }
void WritePort(uint16_t address, uint8_t value) { Io().Out(address, value); }
int32_t GetLPTPort() { return g_state.LptBase; }
int32_t GetComPort() { return g_state.ComBase; }

uint16_t TableBaseOf(const std::string& name) {
  for (const auto& e : kPortTable)
    if (name == e.name) return e.base;
  return 0;
}

uint16_t PortAddressOf(const std::string& name) {
  const TPortName* entry = nullptr;
  for (const auto& e : kPortTable)
    if (name == e.name) entry = &e;
  if (!entry) return 0;
  const int32_t h = Io().OpenPortFile(name, nullptr);
  if (h == -1) return 0;
  Io().ClosePortFile(h);
  return entry->base;
}

void SetComRegisters() {
  auto& p = g_state;
  const uint16_t b = p.ComBase;
  p.ComRBR = b;
  p.ComIER = static_cast<uint16_t>(b + 1);
  p.ComLCR = static_cast<uint16_t>(b + 3);
  p.ComMCR = static_cast<uint16_t>(b + 4);
  p.ComLSR = static_cast<uint16_t>(b + 5);
  p.ComMSR = static_cast<uint16_t>(b + 6);
}

int32_t OpenComPort(uint32_t baud) {
  auto& p = g_state;
  if (p.ComHandle >= 0) return p.ComHandle;
  const int32_t h = Io().OpenPortFile(p.ComPort, nullptr);
  p.ComHandle = h;
  if (h == -1) {
    platform::Dialogs().MessageBox("Warning", p.ComPort + " is not open! See Options Com Port.",
                                   platform::mbOK, platform::TMsgIcon::Exclamation);
    return -1;
  }
  TCommState st;
  // A port whose state cannot even be fetched is as unusable as one that refuses it.
  const bool ok = Io().GetCommState(h, st);
  st.BaudRate = baud;
  st.ByteSize = 8;
  st.Parity = 0;
  st.StopBits = 0;
  if (!ok || !Io().SetCommState(h, st)) {
    CloseComPort();
    return -1;
  }
  Io().Out(p.ComLCR, 0x03);
  Io().Out(p.ComIER, 0x00);
  return h;
}

void CloseComPort() {
  const int32_t h = g_state.ComHandle.exchange(-1);
  if (h != -1) Io().ClosePortFile(h);
}

uint16_t ComDivisorOf(uint16_t baud) {
  switch (baud) {
    case 150:
      return 768;
    case 300:
      return 384;
    case 600:
      return 192;
    case 1200:
      return 96;
    case 1800:
      return 64;
    case 2000:
      return 58;
    case 2400:
      return 48;
    case 3600:
      return 32;
    case 4800:
      return 24;
    case 7200:
      return 16;
    case 7800:
      return 14;
    case 9600:
      return 12;
    case 19200:
      return 6;
    default:
      return 12;
  }
}

void SetComBaud(uint16_t baud) {
  auto& p = g_state;
  if (p.ComHandle == -1) return;
  const uint8_t lcr = Io().In(p.ComLCR);
  Io().Out(p.ComLCR, static_cast<uint8_t>(lcr | 0x80));
  Io().OutWord(p.ComRBR, ComDivisorOf(baud));
  Io().Out(p.ComLCR, lcr);
}

bool ConfigCom(int32_t baud, uint8_t data, uint8_t parity, uint8_t stop) {
  const int32_t h = g_state.ComHandle;
  if (h == -1) return false;
  TCommState st;
  if (!Io().GetCommState(h, st)) return false;
  st.BaudRate = static_cast<uint32_t>(baud);
  st.ByteSize = data;
  st.Parity = parity;
  st.StopBits = stop;
  return Io().SetCommState(h, st);
}

bool ReadByteCom(uint8_t& data) {
  auto& p = g_state;
  if (p.ComHandle <= 0) return false;
  for (uint32_t counter = kComPollLimit + 1; --counter != 0;) {
    if (Io().In(p.ComLSR) & 0x01) {
      data = Io().In(p.ComRBR);
      return true;
    }
  }
  return false;
}

bool WriteByteCom(uint8_t data) {
  auto& p = g_state;
  if (p.ComHandle < 0) return false;
  (void)Io().In(p.ComRBR);
  // A transmitter that never empties (no UART answering the address) would hang here;
  // give it as many polls as a read gets and report the failure.
  uint32_t polls = 0;
  while ((Io().In(p.ComLSR) & 0x20) == 0)
    if (++polls >= kComPollLimit) return false;
  Io().Out(p.ComRBR, data);
  return true;
}

void SetRealtimePriority() { platform::SetPriorityClass(platform::TPriorityClass::RealTime); }
void SetHighPriority() { platform::SetPriorityClass(platform::TPriorityClass::High); }
void SetNormalPriority() { platform::SetPriorityClass(platform::TPriorityClass::Normal); }

}  // namespace hw
