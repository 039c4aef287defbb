// Service operations: start, stop with dependents, enable, start types and
// run states, against services that the machine scripts.
#include "ServiceWindow.h"

#include <vqwin/Registry.h>

#include <functional>
#include <map>

namespace scmtest {
namespace {

using Operations = ServiceWindow;

const char kScard[] = "SCardSvr";

struct OperationCase {
  const char* name;
  const char* service;
  std::function<void(ScmMachine&)> setup;
  int result;
  std::vector<std::string> lines;
  DWORD stateAfter;
  uint64_t elapsed;  // machine time the operation took
  std::map<std::string, DWORD> othersAfter = {};  // run states of other services after it
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
      // The check point keeps moving, so neither wait ever stalls: the
      // start gives up two minutes after it began.
      {"start pending for ever, check point moving", kScard,
       [](ScmMachine& t) {
         vqwin::Record& s = t.Service(kScard);
         Set(s, "state", "stopped");
         Set(s, "start_ms", -1);
         Set(s, "checkpoint_ms", 800);
         Set(s, "wait_hint", 1000);
       },
       0, {"-> Service is not running."}, SERVICE_START_PENDING, 121000},
      {"stop pending for ever, check point moving", kScard,
       [](ScmMachine& t) {
         vqwin::Record& s = t.Service(kScard);
         Set(s, "state", "stop_pending");
         Set(s, "checkpoint_ms", 800);
         Set(s, "wait_hint", 1000);
       },
       0, {"-> Timeout waiting for service to stop."}, SERVICE_STOP_PENDING, 121000},
      {"stop pending for 100 s, check point moving, then started", kScard,
       [](ScmMachine& t) {
         vqwin::Record& s = t.Service(kScard);
         Set(s, "state", "stop_pending");
         Set(s, "pending_ms", 100000);
         Set(s, "checkpoint_ms", 800);
         Set(s, "wait_hint", 1000);
         Set(s, "start_ms", -1);
       },
       0, {"-> Service is not running."}, SERVICE_START_PENDING, 121000},
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
    if (c.stateAfter != 0) {
      EXPECT_EQ(ServiceState(kScard), c.stateAfter) << c.name;
    }
    EXPECT_EQ(Scm_main::ManagerHandle, nullptr);
    EXPECT_EQ(Scm_main::ServiceHandle, nullptr);
  }
}


// A service that depends on the smart card service, in the registry and
// declared running.
void AddDependent(ScmMachine& t, const std::string& name, const char* state) {
  vqwin::Record& d = t.Service(name);
  Set(d, "state", state);
  vqwin::RegValue v{"DependOnService", REG_MULTI_SZ, {}};
  const std::string list = std::string(kScard) + '\0' + '\0';
  v.data.assign(list.begin(), list.end());
  t.machine().registry().Create("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\" + name)->SetValue(v);
}

TEST_F(Operations, StopAndWait) {
  const OperationCase cases[] = {
      {"running, stops in 3 s", kScard, [](ScmMachine& t) { Set(t.Service(kScard), "stop_ms", 3000); }, 1,
       {"-> Service stop successfully."}, SERVICE_STOPPED, 3000},
      {"stopped", kScard, [](ScmMachine& t) { Set(t.Service(kScard), "state", "stopped"); }, 0,
       {"-> Cannot stop the service because it is already stopped."}, SERVICE_STOPPED, 0},
      {"stop pending, reaches stopped", kScard,
       [](ScmMachine& t) {
         vqwin::Record& s = t.Service(kScard);
         Set(s, "state", "stop_pending");
         Set(s, "pending_ms", 2500);
         Set(s, "wait_hint", 2000);
         AddDependent(t, "DepSvc", "running");  // not touched: no stop control is sent
       },
       1, {"-> Service stop successfully."}, SERVICE_STOPPED, 4100, {{"DepSvc", SERVICE_RUNNING}}},
      {"takes 40 s", kScard,
       [](ScmMachine& t) {
         Set(t.Service(kScard), "stop_ms", 40000);
         Set(t.Service(kScard), "wait_hint", 2000);
       },
       0, {"-> Timeout waiting for service to stop."}, SERVICE_STOP_PENDING, 31000},
      {"stop refused", kScard, [](ScmMachine& t) { Set(t.Service(kScard), "stop_error", 1061); }, 0,
       {"-> Stop service failed (The service cannot accept control messages at this time)."}, SERVICE_RUNNING,
       0},
      {"two dependents stopped first", kScard,
       [](ScmMachine& t) {
         AddDependent(t, "DepOne", "running");
         AddDependent(t, "DepTwo", "running");
         Set(t.Service("DepTwo"), "stop_ms", 1500);
         Set(t.Service("DepTwo"), "wait_hint", 1000);
       },
       1, {"-> Service stop successfully."}, SERVICE_STOPPED, 2000,
       {{"DepOne", SERVICE_STOPPED}, {"DepTwo", SERVICE_STOPPED}}},
      {"first dependent cannot be opened", kScard,
       [](ScmMachine& t) {
         AddDependent(t, "DepOne", "running");
         AddDependent(t, "DepTwo", "running");
         Set(t.Service("DepOne"), "open_error", 5);
       },
       0,
       {"-> Stop service failed (A stop control has been sent to a service that other running services are "
        "dependent on)."},
       SERVICE_RUNNING, 0, {{"DepTwo", SERVICE_RUNNING}}},
      // The first failure ends the dependents' turn: the second is not
      // touched, and the service's own stop is still sent.
      {"first dependent refuses the stop control", kScard,
       [](ScmMachine& t) {
         AddDependent(t, "DepOne", "running");
         AddDependent(t, "DepTwo", "running");
         Set(t.Service("DepOne"), "stop_error", 1061);
       },
       0,
       {"-> Stop service failed (A stop control has been sent to a service that other running services are "
        "dependent on)."},
       SERVICE_RUNNING, 0, {{"DepOne", SERVICE_RUNNING}, {"DepTwo", SERVICE_RUNNING}}},
      // The dependents share 30 s of their own: the second one's last
      // sleep is cut short so that its last check comes 1 ms past them.
      {"dependents that outlast their 30 s", kScard,
       [](ScmMachine& t) {
         AddDependent(t, "DepOne", "running");
         AddDependent(t, "DepTwo", "running");
         Set(t.Service("DepOne"), "stop_ms", 20000);
         Set(t.Service("DepOne"), "wait_hint", 5000);
         Set(t.Service("DepTwo"), "stop_ms", -1);
         Set(t.Service("DepTwo"), "wait_hint", 5000);
       },
       0,
       {"-> Stop service failed (A stop control has been sent to a service that other running services are "
        "dependent on)."},
       SERVICE_RUNNING, 30001, {{"DepOne", SERVICE_STOPPED}, {"DepTwo", SERVICE_STOP_PENDING}}},
      {"a dependent reporting a wait hint of 4 000 000 000 ms", kScard,
       [](ScmMachine& t) {
         AddDependent(t, "DepOne", "running");
         Set(t.Service("DepOne"), "stop_ms", -1);
         Set(t.Service("DepOne"), "wait_hint", 4000000000);
       },
       0,
       {"-> Stop service failed (A stop control has been sent to a service that other running services are "
        "dependent on)."},
       SERVICE_RUNNING, 30001, {{"DepOne", SERVICE_STOP_PENDING}}},
  };
  for (const OperationCase& c : cases) {
    vcl::ResetApplication();
    ScmMachine fresh;
    c.setup(fresh);
    fresh.Create();
    fresh.ClearInfo();
    const uint64_t start = fresh.Now();
    EXPECT_EQ(frmSCM->StopServiceAndWait(c.service), c.result) << c.name;
    EXPECT_EQ(fresh.Now() - start, c.elapsed) << c.name;
    EXPECT_EQ(fresh.InfoTexts(), c.lines) << c.name;
    EXPECT_EQ(frmSCM->pgsbar_SCM->Position, c.result == 1 ? 100 : 0) << c.name;
    EXPECT_EQ(ServiceState(kScard), c.stateAfter) << c.name;
    for (const auto& [name, state] : c.othersAfter) EXPECT_EQ(ServiceState(name.c_str()), state) << c.name << " " << name;
  }
}

// A status query that takes `g_firstQueryMs` of machine time once, the
// first time it is asked: every later check of the operation then comes
// that much later.
DWORD g_firstQueryMs = 0;
Scm_main::QueryServiceStatusExFunc g_plainQuery = nullptr;
BOOL WINAPI SlowFirstQuery(SC_HANDLE s, SC_STATUS_TYPE level, LPBYTE buffer, DWORD size, LPDWORD needed) {
  if (g_firstQueryMs != 0) {
    Sleep(g_firstQueryMs);
    g_firstQueryMs = 0;
  }
  return g_plainQuery(s, level, buffer, size, needed);
}

// The waits at the numbers they are documented with: polls a tenth of the
// wait hint apart, never closer than 1 s nor further than 10 s; a stall
// when the check point stood still for more than the wait hint; a start
// given up at the first check more than 120 s after it began, a stop at
// the first check more than 30 s after it began. Each case sits where a
// neighbouring rule (a fifth, a floor or ceiling one off, a limit reached
// at equality) gives another time or another answer.
TEST_F(Operations, WaitsAtTheirStatedLimits) {
  auto frozenStart = [](int64_t hint) {
    return [hint](ScmMachine& t) {
      vqwin::Record& s = t.Service(kScard);
      Set(s, "state", "stopped");
      Set(s, "start_ms", -1);
      Set(s, "checkpoint_ms", 0);
      Set(s, "wait_hint", hint);
    };
  };
  auto movingStart = [](ScmMachine& t) {
    vqwin::Record& s = t.Service(kScard);
    Set(s, "state", "stopped");
    Set(s, "start_ms", -1);
    Set(s, "checkpoint_ms", 800);
    Set(s, "wait_hint", 1000);
  };
  auto stopIn = [](int64_t ms) {
    return [ms](ScmMachine& t) {
      Set(t.Service(kScard), "stop_ms", ms);
      Set(t.Service(kScard), "wait_hint", 2000);
    };
  };
  auto pendingStop = [](int64_t hint) {
    return [hint](ScmMachine& t) {
      Set(t.Service(kScard), "state", "stop_pending");
      Set(t.Service(kScard), "wait_hint", hint);
    };
  };
  const std::vector<std::string> notRunning = {"-> Service is not running."};
  const std::vector<std::string> stopped = {"-> Service stop successfully."};
  const std::vector<std::string> timeout = {"-> Timeout waiting for service to stop."};
  struct {
    const char* name;
    bool start;
    std::function<void(ScmMachine&)> setup;
    DWORD firstQueryMs;
    int result;
    std::vector<std::string> lines;
    uint64_t elapsed;
    int64_t pendingEndsAt = -1;  // a declared pending state ends this long after the operation began
  } const cases[] = {
      // Frozen check point: polls of a tenth until more than the hint passed.
      {"hint 30000: polls of 3000", true, frozenStart(30000), 0, 0, notRunning, 33000},
      {"hint 9990: a tenth below 1000 polls every 1000", true, frozenStart(9990), 0, 0, notRunning, 10000},
      {"hint 10010: a tenth above 1000 polls every 1001", true, frozenStart(10010), 0, 0, notRunning, 11011},
      {"hint 99990: a tenth below 10000 polls every 9999", true, frozenStart(99990), 0, 0, notRunning, 109989},
      {"hint 100010: a tenth above 10000 polls every 10000", true, frozenStart(100010), 0, 0, notRunning, 110000},
      // Moving check point: only the 120 s limit ends the start.
      {"start: a check at exactly 120 s goes on", true, movingStart, 0, 0, notRunning, 121000},
      {"start: a check 1 ms past 120 s ends it", true, movingStart, 1, 0, notRunning, 120001},
      // After the stop control: polls of 1000 (hint 2000).
      {"stop: a check at exactly 30 s goes on", false, stopIn(30001), 0, 1, stopped, 31000},
      // The slow first query starts the stop 1 ms later too.
      {"stop: stopped at the first check past 30 s", false, stopIn(30000), 1, 1, stopped, 30001},
      {"stop: still pending at the first check past 30 s", false, stopIn(30001), 1, 0, timeout, 30001},
      // An earlier stop still pending: sleeps of the wait hint, cut short at
      // the first moment past 30 s.
      {"pending stop, hint 30000, stopped at 30001", false, pendingStop(30000), 0, 1, stopped, 30101, 30001},
      {"pending stop, hint 30000, stopped at 30002", false, pendingStop(30000), 0, 0, timeout, 30001, 30002},
      {"pending stop, hint 4 000 000 000", false, pendingStop(4000000000), 0, 0, timeout, 30001},
  };
  for (const auto& c : cases) {
    vcl::ResetApplication();
    ScmMachine fresh;
    c.setup(fresh);
    fresh.Create();
    fresh.ClearInfo();
    if (c.pendingEndsAt >= 0)
      Set(fresh.Service(kScard), "pending_ms", static_cast<int64_t>(fresh.Now()) + c.pendingEndsAt);
    g_plainQuery = Scm_main::QueryServiceStatusExPtr;
    g_firstQueryMs = c.firstQueryMs;
    Scm_main::QueryServiceStatusExPtr = &SlowFirstQuery;
    const uint64_t start = fresh.Now();
    const int result = c.start ? frmSCM->StartServiceAndWait(kScard) : frmSCM->StopServiceAndWait(kScard);
    Scm_main::QueryServiceStatusExPtr = g_plainQuery;
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(fresh.Now() - start, c.elapsed) << c.name;
    EXPECT_EQ(fresh.InfoTexts(), c.lines) << c.name;
  }
}

// The progress bar as each status query of a start or a stop finds it: the
// steps before the query have each added 10.
std::vector<int> g_positions;
Scm_main::QueryServiceStatusExFunc g_query = nullptr;
BOOL WINAPI RecordingQuery(SC_HANDLE s, SC_STATUS_TYPE level, LPBYTE buffer, DWORD size, LPDWORD needed) {
  g_positions.push_back(frmSCM->pgsbar_SCM->Position);
  return g_query(s, level, buffer, size, needed);
}

TEST_F(Operations, ProgressAtEachStep) {
  struct {
    const char* name;
    bool start;
    std::function<void(ScmMachine&)> setup;
    std::vector<int> positions;
  } const cases[] = {
      // 20 after the two opens, 60 after the start call, 70 while it is pending.
      {"start from stopped", true,
       [](ScmMachine& t) {
         Set(t.Service(kScard), "state", "stopped");
         Set(t.Service(kScard), "start_ms", 1500);
       },
       {20, 60, 70, 70}},
      // 40 while the earlier stop is still pending.
      {"start after a pending stop", true,
       [](ScmMachine& t) {
         Set(t.Service(kScard), "state", "stop_pending");
         Set(t.Service(kScard), "pending_ms", 1500);
       },
       {20, 40, 40, 60}},
      // 50 while a dependent stops, 70 after the stop control.
      {"stop with a dependent", false,
       [](ScmMachine& t) {
         Set(t.Service(kScard), "stop_ms", 2500);
         AddDependent(t, "DepOne", "running");
         Set(t.Service("DepOne"), "stop_ms", 1500);
         Set(t.Service("DepOne"), "wait_hint", 1000);
       },
       {20, 50, 50, 70, 70, 70}},
      {"stop of a pending stop", false,
       [](ScmMachine& t) {
         Set(t.Service(kScard), "state", "stop_pending");
         Set(t.Service(kScard), "pending_ms", 2500);
       },
       {20, 40, 40}},
  };
  for (const auto& c : cases) {
    vcl::ResetApplication();
    ScmMachine fresh;
    c.setup(fresh);
    fresh.Create();
    g_positions.clear();
    g_query = Scm_main::QueryServiceStatusExPtr;
    Scm_main::QueryServiceStatusExPtr = &RecordingQuery;
    const int result = c.start ? frmSCM->StartServiceAndWait(kScard) : frmSCM->StopServiceAndWait(kScard);
    Scm_main::QueryServiceStatusExPtr = g_query;
    EXPECT_EQ(result, 1) << c.name;
    EXPECT_EQ(g_positions, c.positions) << c.name;
    EXPECT_EQ(frmSCM->pgsbar_SCM->Position, 100) << c.name;
  }
}

TEST_F(Operations, EnableService) {
  struct {
    const char* name;
    std::function<void(ScmMachine&)> setup;
    int result;
    const char* line;
    DWORD startType;
  } const cases[] = {
      {"disabled", [](ScmMachine& t) { t.SetStartType(kScard, 4); }, 1, "-> Service enable successfully.", 3},
      {"not an administrator",
       [](ScmMachine& t) {
         t.SetStartType(kScard, 4);
         t.Security().values["admin"] = false;
       },
       0, "-> Open service control manager failed (Access is denied).", 4},
      {"configuration denied",
       [](ScmMachine& t) {
         t.SetStartType(kScard, 4);
         Set(t.Service(kScard), "deny_access", SERVICE_CHANGE_CONFIG);
       },
       0, "-> Open service failed (Access is denied).", 4},
      {"configuration fails",
       [](ScmMachine& t) {
         t.SetStartType(kScard, 4);
         Set(t.Service(kScard), "config_error", 1055);
       },
       0, "-> Change service config failed (The service database is locked).", 4},
  };
  for (const auto& c : cases) {
    vcl::ResetApplication();
    ScmMachine fresh;
    c.setup(fresh);
    fresh.Create();
    fresh.ClearInfo();
    frmSCM->pgsbar_SCM->Position = 40;
    EXPECT_EQ(frmSCM->EnableService(kScard), c.result) << c.name;
    EXPECT_EQ(fresh.InfoTexts(), std::vector<std::string>{c.line}) << c.name;
    EXPECT_EQ(fresh.StartType(kScard), c.startType) << c.name;
    EXPECT_EQ(frmSCM->pgsbar_SCM->Position, c.result == 1 ? 40 : 0) << c.name;
  }
}

TEST_F(Operations, StartTypesInTheRegistry) {
  Create();
  ClearInfo();
  const std::string key = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
  EXPECT_EQ(frmSCM->SetStartType(kScard, 3), 1);
  EXPECT_EQ(StartType(kScard), 3u);
  EXPECT_EQ(frmSCM->GetStartType(kScard), 3);
  EXPECT_EQ(frmSCM->SetStartType("NoSuchSvc", 2), 0);
  EXPECT_EQ(machine().registry().Find(key + "NoSuchSvc"), nullptr);
  SetStartType(kScard, 0x102);
  EXPECT_EQ(frmSCM->GetStartType(kScard), 2);
  machine().registry().Find(key + kScard)->RemoveValue("Start");
  EXPECT_EQ(frmSCM->GetStartType(kScard), 0);
  EXPECT_EQ(frmSCM->GetStartType("NoSuchSvc"), 0);
  EXPECT_EQ(InfoTexts(), (std::vector<std::string>{
                             "-> Set start type successfully.",
                             "-> Set start type failed (The system cannot find the file specified).",
                             "-> Get start type failed (The system cannot find the file specified).",
                             "-> Get start type failed (The system cannot find the file specified).",
                         }));
}

TEST_F(Operations, QueryServiceState) {
  struct {
    const char* state;
    const char* service;
    bool withoutExtendedQuery;
    int code;
  } const cases[] = {
      {"running", kScard, false, 10}, {"stopped", kScard, false, 11}, {"paused", kScard, false, 0},
      {"start_pending", kScard, false, 0}, {"running", "NoSuchSvc", false, 2}, {"running", kScard, true, 3},
  };
  for (const auto& c : cases) {
    vcl::ResetApplication();
    ScmMachine fresh;
    Set(fresh.Service(kScard), "state", c.state);
    if (c.withoutExtendedQuery) fresh.spec().absent.insert("QueryServiceStatusEx");
    fresh.Create();
    fresh.ClearInfo();
    EXPECT_EQ(frmSCM->QueryServiceState(c.service), c.code) << c.state << " " << c.service;
    EXPECT_TRUE(fresh.Info().empty());
  }
}

TEST_F(Operations, ServiceListsWithoutTheManagerStayEmpty) {
  Security().values["manager_error"] = int64_t(ERROR_ACCESS_DENIED);
  Open();
  EXPECT_EQ(frmSCM->cbbox_ServiceProcessName->Items->Count, 0);
  EXPECT_EQ(frmSCM->cbbox_ServiceDisplayName->Items->Count, 0);
  EXPECT_FALSE(Scm_main::ServiceFound);
  EXPECT_EQ(Info().front(), (InfoLine{"-> Smart Card service not found !", kRed}));
}

TEST_F(Operations, ServiceListsHoldEveryServiceInTheSameOrder) {
  Service("Zeta").values["display"] = std::string("Zeta service");
  Create();
  TStrings* names = frmSCM->cbbox_ServiceProcessName->Items;
  TStrings* displays = frmSCM->cbbox_ServiceDisplayName->Items;
  ASSERT_EQ(names->Count, displays->Count);
  ASSERT_EQ(names->Count, 5);
  EXPECT_EQ(Str(names->Get(4)), "Zeta");
  EXPECT_EQ(Str(displays->Get(4)), "Zeta service");
  EXPECT_EQ(Str(displays->Get(names->IndexOf("SCardSvr"))), "Smart Card");
}

}  // namespace
}  // namespace scmtest
