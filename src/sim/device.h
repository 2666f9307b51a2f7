// What plugs into the bench: the virtual device in the socket and the stimulus sources.
#pragma once

#include <cstdint>
#include <string>

#include "sim/lines.h"

namespace sim {

class TBench;

// A device's drive on the input lines: a line in neither mask is released.
struct TDrive {
  uint32_t low = 0;
  uint32_t high = 0;
};

// Virtual devices are written from the datasheet behaviour of the part they model, never
// from the program's own engines, so an engine fault shows up as a failed test.
class TVirtualDevice {
 public:
  virtual ~TVirtualDevice() = default;
  virtual std::string Name() const = 0;
  // Plugged into a bench; `levels` are the line levels at that moment.
  virtual void OnPlug(TBench& bench, uint64_t t, uint32_t levels) {
    (void)bench;
    OnLines(t, levels, kOutputLines);
  }
  virtual void OnUnplug() {}
  // Some PC-driven line changed at virtual time t (ns); `levels` holds every line.
  virtual void OnLines(uint64_t t, uint32_t levels, uint32_t changed) = 0;
  // What the device drives on the input lines at time t. Called at every read of a
  // status register and after each line change; t never decreases.
  virtual TDrive Drive(uint64_t t) = 0;
  // A byte the adapter's UART finished sending on TXD (ends at t).
  virtual void OnSerialByte(uint64_t t, uint8_t byte) {
    (void)t;
    (void)byte;
  }
};

}  // namespace sim
