// A process that names its service lives and dies with that service: the
// snapshots, the process status library, OpenProcess and the resource
// manager follow the service's run state as it changes.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winscard.h>
#include <winsvc.h>
#include <vqwin/Machine.h>
#include <vqwin/Registry.h>
#include <vqwin/TestMachine.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

const DWORD kScardPid = 1052;

vqwin::Record* Find(std::vector<vqwin::Record>& list, const std::string& name) {
  for (vqwin::Record& r : list)
    if (r.Str("name") == name) return &r;
  return nullptr;
}

// "name:pid" of every snapshot row.
std::vector<std::string> SnapshotRows() {
  std::vector<std::string> rows;
  HANDLE shot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(shot, &entry); more; more = Process32Next(shot, &entry))
    rows.push_back(std::string(entry.szExeFile) + ":" + std::to_string(entry.th32ProcessID));
  CloseHandle(shot);
  return rows;
}

bool Snapshotted(const std::string& row) {
  const auto rows = SnapshotRows();
  return std::find(rows.begin(), rows.end(), row) != rows.end();
}

bool Enumerated(DWORD pid) {
  DWORD ids[64];
  DWORD needed = 0;
  EXPECT_TRUE(EnumProcesses(ids, sizeof ids, &needed));
  return std::find(ids, ids + needed / sizeof(DWORD), pid) != ids + needed / sizeof(DWORD);
}

// Whether the process opens; a process that is not there fails as on Windows.
bool Opens(DWORD pid) {
  SetLastError(0);
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    return false;
  }
  char name[64] = {};
  EXPECT_GT(GetModuleBaseNameA(process, nullptr, name, sizeof name), 0u);
  CloseHandle(process);
  return true;
}

// The base name of the process with this id, or "" when it does not open.
std::string BaseName(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) return "";
  char name[64] = {};
  GetModuleBaseNameA(process, nullptr, name, sizeof name);
  CloseHandle(process);
  return name;
}

vqwin::Record ProcessRecord(const std::string& name, int64_t pid) {
  vqwin::Record r;
  r.values["name"] = name;
  r.values["pid"] = pid;
  return r;
}

LONG Establish() {
  SCARDCONTEXT context = 0;
  const LONG result = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
  if (result == SCARD_S_SUCCESS) SCardReleaseContext(context);
  return result;
}

// The smart card service's process in every view, and the resource manager.
void ExpectScardProcess(bool listed, bool answers, const std::string& where) {
  EXPECT_EQ(Snapshotted("SCardSvr.exe:1052"), listed) << where;
  EXPECT_EQ(Enumerated(kScardPid), listed) << where;
  EXPECT_EQ(Opens(kScardPid), listed) << where;
  EXPECT_EQ(Establish(), answers ? SCARD_S_SUCCESS : SCARD_E_NO_SERVICE) << where;
  // The other processes keep their ids.
  EXPECT_TRUE(Snapshotted("explorer.exe:1480")) << where;
}

SC_HANDLE OpenScard(SC_HANDLE manager) { return OpenServiceA(manager, "SCardSvr", SERVICE_ALL_ACCESS); }

