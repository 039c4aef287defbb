// The service control manager's queries over the services a machine declares
// ([[services]] records, and the keys of the registry's Services folder).
#include <windows.h>
#include <winsvc.h>

#include <cstring>
#include <map>
#include <mutex>

#include "ReaderRecords.h"
#include "ServiceRuntime.h"
#include "Text.h"
#include "vqwin/Machine.h"
#include "vqwin/Registry.h"

namespace vqwin {
namespace {

const char kServicesKey[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";

DWORD StateFromText(const std::string& text) {
  static const std::pair<const char*, DWORD> kStates[] = {
      {"stopped", SERVICE_STOPPED},          {"start_pending", SERVICE_START_PENDING},
      {"stop_pending", SERVICE_STOP_PENDING}, {"running", SERVICE_RUNNING},
      {"continue_pending", SERVICE_CONTINUE_PENDING}, {"pause_pending", SERVICE_PAUSE_PENDING},
      {"paused", SERVICE_PAUSED}};
  for (const auto& [name, state] : kStates)
    if (EqualNoCase(text, name)) return state;
  return SERVICE_STOPPED;
}

struct ScObject {
  bool manager = false;
  std::string service;  // the service's name as asked
  DWORD access = 0;
};

std::mutex g_mutex;
std::map<uintptr_t, ScObject>& Objects() {
  static std::map<uintptr_t, ScObject> objects;
  return objects;
}
uintptr_t g_next = 0x5C000;

SC_HANDLE NewScHandle(ScObject object) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const uintptr_t value = g_next;
  g_next += 4;
  Objects()[value] = std::move(object);
  return reinterpret_cast<SC_HANDLE>(value);
}

std::optional<ScObject> FindScObject(SC_HANDLE handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = Objects().find(reinterpret_cast<uintptr_t>(handle));
  if (it == Objects().end()) return std::nullopt;
  return it->second;
}

bool RegistryHasService(const std::string& name) {
  if (name.empty() || name.find('\\') != std::string::npos) return false;
  return CurrentMachine().registry().Find(std::string(kServicesKey) + name) != nullptr;
}

void Fail(DWORD error) { SetLastError(error); }

}  // namespace

const Record* ServiceRecord(const std::string& name) {
  for (const Record& r : CurrentMachine().spec().services)
    if (EqualNoCase(r.Str("name"), name)) return &r;
  return nullptr;
}

std::optional<DWORD> DeclaredServiceState(const std::string& name) {
  if (const Record* r = ServiceRecord(name)) return ServiceRunNow(name, StateFromText(r->Str("state", "stopped"))).state;
  if (RegistryHasService(name)) return ServiceRunNow(name, SERVICE_STOPPED).state;
  return std::nullopt;
}

bool ProcessOfService(const Record& process) { return !process.Str("service").empty(); }

bool ProcessListed(const Record& process) {
  if (!ProcessOfService(process)) return true;
  const auto state = DeclaredServiceState(process.Str("service"));
  return state && *state != SERVICE_STOPPED;
}

bool ScHandleInfo(SC_HANDLE handle, bool& manager, std::string& service, DWORD& access) {
  auto object = FindScObject(handle);
  if (!object) return false;
  manager = object->manager;
  service = object->service;
  access = object->access;
  return true;
}

}  // namespace vqwin

using namespace vqwin;

extern "C" {

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD access) {
  if (machineName && *machineName && !EqualNoCase(machineName, CurrentMachine().spec().computerName) &&
      !(machineName[0] == '\\' && machineName[1] == '\\' &&
        EqualNoCase(machineName + 2, CurrentMachine().spec().computerName))) {
    Fail(ERROR_BAD_NETPATH);
    return nullptr;
  }
  if (databaseName && *databaseName && !EqualNoCase(databaseName, SERVICES_ACTIVE_DATABASEA)) {
    Fail(ERROR_INVALID_NAME);
    return nullptr;
  }
  if (const DWORD denied = ManagerAccessError(access)) {
    Fail(denied);
    return nullptr;
  }
  ScObject object;
  object.manager = true;
  object.access = access;
  return NewScHandle(std::move(object));
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access) {
  auto object = FindScObject(manager);
  if (!object || !object->manager) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!serviceName) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!DeclaredServiceState(serviceName)) {
    Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  if (const Record* r = ServiceRecord(serviceName); r && r->Int("open_error") != 0) {
    Fail(static_cast<DWORD>(r->Int("open_error")));
    return nullptr;
  }
  if (const DWORD denied = ServiceAccessError(serviceName, access)) {
    Fail(denied);
    return nullptr;
  }
  ScObject service;
  service.service = serviceName;
  service.access = access;
  return NewScHandle(std::move(service));
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE handle, LPSERVICE_STATUS status) {
  auto object = FindScObject(handle);
  if (!object || object->manager) {
    Fail(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!(object->access & (SERVICE_QUERY_STATUS | GENERIC_READ | GENERIC_ALL)) &&
      (object->access & SERVICE_ALL_ACCESS) != SERVICE_ALL_ACCESS) {
    Fail(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!status) {
    Fail(ERROR_NOACCESS);
    return FALSE;
  }
  const Record* r = ServiceRecord(object->service);
  if (r && r->Int("query_error") != 0) {
    Fail(static_cast<DWORD>(r->Int("query_error")));
    return FALSE;
  }
  auto state = DeclaredServiceState(object->service);
  if (!state) {  // removed from the machine since it was opened
    Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    return FALSE;
  }
  std::memset(status, 0, sizeof *status);
  status->dwServiceType = r ? static_cast<DWORD>(r->Int("type", SERVICE_WIN32_SHARE_PROCESS))
                            : SERVICE_WIN32_SHARE_PROCESS;
  status->dwCurrentState = *state;
  const ServiceRun run = ServiceRunNow(object->service, *state);
  status->dwCheckPoint = run.checkPoint;
  status->dwWaitHint = run.waitHint;
  if (*state == SERVICE_RUNNING) status->dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (Objects().erase(reinterpret_cast<uintptr_t>(handle)) == 0) {
    Fail(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
