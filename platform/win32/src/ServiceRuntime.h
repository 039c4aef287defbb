// The run-time side of the machine's services: run states changed by the
// service control calls, pending transitions that advance with the clock,
// and the access rights a machine grants. Services.cpp asks it for the state
// of every service; ServiceControl.cpp keeps it.
#pragma once

#include <windef.h>
#include <winsvc.h>

#include <string>

namespace vqwin {

struct ServiceRun {
  DWORD state = 1;  // SERVICE_STOPPED
  DWORD checkPoint = 0;
  DWORD waitHint = 0;
};

// The run state now of an existing service whose machine declares
// `declared` as its state at start.
//   [[services]] pending_ms = N    a declared pending state ends after N ms
//                                  (without it the service stays pending)
//                start_ms, stop_ms = N  how long a start or a stop stays
//                                  pending (default 0; -1: for ever)
//                wait_hint = N     the wait hint while pending (default 2000)
//                checkpoint_ms = N the check point goes up by one every N ms
//                                  while pending (default 500; 0: it stays)
ServiceRun ServiceRunNow(const std::string& name, DWORD declared);

// The error that opening the manager or a service with `access` gives on
// this machine, or 0:
//   [security]   admin = false    only read rights on the manager and on
//                                 services (no start, stop or configuration;
//                                 UserRights.h)
//                manager_error = N  every open of the manager fails with N
//   [[services]] deny_access = M  a service open asking for any right in M
//                                 fails with ERROR_ACCESS_DENIED
DWORD ManagerAccessError(DWORD access);
DWORD ServiceAccessError(const std::string& name, DWORD access);

// What a handle of OpenSCManagerA or OpenServiceA stands for; false when it
// is none.
bool ScHandleInfo(SC_HANDLE handle, bool& manager, std::string& service, DWORD& access);

// Forgets the run-time changes (a machine made current starts afresh): the
// service states and the privileges the program enabled.
void ResetServiceRuns();
void ResetTokenPrivileges();

}  // namespace vqwin
