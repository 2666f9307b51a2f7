#include "hw/backends/dev.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "hw/backends/backends.h"
#include "hw/backends/device_paths.h"
#include "hw/backends/linux_port_files.h"
#include "hw/ports.h"

namespace hw {

namespace {

constexpr uint16_t kCmosIndex = 0x70;
constexpr uint16_t kCmosData = 0x71;
constexpr uint32_t kUartClock = 115200;  // divisor 1
// How long PPCLAIM may wait for another program to release the parallel port.
constexpr long kClaimLimitMs = 2000;

void NoOpHandler(int) {}

// PPCLAIM sleeps until the port is free. A one-shot timer aimed at this thread delivers a
// signal (installed without SA_RESTART) that ends the wait with EINTR after `ms`.
int ClaimWithin(int fd, long ms) {
  const int sig = SIGRTMAX - 1;
  struct sigaction sa {};
  struct sigaction old {};
  sa.sa_handler = NoOpHandler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  sigaction(sig, &sa, &old);
  sigset_t only, oldMask;
  sigemptyset(&only);
  sigaddset(&only, sig);
  pthread_sigmask(SIG_UNBLOCK, &only, &oldMask);

  timer_t timer{};
  sigevent sev{};
  sev.sigev_notify = SIGEV_THREAD_ID;
  sev.sigev_signo = sig;
  sev._sigev_un._tid = gettid();
  const bool armed = timer_create(CLOCK_MONOTONIC, &sev, &timer) == 0;
  if (armed) {
    itimerspec its{};
    its.it_value.tv_sec = ms / 1000;
    its.it_value.tv_nsec = (ms % 1000) * 1000000;
    timer_settime(timer, 0, &its, nullptr);
  }
  const int err = ioctl(fd, PPCLAIM) == 0 ? 0 : errno;
  if (armed) timer_delete(timer);
  pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
  sigaction(sig, &old, nullptr);
  return err;
}

}  // namespace

TDevBackend::TDevBackend(const std::string& lptName, const std::string& comName,
                         TCmosTimeSource& time)
    : lptName_(lptName), comName_(comName), cmos_(time) {}

std::unique_ptr<TDevBackend> TDevBackend::Create(const std::string& lptName,
                                                 const std::string& comName, std::string& reason,
                                                 TCmosTimeSource& time) {
  std::unique_ptr<TDevBackend> b(new TDevBackend(lptName, comName, time));
  if (!comName.empty()) {
    if (DevicePathOf(comName).empty()) {
      reason = comName + ": not a port name (COM1..COM4)";
      return nullptr;
    }
    b->comBase_ = TableBaseOf(comName);
  }
  if (lptName.empty()) return b;

  const std::string path = DevicePathOf(lptName);
  if (path.empty() || lptName.compare(0, 3, "LPT") != 0) {
    reason = lptName + ": not a port name (LPT1..LPT4)";
    return nullptr;
  }
  const int fd = OpenPortDevice(lptName, &reason, /*listed=*/false);
  if (fd < 0) return nullptr;
  if (const int err = ClaimWithin(fd, kClaimLimitMs); err != 0) {
    CloseUnlistedPortDevice(fd);
    if (err == EINTR)
      reason = path + ": another program holds the parallel port (not released within " +
               std::to_string(kClaimLimitMs / 1000) + " s)";
    else if (err == ENOTTY || err == EINVAL)
      reason = path + ": not a ppdev parallel port (PPCLAIM: " + std::strerror(err) + ")";
    else
      reason = path + ": cannot claim the parallel port: " + std::strerror(err);
    return nullptr;
  }
  // Outputs on the data lines, as the adapter expects.
  int forward = 0;
  (void)ioctl(fd, PPDATADIR, &forward);
  b->lptFd_ = fd;
  b->lptBase_ = TableBaseOf(lptName);
  return b;
}

TDevBackend::~TDevBackend() {
  for (const int h : handles_) ClosePortDevice(h);
  ReleaseLazyCom();
  if (lptFd_ >= 0) {
    (void)ioctl(lptFd_, PPRELEASE);
    CloseUnlistedPortDevice(lptFd_);
  }
}

std::string TDevBackend::LastError() const {
  if (!lastWhat_) return lastText_;
  const std::string path = DevicePathOf(lastOnCom_ ? comName_ : lptName_);
  return path + ": " + lastWhat_ + ": " + std::strerror(lastErrno_);
}

void TDevBackend::Failed(bool com, const char* what, int err) {
  ++failedAccesses_;
  lastOnCom_ = com;
  lastWhat_ = what;
  lastErrno_ = err;
}

void TDevBackend::FailedText(const std::string& text) {
  ++failedAccesses_;
  lastWhat_ = nullptr;
  lastText_ = text;
}

// ---- dispatch ---------------------------------------------------------------------------

uint8_t TDevBackend::In(uint16_t port) {
  if (lptFd_ >= 0 && lptBase_ && static_cast<unsigned>(port - lptBase_) < 3u)
    return LptIn(static_cast<unsigned>(port - lptBase_));
  if (comBase_ && static_cast<unsigned>(port - comBase_) < 8u)
    return ComIn(static_cast<unsigned>(port - comBase_));
  if (port == kCmosData) return cmos_.ReadData();
  return 0xFF;  // the index register is write-only; nothing else is reachable
}

void TDevBackend::Out(uint16_t port, uint8_t value) {
  if (lptFd_ >= 0 && lptBase_ && static_cast<unsigned>(port - lptBase_) < 3u)
    return LptOut(static_cast<unsigned>(port - lptBase_), value);
  if (comBase_ && static_cast<unsigned>(port - comBase_) < 8u)
    return ComOut(static_cast<unsigned>(port - comBase_), value);
  if (port == kCmosIndex) return cmos_.WriteIndex(value);
  if (port == kCmosData) return cmos_.WriteData(value);
}

void TDevBackend::OutWord(uint16_t port, uint16_t value) {
  Out(port, static_cast<uint8_t>(value));
  Out(static_cast<uint16_t>(port + 1), static_cast<uint8_t>(value >> 8));
}

void TDevBackend::DelayLoop(uint32_t cycles) {
  volatile uint8_t sink = 0;
  for (uint32_t i = 0; i < cycles; ++i) {
    Out(kCmosIndex, 0x00);
    sink = In(kCmosData);
  }
  (void)sink;
}

// ---- parallel port ----------------------------------------------------------------------

uint8_t TDevBackend::LptIn(unsigned reg) {
  unsigned char v = 0xFF;
  switch (reg) {
    case 0:
      if (ioctl(lptFd_, PPRDATA, &v) != 0) Failed(false, "PPRDATA", errno);
      return v;
    case 1:
      if (ioctl(lptFd_, PPRSTATUS, &v) != 0) Failed(false, "PPRSTATUS", errno);
      return v;
    default:
      // ppdev reports the four control lines; the direction and interrupt bits are
      // ours, and bits 6 and 7 read 1 as on most ports.
      if (ioctl(lptFd_, PPRCONTROL, &v) != 0) {
        Failed(false, "PPRCONTROL", errno);
        return 0xFF;
      }
      return static_cast<uint8_t>((v & 0x0F) | lptControlHigh_ | 0xC0);
  }
}

void TDevBackend::LptOut(unsigned reg, uint8_t value) {
  unsigned char v = value;
  switch (reg) {
    case 0:
      if (ioctl(lptFd_, PPWDATA, &v) != 0) Failed(false, "PPWDATA", errno);
      return;
    case 1:
      return;  // the status register is read-only
    default: {
      const uint8_t high = value & 0x30;
      if ((high ^ lptControlHigh_) & 0x20) {
        int reverse = (high & 0x20) ? 1 : 0;
        if (ioctl(lptFd_, PPDATADIR, &reverse) != 0) Failed(false, "PPDATADIR", errno);
      }
      lptControlHigh_ = high;
      v = static_cast<unsigned char>(value & 0x0F);
      if (ioctl(lptFd_, PPWCONTROL, &v) != 0) Failed(false, "PPWCONTROL", errno);
      return;
    }
  }
}

// ---- serial port ------------------------------------------------------------------------

int TDevBackend::ComFd() {
  if (comHandle_ >= 0) return comHandle_;
  if (comLazyFd_ >= 0) return comLazyFd_;
  if (comName_.empty() || comLazyFailed_) return -1;
  std::string reason;
  comLazyFd_ = OpenPortDevice(comName_, &reason, /*listed=*/false);
  if (comLazyFd_ < 0) {
    // Not retried on every access: the next open of the port by name tries again.
    comLazyFailed_ = true;
    FailedText(reason);
  }
  return comLazyFd_;
}

void TDevBackend::ReleaseLazyCom() {
  CloseUnlistedPortDevice(comLazyFd_);
  comLazyFd_ = -1;
}

uint8_t TDevBackend::LcrFormatOf(const TCommState& state) {
  uint8_t lcr = static_cast<uint8_t>((state.ByteSize < 5 ? 0 : state.ByteSize - 5) & 0x03);
  if (state.StopBits != 0) lcr |= 0x04;
  switch (state.Parity) {
    case 1:  // odd
      lcr |= 0x08;
      break;
    case 2:  // even
      lcr |= 0x18;
      break;
    case 3:  // mark: stick parity, the bit is 1
      lcr |= 0x28;
      break;
    case 4:  // space: stick parity, the bit is 0
      lcr |= 0x38;
      break;
    default:
      break;
  }
  return lcr;
}

void TDevBackend::ApplyLcrFormat(uint8_t lcr, TCommState& state) {
  state.ByteSize = static_cast<uint8_t>(5 + (lcr & 0x03));
  state.StopBits = !(lcr & 0x04) ? 0 : state.ByteSize == 5 ? 1 : 2;
  if (!(lcr & 0x08))
    state.Parity = 0;
  else if (lcr & 0x20)
    state.Parity = (lcr & 0x10) ? 4 : 3;
  else
    state.Parity = (lcr & 0x10) ? 2 : 1;
}

uint8_t TDevBackend::FormatBits(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return lcrFormat_;
  TCommState st;
  FormatFromCflag(t.c_cflag, st);
  return LcrFormatOf(st);
}

void TDevBackend::ApplyFormatBits(int fd, uint8_t lcr) {
  const uint8_t format = lcr & 0x3F;
  if (format == FormatBits(fd)) return;
  lcrFormat_ = format;
  TCommState st;
  std::string reason;
  if (!GetTtyCommState(fd, st, &reason)) return FailedText(reason);
  ApplyLcrFormat(format, st);
  if (!SetTtyCommState(fd, st, &reason)) FailedText(reason);
}

void TDevBackend::ApplyDivisor(int fd) {
  divisorWritten_ = false;
  if (divisor_ == 0) return;  // undefined on a UART; leave the rate alone
  TCommState st;
  std::string reason;
  if (!GetTtyCommState(fd, st, &reason)) return FailedText(reason);
  st.BaudRate = (kUartClock + divisor_ / 2u) / divisor_;
  if (!SetTtyCommState(fd, st, &reason)) FailedText(reason);
}

uint8_t TDevBackend::ComIn(unsigned reg) {
  const int fd = ComFd();
  if (fd < 0) return 0xFF;
  const bool dlab = (lcrHigh_ & 0x80) != 0;
  switch (reg) {
    case 0: {
      if (dlab) return static_cast<uint8_t>(divisor_);
      unsigned char b;
      const ssize_t n = read(fd, &b, 1);
      if (n == 1)
        lastRbr_ = b;
      else if (n < 0 && errno != EAGAIN)
        Failed(true, "read", errno);
      return lastRbr_;  // like the register: the last byte received stays there
    }
    case 1:
      return dlab ? static_cast<uint8_t>(divisor_ >> 8) : ier_;
    case 2:
      return (fcr_ & 0x01) ? 0xC1 : 0x01;  // no interrupt pending
    case 3:
      return static_cast<uint8_t>(FormatBits(fd) | lcrHigh_);
    case 4: {
      int bits = 0;
      if (ioctl(fd, TIOCMGET, &bits) != 0) {
        Failed(true, "TIOCMGET", errno);
        return mcr_;
      }
      return static_cast<uint8_t>((mcr_ & ~0x03) | ((bits & TIOCM_DTR) ? 0x01 : 0) |
                                  ((bits & TIOCM_RTS) ? 0x02 : 0));
    }
    case 5: {
      int waiting = 0, queued = 0;
      uint8_t lsr = 0;
      if (ioctl(fd, FIONREAD, &waiting) != 0)
        Failed(true, "FIONREAD", errno);
      else if (waiting > 0)
        lsr |= 0x01;
      // A queue that cannot be asked about counts as empty, so writers do not stall.
      if (ioctl(fd, TIOCOUTQ, &queued) != 0) Failed(true, "TIOCOUTQ", errno);
      if (queued <= 0) lsr |= 0x60;
      return lsr;
    }
    case 6: {
      int bits = 0;
      if (ioctl(fd, TIOCMGET, &bits) != 0) {
        Failed(true, "TIOCMGET", errno);
        return msrLines_;
      }
      const uint8_t lines =
          static_cast<uint8_t>(((bits & TIOCM_CTS) ? 0x10 : 0) | ((bits & TIOCM_DSR) ? 0x20 : 0) |
                               ((bits & TIOCM_RI) ? 0x40 : 0) | ((bits & TIOCM_CD) ? 0x80 : 0));
      const uint8_t changed = msrKnown_ ? static_cast<uint8_t>(lines ^ msrLines_) : 0;
      uint8_t delta = 0;
      if (changed & 0x10) delta |= 0x01;
      if (changed & 0x20) delta |= 0x02;
      if ((changed & 0x40) && !(lines & 0x40)) delta |= 0x04;  // trailing edge of RI
      if (changed & 0x80) delta |= 0x08;
      msrLines_ = lines;
      msrKnown_ = true;
      return static_cast<uint8_t>(lines | delta);
    }
    default:
      return scratch_;
  }
}

void TDevBackend::ComOut(unsigned reg, uint8_t value) {
  const int fd = ComFd();
  if (fd < 0) return;
  const bool dlab = (lcrHigh_ & 0x80) != 0;
  switch (reg) {
    case 0:
      if (dlab) {
        divisor_ = static_cast<uint16_t>((divisor_ & 0xFF00) | value);
        divisorWritten_ = true;
      } else if (write(fd, &value, 1) != 1) {
        Failed(true, "write", errno);
      }
      return;
    case 1:
      if (dlab) {
        divisor_ = static_cast<uint16_t>((divisor_ & 0x00FF) | (value << 8));
        divisorWritten_ = true;
      } else {
        ier_ = value & 0x0F;
      }
      return;
    case 2:
      fcr_ = value;
      return;
    case 3: {
      const uint8_t high = value & 0xC0;
      if ((high ^ lcrHigh_) & 0x40) {
        if (ioctl(fd, (high & 0x40) ? TIOCSBRK : TIOCCBRK) != 0)
          Failed(true, (high & 0x40) ? "TIOCSBRK" : "TIOCCBRK", errno);
      }
      if ((high & 0x80) && !(lcrHigh_ & 0x80)) {
        // Divisor access begins: the latch shows the rate the tty runs at.
        uint32_t baud = 0;
        if (GetTtySpeed(fd, baud) == 0 && baud > 0)
          divisor_ = static_cast<uint16_t>((kUartClock + baud / 2) / baud);
        divisorWritten_ = false;
      }
      ApplyFormatBits(fd, value);
      if (!(high & 0x80) && (lcrHigh_ & 0x80) && divisorWritten_) ApplyDivisor(fd);
      lcrHigh_ = high;
      return;
    }
    case 4: {
      mcr_ = value & 0x1F;
      int on = 0, off = 0;
      (value & 0x01 ? on : off) |= TIOCM_DTR;
      (value & 0x02 ? on : off) |= TIOCM_RTS;
      if (on && ioctl(fd, TIOCMBIS, &on) != 0) Failed(true, "TIOCMBIS", errno);
      if (off && ioctl(fd, TIOCMBIC, &off) != 0) Failed(true, "TIOCMBIC", errno);
      return;
    }
    case 7:
      scratch_ = value;
      return;
    default:
      return;  // the status registers are read-only
  }
}

// ---- device files -----------------------------------------------------------------------

int32_t TDevBackend::OpenPortFile(const std::string& name, std::string* reason) {
  int h = -1;
  if (name == lptName_ && lptFd_ >= 0) {
    // The back end holds the parallel port itself; the program's open shares that file.
    h = SharePortDevice(name, lptFd_, reason);
  } else if (name == comName_ && comLazyFd_ >= 0) {
    // Hand the descriptor used so far to the program, with the line states it has set.
    if (!ListPortDevice(name, comLazyFd_, reason)) return -1;
    h = comLazyFd_;
    comLazyFd_ = -1;
  } else {
    h = OpenPortDevice(name, reason);
  }
  if (h < 0) return -1;
  handles_.insert(h);
  if (name == comName_) {
    comHandle_ = h;
    comLazyFailed_ = false;
  }
  return h;
}

void TDevBackend::ClosePortFile(int32_t handle) {
  if (!handles_.erase(handle)) return;
  if (handle == comHandle_) {
    comHandle_ = -1;
    comLazyFailed_ = false;
  }
  ClosePortDevice(handle);
}

bool TDevBackend::GetCommState(int32_t handle, TCommState& state) {
  std::string reason;
  if (!handles_.count(handle)) {
    FailedText("handle " + std::to_string(handle) + " is not an open port");
    return false;
  }
  if (GetTtyCommState(handle, state, &reason)) return true;
  FailedText(reason);
  return false;
}

bool TDevBackend::SetCommState(int32_t handle, const TCommState& state) {
  std::string reason;
  if (!handles_.count(handle)) {
    FailedText("handle " + std::to_string(handle) + " is not an open port");
    return false;
  }
  if (SetTtyCommState(handle, state, &reason)) return true;
  FailedText(reason);
  return false;
}

// ---- factory ----------------------------------------------------------------------------

std::unique_ptr<TIoBackend> MakeDevBackend(const std::string& lptName, const std::string& comName,
                                           std::string& reason) {
  return TDevBackend::Create(lptName, comName, reason);
}

bool AdapterReachable(const std::string& lptName) {
  if (lptName.compare(0, 3, "LPT") != 0) return false;
  const std::string path = DevicePathOf(lptName);
  if (path.empty()) return false;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

}  // namespace hw
