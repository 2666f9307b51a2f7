#include "hw/backends/device_paths.h"

#include <cstdlib>

namespace hw {

std::string DevicePathOf(const std::string& portName) {
  if (portName.size() != 4 || portName[3] < '1' || portName[3] > '4') return "";
  const std::string kind = portName.substr(0, 3);
  if (kind != "LPT" && kind != "COM") return "";
  const std::string env = "VARNIX_" + portName;
  if (const char* v = std::getenv(env.c_str()); v && *v) return v;
  const int n = portName[3] - '1';
  return (kind == "LPT" ? "/dev/parport" : "/dev/ttyS") + std::to_string(n);
}

}  // namespace hw
