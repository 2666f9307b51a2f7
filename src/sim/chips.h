// The virtual devices the bench can put in its socket, by name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/device.h"

namespace sim {

// `name` is a device name ("loopback", or a catalogue device once its family has a
// virtual chip), matched case-insensitively; `imageFile` optionally gives the initial
// memory. Returns nullptr with `reason` set when there is no such virtual device or the
// image cannot be read.
std::shared_ptr<TVirtualDevice> MakeVirtualDevice(const std::string& name,
                                                  const std::string& imageFile,
                                                  std::string& reason);
// Names MakeVirtualDevice knows, for help texts.
std::vector<std::string> VirtualDeviceNames();

}  // namespace sim
