// Program start and end as far as the driver and the settings go; the command line and
// the GUI both run them.
#pragma once

#include <string>

#include "platform/settings_store.h"

namespace app {

inline constexpr const char* kDriverNotLoaded = "Driver varnixio.sys is not Loaded!";
inline constexpr const char* kCalibrateReminder =
    "You have to calibrate programmer and analyser!\rGo to Tools/Options/Programmer and click "
    "AutoCalibrate button\ror enter properly values manual. See Help for more Informaion.";

// Driver start-up, then either the "Warning" box and false (the program must end), or
// the port grant and true.
bool StartDriver();

// Opens the settings store (a file that cannot be read leaves defaults and a warning
// naming it), loads the hardware settings, and asks for a calibration when Delay,
// CycleTime, LptBase or ComBase is 0. `warning` receives a settings-file warning, if any.
void LoadSettings(platform::TSettingsStore& store, const std::string& path, std::string* warning);
void CalibrationReminder();

// Writes the hardware settings and the store (a failure is reported in `warning` and
// loses nothing else), then removes the driver.
void EndProgram(platform::TSettingsStore& store, std::string* warning);

}  // namespace app
