#include "sim/chips.h"

#include <algorithm>
#include <cctype>

#include "sim/chips/i2c_eeprom.h"
#include "sim/chips/microwire_eeprom.h"
#include "sim/chips/spi_eeprom.h"
#include "sim/sources.h"

namespace sim {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

std::shared_ptr<TVirtualChip> MakeVirtualChip(const std::string& name) {
  if (const TI2CParams* p = FindI2CParams(name)) return std::make_shared<TI2CEeprom>(*p);
  if (const TMicrowireParams* p = FindMicrowireParams(name))
    return std::make_shared<TMicrowireEeprom>(*p);
  if (const TSpiParams* p = FindSpiParams(name)) return std::make_shared<TSpiEeprom>(*p);
  return nullptr;
}

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
  if (auto chip = MakeVirtualChip(name)) {
    if (!imageFile.empty() && !chip->LoadImage(imageFile, reason)) return nullptr;
    return chip;
  }
  reason = "no virtual device named \"" + name + "\" on the bench";
  return nullptr;
}

std::vector<std::string> VirtualDeviceNames() {
  std::vector<std::string> names{"loopback"};
  for (const auto& p : I2CParamsTable()) names.push_back(p.name);
  for (const auto& p : SpiParamsTable()) names.push_back(p.name);
  for (const auto& p : MicrowireParamsTable()) {
    names.push_back(p.name);
    if (p.addrBits8) names.push_back(std::string(p.name) + " x16");
  }
  return names;
}

}  // namespace sim
