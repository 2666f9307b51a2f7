// The in-process kernel the port-access driver runs on: device objects and symbolic
// links, request dispatch, process lookup and the I/O access maps. Installing an access
// map for this process applies it to the active port back end.
#pragma once

#include <cstdint>
#include <string>

#include "platform/kernel_services.h"

namespace kernel {

const TKernelServices& Services();

// Kernel calls a test can make fail once, to exercise a driver's clean-up paths.
enum class TFailPoint { None, Allocate, CreateDevice, CreateLink };
void FailNext(TFailPoint point);

// What is alive in the kernel (for tests and for leak checks at shut-down).
struct TKernelCounts {
  int devices = 0;
  int links = 0;
  int allocations = 0;
  int processReferences = 0;
  int openHandles = 0;
};
TKernelCounts Counts();
// The access map a process would see: the last map installed for this process.
bool AccessMapInstalled();

// ---- user-mode side: device files and device control ----
constexpr int32_t INVALID_HANDLE_VALUE = -1;
constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_GEN_FAILURE = 31;
constexpr uint32_t ERROR_ALREADY_EXISTS = 183;

// Opens "\\.\NAME" (a symbolic link under \DosDevices); sends the driver its open request.
// lastError is set as the system would set it.
int32_t CreateDeviceFile(const std::string& path, uint32_t& lastError);
// Sends a buffered device-control request; returns whether it completed with success.
bool DeviceIoControl(int32_t handle, uint32_t code, const void* in, uint32_t inLength, void* out,
                     uint32_t outLength, uint32_t& bytesReturned);
void CloseDeviceFile(int32_t handle);

// Loaded driver bookkeeping for the service manager: runs DriverEntry with the services
// table, and the unload handler later.
TNtStatus CallDriverEntry(TDriverEntry entry, TDriverObject& driver, const std::string& service);
void CallDriverUnload(TDriverObject& driver);

}  // namespace kernel
