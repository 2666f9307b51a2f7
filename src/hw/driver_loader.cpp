#include "hw/driver_loader.h"

#include <unistd.h>

#include <climits>

#include "hw/ports.h"
#include "platform/kernel.h"
#include "platform/service_manager.h"

namespace hw {

namespace {

TDriverState g_state;

// A function-local static: the folder may be set before this file's globals exist.
std::string& ProgramFolderOverride() {
  static std::string folder;
  return folder;
}

constexpr size_t kImagePathLimit = 255;

}  // namespace

TDriverState& DriverState() { return g_state; }

void ResetDriverState() {
  if (g_state.DriverHandle != -1) kernel::CloseDeviceFile(g_state.DriverHandle);
  g_state = TDriverState{};
}

bool IsNtPlatform() { return Io().NeedsPortDriver(); }

std::string ProgramFolder() {
  if (!ProgramFolderOverride().empty()) return ProgramFolderOverride();
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

void SetProgramFolder(const std::string& folder) { ProgramFolderOverride() = folder; }

std::string DriverImagePath() {
  std::string path = ProgramFolder() + "/" + kDriverServiceName + ".sys";
  // The service manager keeps image paths of at most 255 characters; a longer one
  // would be cut into a wrong path, so it is refused instead.
  return path.size() > kImagePathLimit ? std::string() : path;
}

bool OpenDriver() {
  if (!IsNtPlatform()) return true;
  if (g_state.DriverHandle != -1) kernel::CloseDeviceFile(g_state.DriverHandle);
  g_state.DriverHandle = -1;
  uint32_t lastError = 0;
  g_state.DriverHandle = kernel::CreateDeviceFile(kDriverDevicePath, lastError);
  return lastError == kernel::ERROR_SUCCESS || lastError == kernel::ERROR_ALREADY_EXISTS;
}

bool InstallDriver() {
  using namespace platform;
  if (!IsNtPlatform()) return true;
  RemoveDriver();
  const std::string image = DriverImagePath();
  if (image.empty()) return false;
  // Errors of the creation are not looked at: the start tells.
  if (const TScHandle scm = OpenSCManager(SC_MANAGER_ALL_ACCESS)) {
    if (const TScHandle svc =
            CreateService(scm, kDriverServiceName, kDriverServiceName, SERVICE_ALL_ACCESS,
                          SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, image))
      CloseServiceHandle(svc);
    CloseServiceHandle(scm);
  }
  bool started = false;
  if (const TScHandle scm = OpenSCManager(SC_MANAGER_CONNECT)) {
    if (const TScHandle svc = OpenService(scm, kDriverServiceName, SERVICE_START)) {
      started = StartService(svc);
      CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
  }
  return started;
}

void RemoveDriver() {
  using namespace platform;
  if (!IsNtPlatform()) return;
  if (const TScHandle scm = OpenSCManager(SC_MANAGER_CONNECT)) {
    if (const TScHandle svc = OpenService(scm, kDriverServiceName, SERVICE_STOP)) {
      ControlService(svc, SERVICE_CONTROL_STOP);
      CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
  }
  if (const TScHandle scm = OpenSCManager(SC_MANAGER_ALL_ACCESS)) {
    if (const TScHandle svc = OpenService(scm, kDriverServiceName, SERVICE_ALL_ACCESS)) {
      DeleteService(svc);
      CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
  }
}

void GrantPortAccess() {
  if (!g_state.DriverOpened) return;
  // Results are not looked at: a failed grant shows up as denied port accesses.
  uint32_t returned = 0;
  uint8_t out[4] = {};
  kernel::DeviceIoControl(g_state.DriverHandle, 20, nullptr, 0, out, sizeof out, returned);
  const uint32_t pid = static_cast<uint32_t>(getpid());
  const uint8_t in[4] = {static_cast<uint8_t>(pid), static_cast<uint8_t>(pid >> 8),
                         static_cast<uint8_t>(pid >> 16), static_cast<uint8_t>(pid >> 24)};
  kernel::DeviceIoControl(g_state.DriverHandle, 4, in, sizeof in, out, sizeof out, returned);
}

void DriverStartUp() {
  if (!IsNtPlatform()) {
    g_state.DriverOpened = true;
    g_state.DirectPortAccess = true;
    return;
  }
  if (OpenDriver()) {
    g_state.DriverOpened = true;  // a running driver is used as it is
    return;
  }
  if (InstallDriver()) g_state.DriverOpened = OpenDriver();
}

void DriverShutDown() {
  if (g_state.DriverOpened) RemoveDriver();
  // The device handle is left to the end of the process, as the system would; the
  // driver's removal has already invalidated it.
}

}  // namespace hw
