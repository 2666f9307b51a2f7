#include "hw/backends/direct.h"

#include <errno.h>

#include <cstring>

#include "hw/backends/backends.h"
#include "hw/backends/linux_port_files.h"

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define VARNIX_X86_PORTS 1
#else
#define VARNIX_X86_PORTS 0
#endif

namespace hw {

namespace {

constexpr uint16_t kCmosIndex = 0x70;
constexpr uint16_t kCmosData = 0x71;
constexpr uint32_t kIoplBoundary = 0x400;  // ioperm reaches ports below, iopl the rest

#if VARNIX_X86_PORTS
inline uint8_t PortIn(uint16_t port) {
  uint8_t v;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(v) : "Nd"(port));
  return v;
}
inline void PortOut(uint16_t port, uint8_t v) {
  __asm__ __volatile__("outb %b0, %w1" : : "a"(v), "Nd"(port));
}
inline void PortOutWord(uint16_t port, uint16_t v) {
  __asm__ __volatile__("outw %w0, %w1" : : "a"(v), "Nd"(port));
}
int GrantRange(unsigned from, unsigned count, bool on) {
  return ioperm(from, count, on ? 1 : 0) == 0 ? 0 : errno;
}
int RaiseIopl(int level) { return iopl(level) == 0 ? 0 : errno; }
#else
inline uint8_t PortIn(uint16_t) { return 0xFF; }
inline void PortOut(uint16_t, uint8_t) {}
inline void PortOutWord(uint16_t, uint16_t) {}
int GrantRange(unsigned, unsigned, bool) { return ENOSYS; }
int RaiseIopl(int) { return ENOSYS; }
#endif

bool ChipsetPort(uint16_t port) { return port < 0x100 && port != kCmosIndex && port != kCmosData; }

// Where an adapter can hang: the LPT and COM bases of the port table with their
// register blocks.
struct TRange {
  uint16_t from, count;
};
constexpr TRange kAdapterRanges[] = {{0x378, 8}, {0x278, 8}, {0x3BC, 4}, {0x3F8, 8},
                                     {0x2F8, 8}, {0x3E8, 8}, {0x2E8, 8}};

}  // namespace

std::unique_ptr<TDirectBackend> TDirectBackend::Create(std::string& reason) {
  if (!VARNIX_X86_PORTS) {
    reason = "the direct back end needs an x86 processor (port instructions)";
    return nullptr;
  }
  if (const int err = GrantRange(kCmosIndex, 2, true); err != 0) {
    if (err == ENOSYS)
      reason =
          "direct port access is not available: this kernel has no ioperm "
          "(built without CONFIG_X86_IOPL_IOPERM)";
    else
      reason = std::string("direct port access needs root (CAP_SYS_RAWIO): ioperm: ") +
               std::strerror(err);
    return nullptr;
  }
  std::unique_ptr<TDirectBackend> b(new TDirectBackend());
  b->access_[kCmosIndex] = b->access_[kCmosData] = kUsable;
  for (const auto& r : kAdapterRanges) {
    if (const int err = GrantRange(r.from, r.count, true); err != 0) {
      reason =
          std::string("direct port access: ioperm on the port registers: ") + std::strerror(err);
      GrantRange(kCmosIndex, 2, false);
      return nullptr;
    }
    for (unsigned p = r.from; p < static_cast<unsigned>(r.from + r.count); ++p)
      b->access_[p] = kUsable;
  }
  return b;
}

TDirectBackend::~TDirectBackend() {
  // Give back what was granted, so a later back end in this process starts clean.
  GrantRange(0, kIoplBoundary, false);
  if (iopl_ == 1) RaiseIopl(0);
}

bool TDirectBackend::Grant(uint16_t port) {
  if (access_[port] != kUntried) return access_[port] == kUsable;
  if (ChipsetPort(port) || mapApplied_) {
    access_[port] = kRefused;
    return false;
  }
  bool ok;
  if (port < kIoplBoundary) {
    ok = GrantRange(port, 1, true) == 0;
  } else {
    if (iopl_ == 0) iopl_ = RaiseIopl(3) == 0 ? 1 : -1;
    ok = iopl_ == 1;
  }
  access_[port] = ok ? kUsable : kRefused;
  return ok;
}

