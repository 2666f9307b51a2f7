// A 16550 UART in virtual time: divisor latch, FIFOs, LCR break, MCR with loop-back,
// MSR with deltas, LSR, and a serial peer at the far end of the line.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace sim {

struct TSerialFormat {
  uint16_t divisor = 12;  // 115200 / divisor baud
  uint8_t dataBits = 8;
  uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
  double Baud() const { return 115200.0 / (divisor ? divisor : 65536); }
  // Length of one character frame on the line.
  uint64_t FrameNs() const;
};

class TUart {
 public:
  static constexpr uint32_t kClockHz = 1843200;

  // Register access at offset 0..7 from the base, at virtual time t.
  uint8_t Read(unsigned reg, uint64_t t);
  void Write(unsigned reg, uint8_t value, uint64_t t);

  // What the system's serial driver does when the line format is set.
  TSerialFormat Format() const;
  void SetFormat(const TSerialFormat& f);

  // The far end: called with each byte when its stop bit ends.
  std::function<void(uint64_t t, uint8_t byte)> OnTransmit;
  // The far end sends bytes; each arrives one frame after the line is free from t on.
  void PeerSend(uint64_t t, uint8_t byte);
  // Modem-status inputs as their register bits read (CTS bit 4, DSR 5, RI 6, DCD 7).
  void SetModemInputs(uint8_t msrBits, uint64_t t);
  // Every byte transmitted so far, with the time its frame ended.
  struct TSent {
    uint64_t t;
    uint8_t byte;
  };
  const std::vector<TSent>& Sent() const { return sent_; }

  // Lets the line run up to time t (frames finish, bytes arrive).
  void Sync(uint64_t t) { Advance(t); }

  uint8_t Lcr() const { return lcr_; }
  uint8_t Mcr() const { return mcr_; }
  bool Break() const { return (lcr_ & 0x40) != 0; }
  bool Fifo() const { return (fcr_ & 0x01) != 0; }

 private:
  void Advance(uint64_t t);
  uint8_t MsrNow();
  size_t RxCapacity() const { return Fifo() ? 16 : 1; }
  size_t TxCapacity() const { return Fifo() ? 16 : 1; }

  uint8_t ier_ = 0, lcr_ = 0, mcr_ = 0, fcr_ = 0, scr_ = 0;
  uint16_t dl_ = 12;
  uint8_t lsrErrors_ = 0;  // overrun (bit 1) until LSR is read
  uint8_t modemIn_ = 0;    // CTS/DSR/RI/DCD bits from the far end
  uint8_t msrLast_ = 0;    // for the delta bits
  uint8_t msrDelta_ = 0;
  std::deque<uint8_t> rx_, tx_;
  bool shifting_ = false;
  uint8_t shiftByte_ = 0;
  uint64_t shiftEnd_ = 0;
  struct TIncoming {
    uint64_t t;
    uint8_t byte;
  };
  std::deque<TIncoming> incoming_;
  uint64_t rxLineFree_ = 0;
  std::vector<TSent> sent_;
};

}  // namespace sim
