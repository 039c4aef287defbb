// The Win32 stand-in's services, process snapshots, reader devices and
// resource manager over machine data.
#include <windows.h>
#include <winscard.h>
#include <winsvc.h>
#include <tlhelp32.h>
#include <vqwin/Machine.h>
#include <vqwin/SmartCards.h>
#include <vqwin/TestMachine.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

vqwin::Record Rec(std::initializer_list<std::pair<const std::string, vqwin::Record::Value>> values) {
  vqwin::Record r;
  r.values = values;
  return r;
}

TEST(StandInServices, StatesErrorsAndHandles) {
  vqwin::ScratchMachine scratch;
  vqwin::Machine& m = scratch.Load();
  m.spec().services = {Rec({{"name", std::string("Alpha")}, {"state", std::string("running")}}),
                       Rec({{"name", std::string("Beta")}, {"state", std::string("stop_pending")}}),
                       Rec({{"name", std::string("Gamma")}, {"open_error", int64_t(5)}}),
                       Rec({{"name", std::string("Delta")}, {"query_error", int64_t(1053)}})};
  struct {
    const char* name;
    DWORD openError;   // 0: opens
    DWORD queryError;  // 0: answers
    DWORD state;
  } cases[] = {{"alpha", 0, 0, SERVICE_RUNNING},   {"Beta", 0, 0, SERVICE_STOP_PENDING},
               {"Gamma", 5, 0, 0},                 {"Delta", 0, 1053, 0},
               {"Smclib", 0, 0, SERVICE_STOPPED},  // only its registry key
               {"Nothing", ERROR_SERVICE_DOES_NOT_EXIST, 0, 0}};
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, STANDARD_RIGHTS_READ | SC_MANAGER_CONNECT);
  ASSERT_NE(manager, nullptr);
  for (const auto& c : cases) {
    SC_HANDLE service = OpenServiceA(manager, c.name, SERVICE_QUERY_STATUS);
    if (c.openError) {
      EXPECT_EQ(service, nullptr) << c.name;
      EXPECT_EQ(GetLastError(), c.openError) << c.name;
      continue;
    }
    ASSERT_NE(service, nullptr) << c.name;
    SERVICE_STATUS status{};
    if (c.queryError) {
      EXPECT_FALSE(QueryServiceStatus(service, &status)) << c.name;
      EXPECT_EQ(GetLastError(), c.queryError) << c.name;
    } else {
      EXPECT_TRUE(QueryServiceStatus(service, &status)) << c.name;
      EXPECT_EQ(status.dwCurrentState, c.state) << c.name;
    }
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_FALSE(CloseServiceHandle(service));
  }
  SC_HANDLE noQuery = OpenServiceA(manager, "Alpha", SERVICE_START);
  SERVICE_STATUS status{};
  EXPECT_FALSE(QueryServiceStatus(noQuery, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseServiceHandle(noQuery);
  EXPECT_FALSE(QueryServiceStatus(manager, &status));
  EXPECT_TRUE(CloseServiceHandle(manager));
}

std::vector<std::string> SnapshotNames() {
  std::vector<std::string> names;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    names.push_back(entry.szExeFile);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  CloseHandle(snapshot);
  return names;
}

TEST(StandInToolhelp, FileNamesOnNtFullPathsOn9x) {
  vqwin::ScratchMachine scratch;
  vqwin::Machine& m = scratch.Load();
  m.spec().processes = {Rec({{"name", std::string("SCardSvr.exe")}, {"path", std::string("C:\\WINDOWS\\system32\\SCardSvr.exe")}}),
                        Rec({{"name", std::string("Explorer.exe")}})};
  EXPECT_EQ(SnapshotNames(), (std::vector<std::string>{"SCardSvr.exe", "Explorer.exe"}));
  m.spec().os.platformId = 1, m.spec().os.major = 4, m.spec().os.minor = 10;
  EXPECT_EQ(SnapshotNames(),
            (std::vector<std::string>{"C:\\WINDOWS\\system32\\SCardSvr.exe", "C:\\WINDOWS\\SYSTEM\\Explorer.exe"}));
}

TEST(StandInDevices, DirectOpenOutcomes) {
  vqwin::ScratchMachine scratch;
  vqwin::Machine& m = scratch.Load();
  m.spec().readers = {Rec({{"name", std::string("A 0")}, {"device", std::string("VQUSB0")}}),
                      Rec({{"name", std::string("A 1")}, {"device", std::string("VQUSB1")}, {"device_open", std::string("free")}}),
                      Rec({{"name", std::string("A 2")}, {"device", std::string("VQUSB2")}, {"device_error", int64_t(5)}})};
  vqwin::InstallReaderDevices();
  struct {
    const char* path;
    DWORD error;  // 0: opens
  } cases[] = {{"\\\\.\\VQUSB0", ERROR_SHARING_VIOLATION}, {"\\\\.\\vqusb1", 0}, {"\\\\.\\VQUSB2", ERROR_ACCESS_DENIED},
               {"\\\\.\\VQUSB3", ERROR_FILE_NOT_FOUND}};
  for (const auto& c : cases) {
    HANDLE h = CreateFileA(c.path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (c.error == 0) {
      EXPECT_NE(h, INVALID_HANDLE_VALUE) << c.path;
      EXPECT_TRUE(CloseHandle(h));
    } else {
      EXPECT_EQ(h, INVALID_HANDLE_VALUE) << c.path;
      EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
  }
}

TEST(StandInSCard, ReadersFromMachineToml) {
  vqwin::ScratchMachine scratch;
  scratch.AppendToml(R"([[readers]]
name = "A? 0"
name_hex = "41 FF 20 30"
card = "t0"
atr = "3B 02 14 50"
state = 0x122
)");
  vqwin::Machine& m = scratch.Load();
  m.spec().readers.erase(m.spec().readers.begin());  // the default machine's own
  SCARDCONTEXT context = 0;
  ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context), SCARD_S_SUCCESS);

  DWORD length = 0;
  ASSERT_EQ(SCardListReadersA(context, nullptr, nullptr, &length), SCARD_S_SUCCESS);
  EXPECT_EQ(length, 6u);
  char small[3];
  DWORD smallLength = sizeof small;
  EXPECT_EQ(SCardListReadersA(context, nullptr, small, &smallLength), SCARD_E_INSUFFICIENT_BUFFER);
  char list[6];
  ASSERT_EQ(SCardListReadersA(context, nullptr, list, &length), SCARD_S_SUCCESS);
  EXPECT_EQ(std::string(list, 6), std::string("A\xFF 0\0\0", 6));

  SCARD_READERSTATEA state{};
  state.szReader = list;
  ASSERT_EQ(SCardGetStatusChangeA(context, INFINITE, &state, 1), SCARD_S_SUCCESS);
  EXPECT_EQ(state.dwEventState, 0x122u);
  EXPECT_EQ(state.cbAtr, 4u);
  // Nothing changes by itself: a query from the state now waits out its time.
  state.dwCurrentState = state.dwEventState;
  const uint64_t before = m.clock().Now();
  EXPECT_EQ(SCardGetStatusChangeA(context, 5000, &state, 1), SCARD_E_TIMEOUT);
  EXPECT_EQ(m.clock().Now() - before, 5000u);

  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  ASSERT_EQ(SCardConnectA(context, list, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol),
            SCARD_S_SUCCESS);
  EXPECT_EQ(protocol, static_cast<DWORD>(SCARD_PROTOCOL_T0));
  DWORD atrLength = 0;
  EXPECT_EQ(SCardGetAttrib(card, SCARD_ATTR_ATR_STRING, nullptr, &atrLength), SCARD_S_SUCCESS);
  EXPECT_EQ(atrLength, 4u);
  BYTE atr[2];
  atrLength = sizeof atr;
  EXPECT_EQ(SCardGetAttrib(card, SCARD_ATTR_ATR_STRING, atr, &atrLength), SCARD_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(SCardDisconnect(card, SCARD_UNPOWER_CARD), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardDisconnect(card, SCARD_UNPOWER_CARD), SCARD_E_INVALID_HANDLE);
  EXPECT_EQ(SCardConnectA(context, "No Such Reader", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &card, &protocol),
            SCARD_E_UNKNOWN_READER);

  EXPECT_EQ(SCardReleaseContext(context), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardListReadersA(context, nullptr, nullptr, &length), SCARD_E_INVALID_HANDLE);
}

TEST(StandInSCard, ContextFollowsTheSmartCardService) {
  vqwin::ScratchMachine scratch;
  vqwin::Machine& m = scratch.Load();
  SCARDCONTEXT context = 0;
  for (vqwin::Record& s : m.spec().services)
    if (s.Str("name") == "SCardSvr") s.values["state"] = std::string("stopped");
  for (auto it = m.spec().processes.begin(); it != m.spec().processes.end();)
    it = it->Str("name") == "SCardSvr.exe" ? m.spec().processes.erase(it) : it + 1;
  EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context), SCARD_E_NO_SERVICE);
  m.spec().extra["pcsc"] = Rec({{"establish_user_error", int64_t(0x80100006)}});
  for (vqwin::Record& s : m.spec().services)
    if (s.Str("name") == "SCardSvr") s.values["state"] = std::string("running");
  EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context), SCARD_E_NO_MEMORY);
  ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context), SCARD_S_SUCCESS);
  SCardReleaseContext(context);
}

