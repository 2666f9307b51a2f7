// The adapter's lines on the LPT and UART registers, the serial port, the priority switch.
//
// Line polarity: the adapter inverts between the PC pins and the target, so Out1..Out8
// are high when their data bit is written 0; In1 is high when status bit 7 reads 1 and
// In2..In4 when status bits 6..4 read 0; the power is on while control bit 0 is 1.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "hw/io_backend.h"

namespace hw {

// The process-wide port state under its own names. One instance; tests reset it.
struct TPortState {
  std::string PrinterPort = "LPT1";
  std::string ComPort = "COM2";
  uint16_t LptBase = 0;
  uint16_t ComBase = 0;
  // Last value the line operations wrote to the LPT data register. Atomic because the
  // script and instrument threads toggle lines too.
  std::atomic<uint8_t> DataShadow{0};
  std::atomic<int32_t> ComHandle{-1};
  // UART register addresses derived from ComBase by SetComRegisters.
  uint16_t ComRBR = 0, ComIER = 0, ComLCR = 0, ComMCR = 0, ComLSR = 0, ComMSR = 0;
  // Timing: delay-loop cycles per second and nanoseconds per sampling step.
  std::atomic<uint32_t> Delay{0};
  std::atomic<uint32_t> CycleTime{0};
};

TPortState& Ports();
// Back to the program-start values (names "LPT1"/"COM2", all else 0, ComHandle -1).
// Closes an open COM handle first.
void ResetPortState();

// The active back end. There always is one; until a real one is installed every access
// goes to a null back end that reads 0xFF (a floating bus) and ignores writes.
TIoBackend& Io();
void SetIoBackend(TIoBackend* backend);  // not owned; nullptr restores the null back end

// ---- Line operations ------------------------------------------------------------------
namespace detail {
inline void OutHi(unsigned bit) {
  auto& p = Ports();
  const uint8_t mask = static_cast<uint8_t>(1u << bit);
  const uint8_t v =
      static_cast<uint8_t>(p.DataShadow.fetch_and(static_cast<uint8_t>(~mask)) & ~mask);
  Io().Out(p.LptBase, v);
}
inline void OutLo(unsigned bit) {
  auto& p = Ports();
  const uint8_t mask = static_cast<uint8_t>(1u << bit);
  const uint8_t v = static_cast<uint8_t>(p.DataShadow.fetch_or(mask) | mask);
  Io().Out(p.LptBase, v);
}
inline uint8_t Status() { return Io().In(static_cast<uint16_t>(Ports().LptBase + 1)); }
}  // namespace detail

inline void Out1_hi() { detail::OutHi(0); }
inline void Out2_hi() { detail::OutHi(1); }
inline void Out3_hi() { detail::OutHi(2); }
inline void Out4_hi() { detail::OutHi(3); }
inline void Out5_hi() { detail::OutHi(4); }
inline void Out6_hi() { detail::OutHi(5); }
inline void Out7_hi() { detail::OutHi(6); }
inline void Out8_hi() { detail::OutHi(7); }
inline void Out1_lo() { detail::OutLo(0); }
inline void Out2_lo() { detail::OutLo(1); }
inline void Out3_lo() { detail::OutLo(2); }
inline void Out4_lo() { detail::OutLo(3); }
inline void Out5_lo() { detail::OutLo(4); }
inline void Out6_lo() { detail::OutLo(5); }
inline void Out7_lo() { detail::OutLo(6); }
inline void Out8_lo() { detail::OutLo(7); }
// Line n (1..8) high or low; for callers that choose the line at run time.
void OutLine(int n, bool high);

// Bit n-1 of value set = line n high.
void SetOutputs(uint8_t value);

inline bool Check_In1() { return (detail::Status() & 0x80) != 0; }
inline bool Check_In2() { return (detail::Status() & 0x40) == 0; }
inline bool Check_In3() { return (detail::Status() & 0x20) == 0; }
inline bool Check_In4() { return (detail::Status() & 0x10) == 0; }
inline bool Check_NotIn1() { return !Check_In1(); }
inline bool Check_NotIn2() { return !Check_In2(); }
inline bool Check_NotIn3() { return !Check_In3(); }
inline bool Check_NotIn4() { return !Check_In4(); }
inline bool Check_StopBtn() { return (detail::Status() & 0x08) != 0; }
inline bool Check_NotStopBtn() { return (detail::Status() & 0x08) == 0; }

void PowerOn();   // control bit 0 set, then 200 ms
void PowerOff();  // control bit 0 cleared, then 400 ms
bool IsPowerOn();

void RTS_hi();
void RTS_lo();
void DTR_hi();
void DTR_lo();
void TXD_hi();
void TXD_lo();
bool Check_CTS();
bool Check_NotCTS();

int32_t ReadPort(uint16_t address);
void WritePort(uint16_t address, uint8_t value);
int32_t GetLPTPort();
int32_t GetComPort();

// ---- Port set-up ----------------------------------------------------------------------
// Table base of an exactly spelled port name, 0 for any other name or when the port's
// device file does not open (absent, or held by another program or by our ComHandle).
uint16_t PortAddressOf(const std::string& name);
// Base of a name in the table without touching the device (0 when unknown).
uint16_t TableBaseOf(const std::string& name);
void SetComRegisters();

// ---- Serial port ----------------------------------------------------------------------
int32_t OpenComPort(uint32_t baud = 9600);
void CloseComPort();
void SetComBaud(uint16_t baud);
uint16_t ComDivisorOf(uint16_t baud);
bool ConfigCom(int32_t baud, uint8_t data, uint8_t parity, uint8_t stop);
// Polls for a received byte 1,048,575 times; `data` is left unchanged on time-out.
bool ReadByteCom(uint8_t& data);
bool WriteByteCom(uint8_t data);
inline constexpr uint32_t kComPollLimit = 1048575;

// ---- Priority -------------------------------------------------------------------------
void SetRealtimePriority();
void SetHighPriority();
void SetNormalPriority();

}  // namespace hw
