// Where the port names live on Linux: the one place that maps LPTn and COMn to device
// files. LPTn is /dev/parport(n-1) and COMn /dev/ttyS(n-1), unless the environment
// variable VARNIX_LPTn / VARNIX_COMn names another file (a USB serial adapter, say
// VARNIX_COM1=/dev/ttyUSB0).
#pragma once

#include <string>

namespace hw {

// "" for a name outside LPT1..LPT4 and COM1..COM4.
std::string DevicePathOf(const std::string& portName);

}  // namespace hw