// A resource manager that never answers: a query waits out its time-out on
// the machine's clock (at once on a virtual one, really on a real one), an
// infinite one until the context is cancelled.
TEST(StandInSCard, SilentResourceManagerWaitsOnTheMachineClock) {
  for (const auto mode : {vqwin::Clock::Mode::Virtual, vqwin::Clock::Mode::Real}) {
    const bool real = mode == vqwin::Clock::Mode::Real;
    vqwin::ScratchMachine scratch;
    scratch.AppendToml("[pcsc]\nstatus_hangs = true\n");
    vqwin::LoadOptions options;
    options.clock = mode;
    vqwin::Machine& m = scratch.Load(options);
    SCARDCONTEXT context = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context), SCARD_S_SUCCESS);
    SCARD_READERSTATEA state{};
    state.szReader = "TERVANE VQ480T 0";
    const DWORD timeout = real ? 40 : 10000;
    const auto hostStart = std::chrono::steady_clock::now();
    const uint64_t start = m.clock().Now();
    EXPECT_EQ(SCardGetStatusChangeA(context, timeout, &state, 1), SCARD_E_TIMEOUT);
    EXPECT_GE(m.clock().Now() - start, timeout);
    const auto hostMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - hostStart);
    if (real) EXPECT_GE(hostMs.count(), 40);
    else EXPECT_LT(hostMs.count(), 1000);
    EXPECT_EQ(state.dwEventState, 0u);  // no answer, nothing filled in

    for (const DWORD wait : {static_cast<DWORD>(INFINITE), static_cast<DWORD>(60000)}) {
      if (wait != INFINITE && !real) continue;  // a virtual wait is over before a cancel
      LONG result = 0;
      std::thread query([&] { result = SCardGetStatusChangeA(context, wait, &state, 1); });
      for (int i = 0; i < 2000 && vqwin::BlockedStatusQueries() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      EXPECT_EQ(vqwin::BlockedStatusQueries(), 1);
      EXPECT_EQ(SCardCancel(context), SCARD_S_SUCCESS);
      query.join();
      EXPECT_EQ(result, SCARD_E_CANCELLED) << wait;
    }
    SCardReleaseContext(context);
  }
}

}  // namespace
