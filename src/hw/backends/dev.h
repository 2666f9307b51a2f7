// `dev`: the ports through Linux device files, without root. Register accesses are
// translated one by one:
//   LPT base+0/1/2 (the configured LPT)  ppdev PPWDATA/PPRDATA, PPRSTATUS,
//                                        PPRCONTROL/PPWCONTROL on the claimed port
//   COM base+0..7 (the configured COM)   the tty: THR write(), RBR read() (non-blocking),
//                                        MCR DTR/RTS to TIOCMBIS/TIOCMBIC, LCR break to
//                                        TIOCSBRK/TIOCCBRK, LCR format and the divisor
//                                        latch to termios, MSR from TIOCMGET, LSR from
//                                        FIONREAD/TIOCOUTQ
//   0x70/0x71                            an emulated CMOS clock (TCmosClock)
//   anything else                        reads 0xFF, writes are ignored
// ppdev and the parallel-port drivers under it pass the PC register values through
// unchanged (the status read is the status register as read, hardware-inverted busy bit
// and all), so the LPT registers mean what they mean on the bare port.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "hw/backends/cmos_clock.h"
#include "hw/io_backend.h"

namespace hw {

class TDevBackend final : public TIoBackend {
 public:
  // Opens and claims the parallel port of `lptName` ("" for none) for the back end's
  // lifetime; the serial port `comName` ("" for none) is reached through the handle the
  // program opens for it or, until it does, through a descriptor the back end opens on
  // first use. `time` drives the emulated clock (the host clocks unless a test gives
  // its own; it must outlive the back end).
  static std::unique_ptr<TDevBackend> Create(const std::string& lptName, const std::string& comName,
                                             std::string& reason,
                                             TCmosTimeSource& time = SystemCmosTime());
  ~TDevBackend() override;

  const char* Name() const override { return "dev"; }
  uint8_t In(uint16_t port) override;
  void Out(uint16_t port, uint8_t value) override;
  void OutWord(uint16_t port, uint16_t value) override;
  // The same emulated accesses as calibration counts, `cycles` times.
  void DelayLoop(uint32_t cycles) override;

  int32_t OpenPortFile(const std::string& name, std::string* reason) override;
  void ClosePortFile(int32_t handle) override;
  bool GetCommState(int32_t handle, TCommState& state) override;
  bool SetCommState(int32_t handle, const TCommState& state) override;
  // The kernel mediates every access; there is no map to install.
  bool ApplyIoAccessMap(const uint8_t*, std::string*) override { return true; }
  bool NeedsPortDriver() const override { return false; }
  bool UsesRealTime() const override { return true; }

  // The format bits (0..5) of a line control register for a line format, and back.
  static uint8_t LcrFormatOf(const TCommState& state);
  static void ApplyLcrFormat(uint8_t lcr, TCommState& state);

  uint16_t LptBase() const { return lptBase_; }
  uint16_t ComBase() const { return comBase_; }
  // The last failure of a translated access or a serial-format request, one line.
  std::string LastError() const;
  // Translated accesses that the system refused since the back end was made.
  uint64_t FailedAccesses() const { return failedAccesses_; }

 private:
  TDevBackend(const std::string& lptName, const std::string& comName, TCmosTimeSource& time);

  uint8_t LptIn(unsigned reg);
  void LptOut(unsigned reg, uint8_t value);
  uint8_t ComIn(unsigned reg);
  void ComOut(unsigned reg, uint8_t value);
  int ComFd();  // -1 while the tty cannot be reached
  void ReleaseLazyCom();
  uint8_t FormatBits(int fd);
  void ApplyFormatBits(int fd, uint8_t lcr);
  void ApplyDivisor(int fd);
  // Cheap enough for a polling loop: the text is only built when asked for.
  void Failed(bool com, const char* what, int err);
  void FailedText(const std::string& text);

  std::string lptName_, comName_;
  uint16_t lptBase_ = 0, comBase_ = 0;
  int lptFd_ = -1;
  uint8_t lptControlHigh_ = 0;  // bits 4 and 5 (interrupt enable, data direction)

  std::set<int> handles_;  // what OpenPortFile gave out and ClosePortFile has not taken
  int comHandle_ = -1;     // the program's open handle for comName_, if any
  int comLazyFd_ = -1;     // opened by the back end on first use while no handle exists
  bool comLazyFailed_ = false;
  uint8_t lcrHigh_ = 0;       // bits 6 (break) and 7 (divisor latch access)
  uint8_t lcrFormat_ = 0x03;  // used when the tty cannot report its format
  uint8_t ier_ = 0, mcr_ = 0, scratch_ = 0, fcr_ = 0, lastRbr_ = 0;
  uint8_t msrLines_ = 0;  // CTS, DSR, RI, DCD as bits 4..7 at the previous MSR read
  bool msrKnown_ = false;
  uint16_t divisor_ = 12;
  bool divisorWritten_ = false;

  TCmosClock cmos_;
  const char* lastWhat_ = nullptr;  // the refused request, or nullptr for lastText_
  int lastErrno_ = 0;
  bool lastOnCom_ = false;
  std::string lastText_;
  uint64_t failedAccesses_ = 0;
};

}  // namespace hw
