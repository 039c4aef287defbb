// Starting, stopping and configuring the machine's services: run states kept
// per machine, pending transitions on the machine's clock, dependents from
// the registry's DependOnService values, start types in the value "Start".
//
// [[services]] keys read here besides those of ServiceRuntime.h:
//   display = "Smart Card"   the display name (else the key's DisplayName)
//   depends = ["PlugPlay"]   services it depends on (besides DependOnService)
//   pid = N                  its process id while it runs
//   start_error, stop_error, config_error = N  the call fails with N
#include <windows.h>
#include <winsvc.h>

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "ReaderRecords.h"
#include "ServiceRuntime.h"
#include "Text.h"
#include "UserRights.h"
#include "vqwin/Exports.h"
#include "vqwin/Machine.h"
#include "vqwin/Registry.h"

#ifndef ERROR_INVALID_LEVEL
#define ERROR_INVALID_LEVEL 124L
#endif

namespace vqwin {
namespace {

const char kServicesKey[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services";

struct Run {
  DWORD state = SERVICE_STOPPED;
  DWORD target = SERVICE_STOPPED;  // where a pending state ends
  uint64_t since = 0;              // clock time the pending state began
  int64_t duration = -1;           // ms until target; -1 never
};

std::mutex g_mutex;
std::map<std::string, Run>& Runs() {
  static std::map<std::string, Run> runs;
  return runs;
}

bool IsPending(DWORD state) {
  return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
         state == SERVICE_CONTINUE_PENDING || state == SERVICE_PAUSE_PENDING;
}

DWORD TargetOf(DWORD pending) {
  switch (pending) {
    case SERVICE_START_PENDING:
    case SERVICE_CONTINUE_PENDING:
      return SERVICE_RUNNING;
    case SERVICE_PAUSE_PENDING:
      return SERVICE_PAUSED;
    default:
      return SERVICE_STOPPED;
  }
}

int64_t RecordInt(const std::string& name, const char* key, int64_t fallback) {
  const Record* r = ServiceRecord(name);
  return r ? r->Int(key, fallback) : fallback;
}

// The run of a service as its declaration gives it (a declared pending
// state began when the machine started).
Run Declared(const std::string& name, DWORD declared) {
  Run run;
  run.state = declared;
  if (IsPending(declared)) {
    run.target = TargetOf(declared);
    run.duration = RecordInt(name, "pending_ms", -1);
  }
  return run;
}

void Advance(Run& run) {
  if (IsPending(run.state) && run.duration >= 0 &&
      CurrentClock().Now() - run.since >= static_cast<uint64_t>(run.duration))
    run.state = run.target;
}

// The run of a service now: the one a control call made, else the
// declaration's (which a test may change while the machine runs). Called
// with g_mutex held.
Run RunNow(const std::string& name, DWORD declared) {
  auto it = Runs().find(Lower(name));
  Run run = it != Runs().end() ? it->second : Declared(name, declared);
  Advance(run);
  if (it != Runs().end()) it->second = run;
  return run;
}

// The run that a control call changes, kept from now on. Called with g_mutex held.
Run& TouchRun(const std::string& name, DWORD declared) {
  auto it = Runs().find(Lower(name));
  if (it == Runs().end()) it = Runs().emplace(Lower(name), Declared(name, declared)).first;
  Advance(it->second);
  return it->second;
}

void Begin(Run& run, DWORD pending, int64_t duration) {
  run.state = pending;
  run.target = TargetOf(pending);
  run.since = CurrentClock().Now();
  run.duration = duration;
  if (duration == 0) run.state = run.target;
}

bool HasRight(DWORD access, DWORD right) {
  return (access & right) != 0 || (access & SERVICE_ALL_ACCESS) == SERVICE_ALL_ACCESS ||
         (access & GENERIC_ALL) != 0;
}

// The service behind a handle, with the right asked for; sets the error.
bool ServiceFor(SC_HANDLE handle, DWORD right, std::string& name) {
  bool manager = false;
  DWORD access = 0;
  if (!ScHandleInfo(handle, manager, name, access) || manager) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (right != 0 && !HasRight(access, right)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (!DeclaredServiceState(name)) {
    SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
    return false;
  }
  return true;
}

std::string ServiceKey(const std::string& name) { return std::string(kServicesKey) + "\\" + name; }

DWORD StartTypeOf(const std::string& name) {
  return CurrentMachine().registry().GetDword(ServiceKey(name), "Start").value_or(SERVICE_DEMAND_START);
}

DWORD TypeOf(const std::string& name) {
  if (const Record* r = ServiceRecord(name); r && r->Has("type")) return static_cast<DWORD>(r->Int("type"));
  return CurrentMachine().registry().GetDword(ServiceKey(name), "Type").value_or(SERVICE_WIN32_SHARE_PROCESS);
}

std::string DisplayNameOf(const std::string& name) {
  if (const Record* r = ServiceRecord(name); r && r->Has("display")) return r->Str("display");
  return CurrentMachine().registry().GetString(ServiceKey(name), "DisplayName").value_or(name);
}

// Every service of the machine: the registry's keys in their order, then the
// declared services that have no key.
std::vector<std::string> AllServices() {
  std::vector<std::string> names;
  if (auto key = CurrentMachine().registry().Find(kServicesKey))
    for (const auto& child : key->children)
      if (!child->deleted) names.push_back(child->name);
  for (const Record& r : CurrentMachine().spec().services) {
    const std::string name = r.Str("name");
    bool known = name.empty();
    for (const auto& n : names) known = known || EqualNoCase(n, name);
    if (!known) names.push_back(name);
  }
  return names;
}

std::vector<std::string> DependenciesOf(const std::string& name) {
  std::vector<std::string> out;
  if (auto key = CurrentMachine().registry().Find(ServiceKey(name)))
    if (const RegValue* v = key->Value("DependOnService")) {
      std::string item;
      for (uint8_t byte : v->data) {
        if (byte == 0) {
          if (!item.empty()) out.push_back(item);
          item.clear();
        } else {
          item.push_back(static_cast<char>(byte));
        }
      }
      if (!item.empty()) out.push_back(item);
    }
  if (const Record* r = ServiceRecord(name))
    for (const auto& d : r->List("depends")) out.push_back(d);
  return out;
}

struct Entry {
  std::string name, display;
  SERVICE_STATUS status{};
};

SERVICE_STATUS StatusOf(const std::string& name) {
  SERVICE_STATUS s{};
  const ServiceRun run = ServiceRunNow(name, DeclaredServiceState(name).value_or(SERVICE_STOPPED));
  s.dwServiceType = TypeOf(name);
  s.dwCurrentState = run.state;
  s.dwCheckPoint = run.checkPoint;
  s.dwWaitHint = run.waitHint;
  if (run.state == SERVICE_RUNNING) s.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  return s;
}

bool StateMatches(DWORD state, DWORD filter) {
  const bool active = state != SERVICE_STOPPED;
  return ((filter & SERVICE_ACTIVE) && active) || ((filter & SERVICE_INACTIVE) && !active);
}

// Writes entries from `first` into the caller's buffer as the platform lays
// them out: the records at the front, their strings packed from the end.
// Returns the count written; `needed` gets the bytes the rest would need.
DWORD Pack(const std::vector<Entry>& entries, size_t first, LPENUM_SERVICE_STATUSA buffer, DWORD size,
           DWORD& needed) {
  auto bytesOf = [](const Entry& e) {
    return static_cast<DWORD>(sizeof(ENUM_SERVICE_STATUSA) + e.name.size() + 1 + e.display.size() + 1);
  };
  DWORD used = 0, count = 0;
  size_t i = first;
  char* base = reinterpret_cast<char*>(buffer);
  DWORD stringsEnd = size;
  for (; i < entries.size(); ++i) {
    const DWORD want = bytesOf(entries[i]);
    if (buffer == nullptr || used + want > size) break;
    ENUM_SERVICE_STATUSA& out = buffer[count];
    stringsEnd -= static_cast<DWORD>(entries[i].name.size() + 1);
    std::memcpy(base + stringsEnd, entries[i].name.c_str(), entries[i].name.size() + 1);
    out.lpServiceName = base + stringsEnd;
    stringsEnd -= static_cast<DWORD>(entries[i].display.size() + 1);
    std::memcpy(base + stringsEnd, entries[i].display.c_str(), entries[i].display.size() + 1);
    out.lpDisplayName = base + stringsEnd;
    out.ServiceStatus = entries[i].status;
    used += want;
    ++count;
  }
  needed = 0;
  for (; i < entries.size(); ++i) needed += bytesOf(entries[i]);
  return count;
}

}  // namespace

ServiceRun ServiceRunNow(const std::string& name, DWORD declared) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const Run run = RunNow(name, declared);
  ServiceRun out;
  out.state = run.state;
  if (IsPending(run.state)) {
    const int64_t step = RecordInt(name, "checkpoint_ms", 500);
    const uint64_t elapsed = CurrentClock().Now() - run.since;
    out.checkPoint = step > 0 ? static_cast<DWORD>(1 + elapsed / static_cast<uint64_t>(step)) : 0;
    out.waitHint = static_cast<DWORD>(RecordInt(name, "wait_hint", 2000));
  }
  return out;
}

DWORD ManagerAccessError(DWORD access) {
  if (const Record* s = SecurityTable())
    if (const int64_t error = s->Int("manager_error", 0)) return static_cast<DWORD>(error);
  if (UserIsAdministrator()) return 0;
  const DWORD readRights = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS |
                           STANDARD_RIGHTS_READ | GENERIC_READ;
  return (access & ~static_cast<DWORD>(readRights)) != 0 ? ERROR_ACCESS_DENIED : 0;
}

DWORD ServiceAccessError(const std::string& name, DWORD access) {
  const DWORD denied = static_cast<DWORD>(RecordInt(name, "deny_access", 0));
  if ((access & denied) != 0) return ERROR_ACCESS_DENIED;
  if (UserIsAdministrator()) return 0;
  const DWORD readRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS |
                           SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL | STANDARD_RIGHTS_READ |
                           GENERIC_READ;
  return (access & ~static_cast<DWORD>(readRights)) != 0 ? ERROR_ACCESS_DENIED : 0;
}

void ResetServiceRuns() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    Runs().clear();
  }
  ResetTokenPrivileges();
}

}  // namespace vqwin

