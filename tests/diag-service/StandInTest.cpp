// The Win32 stand-in's service control and process calls that the window
// drives, checked on their own.
#include <windows.h>
#include <psapi.h>
#include <vqwin/Clock.h>
#include <vqwin/Machine.h>
#include <vqwin/Registry.h>
#include <vqwin/TestMachine.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

vqwin::Record& ScardRecord(vqwin::Machine& m) {
  for (vqwin::Record& r : m.spec().services)
    if (r.Str("name") == "SCardSvr") return r;
  throw std::runtime_error("no SCardSvr");
}

struct Handles {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = nullptr;
  explicit Handles(const char* name) { service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS); }
  ~Handles() {
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
  }
  SERVICE_STATUS_PROCESS Status() const {
    SERVICE_STATUS_PROCESS s{};
    DWORD needed = 0;
    EXPECT_TRUE(QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&s), sizeof s,
                                     &needed));
    return s;
  }
};

TEST(ServiceStandIn, EnumerationInPiecesWithTheResumeHandle) {
  vqwin::ScratchMachine scratch;
  scratch.Load();
  Handles h("SCardSvr");
  DWORD needed = 0, returned = 0, resume = 0;
  ENUM_SERVICE_STATUSA one[1];
  EXPECT_FALSE(EnumServicesStatusA(h.manager, SERVICE_TYPE_ALL, SERVICE_STATE_ALL, one, sizeof one, &needed,
                                   &returned, &resume));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(resume, 0u);
  // Room for about two entries: those two, then the rest from the resume point.
  std::vector<char> small(2 * sizeof(ENUM_SERVICE_STATUSA) + 60);
  auto* entries = reinterpret_cast<LPENUM_SERVICE_STATUSA>(small.data());
  EXPECT_FALSE(EnumServicesStatusA(h.manager, SERVICE_TYPE_ALL, SERVICE_STATE_ALL, entries,
                                   static_cast<DWORD>(small.size()), &needed, &returned, &resume));
  ASSERT_EQ(returned, 2u);
  EXPECT_STREQ(entries[0].lpServiceName, "SCardSvr");
  EXPECT_STREQ(entries[0].lpDisplayName, "Smart Card");
  EXPECT_EQ(entries[0].ServiceStatus.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  for (DWORD i = 0; i < returned; ++i) {
    EXPECT_GE(entries[i].lpServiceName, small.data());
    EXPECT_LT(entries[i].lpDisplayName, small.data() + small.size());
  }
  EXPECT_EQ(resume, 2u);
  std::vector<char> rest(needed);
  entries = reinterpret_cast<LPENUM_SERVICE_STATUSA>(rest.data());
  EXPECT_TRUE(EnumServicesStatusA(h.manager, SERVICE_TYPE_ALL, SERVICE_STATE_ALL, entries, needed, &needed,
                                  &returned, &resume));
  ASSERT_EQ(returned, 2u);
  EXPECT_STREQ(entries[1].lpServiceName, "PlugPlay");
  EXPECT_EQ(resume, 0u);
  // Only stopped drivers: the two kernel drivers of the default machine.
  EXPECT_TRUE(EnumServicesStatusA(h.manager, SERVICE_DRIVER, SERVICE_INACTIVE, entries,
                                  static_cast<DWORD>(rest.size()), &needed, &returned, nullptr));
  EXPECT_EQ(returned, 1u);
  EXPECT_STREQ(entries[0].lpServiceName, "Smclib");
}

TEST(ServiceStandIn, PendingTransitionsFollowTheClock) {
  vqwin::ScratchMachine scratch;
  vqwin::Machine& m = scratch.Load();
  vqwin::Record& r = ScardRecord(m);
  r.values["state"] = std::string("stopped");
  r.values["start_ms"] = int64_t(3000);
  r.values["checkpoint_ms"] = int64_t(1000);
  r.values["wait_hint"] = int64_t(4000);
  Handles h("SCardSvr");
  SERVICE_STATUS status{};
  EXPECT_FALSE(ControlService(h.service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
  ASSERT_TRUE(StartServiceA(h.service, 0, nullptr));
  EXPECT_FALSE(StartServiceA(h.service, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
  SERVICE_STATUS_PROCESS s = h.Status();
  EXPECT_EQ(s.dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
  EXPECT_EQ(s.dwCheckPoint, 1u);
  EXPECT_EQ(s.dwWaitHint, 4000u);
  EXPECT_EQ(s.dwProcessId, 1052u);
  EXPECT_FALSE(ControlService(h.service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
  Sleep(1000);
  EXPECT_EQ(h.Status().dwCheckPoint, 2u);
  Sleep(2000);
  s = h.Status();
  EXPECT_EQ(s.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(s.dwCheckPoint, 0u);
  EXPECT_EQ(s.dwWaitHint, 0u);
  // The plain status query and a new handle see the same.
  SERVICE_STATUS plain{};
  ASSERT_TRUE(QueryServiceStatus(h.service, &plain));
  EXPECT_EQ(plain.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  // A record too small for the extended status.
  DWORD needed = 0;
  EXPECT_FALSE(QueryServiceStatusEx(h.service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&s), 20, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(needed, 36u);
  // The same machine made current again starts from its declaration.
  m.MakeCurrent();
  EXPECT_EQ(Handles("SCardSvr").Status().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
}

TEST(ServiceStandIn, DependentsConfigurationAndRights) {
  vqwin::ScratchMachine scratch;
  vqwin::Machine& m = scratch.Load();
  vqwin::Record dependent;
  dependent.values["name"] = std::string("CardWatch");
  dependent.values["state"] = std::string("running");
  dependent.values["depends"] = std::vector<std::string>{"scardsvr"};
  m.spec().services.push_back(dependent);
  {
    Handles h("SCardSvr");
    SERVICE_STATUS status{};
    EXPECT_FALSE(ControlService(h.service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEPENDENT_SERVICES_RUNNING));
    DWORD needed = 0, count = 0;
    EXPECT_FALSE(EnumDependentServicesA(h.service, SERVICE_ACTIVE, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    std::vector<char> block(needed);
    auto* list = reinterpret_cast<LPENUM_SERVICE_STATUSA>(block.data());
    ASSERT_TRUE(EnumDependentServicesA(h.service, SERVICE_ACTIVE, list, needed, &needed, &count));
    ASSERT_EQ(count, 1u);
    EXPECT_STREQ(list[0].lpServiceName, "CardWatch");
    EXPECT_TRUE(EnumDependentServicesA(h.service, SERVICE_INACTIVE, nullptr, 0, &needed, &count));
    EXPECT_EQ(count, 0u);

    ASSERT_TRUE(ChangeServiceConfigA(h.service, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    std::ifstream in(m.folder() / "registry.reg");
    std::stringstream text;
    text << in.rdbuf();
    const std::string reg = text.str();
    const size_t key = reg.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SCardSvr]");
    ASSERT_NE(key, std::string::npos);
    EXPECT_NE(reg.find("\"Start\"=dword:00000004", key), std::string::npos);
  }
  m.spec().extra["security"].values["admin"] = false;
  EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, STANDARD_RIGHTS_READ | SC_MANAGER_CONNECT);
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(OpenServiceA(manager, "SCardSvr", SERVICE_QUERY_STATUS | SERVICE_START), nullptr);
  SC_HANDLE query = OpenServiceA(manager, "SCardSvr", SERVICE_QUERY_STATUS);
  ASSERT_NE(query, nullptr);
  EXPECT_FALSE(StartServiceA(query, 0, nullptr));  // the handle lacks the right
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseServiceHandle(query);
  CloseServiceHandle(manager);
}

TEST(ProcessStandIn, TheDebugPrivilegeOpensProtectedProcesses) {
  vqwin::ScratchMachine scratch;
  vqwin::Machine& m = scratch.Load();
  vqwin::Record guarded;
  guarded.values["name"] = std::string("guarded.exe");
  guarded.values["pid"] = int64_t(3000);
  guarded.values["protected"] = true;
  m.spec().processes.push_back(guarded);
  EXPECT_EQ(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, 3000), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  TOKEN_PRIVILEGES p{};
  p.PrivilegeCount = 1;
  ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_DEBUG_NAME, &p.Privileges[0].Luid));
  LUID other{};
  EXPECT_FALSE(LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &other));
  EXPECT_EQ(GetLastError(), 1313u);
  p.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &p, sizeof p, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(token);

  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, 3000);
  ASSERT_NE(process, nullptr);
  HMODULE module = nullptr;
  DWORD needed = 0;
  EXPECT_TRUE(EnumProcessModules(process, &module, sizeof module, &needed));
  EXPECT_GE(needed, sizeof module);
  char name[8];
  EXPECT_EQ(GetModuleBaseNameA(process, module, name, sizeof name), 7u);  // cut to the buffer
  EXPECT_STREQ(name, "guarded");
  EXPECT_EQ(GetPriorityClass(process), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
  CloseHandle(process);

  // Without the privilege held, adjusting succeeds but assigns nothing.
  m.spec().extra["security"].values["debug_privilege"] = false;
  m.MakeCurrent();
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &p, sizeof p, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
  CloseHandle(token);
  EXPECT_EQ(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, 3000), nullptr);
}

}  // namespace