uint8_t TDirectBackend::In(uint16_t port) { return Usable(port) ? PortIn(port) : 0xFF; }

void TDirectBackend::Out(uint16_t port, uint8_t value) {
  if (Usable(port)) PortOut(port, value);
}

void TDirectBackend::OutWord(uint16_t port, uint16_t value) {
  if (port != 0xFFFF && Usable(port) && Usable(static_cast<uint16_t>(port + 1))) {
    PortOutWord(port, value);
    return;
  }
  Out(port, static_cast<uint8_t>(value));
  Out(static_cast<uint16_t>(port + 1), static_cast<uint8_t>(value >> 8));
}

void TDirectBackend::DelayLoop(uint32_t cycles) {
  // A map that denies the clock leaves nothing to count with.
  if (access_[kCmosIndex] != kUsable || access_[kCmosData] != kUsable) return;
  for (uint32_t i = 0; i < cycles; ++i) {
    PortOut(kCmosIndex, 0x00);
    (void)PortIn(kCmosData);
  }
}

int32_t TDirectBackend::OpenPortFile(const std::string& name, std::string* reason) {
  return OpenPortDevice(name, reason);
}

void TDirectBackend::ClosePortFile(int32_t handle) { ClosePortDevice(handle); }

bool TDirectBackend::GetCommState(int32_t handle, TCommState& state) {
  if (PortNameOfDevice(handle).empty()) {
    lastError_ = "handle " + std::to_string(handle) + " is not an open port";
    return false;
  }
  return GetTtyCommState(handle, state, &lastError_);
}

bool TDirectBackend::SetCommState(int32_t handle, const TCommState& state) {
  if (PortNameOfDevice(handle).empty()) {
    lastError_ = "handle " + std::to_string(handle) + " is not an open port";
    return false;
  }
  return SetTtyCommState(handle, state, &lastError_);
}

bool TDirectBackend::ApplyIoAccessMap(const uint8_t* map, std::string* reason) {
  if (!map) {
    if (reason) *reason = "no access map";
    return false;
  }
  auto denied = [map](unsigned p) { return ((map[p >> 3] >> (p & 7)) & 1) != 0; };
  std::string failure;
  // Below the boundary: one ioperm call per run of equally treated ports.
  for (unsigned from = 0; from < kIoplBoundary;) {
    const bool deny = denied(from);
    unsigned to = from + 1;
    while (to < kIoplBoundary && denied(to) == deny) ++to;
    const int err = GrantRange(from, to - from, !deny);
    if (err != 0 && !deny && failure.empty())
      failure = "ioperm " + std::to_string(from) + ".." + std::to_string(to - 1) + ": " +
                std::strerror(err);
    for (unsigned p = from; p < to; ++p)
      access_[p] = (deny || err != 0 || ChipsetPort(static_cast<uint16_t>(p))) ? kRefused : kUsable;
    from = to;
  }
  // Above it only all-or-nothing exists; the per-port check keeps denied ones out.
  bool anyAbove = false;
  for (unsigned p = kIoplBoundary; p < 65536 && !anyAbove; ++p) anyAbove = !denied(p);
  if (anyAbove && iopl_ != 1) {
    const int err = RaiseIopl(3);
    iopl_ = err == 0 ? 1 : -1;
    if (err != 0 && failure.empty()) failure = std::string("iopl(3): ") + std::strerror(err);
  } else if (!anyAbove && iopl_ == 1) {
    RaiseIopl(0);
    iopl_ = 0;
  }
  for (unsigned p = kIoplBoundary; p < 65536; ++p)
    access_[p] = (!denied(p) && iopl_ == 1) ? kUsable : kRefused;
  mapApplied_ = true;
  if (!failure.empty()) {
    if (reason) *reason = failure;
    return false;
  }
  return true;
}

std::unique_ptr<TIoBackend> MakeDirectBackend(std::string& reason) {
  return TDirectBackend::Create(reason);
}

}  // namespace hw
