#include "platform/service_manager.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <mutex>

#include "platform/kernel.h"

namespace platform {

namespace {

struct TService {
  std::string name, displayName, imagePath;
  uint32_t type = 0, startType = 0, errorControl = 0;
  bool running = false;
  bool markedForDelete = false;
  void* image = nullptr;
  kernel::TDriverObject driver;
  int handles = 0;
};

struct THandle {
  bool manager = false;
  uint32_t access = 0;
  std::string service;  // for service handles
};

std::recursive_mutex g_lock;
std::map<std::string, std::unique_ptr<TService>> g_services;
std::map<TScHandle, THandle> g_handles;
TScHandle g_next = 0x2000;
thread_local uint32_t t_lastError = 0;
std::string g_lastStartFailure;

bool Fail(uint32_t error) {
  t_lastError = error;
  return false;
}

TService* ServiceOf(TScHandle h, uint32_t need) {
  const auto it = g_handles.find(h);
  if (it == g_handles.end() || it->second.manager) {
    t_lastError = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if ((it->second.access & need) != need) {
    t_lastError = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  const auto s = g_services.find(it->second.service);
  if (s == g_services.end()) {
    t_lastError = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  return s->second.get();
}

// A service marked for deletion goes once it is stopped and nobody holds it.
void ReapIfDeleted(const std::string& name) {
  const auto it = g_services.find(name);
  if (it != g_services.end() && it->second->markedForDelete && !it->second->running &&
      it->second->handles == 0)
    g_services.erase(it);
}

bool IsManager(TScHandle h, uint32_t need) {
  const auto it = g_handles.find(h);
  if (it == g_handles.end() || !it->second.manager) return Fail(ERROR_INVALID_HANDLE);
  if ((it->second.access & need) != need) return Fail(ERROR_ACCESS_DENIED);
  return true;
}

TScHandle NewServiceHandle(TService& s, uint32_t access) {
  const TScHandle h = g_next++;
  g_handles[h] = {false, access, s.name};
  ++s.handles;
  return h;
}

}  // namespace

TScHandle OpenSCManager(uint32_t access) {
  std::lock_guard lock(g_lock);
  const TScHandle h = g_next++;
  g_handles[h] = {true, access, {}};
  return h;
}

TScHandle CreateService(TScHandle manager, const std::string& name, const std::string& displayName,
                        uint32_t access, uint32_t serviceType, uint32_t startType,
                        uint32_t errorControl, const std::string& imagePath) {
  std::lock_guard lock(g_lock);
  if (!IsManager(manager, SC_MANAGER_ALL_ACCESS)) return 0;
  if (name.empty() || serviceType != SERVICE_KERNEL_DRIVER) return Fail(ERROR_INVALID_PARAMETER);
  if (const auto it = g_services.find(name); it != g_services.end())
    return Fail(it->second->markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE
                                            : ERROR_SERVICE_EXISTS);
  auto s = std::make_unique<TService>();
  s->name = name;
  s->displayName = displayName;
  s->imagePath = imagePath;
  s->type = serviceType;
  s->startType = startType;
  s->errorControl = errorControl;
  TService& ref = *s;
  g_services[name] = std::move(s);
  return NewServiceHandle(ref, access);
}

TScHandle OpenService(TScHandle manager, const std::string& name, uint32_t access) {
  std::lock_guard lock(g_lock);
  if (!IsManager(manager, 0)) return 0;
  const auto it = g_services.find(name);
  if (it == g_services.end()) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  return NewServiceHandle(*it->second, access);
}

bool StartService(TScHandle service) {
  std::lock_guard lock(g_lock);
  TService* s = ServiceOf(service, SERVICE_START);
  if (!s) return false;
  if (s->markedForDelete) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  if (s->running) return Fail(ERROR_SERVICE_ALREADY_RUNNING);
  struct stat st {};
  if (stat(s->imagePath.c_str(), &st) != 0) {
    g_lastStartFailure = s->imagePath + ": no such file";
    return Fail(ERROR_FILE_NOT_FOUND);
  }
  void* image = dlopen(s->imagePath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!image) {
    const char* why = dlerror();
    g_lastStartFailure = why ? why : s->imagePath + ": not a driver image";
    return Fail(ERROR_BAD_EXE_FORMAT);
  }
  auto entry = reinterpret_cast<kernel::TDriverEntry>(dlsym(image, kernel::kDriverEntrySymbol));
  if (!entry) {
    dlclose(image);
    g_lastStartFailure = s->imagePath + ": has no driver entry point";
    return Fail(ERROR_BAD_EXE_FORMAT);
  }
  s->driver = kernel::TDriverObject{};
  const kernel::TNtStatus status = kernel::CallDriverEntry(entry, s->driver, s->name);
  if (!kernel::NtSuccess(status)) {
    dlclose(image);
    g_lastStartFailure = s->imagePath + ": the driver failed to start";
    return Fail(ERROR_DRIVER_FAILED_START);
  }
  s->image = image;
  s->running = true;
  g_lastStartFailure.clear();
  return true;
}

bool ControlService(TScHandle service, uint32_t control) {
  std::lock_guard lock(g_lock);
  if (control != SERVICE_CONTROL_STOP) return Fail(ERROR_INVALID_PARAMETER);
  TService* s = ServiceOf(service, SERVICE_STOP);
  if (!s) return false;
  if (!s->running) return Fail(ERROR_SERVICE_NOT_ACTIVE);
  kernel::CallDriverUnload(s->driver);
  dlclose(s->image);
  s->image = nullptr;
  s->running = false;
  return true;
}

bool DeleteService(TScHandle service) {
  std::lock_guard lock(g_lock);
  TService* s = ServiceOf(service, 0);
  if (!s) return false;
  if (s->markedForDelete) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  s->markedForDelete = true;
  return true;
}

bool CloseServiceHandle(TScHandle handle) {
  std::lock_guard lock(g_lock);
  const auto it = g_handles.find(handle);
  if (it == g_handles.end()) return Fail(ERROR_INVALID_HANDLE);
  const THandle h = it->second;
  g_handles.erase(it);
  if (!h.manager) {
    if (const auto s = g_services.find(h.service); s != g_services.end()) {
      --s->second->handles;
      ReapIfDeleted(h.service);
    }
  }
  return true;
}

uint32_t GetLastError() { return t_lastError; }

bool ServiceExists(const std::string& name) {
  std::lock_guard lock(g_lock);
  return g_services.count(name) != 0;
}

bool ServiceRunning(const std::string& name) {
  std::lock_guard lock(g_lock);
  const auto it = g_services.find(name);
  return it != g_services.end() && it->second->running;
}

std::string LastStartFailure() {
  std::lock_guard lock(g_lock);
  return g_lastStartFailure;
}

}  // namespace platform
