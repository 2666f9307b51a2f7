// varnixio: the port-access driver. It keeps an I/O permission bitmap (one bit per port,
// 0 = allowed) and installs it as the I/O access map of a process on request, so the
// program can execute port instructions itself.
#include <cstring>

#include "platform/kernel_services.h"

using namespace kernel;

namespace {

constexpr size_t kMapBytes = 8192;  // 65536 ports, one bit each

const TKernelServices* K = nullptr;
uint8_t* g_map = nullptr;
TDeviceObject* g_device = nullptr;

const char16_t kDeviceName[] = u"\\Device\\varnixio";
const char16_t kLinkName[] = u"\\DosDevices\\varnixio";

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

TNtStatus Complete(TIrp* irp, uintptr_t information) {
  irp->IoStatus.Status = STATUS_SUCCESS;
  irp->IoStatus.Information = information;
  K->IofCompleteRequest(irp, 0);
  return STATUS_SUCCESS;
}

TNtStatus OnCreate(TDeviceObject*, TIrp* irp) { return Complete(irp, 0); }

// Every request completes with success, also one with an unknown code or a short input
// buffer; such a request simply does nothing.
TNtStatus OnDeviceControl(TDeviceObject*, TIrp* irp) {
  auto* buf = static_cast<uint8_t*>(irp->SystemBuffer);
  const uint32_t in = buf ? irp->InputBufferLength : 0;
  switch (irp->IoControlCode) {
    case 4: {  // install the map for a process
      if (in >= 4) {
        const uint32_t pid = static_cast<uint32_t>(buf[0] | (buf[1] << 8) | (buf[2] << 16)) |
                             (static_cast<uint32_t>(buf[3]) << 24);
        void* process = nullptr;
        if (NtSuccess(K->PsLookupProcessByProcessId(pid, &process))) {
          if (K->Ke386SetIoAccessMap(1, g_map)) K->Ke386IoSetAccessProcess(process, 1);
          K->ObDereferenceObject(process);
        }
      }
      return Complete(irp, 1);
    }
    case 8:  // no defined action: answers with the driver's version, 2.2
      if (buf && irp->OutputBufferLength >= 2) {
        buf[0] = 2;
        buf[1] = 2;
      }
      return Complete(irp, 2);
    case 12:  // write a byte to a port from kernel mode
      if (in >= 3) K->WRITE_PORT_UCHAR(Le16(buf), buf[2]);
      return Complete(irp, 1);
    case 16:  // deny every port
      std::memset(g_map, 0xFF, kMapBytes);
      return Complete(irp, 1);
    case 20:  // allow every port
      std::memset(g_map, 0x00, kMapBytes);
      return Complete(irp, 1);
    case 24: {  // set one byte of the map; an index past the map is ignored
      if (in >= 3) {
        const uint16_t index = Le16(buf);
        if (index < kMapBytes) g_map[index] = buf[2];
      }
      return Complete(irp, 1);
    }
    default:
      return Complete(irp, 0);
  }
}

void Release() {
  if (g_device) {
    K->IoDeleteDevice(g_device);
    g_device = nullptr;
  }
  if (g_map) {
    K->MmFreeNonCachedMemory(g_map, kMapBytes);
    g_map = nullptr;
  }
}

void OnUnload(TDriverObject*) {
  TUnicodeString link;
  K->RtlInitUnicodeString(&link, kLinkName);
  K->IoDeleteSymbolicLink(&link);
  Release();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) TNtStatus DriverEntry(
    TDriverObject* driver, const TKernelServices* services, TUnicodeString*) {
  if (!driver || !services) return STATUS_INVALID_PARAMETER;
  if (services->Size < sizeof(TKernelServices)) return STATUS_REVISION_MISMATCH;
  K = services;

  g_map = static_cast<uint8_t*>(K->MmAllocateNonCachedMemory(kMapBytes));
  if (!g_map) return STATUS_INSUFFICIENT_RESOURCES;
  std::memset(g_map, 0xFF, kMapBytes);

  TUnicodeString name, link;
  K->RtlInitUnicodeString(&name, kDeviceName);
  TNtStatus status = K->IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, false, &g_device);
  if (!NtSuccess(status)) {
    g_device = nullptr;
    Release();
    return status;
  }
  K->RtlInitUnicodeString(&link, kLinkName);
  status = K->IoCreateSymbolicLink(&link, &name);
  if (!NtSuccess(status)) {
    Release();
    return status;
  }

  driver->MajorFunction[IRP_MJ_CREATE] = OnCreate;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = OnDeviceControl;
  driver->DriverUnload = OnUnload;
  return STATUS_SUCCESS;
}