TEST(ServiceProcess, StoppingAndStartingTheServiceTakesItsProcessAlong) {
  vqwin::ScratchMachine scratch;
  vqwin::Machine& m = scratch.Load();
  Find(m.spec().services, "SCardSvr")->values["stop_ms"] = int64_t(1000);
  Find(m.spec().services, "SCardSvr")->values["start_ms"] = int64_t(1000);
  ExpectScardProcess(true, true, "running at the start");

  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenScard(manager);
  ASSERT_NE(service, nullptr);
  SERVICE_STATUS status{};
  ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
  ExpectScardProcess(true, false, "stop pending: the process is still there");
  Sleep(1000);
  ExpectScardProcess(false, false, "stopped");

  ASSERT_TRUE(StartServiceA(service, 0, nullptr));
  ExpectScardProcess(true, false, "start pending: the process is up, the manager not yet");
  Sleep(1000);
  ExpectScardProcess(true, true, "started again");
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

TEST(ServiceProcess, DeclaredStatesAndProcessesOfTheirOwn) {
  struct {
    const char* name;
    const char* state;   // the service's declared state; nullptr: no such service
    bool tied;           // SCardSvr.exe names the service
    bool listed, answers;
  } const cases[] = {
      {"running", "running", true, true, true},
      {"stopped", "stopped", true, false, false},
      {"paused", "paused", true, true, false},
      {"pending start", "start_pending", true, true, false},
      {"pending stop", "stop_pending", true, true, false},
      {"pending continue", "continue_pending", true, true, false},
      {"a process of its own answers while the service is stopped", "stopped", false, true, true},
      {"the service is not on the machine", nullptr, true, false, false},
  };
  for (const auto& c : cases) {
    vqwin::ScratchMachine scratch;
    vqwin::Machine& m = scratch.Load();
    if (c.state) {
      Find(m.spec().services, "SCardSvr")->values["state"] = std::string(c.state);
    } else {
      auto& s = m.spec().services;
      s.erase(std::find_if(s.begin(), s.end(), [](const vqwin::Record& r) { return r.Str("name") == "SCardSvr"; }));
      m.registry().Find("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services")->RemoveChild("SCardSvr");
    }
    if (!c.tied) Find(m.spec().processes, "SCardSvr.exe")->values.erase("service");
    ExpectScardProcess(c.listed, c.answers, c.name);
  }
}

TEST(ServiceProcess, AProcessThatIsNotThereKeepsTheIdsOfTheOthers) {
  vqwin::ScratchMachine scratch(false);
  scratch.Toml(R"([os]
platform = "nt"
major = 5
minor = 1

[[services]]
name = "Alpha"
state = "stopped"

[[processes]]
name = "alpha.exe"
pid = 100
service = "Alpha"

[[processes]]
name = "other.exe"
)");
  vqwin::Machine& m = scratch.Load();
  EXPECT_EQ(SnapshotRows(), std::vector<std::string>{"other.exe:104"});
  Find(m.spec().services, "Alpha")->values["state"] = std::string("running");
  EXPECT_EQ(SnapshotRows(), (std::vector<std::string>{"alpha.exe:100", "other.exe:104"}));
}

// The machine's process records may change between any two calls: a
// process is always looked up in the records as they are then.
TEST(ServiceProcess, ProcessesAddedRemovedOrRenumberedAreSeenAtTheNextCall) {
  vqwin::ScratchMachine scratch;
  vqwin::Machine& m = scratch.Load();
  auto& processes = m.spec().processes;
  EXPECT_EQ(BaseName(1480), "explorer.exe");

  processes.push_back(ProcessRecord("late.exe", 5000));
  EXPECT_EQ(BaseName(5000), "late.exe");
  processes.pop_back();
  EXPECT_EQ(BaseName(5000), "");
  EXPECT_FALSE(Enumerated(5000));

  Find(processes, "explorer.exe")->values["pid"] = int64_t(1484);
  EXPECT_EQ(BaseName(1480), "");
  EXPECT_EQ(BaseName(1484), "explorer.exe");

  // Renumbered to the id of an earlier record whose process is not there
  // (the service's, with the service stopped).
  Find(m.spec().services, "SCardSvr")->values["state"] = std::string("stopped");
  EXPECT_EQ(BaseName(kScardPid), "");
  Find(processes, "explorer.exe")->values["pid"] = int64_t(kScardPid);
  EXPECT_EQ(BaseName(kScardPid), "explorer.exe");
  Find(processes, "explorer.exe")->values["pid"] = int64_t(1484);

  // A handle outlives its process: the queries on it fail.
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, 1484);
  ASSERT_NE(process, nullptr);
  processes.erase(processes.begin() + (Find(processes, "explorer.exe") - processes.data()));
  char name[64] = {};
  EXPECT_EQ(GetModuleBaseNameA(process, nullptr, name, sizeof name), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(process);
}

TEST(ServiceProcess, OfTwoRecordsWithOneIdTheFirstThatExistsAnswers) {
  vqwin::ScratchMachine scratch;
  vqwin::Machine& m = scratch.Load();
  m.spec().processes.push_back(ProcessRecord("twin.exe", kScardPid));
  vqwin::Record& service = *Find(m.spec().services, "SCardSvr");
  EXPECT_EQ(BaseName(kScardPid), "SCardSvr.exe");
  service.values["state"] = std::string("stopped");
  EXPECT_EQ(BaseName(kScardPid), "twin.exe");
  service.values["state"] = std::string("running");
  EXPECT_EQ(BaseName(kScardPid), "SCardSvr.exe");
}

TEST(ServiceProcess, EveryListOfProcessesNumbersItsOwn) {
  // Ids not given follow the one before: 8, 12 here, then 100, 104.
  vqwin::ScratchMachine scratch(false);
  vqwin::Machine& m = scratch.Toml(R"([os]
platform = "nt"
major = 5
minor = 1

[[processes]]
name = "one.exe"

[[processes]]
name = "two.exe"
)").Load();
  vqwin::Record second;
  second.values["name"] = std::string("second.exe");
  const std::vector<vqwin::Record> replacement = {ProcessRecord("first.exe", 100), second};
  const std::vector<std::pair<DWORD, std::string>> before = {{8, "one.exe"}, {12, "two.exe"}, {104, ""}};
  // 12 first: the second record kept its place but not its id.
  const std::vector<std::pair<DWORD, std::string>> after = {
      {12, ""}, {8, ""}, {100, "first.exe"}, {104, "second.exe"}};
  for (const auto& [pid, name] : before) EXPECT_EQ(BaseName(pid), name) << "id " << pid;
  // The list replaced in place, then a machine of its own with that list.
  m.spec().processes = replacement;
  for (const auto& [pid, name] : after) EXPECT_EQ(BaseName(pid), name) << "replaced, id " << pid;
  vqwin::ScratchMachine other(false);
  other.Toml("[os]\nplatform = \"nt\"\nmajor = 5\nminor = 1\n").Load().spec().processes = replacement;
  for (const auto& [pid, name] : after) EXPECT_EQ(BaseName(pid), name) << "other machine, id " << pid;
  m.MakeCurrent();
  EXPECT_EQ(BaseName(100), "first.exe");
}

}  // namespace
