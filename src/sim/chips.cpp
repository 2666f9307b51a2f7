#include "sim/chips.h"

#include <algorithm>
#include <cctype>

#include "sim/sources.h"

namespace sim {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

std::shared_ptr<TVirtualDevice> MakeVirtualDevice(const std::string& name,
                                                  const std::string& imageFile,
                                                  std::string& reason) {
  const std::string key = Lower(name);
  if (key == "loopback") {
    if (!imageFile.empty()) {
      reason = "the loopback plug has no memory to load an image into";
      return nullptr;
    }
    return std::make_shared<TLoopbackDevice>();
  }
  reason = "no virtual device named \"" + name + "\" on the bench";
  return nullptr;
}

std::vector<std::string> VirtualDeviceNames() { return {"loopback"}; }

}  // namespace sim
