// The real port back ends, made by name. Each returns nullptr with `reason` set to one
// line naming the cause when it cannot run here.
#pragma once

#include <memory>
#include <string>

#include "hw/io_backend.h"

namespace hw {

// `direct`: x86 port instructions after ioperm/iopl (root or CAP_SYS_RAWIO, x86 only).
std::unique_ptr<TIoBackend> MakeDirectBackend(std::string& reason);

// `dev`: the parallel port through ppdev on the device file of `lptName` (claimed for the
// back end's lifetime) and the serial port `comName` through its tty, register by
// register. An empty `lptName` gives a back end without a parallel port (its registers
// float), for serial-only use.
std::unique_ptr<TIoBackend> MakeDevBackend(const std::string& lptName, const std::string& comName,
                                           std::string& reason);

// Whether the device file of the LPT port `lptName` exists and opens for read and write:
// the adapter may be there, so the dev back end is worth choosing.
bool AdapterReachable(const std::string& lptName);

}  // namespace hw
