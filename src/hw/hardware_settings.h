// The hardware settings in the "Controller" section: port names and the timing numbers.
#pragma once

#include "platform/settings_store.h"

namespace hw {

inline constexpr const char* kControllerSection = "Controller";

// Reads the four values (defaults "LPT1", "COM2", 0, 0), finds the port bases by name and
// derives the UART register addresses.
void LoadHardwareSettings(const platform::TSettingsStore& store);
void SaveHardwareSettings(platform::TSettingsStore& store);

}  // namespace hw
