#include "platform/kernel.h"

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "hw/ports.h"

namespace kernel {

struct TDeviceObject {
  std::u16string name;
  TDriverObject* driver = nullptr;
  uint32_t type = 0;
};

namespace {

struct TProcess {
  uintptr_t id;
};

// Requests are handled one at a time, in the caller's context; one lock keeps the
// kernel's own tables consistent.
std::recursive_mutex g_lock;
std::vector<std::unique_ptr<TDeviceObject>> g_devices;
std::map<std::u16string, std::u16string> g_links;  // link name -> device name
std::set<void*> g_allocations;
std::map<int32_t, TDeviceObject*> g_handles;
int32_t g_nextHandle = 0x1000;
int g_processRefs = 0;
TProcess g_self{0};
std::array<uint8_t, 8192> g_map1{};
bool g_map1Set = false;
bool g_mapInstalled = false;
TFailPoint g_failNext = TFailPoint::None;

bool Fail(TFailPoint p) {
  if (g_failNext != p) return false;
  g_failNext = TFailPoint::None;
  return true;
}

std::u16string ToU16(const TUnicodeString* s) {
  if (!s || !s->Buffer) return {};
  return std::u16string(s->Buffer, s->Length / 2);
}

void* MmAllocateNonCachedMemory(size_t bytes) {
  std::lock_guard lock(g_lock);
  if (Fail(TFailPoint::Allocate)) return nullptr;
  void* p = std::calloc(1, bytes);
  if (p) g_allocations.insert(p);
  return p;
}

void MmFreeNonCachedMemory(void* base, size_t) {
  std::lock_guard lock(g_lock);
  if (g_allocations.erase(base)) std::free(base);
}

void RtlInitUnicodeString(TUnicodeString* target, const char16_t* source) {
  if (!target) return;
  size_t n = 0;
  if (source)
    while (source[n]) ++n;
  target->Buffer = source;
  target->Length = static_cast<uint16_t>(n * 2);
  target->MaximumLength = static_cast<uint16_t>(n * 2 + 2);
}

TNtStatus IoCreateDevice(TDriverObject* driver, uint32_t, TUnicodeString* name, uint32_t type,
                         uint32_t, bool, TDeviceObject** device) {
  std::lock_guard lock(g_lock);
  if (!driver || !device) return STATUS_INVALID_PARAMETER;
  if (Fail(TFailPoint::CreateDevice)) return STATUS_INSUFFICIENT_RESOURCES;
  const std::u16string n = ToU16(name);
  for (const auto& d : g_devices)
    if (!n.empty() && d->name == n) return STATUS_OBJECT_NAME_COLLISION;
  auto d = std::make_unique<TDeviceObject>();
  d->name = n;
  d->driver = driver;
  d->type = type;
  *device = d.get();
  if (!driver->DeviceObject) driver->DeviceObject = d.get();
  g_devices.push_back(std::move(d));
  return STATUS_SUCCESS;
}

TNtStatus IoCreateSymbolicLink(TUnicodeString* link, TUnicodeString* device) {
  std::lock_guard lock(g_lock);
  if (Fail(TFailPoint::CreateLink)) return STATUS_INSUFFICIENT_RESOURCES;
  const std::u16string l = ToU16(link);
  if (l.empty()) return STATUS_INVALID_PARAMETER;
  if (g_links.count(l)) return STATUS_OBJECT_NAME_COLLISION;
  g_links[l] = ToU16(device);
  return STATUS_SUCCESS;
}

TNtStatus IoDeleteSymbolicLink(TUnicodeString* link) {
  std::lock_guard lock(g_lock);
  return g_links.erase(ToU16(link)) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

void IoDeleteDevice(TDeviceObject* device) {
  std::lock_guard lock(g_lock);
  for (auto it = g_handles.begin(); it != g_handles.end();)
    it = it->second == device ? g_handles.erase(it) : std::next(it);
  for (auto it = g_devices.begin(); it != g_devices.end(); ++it) {
    if (it->get() != device) continue;
    if (device->driver && device->driver->DeviceObject == device)
      device->driver->DeviceObject = nullptr;
    g_devices.erase(it);
    return;
  }
}

void IofCompleteRequest(TIrp* irp, int8_t) {
  if (irp) irp->Completed = true;
}

TNtStatus PsLookupProcessByProcessId(uintptr_t processId, void** process) {
  std::lock_guard lock(g_lock);
  // Only the program's own process exists for this kernel.
  if (!process || processId != static_cast<uintptr_t>(getpid())) return STATUS_INVALID_CID;
  g_self.id = processId;
  ++g_processRefs;
  *process = &g_self;
  return STATUS_SUCCESS;
}

void ObDereferenceObject(void* object) {
  std::lock_guard lock(g_lock);
  if (object == &g_self && g_processRefs > 0) --g_processRefs;
}

bool Ke386SetIoAccessMap(uint32_t mapNumber, const uint8_t* map) {
  std::lock_guard lock(g_lock);
  if (mapNumber != 1 || !map) return false;
  std::memcpy(g_map1.data(), map, g_map1.size());
  g_map1Set = true;
  return true;
}

bool Ke386IoSetAccessProcess(void* process, uint32_t mapNumber) {
  std::lock_guard lock(g_lock);
  if (process != &g_self || mapNumber != 1 || !g_map1Set) return false;
  std::string reason;
  g_mapInstalled = hw::Io().ApplyIoAccessMap(g_map1.data(), &reason);
  return g_mapInstalled;
}

void WRITE_PORT_UCHAR(uint16_t port, uint8_t value) { hw::Io().KernelOut(port, value); }

const TKernelServices g_services{
    sizeof(TKernelServices), MmAllocateNonCachedMemory,
    MmFreeNonCachedMemory,   RtlInitUnicodeString,
    IoCreateDevice,          IoCreateSymbolicLink,
    IoDeleteSymbolicLink,    IoDeleteDevice,
    IofCompleteRequest,      PsLookupProcessByProcessId,
    ObDereferenceObject,     Ke386SetIoAccessMap,
    Ke386IoSetAccessProcess, WRITE_PORT_UCHAR,
};

TDeviceObject* DeviceByLink(const std::u16string& link) {
  const auto it = g_links.find(link);
  if (it == g_links.end()) return nullptr;
  for (const auto& d : g_devices)
    if (d->name == it->second) return d.get();
  return nullptr;
}

TNtStatus Dispatch(TDeviceObject* device, TIrp& irp) {
  TDriverObject* driver = device->driver;
  const TDispatch handler = driver ? driver->MajorFunction[irp.MajorFunction] : nullptr;
  if (!handler) {
    // No handler: the request is refused, as for any driver that does not offer it.
    return irp.MajorFunction == IRP_MJ_CLOSE ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
  }
  const TNtStatus s = handler(device, &irp);
  return irp.Completed ? irp.IoStatus.Status : s;
}

}  // namespace

const TKernelServices& Services() { return g_services; }

void FailNext(TFailPoint point) {
  std::lock_guard lock(g_lock);
  g_failNext = point;
}

TKernelCounts Counts() {
  std::lock_guard lock(g_lock);
  return {static_cast<int>(g_devices.size()), static_cast<int>(g_links.size()),
          static_cast<int>(g_allocations.size()), g_processRefs,
          static_cast<int>(g_handles.size())};
}

bool AccessMapInstalled() {
  std::lock_guard lock(g_lock);
  return g_mapInstalled;
}

int32_t CreateDeviceFile(const std::string& path, uint32_t& lastError) {
  std::lock_guard lock(g_lock);
  static const std::string kPrefix = "\\\\.\\";
  if (path.compare(0, kPrefix.size(), kPrefix) != 0) {
    lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  std::u16string link = u"\\DosDevices\\";
  for (size_t i = kPrefix.size(); i < path.size(); ++i)
    link += static_cast<char16_t>(static_cast<unsigned char>(path[i]));
  TDeviceObject* device = DeviceByLink(link);
  if (!device) {
    lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  TIrp irp;
  irp.MajorFunction = IRP_MJ_CREATE;
  if (!NtSuccess(Dispatch(device, irp))) {
    lastError = ERROR_GEN_FAILURE;
    return INVALID_HANDLE_VALUE;
  }
  const int32_t h = g_nextHandle++;
  g_handles[h] = device;
  lastError = ERROR_SUCCESS;
  return h;
}

bool DeviceIoControl(int32_t handle, uint32_t code, const void* in, uint32_t inLength, void* out,
                     uint32_t outLength, uint32_t& bytesReturned) {
  std::lock_guard lock(g_lock);
  bytesReturned = 0;
  const auto it = g_handles.find(handle);
  if (it == g_handles.end()) return false;
  // Buffered transfer: one system buffer large enough for input and output.
  std::vector<uint8_t> buffer(std::max(inLength, outLength) + 1u, 0);
  if (in && inLength) std::memcpy(buffer.data(), in, inLength);
  TIrp irp;
  irp.MajorFunction = IRP_MJ_DEVICE_CONTROL;
  irp.IoControlCode = code;
  irp.SystemBuffer = buffer.data();
  irp.InputBufferLength = in ? inLength : 0;
  irp.OutputBufferLength = out ? outLength : 0;
  const TNtStatus s = Dispatch(it->second, irp);
  // Never copy more than the caller's buffer holds, whatever the driver claims.
  const uint32_t n =
      static_cast<uint32_t>(std::min<uintptr_t>(irp.IoStatus.Information, irp.OutputBufferLength));
  if (out && n) std::memcpy(out, buffer.data(), n);
  bytesReturned = n;
  return NtSuccess(s);
}

void CloseDeviceFile(int32_t handle) {
  std::lock_guard lock(g_lock);
  const auto it = g_handles.find(handle);
  if (it == g_handles.end()) return;
  TIrp irp;
  irp.MajorFunction = IRP_MJ_CLOSE;
  Dispatch(it->second, irp);
  g_handles.erase(handle);
}

TNtStatus CallDriverEntry(TDriverEntry entry, TDriverObject& driver, const std::string& service) {
  std::u16string path = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\";
  for (char c : service) path += static_cast<char16_t>(static_cast<unsigned char>(c));
  TUnicodeString registryPath;
  RtlInitUnicodeString(&registryPath, path.c_str());
  return entry(&driver, &g_services, &registryPath);
}

void CallDriverUnload(TDriverObject& driver) {
  if (driver.DriverUnload) driver.DriverUnload(&driver);
}

}  // namespace kernel
