// The virtual devices the bench can put in its socket, by name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/chips/virtual_chip.h"
#include "sim/device.h"

namespace sim {

// `name` is a device name ("loopback", or a catalogue name of the I2C, Microwire and SPI
// families such as "24C02" or "93C46 x16"), matched case-insensitively; `imageFile`
// optionally gives the initial memory (binary, at most the part's size; the rest stays
// erased). Returns nullptr with `reason` set when there is no such virtual device or the
// image cannot be used.
std::shared_ptr<TVirtualDevice> MakeVirtualDevice(const std::string& name,
                                                  const std::string& imageFile,
                                                  std::string& reason);
// The virtual serial memory of that catalogue name, erased, or nullptr.
std::shared_ptr<TVirtualChip> MakeVirtualChip(const std::string& name);
// Names MakeVirtualDevice knows, for help texts.
std::vector<std::string> VirtualDeviceNames();

}  // namespace sim
