// Service operations: start, stop with dependents, enable, start types and
// run states, against services that the machine scripts.
#include "ServiceWindow.h"

#include <vqwin/Registry.h>

#include <functional>

namespace scmtest {
namespace {

using Operations = ServiceWindow;

const char kScard[] = "SCardSvr";

DWORD ServiceState(const char* name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  const BOOL ok = QueryServiceStatus(service, &status);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return ok ? status.dwCurrentState : 0;
}

struct OperationCase {
  const char* name;
  const char* service;
  std::function<void(ScmMachine&)> setup;
  int result;
  std::vector<std::string> lines;
  DWORD stateAfter;
  uint64_t elapsed;  // machine time the operation took
};

void Set(vqwin::Record& r, const char* key, int64_t value) { r.values[key] = value; }
void Set(vqwin::Record& r, const char* key, const std::string& value) { r.values[key] = value; }

TEST_F(Operations, StartAndWait) {
  const OperationCase cases[] = {
      {"stopped, starts in 1.5 s", kScard,
       [](ScmMachine& t) {
         Set(t.Service(kScard), "state", "stopped");
         Set(t.Service(kScard), "start_ms", 1500);
       },
       1, {"-> Service start successfully."}, SERVICE_RUNNING, 2000},
      {"running", kScard, [](ScmMachine&) {}, 0, {"-> Cannot start the service because it is already running."},
       SERVICE_RUNNING, 0},
      {"start pending", kScard,
 [](ScmMachine& t) { Set(t.Service(kScard), "state", "start_pending"); }, 0,
       {"-> Cannot start the service because it is already running."}, SERVICE_START_PENDING, 0},
      {"start pending for ever, check point frozen", kScard,
       [](ScmMachine& t) {
         vqwin::Record& s = t.Service(kScard);
         Set(s, "state", "stopped");
         Set(s, "start_ms", -1);
         Set(s, "checkpoint_ms", 0);
         Set(s, "wait_hint", 2000);
       },
       0, {"-> Service is not running."}, SERVICE_START_PENDING, 3000},
      {"slow start with a moving check point", kScard,
       [](ScmMachine& t) {
         vqwin::Record& s = t.Service(kScard);
         Set(s, "state", "stopped");
         Set(s, "start_ms", 9000);
         Set(s, "checkpoint_ms", 800);
         Set(s, "wait_hint", 1000);
       },
       1, {"-> Service start successfully."}, SERVICE_RUNNING, 9000},
      {"stop still pending, wait hint 0", kScard,
       [](ScmMachine& t) {
         vqwin::Record& s = t.Service(kScard);
         Set(s, "state", "stop_pending");
         Set(s, "checkpoint_ms", 0);
         Set(s, "wait_hint", 0);
       },
       0, {"-> Timeout waiting for service to stop."}, SERVICE_STOP_PENDING, 1000},
      {"stop pending, then started", kScard,
       [](ScmMachine& t) {
         vqwin::Record& s = t.Service(kScard);
         Set(s, "state", "stop_pending");
         Set(s, "pending_ms", 1500);
       },
       1, {"-> Service start successfully."}, SERVICE_RUNNING, 2000},
      {"disabled", kScard,
       [](ScmMachine& t) {
         Set(t.Service(kScard), "state", "stopped");
         t.SetStartType(kScard, 4);
       },
       0,
       {"-> Start service failed (The service cannot be started, either because it is disabled or because it "
        "has no enabled devices associated with it)."},
       SERVICE_STOPPED, 0},
      {"no such service", "NoSuchSvc", [](ScmMachine&) {}, 0,
       {"-> Open service failed (The specified service does not exist as an installed service)."}, 0, 0},
      {"no right to start", kScard,
       [](ScmMachine& t) {
         Set(t.Service(kScard), "state", "stopped");
         t.Security().values["admin"] = false;
       },
       0, {"-> Open service failed (Access is denied)."}, SERVICE_STOPPED, 0},
      {"no extended status query", kScard,
       [](ScmMachine& t) {
         t.spec().absent.insert("QueryServiceStatusEx");
         Set(t.Service(kScard), "state", "stopped");
       },
       0, {"-> Query service status failed (The specified procedure could not be found)."}, SERVICE_STOPPED, 0},
  };
  for (const OperationCase& c : cases) {
    vcl::ResetApplication();
    ScmMachine fresh;  // each case on a machine of its own
    c.setup(fresh);
    fresh.Create();
    fresh.ClearInfo();
    SetLastError(ERROR_PROC_NOT_FOUND);  // what a missing status query leaves
    const uint64_t start = fresh.Now();
    EXPECT_EQ(frmSCM->StartServiceAndWait(c.service), c.result) << c.name;
    EXPECT_EQ(fresh.Now() - start, c.elapsed) << c.name;
    EXPECT_EQ(fresh.InfoTexts(), c.lines) << c.name;
    EXPECT_EQ(frmSCM->pgsbar_SCM->Position, c.result == 1 ? 100 : 0) << c.name;
    if (c.stateAfter != 0) EXPECT_EQ(ServiceState(kScard), c.stateAfter) << c.name;
    EXPECT_EQ(Scm_main::ManagerHandle, nullptr);
    EXPECT_EQ(Scm_main::ServiceHandle, nullptr);
  }
}

}  // namespace
}  // namespace scmtest
