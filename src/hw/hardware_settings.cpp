#include "hw/hardware_settings.h"

#include <cstdint>

#include "hw/ports.h"

namespace hw {

namespace {
// Timing numbers are unsigned 32-bit; anything else in the file is not one of ours.
uint32_t ReadUnsigned(const platform::TSettingsStore& store, const char* name) {
  const int64_t v = store.ReadInteger(kControllerSection, name, 0);
  return v < 0 || v > UINT32_MAX ? 0 : static_cast<uint32_t>(v);
}
}  // namespace

void LoadHardwareSettings(const platform::TSettingsStore& store) {
  auto& p = Ports();
  p.CycleTime = ReadUnsigned(store, "CycleTime");
  p.Delay = ReadUnsigned(store, "Delay");
  p.PrinterPort = store.ReadString(kControllerSection, "PrinterPort", "LPT1");
  p.ComPort = store.ReadString(kControllerSection, "ComPort", "COM2");
  p.LptBase = PortAddressOf(p.PrinterPort);
  p.ComBase = PortAddressOf(p.ComPort);
  SetComRegisters();
}

void SaveHardwareSettings(platform::TSettingsStore& store) {
  const auto& p = Ports();
  store.WriteInteger(kControllerSection, "CycleTime", p.CycleTime.load());
  store.WriteInteger(kControllerSection, "Delay", p.Delay.load());
  store.WriteString(kControllerSection, "PrinterPort", p.PrinterPort);
  store.WriteString(kControllerSection, "ComPort", p.ComPort);
}

}  // namespace hw
