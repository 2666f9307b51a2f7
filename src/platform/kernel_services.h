// The contract between the program and its port-access driver module: the kernel
// services the program's kernel layer offers, and the objects it hands the driver.
// Shared by src/platform (the provider) and src/driver (the user), so it has no other
// dependencies.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kernel {

using TNtStatus = int32_t;
constexpr TNtStatus STATUS_SUCCESS = 0;
constexpr TNtStatus STATUS_INVALID_PARAMETER = static_cast<TNtStatus>(0xC000000D);
constexpr TNtStatus STATUS_INVALID_CID = static_cast<TNtStatus>(0xC000000B);
constexpr TNtStatus STATUS_INSUFFICIENT_RESOURCES = static_cast<TNtStatus>(0xC000009A);
constexpr TNtStatus STATUS_OBJECT_NAME_COLLISION = static_cast<TNtStatus>(0xC0000035);
constexpr TNtStatus STATUS_OBJECT_NAME_NOT_FOUND = static_cast<TNtStatus>(0xC0000034);
constexpr TNtStatus STATUS_REVISION_MISMATCH = static_cast<TNtStatus>(0xC0000059);
inline bool NtSuccess(TNtStatus s) { return s >= 0; }

constexpr uint32_t FILE_DEVICE_UNKNOWN = 0x22;
constexpr unsigned IRP_MJ_CREATE = 0x00;
constexpr unsigned IRP_MJ_CLOSE = 0x02;
constexpr unsigned IRP_MJ_DEVICE_CONTROL = 0x0E;
constexpr unsigned IRP_MJ_MAXIMUM_FUNCTION = 0x1B;

struct TUnicodeString {
  uint16_t Length = 0;  // bytes, without a terminator
  uint16_t MaximumLength = 0;
  const char16_t* Buffer = nullptr;
};

struct TDriverObject;
struct TDeviceObject;

// One request. Buffered transfer: SystemBuffer holds the input on entry and the output on
// completion; the caller copies IoStatus.Information bytes back.
struct TIrp {
  uint8_t MajorFunction = 0;
  uint32_t IoControlCode = 0;
  void* SystemBuffer = nullptr;
  uint32_t InputBufferLength = 0;
  uint32_t OutputBufferLength = 0;
  struct {
    TNtStatus Status = 0;
    uintptr_t Information = 0;
  } IoStatus;
  bool Completed = false;
};

using TDispatch = TNtStatus (*)(TDeviceObject* device, TIrp* irp);
using TUnload = void (*)(TDriverObject* driver);

struct TDriverObject {
  TDispatch MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1] = {};
  TUnload DriverUnload = nullptr;
  TDeviceObject* DeviceObject = nullptr;  // the first device the driver created
};

// The table a driver gets at entry. Size lets a driver refuse a table older than itself.
struct TKernelServices {
  uint32_t Size;
  void* (*MmAllocateNonCachedMemory)(size_t bytes);
  void (*MmFreeNonCachedMemory)(void* base, size_t bytes);
  void (*RtlInitUnicodeString)(TUnicodeString* target, const char16_t* source);
  TNtStatus (*IoCreateDevice)(TDriverObject* driver, uint32_t extensionSize, TUnicodeString* name,
                              uint32_t type, uint32_t characteristics, bool exclusive,
                              TDeviceObject** device);
  TNtStatus (*IoCreateSymbolicLink)(TUnicodeString* link, TUnicodeString* device);
  TNtStatus (*IoDeleteSymbolicLink)(TUnicodeString* link);
  void (*IoDeleteDevice)(TDeviceObject* device);
  void (*IofCompleteRequest)(TIrp* irp, int8_t priorityBoost);
  TNtStatus (*PsLookupProcessByProcessId)(uintptr_t processId, void** process);
  // Releases the reference a lookup took.
  void (*ObDereferenceObject)(void* object);
  bool (*Ke386SetIoAccessMap)(uint32_t mapNumber, const uint8_t* map);
  bool (*Ke386IoSetAccessProcess)(void* process, uint32_t mapNumber);
  void (*WRITE_PORT_UCHAR)(uint16_t port, uint8_t value);
};

using TDriverEntry = TNtStatus (*)(TDriverObject* driver, const TKernelServices* services,
                                   TUnicodeString* registryPath);
constexpr const char* kDriverEntrySymbol = "DriverEntry";

}  // namespace kernel
