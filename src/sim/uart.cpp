#include "sim/uart.h"

namespace sim {

uint64_t TSerialFormat::FrameNs() const {
  // Start bit + data + parity + stop, in half bits so 1.5 stop bits stay exact.
  unsigned halfBits = 2 + 2u * dataBits + (parity ? 2 : 0);
  halfBits += stopBits == 0 ? 2 : (stopBits == 1 ? 3 : 4);
  const uint64_t div = divisor ? divisor : 65536;
  return halfBits * div * 16ull * 1000000000ull / (2ull * TUart::kClockHz);
}

TSerialFormat TUart::Format() const {
  TSerialFormat f;
  f.divisor = dl_;
  f.dataBits = static_cast<uint8_t>(5 + (lcr_ & 0x03));
  if (lcr_ & 0x08) {
    // LCR parity bits: 3 enable, 4 even, 5 stick.
    const bool even = lcr_ & 0x10, stick = lcr_ & 0x20;
    f.parity = stick ? (even ? 4 : 3) : (even ? 2 : 1);
  }
  if (lcr_ & 0x04) f.stopBits = f.dataBits == 5 ? 1 : 2;
  return f;
}

void TUart::SetFormat(const TSerialFormat& f) {
  dl_ = f.divisor;
  uint8_t l = static_cast<uint8_t>((f.dataBits - 5) & 0x03);
  if (f.stopBits != 0) l |= 0x04;
  switch (f.parity) {
    case 1:
      l |= 0x08;
      break;
    case 2:
      l |= 0x18;
      break;
    case 3:
      l |= 0x28;
      break;
    case 4:
      l |= 0x38;
      break;
    default:
      break;
  }
  lcr_ = static_cast<uint8_t>(l | (lcr_ & 0x40));  // the driver keeps a break as it is
}

void TUart::Advance(uint64_t t) {
  // Transmitter: finish frames whose stop bit has ended, refill from the holding queue.
  while (shifting_ && shiftEnd_ <= t) {
    const uint64_t end = shiftEnd_;
    const uint8_t mask = static_cast<uint8_t>((1u << Format().dataBits) - 1);
    const uint8_t b = static_cast<uint8_t>(shiftByte_ & mask);
    if (mcr_ & 0x10) {
      incoming_.push_back({end, b});  // loop-back: straight into our own receiver
    } else {
      sent_.push_back({end, b});
      if (OnTransmit) OnTransmit(end, b);
    }
    shifting_ = false;
    if (!tx_.empty()) {
      shiftByte_ = tx_.front();
      tx_.pop_front();
      shifting_ = true;
      shiftEnd_ = end + Format().FrameNs();
    }
  }
  // Receiver.
  while (!incoming_.empty() && incoming_.front().t <= t) {
    if (rx_.size() >= RxCapacity()) {
      lsrErrors_ |= 0x02;  // overrun: the new character is lost
    } else {
      rx_.push_back(incoming_.front().byte);
    }
    incoming_.pop_front();
  }
}

void TUart::PeerSend(uint64_t t, uint8_t byte) {
  const uint64_t start = t > rxLineFree_ ? t : rxLineFree_;
  rxLineFree_ = start + Format().FrameNs();
  incoming_.push_back({rxLineFree_, byte});
}

void TUart::SetModemInputs(uint8_t msrBits, uint64_t t) {
  Advance(t);
  modemIn_ = static_cast<uint8_t>(msrBits & 0xF0);
}

uint8_t TUart::MsrNow() {
  uint8_t m;
  if (mcr_ & 0x10) {
    // Loop-back: RTS->CTS, DTR->DSR, OUT1->RI, OUT2->DCD.
    m = static_cast<uint8_t>(((mcr_ & 0x02) << 3) | ((mcr_ & 0x01) << 5) | ((mcr_ & 0x04) << 4) |
                             ((mcr_ & 0x08) << 4));
  } else {
    m = modemIn_;
  }
  const uint8_t changed = static_cast<uint8_t>(m ^ msrLast_);
  msrDelta_ |= static_cast<uint8_t>(((changed >> 4) & 0x0B) | ((msrLast_ & ~m & 0x40) >> 4));
  msrLast_ = m;
  return m;
}

uint8_t TUart::Read(unsigned reg, uint64_t t) {
  Advance(t);
  const bool dlab = lcr_ & 0x80;
  switch (reg & 7) {
    case 0:
      if (dlab) return static_cast<uint8_t>(dl_ & 0xFF);
      if (rx_.empty()) return 0;
      {
        const uint8_t b = rx_.front();
        rx_.pop_front();
        return b;
      }
    case 1:
      return dlab ? static_cast<uint8_t>(dl_ >> 8) : ier_;
    case 2: {
      // No interrupt pending; FIFO bits when enabled.
      return static_cast<uint8_t>(0x01 | (Fifo() ? 0xC0 : 0));
    }
    case 3:
      return lcr_;
    case 4:
      return mcr_;
    case 5: {
      uint8_t lsr = lsrErrors_;
      if (!rx_.empty()) lsr |= 0x01;
      if (tx_.empty()) lsr |= 0x20;
      if (tx_.empty() && !shifting_) lsr |= 0x40;
      lsrErrors_ = 0;
      return lsr;
    }
    case 6: {
      const uint8_t m = MsrNow();
      const uint8_t r = static_cast<uint8_t>(m | msrDelta_);
      msrDelta_ = 0;
      return r;
    }
    default:
      return scr_;
  }
}

void TUart::Write(unsigned reg, uint8_t value, uint64_t t) {
  Advance(t);
  const bool dlab = lcr_ & 0x80;
  switch (reg & 7) {
    case 0:
      if (dlab) {
        dl_ = static_cast<uint16_t>((dl_ & 0xFF00) | value);
      } else if (!shifting_) {
        shiftByte_ = value;
        shifting_ = true;
        shiftEnd_ = t + Format().FrameNs();
      } else if (tx_.size() < TxCapacity()) {
        tx_.push_back(value);
      } else {
        tx_.back() = value;  // writing a full holding register overwrites it
      }
      break;
    case 1:
      if (dlab)
        dl_ = static_cast<uint16_t>((dl_ & 0x00FF) | (value << 8));
      else
        ier_ = static_cast<uint8_t>(value & 0x0F);
      break;
    case 2:
      fcr_ = static_cast<uint8_t>(value & 0xC9);
      if (value & 0x02) rx_.clear();
      if (value & 0x04) tx_.clear();
      if (!Fifo()) {
        while (rx_.size() > 1) rx_.pop_front();
        while (tx_.size() > 1) tx_.pop_front();
      }
      break;
    case 3:
      lcr_ = value;
      break;
    case 4:
      mcr_ = static_cast<uint8_t>(value & 0x1F);
      break;
    case 7:
      scr_ = value;
      break;
    default:
      break;  // LSR and MSR are read-only
  }
}

}  // namespace sim