using namespace vqwin;

extern "C" {

BOOL WINAPI StartServiceA(SC_HANDLE service, DWORD, LPCSTR*) {
  std::string name;
  if (!ServiceFor(service, SERVICE_START, name)) return FALSE;
  if (const int64_t error = RecordInt(name, "start_error", 0)) {
    SetLastError(static_cast<DWORD>(error));
    return FALSE;
  }
  const DWORD declared = *DeclaredServiceState(name);
  if (StartTypeOf(name) == SERVICE_DISABLED) {
    SetLastError(ERROR_SERVICE_DISABLED);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  Run& run = TouchRun(name, declared);
  if (run.state != SERVICE_STOPPED) {
    SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
    return FALSE;
  }
  Begin(run, SERVICE_START_PENDING, RecordInt(name, "start_ms", 0));
  return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
  std::string name;
  const DWORD right = control == SERVICE_CONTROL_STOP          ? SERVICE_STOP
                      : control == SERVICE_CONTROL_INTERROGATE ? SERVICE_INTERROGATE
                                                               : SERVICE_PAUSE_CONTINUE;
  if (!ServiceFor(service, right, name)) return FALSE;
  if (!status) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const SERVICE_STATUS now = StatusOf(name);
  if (control == SERVICE_CONTROL_INTERROGATE) {
    *status = now;
    if (now.dwCurrentState == SERVICE_STOPPED) {
      SetLastError(ERROR_SERVICE_NOT_ACTIVE);
      return FALSE;
    }
    return TRUE;
  }
  if (control != SERVICE_CONTROL_STOP) {
    SetLastError(ERROR_INVALID_SERVICE_CONTROL);
    return FALSE;
  }
  if (now.dwCurrentState == SERVICE_STOPPED) {
    *status = now;
    SetLastError(ERROR_SERVICE_NOT_ACTIVE);
    return FALSE;
  }
  if (IsPending(now.dwCurrentState)) {
    *status = now;
    SetLastError(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    return FALSE;
  }
  for (const std::string& other : AllServices()) {
    if (EqualNoCase(other, name)) continue;
    for (const std::string& dependency : DependenciesOf(other))
      if (EqualNoCase(dependency, name) && StatusOf(other).dwCurrentState != SERVICE_STOPPED) {
        SetLastError(ERROR_DEPENDENT_SERVICES_RUNNING);
        return FALSE;
      }
  }
  if (const int64_t error = RecordInt(name, "stop_error", 0)) {
    SetLastError(static_cast<DWORD>(error));
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    Run& run = TouchRun(name, now.dwCurrentState);
    Begin(run, SERVICE_STOP_PENDING, RecordInt(name, "stop_ms", 0));
  }
  *status = StatusOf(name);
  return TRUE;
}

BOOL WINAPI ChangeServiceConfigA(SC_HANDLE service, DWORD, DWORD startType, DWORD, LPCSTR, LPCSTR, LPDWORD,
                                 LPCSTR, LPCSTR, LPCSTR, LPCSTR) {
  std::string name;
  if (!ServiceFor(service, SERVICE_CHANGE_CONFIG, name)) return FALSE;
  if (const int64_t error = RecordInt(name, "config_error", 0)) {
    SetLastError(static_cast<DWORD>(error));
    return FALSE;
  }
  if (startType != SERVICE_NO_CHANGE) {
    if (startType > SERVICE_DISABLED) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    CurrentMachine().registry().SetDword(ServiceKey(name), "Start", startType);
    CurrentMachine().SaveRegistry();
  }
  return TRUE;
}

BOOL WINAPI QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE level, LPBYTE buffer, DWORD size,
                                 LPDWORD needed) {
  std::string name;
  if (!ServiceFor(service, SERVICE_QUERY_STATUS, name)) return FALSE;
  if (level != SC_STATUS_PROCESS_INFO) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  if (!needed) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *needed = sizeof(SERVICE_STATUS_PROCESS);
  if (!buffer || size < sizeof(SERVICE_STATUS_PROCESS)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (const int64_t error = RecordInt(name, "query_error", 0)) {
    SetLastError(static_cast<DWORD>(error));
    return FALSE;
  }
  const SERVICE_STATUS s = StatusOf(name);
  SERVICE_STATUS_PROCESS out{};
  std::memcpy(&out, &s, sizeof s);
  if (s.dwCurrentState != SERVICE_STOPPED) out.dwProcessId = static_cast<DWORD>(RecordInt(name, "pid", 0));
  std::memcpy(buffer, &out, sizeof out);
  return TRUE;
}

BOOL WINAPI EnumServicesStatusA(SC_HANDLE manager, DWORD serviceType, DWORD serviceState,
                                LPENUM_SERVICE_STATUSA services, DWORD size, LPDWORD needed, LPDWORD returned,
                                LPDWORD resume) {
  bool isManager = false;
  std::string ignored;
  DWORD access = 0;
  if (!ScHandleInfo(manager, isManager, ignored, access) || !isManager) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!HasRight(access, SC_MANAGER_ENUMERATE_SERVICE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!needed || !returned || serviceState == 0 || serviceState > SERVICE_STATE_ALL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<Entry> entries;
  for (const std::string& name : AllServices()) {
    Entry e{name, DisplayNameOf(name), StatusOf(name)};
    if ((e.status.dwServiceType & serviceType) && StateMatches(e.status.dwCurrentState, serviceState))
      entries.push_back(std::move(e));
  }
  const size_t first = resume ? *resume : 0;
  DWORD rest = 0;
  *returned = Pack(entries, first, services, size, rest);
  *needed = rest;
  if (first + *returned < entries.size()) {
    if (resume) *resume = static_cast<DWORD>(first + *returned);
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  if (resume) *resume = 0;
  return TRUE;
}

BOOL WINAPI EnumDependentServicesA(SC_HANDLE service, DWORD serviceState, LPENUM_SERVICE_STATUSA services,
                                   DWORD size, LPDWORD needed, LPDWORD returned) {
  std::string name;
  if (!ServiceFor(service, SERVICE_ENUMERATE_DEPENDENTS, name)) return FALSE;
  if (!needed || !returned || serviceState == 0 || serviceState > SERVICE_STATE_ALL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<Entry> entries;
  for (const std::string& other : AllServices()) {
    if (EqualNoCase(other, name)) continue;
    for (const std::string& dependency : DependenciesOf(other)) {
      if (!EqualNoCase(dependency, name)) continue;
      Entry e{other, DisplayNameOf(other), StatusOf(other)};
      if (StateMatches(e.status.dwCurrentState, serviceState)) entries.push_back(std::move(e));
      break;
    }
  }
  DWORD rest = 0;
  *returned = 0;
  *needed = 0;
  if (entries.empty()) return TRUE;
  Pack(entries, 0, nullptr, 0, rest);
  if (!services || size < rest) {
    *needed = rest;
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  *returned = Pack(entries, 0, services, size, rest);
  return TRUE;
}

}  // extern "C"

VQWIN_EXPORT("advapi32.dll", QueryServiceStatusEx);
