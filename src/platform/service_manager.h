// Kernel-driver services for the program's process. Linux has no system-wide service
// database: a service lives as long as the process that created it, and "starting" it
// loads its image with dlopen and runs the driver's entry point on the in-process kernel.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

constexpr uint32_t SC_MANAGER_CONNECT = 0x0001;
constexpr uint32_t SC_MANAGER_ALL_ACCESS = 0xF003F;
constexpr uint32_t SERVICE_START = 0x0010;
constexpr uint32_t SERVICE_STOP = 0x0020;
constexpr uint32_t SERVICE_ALL_ACCESS = 0xF01FF;
constexpr uint32_t SERVICE_KERNEL_DRIVER = 1;
constexpr uint32_t SERVICE_DEMAND_START = 3;
constexpr uint32_t SERVICE_ERROR_NORMAL = 1;
constexpr uint32_t SERVICE_CONTROL_STOP = 1;

constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_BAD_EXE_FORMAT = 193;
constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
constexpr uint32_t ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
constexpr uint32_t ERROR_SERVICE_ALREADY_RUNNING = 1056;
constexpr uint32_t ERROR_SERVICE_DOES_NOT_EXIST = 1060;
constexpr uint32_t ERROR_SERVICE_NOT_ACTIVE = 1062;
constexpr uint32_t ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
constexpr uint32_t ERROR_SERVICE_EXISTS = 1073;
constexpr uint32_t ERROR_DRIVER_FAILED_START = 1275;  // the driver's entry point failed

using TScHandle = int32_t;  // 0 is no handle

TScHandle OpenSCManager(uint32_t access);
TScHandle CreateService(TScHandle manager, const std::string& name, const std::string& displayName,
                        uint32_t access, uint32_t serviceType, uint32_t startType,
                        uint32_t errorControl, const std::string& imagePath);
TScHandle OpenService(TScHandle manager, const std::string& name, uint32_t access);
bool StartService(TScHandle service);
bool ControlService(TScHandle service, uint32_t control);
bool DeleteService(TScHandle service);
bool CloseServiceHandle(TScHandle handle);
// The error of the calling thread's last failed call; a success leaves it as it was.
uint32_t GetLastError();

// For tests and diagnostics.
bool ServiceExists(const std::string& name);
bool ServiceRunning(const std::string& name);
// The reason the last start failed, in words ("/path/varnixio.sys: No such file ...").
std::string LastStartFailure();

}  // namespace platform
