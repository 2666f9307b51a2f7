// The one interface all port I/O goes through. Back ends: the simulated bench (sim/),
// direct x86 port instructions and Linux device files (hw/backends/).
#pragma once

#include <cstdint>
#include <string>

namespace hw {

// Serial line format in the system's own codes.
struct TCommState {
  uint32_t BaudRate = 9600;
  uint8_t ByteSize = 8;
  uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
};

class TIoBackend {
 public:
  virtual ~TIoBackend() = default;
  virtual const char* Name() const = 0;

  // Register access at I/O addresses.
  virtual uint8_t In(uint16_t port) = 0;
  virtual void Out(uint16_t port, uint8_t value) = 0;
  // One 16-bit write: low byte to port, high byte to port + 1.
  virtual void OutWord(uint16_t port, uint16_t value) = 0;
  // `cycles` delay-loop cycles; one cycle writes 0x00 to 0x70 and reads 0x71.
  virtual void DelayLoop(uint32_t cycles) = 0;

  // The device files behind the port names ("LPT1", "COM2", ...): opened with read and
  // write access and no sharing. Returns a positive handle, or -1 with `reason` set.
  virtual int32_t OpenPortFile(const std::string& name, std::string* reason) = 0;
  virtual void ClosePortFile(int32_t handle) = 0;
  // Line format of an open serial port, through the system's serial driver.
  virtual bool GetCommState(int32_t handle, TCommState& state) = 0;
  virtual bool SetCommState(int32_t handle, const TCommState& state) = 0;

  // Installs the driver's I/O permission map (8192 bytes, bit set = denied) for this
  // process. Back ends whose access the kernel mediates need none.
  virtual bool ApplyIoAccessMap(const uint8_t* map, std::string* reason) {
    (void)map;
    (void)reason;
    return true;
  }

  // A byte written from kernel mode by the port-access driver: not subject to the access
  // map of the program's process.
  virtual void KernelOut(uint16_t port, uint8_t value) { Out(port, value); }

  // Whether this back end needs the port-access driver to reach the ports. Back ends
  // whose access the kernel already mediates (device files) do not.
  virtual bool NeedsPortDriver() const { return true; }

  // Whether priority switches should reach the operating system. The bench runs in
  // virtual time and must not starve the machine it runs on.
  virtual bool UsesRealTime() const = 0;
};

}  // namespace hw
