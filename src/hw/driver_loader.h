// Getting I/O permission before the program touches a port: through the port-access
// driver where the back end needs it ("NT": the bench and direct port instructions), or
// none where the kernel already mediates access (device files).
#pragma once

#include <cstdint>
#include <string>

namespace hw {

struct TDriverState {
  bool DriverOpened = false;      // the driver is open, or no driver is needed
  bool DirectPortAccess = false;  // the platform needs no driver
  int32_t DriverHandle = -1;      // the open "\\.\varnixio"
};
TDriverState& DriverState();
void ResetDriverState();

inline constexpr const char* kDriverServiceName = "varnixio";
inline constexpr const char* kDriverDevicePath = "\\\\.\\varnixio";

// Whether the active back end needs the driver.
bool IsNtPlatform();

// The folder of the program file (tests point it at the build folder).
std::string ProgramFolder();
void SetProgramFolder(const std::string& folder);
// Folder + "/varnixio.sys"; empty when that would pass the 255-character limit.
std::string DriverImagePath();

bool OpenDriver();
bool InstallDriver();
void RemoveDriver();
void GrantPortAccess();

// Runs once before any window exists: open a running driver, or install and start it.
void DriverStartUp();
// Runs once when the program ends.
void DriverShutDown();

}  // namespace hw
