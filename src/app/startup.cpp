#include "app/startup.h"

#include "hw/driver_loader.h"
#include "hw/hardware_settings.h"
#include "hw/ports.h"
#include "platform/dialogs.h"

namespace app {

bool StartDriver() {
  hw::DriverStartUp();
  const auto& d = hw::DriverState();
  if (!d.DriverOpened && !d.DirectPortAccess) {
    platform::Dialogs().MessageBox("Warning", kDriverNotLoaded, platform::mbOK,
                                   platform::TMsgIcon::Exclamation);
    return false;
  }
  hw::GrantPortAccess();
  return true;
}

void LoadSettings(platform::TSettingsStore& store, const std::string& path, std::string* warning) {
  store.Load(path, warning);
  hw::LoadHardwareSettings(store);
}

void CalibrationReminder() {
  const auto& p = hw::Ports();
  if (p.Delay == 0 || p.CycleTime == 0 || p.LptBase == 0 || p.ComBase == 0)
    platform::Dialogs().MessageBox("Warning", kCalibrateReminder, platform::mbOK,
                                   platform::TMsgIcon::Exclamation);
}

void EndProgram(platform::TSettingsStore& store, std::string* warning) {
  hw::SaveHardwareSettings(store);
  std::string reason;
  if (!store.Save(&reason) && warning) *warning = reason;
  hw::DriverShutDown();
}

}  // namespace app
