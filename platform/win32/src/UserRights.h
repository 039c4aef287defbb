// Who the program runs as on the machine: machine.toml's [security] table.
//   admin = false            not an administrator: only read rights on the
//                            service control manager and on services
//                            (ServiceControl.cpp), and on the NT family no
//                            writes under HKEY_LOCAL_MACHINE: creating a key,
//                            setting or deleting a value or deleting a key
//                            there fails with ERROR_ACCESS_DENIED, and a key
//                            opened there is opened for reading (RegApi.cpp)
//   manager_error = N        every OpenSCManagerA fails with N
//   debug_privilege = false  the token does not hold SeDebugPrivilege
//   token_error = N          OpenProcessToken fails with N (Processes.cpp)
#pragma once

#include "vqwin/Machine.h"
#include "vqwin/Record.h"

namespace vqwin {

// The [security] table of the current machine, or nullptr.
inline const Record* SecurityTable() {
  const auto& extra = CurrentMachine().spec().extra;
  auto it = extra.find("security");
  return it == extra.end() ? nullptr : &it->second;
}

inline bool UserIsAdministrator() {
  const Record* s = SecurityTable();
  return !s || s->Bool("admin", true);
}

}  // namespace vqwin
