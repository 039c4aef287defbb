// The process list: the process status library on the NT family, a tool help
// snapshot on old Windows, the debug privilege, the debug marker's lines.
#include "ServiceWindow.h"

#include <vqwin/MessageTexts.h>

#include <algorithm>
#include <functional>

namespace scmtest {
namespace {

using ProcessList = ServiceWindow;

const std::vector<std::string> kXpRows = {"4|System",          "540|smss.exe",   "604|csrss.exe",
                                          "628|winlogon.exe",  "672|services.exe", "684|lsass.exe",
                                          "856|svchost.exe",   "*1052|SCardSvr.exe", "1480|explorer.exe"};

TEST_F(ProcessList, NtFamilyListsThroughTheProcessStatusLibrary) {
  AddProcess("SCARDSVR.EXE", 2000);  // not this path's spelling
  AddProcess("SCardSvr.exe", 2004);
  Create();
  std::vector<std::string> expected = kXpRows;
  expected.push_back("2000|SCARDSVR.EXE");
  expected.push_back("*2004|SCardSvr.exe");
  EXPECT_EQ(Rows(), expected);
  EXPECT_EQ(Str(frmSCM->edt_TotalProcessCnt->Text), "12");  // the idle process (id 0) counts
  EXPECT_EQ(Str(frmSCM->edt_ListViewProcessCnt->Text), "11");
  EXPECT_EQ(frmSCM->lstview_Process->Column[0]->Width, 50);
  EXPECT_FALSE(Scm_main::ScardSvrSeen);  // the flags are the old path's
}

TEST_F(ProcessList, AtMost1024Processes) {
  for (int i = 0; i < 1100; ++i) AddProcess("worker.exe", 10000 + 4 * i);
  Create();
  EXPECT_EQ(Str(frmSCM->edt_TotalProcessCnt->Text), "1024");
  EXPECT_EQ(Str(frmSCM->edt_ListViewProcessCnt->Text), "1023");
}

TEST_F(ProcessList, TheHighlightedRowComesIntoView) {
  RemoveProcess("SCardSvr.exe");
  for (int i = 0; i < 40; ++i) AddProcess("worker.exe", 10000 + 4 * i);
  AddProcess("SCardSvr.exe", 20000);
  AddProcess("last.exe", 20004);
  Create();
  TListView* list = frmSCM->lstview_Process;
  const int row = list->Items->Count - 2;
  ASSERT_TRUE(list->Items->Get(row)->Selected);
  EXPECT_GT(list->TopIndex, 0);
  EXPECT_LE(list->TopIndex, row);
  EXPECT_GE(list->TopIndex + list->VisibleRowCount(), row + 1);
}

TEST_F(ProcessList, WithoutWhatTheListingNeedsTheListKeepsItsRows) {
  struct {
    const char* name;
    std::function<void(ScmMachine&)> setup;
  } const cases[] = {
      {"no psapi.dll", [](ScmMachine& t) { t.spec().absent.insert("psapi.dll"); }},
      {"no EnumProcesses", [](ScmMachine& t) { t.spec().absent.insert("EnumProcesses"); }},
      {"no GetModuleBaseNameA", [](ScmMachine& t) { t.spec().absent.insert("GetModuleBaseNameA"); }},
      {"x86 without EnumProcessModules", [](ScmMachine& t) { t.spec().absent.insert("EnumProcessModules"); }},
      {"x64 Windows 7 without EnumProcessModulesEx",
       [](ScmMachine& t) {
         t.Use(System::Win7x64);
         t.spec().absent.insert("EnumProcessModulesEx");
       }},
      {"Windows NT 4.0", [](ScmMachine& t) { t.Use(System::WinNT4); }},
  };
  for (const auto& c : cases) {
    vcl::ResetApplication();
    ScmMachine m;
    c.setup(m);
    m.Create();
    EXPECT_EQ(m.Rows(), std::vector<std::string>{"|"}) << c.name;  // the window's initial empty row
    EXPECT_EQ(Str(frmSCM->edt_TotalProcessCnt->Text), "") << c.name;
    EXPECT_EQ(Str(frmSCM->edt_ListViewProcessCnt->Text), "") << c.name;
  }
}

TEST_F(ProcessList, X64WindowsSevenListsThroughTheExtendedModuleQuery) {
  Use(System::Win7x64);
  Create();
  EXPECT_EQ(Rows(), kXpRows);
}

// A second process beside the case's one is protected too where the case
// is about protection, so that each access denial asks for the privilege
// anew (its failure text then comes twice).
TEST_F(ProcessList, ProcessesThatRefuseToOpen) {
  struct {
    const char* name;
    std::function<void(ScmMachine&, vqwin::Record&)> setup;
    bool secondProtected;
    std::vector<std::string> rows;  // after the machine's own
    std::string output;             // what goes to the standard output, once a denial
  } const cases[] = {
      {"protected: opened with the debug privilege",
       [](ScmMachine&, vqwin::Record& p) { p.values["protected"] = true; }, true,
       {"3000|guarded.exe", "3004|guarded2.exe"}, ""},
      {"protected, privilege not held",
       [](ScmMachine& t, vqwin::Record& p) {
         p.values["protected"] = true;
         t.Security().values["debug_privilege"] = false;
       },
       true, {}, "The token does not have the specified privilege. \n"},
      {"protected, no token",
       [](ScmMachine& t, vqwin::Record& p) {
         p.values["protected"] = true;
         t.Security().values["token_error"] = int64_t(5);
       },
       true, {}, ""},
      {"open fails otherwise", [](ScmMachine&, vqwin::Record& p) { p.values["open_error"] = int64_t(87); }, false,
       {"3004|guarded2.exe"}, ""},
      {"modules not readable", [](ScmMachine&, vqwin::Record& p) { p.values["modules_error"] = int64_t(299); },
       false, {"3004|guarded2.exe"}, ""},
      {"no base name", [](ScmMachine&, vqwin::Record& p) { p.values["name_error"] = int64_t(6); }, false,
       {"3004|guarded2.exe"}, ""},
  };
  for (const auto& c : cases) {
    vcl::ResetApplication();
    ScmMachine m;
    c.setup(m, m.AddProcess("guarded.exe", 3000));
    m.AddProcess("guarded2.exe", 3004).values["protected"] = c.secondProtected;
    testing::internal::CaptureStdout();
    m.Create();
    const std::string out = testing::internal::GetCapturedStdout();
    std::vector<std::string> expected = kXpRows;
    expected.insert(expected.end(), c.rows.begin(), c.rows.end());
    EXPECT_EQ(m.Rows(), expected) << c.name;
    EXPECT_EQ(out, c.output + c.output) << c.name;  // once for each of the two
  }
}

TEST_F(ProcessList, OldWindowsListsASnapshotAndSetsTheFlags) {
  Use(System::Win98);
  AddProcess("KERNEL32.DLL", 0xFFF1A2B3).values["path"] = std::string("C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL");
  AddProcess("SCARDSVR.EXE", 0x1C).values["path"] = std::string("C:\\WINDOWS\\SYSTEM\\SCARDSVR.EXE");
  AddProcess("Vqscmon.exe", 0x20).values["path"] = std::string("C:\\Program Files\\VQUSB\\Vqscmon.exe");
  AddProcess("SVCWATCH.EXE", 0x24).values["path"] = std::string("SVCWATCH.EXE");
  AddProcess("scardsvr.exe", 0x28).values["path"] = std::string("C:\\TEMP\\scardsvr.exe");
  Create();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"0xFFF1A2B3|KERNEL32.DLL", "*0x0000001C|SCARDSVR.EXE",
                                              "*0x00000020|Vqscmon.exe", "*0x00000024|SVCWATCH.EXE",
                                              "0x00000028|scardsvr.exe"}));
  EXPECT_EQ(frmSCM->lstview_Process->Column[0]->Width, 100);
  EXPECT_TRUE(Scm_main::ScardSvrSeen);
  EXPECT_TRUE(Scm_main::VqscmonSeen);
  EXPECT_TRUE(Scm_main::SvcwatchSeen);
  EXPECT_TRUE(Scm_main::ServiceFound);
  EXPECT_EQ(Str(frmSCM->edt_TotalProcessCnt->Text), "");
  // Apply lists through the process status library, which old Windows
  // lacks: the snapshot's rows stay.
  frmSCM->bbtn_ApplyClick(nullptr);
  EXPECT_EQ(Rows().size(), 5u);
}

// The file name part of a Big5 path: the second byte of a two-byte
// character may be 0x5C and is no backslash.
TEST_F(ProcessList, OldWindowsFileNamePartOfABig5Path) {
  Use(System::Win98);
  Taiwanese();
  const std::string name = Ansi("許功蓋.EXE");  // 許 and 功 end in 0x5C
  AddProcess("a", 0x10).values["path"] = Ansi("C:\\許功蓋\\") + name;
  AddProcess("b", 0x14).values["path"] = name;
  Create();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"0x00000010|" + name, "0x00000014|" + name}));
}

TEST_F(ProcessList, DebugMarkerLinesOnOldWindows) {
  vqwin::RegisterMessageText(0xE0000101, "Cannot read it.\r\nSecond line");
  vqwin::RegisterMessageText(0xE0000102, "Stops at\x01 a control byte");
  vqwin::RegisterMessageText(0xE0000103, "Stops at \xE9 a high byte");
  Use(System::Win98);
  PutDebugMarker();
  AddProcess("A.EXE", 0x10).values["path"] = std::string("C:\\A.EXE");
  AddProcess("B.EXE", 0x14).values["open_error"] = int64_t(5);
  AddProcess("C.EXE", 0x18).values["priority_error"] = int64_t(0xE0000101);
  AddProcess("D.EXE", 0x1C).values["open_error"] = int64_t(0xE0000102);
  AddProcess("E.EXE", 0x20).values["open_error"] = int64_t(0xE0000103);
  AddProcess("F.EXE", 0x24).values["open_error"] = int64_t(0xE0000999);  // no text
  Create();
  const std::string dashes(54, '-');
  EXPECT_EQ(InfoTexts(), (std::vector<std::string>{
                             "\nPROCESS NAME:  C:\\A.EXE",
                             "\nPROCESS NAME:  C:\\WINDOWS\\SYSTEM\\B.EXE",
                             "\n  WARNING: OpenProcess failed with error 5 (Access is denied)",
                             dashes,
                             "\nPROCESS NAME:  C:\\WINDOWS\\SYSTEM\\C.EXE",
                             "\n  WARNING: GetPriorityClass failed with error -536870655 (Cannot read it)",
                             dashes,
                             "\nPROCESS NAME:  C:\\WINDOWS\\SYSTEM\\D.EXE",
                             "\n  WARNING: OpenProcess failed with error -536870654 (Stops at)",
                             dashes,
                             "\nPROCESS NAME:  C:\\WINDOWS\\SYSTEM\\E.EXE",
                             "\n  WARNING: OpenProcess failed with error -536870653 (Stops at)",
                             dashes,
                             "\nPROCESS NAME:  C:\\WINDOWS\\SYSTEM\\F.EXE",
                             "\n  WARNING: OpenProcess failed with error -536868455 ()",
                             dashes,
                         }));
  EXPECT_EQ(Rows().size(), 6u);  // every process gets its row all the same
}

TEST_F(ProcessList, RefreshAndTheStatusTimerListAgain) {
  Open();
  frmSCM->tmrAutoProcess->Enabled = false;
  AddProcess("late.exe", 5000);
  frmSCM->bbtn_RefreshClick(nullptr);
  EXPECT_EQ(Rows().back(), "5000|late.exe");
  RemoveProcess("late.exe");
  frmSCM->chkbox_AutoRefresh->Checked = true;
  RunFor(5000);
  EXPECT_EQ(Rows(), kXpRows);
}


TEST_F(ProcessList, ATickDuringTheListingDoesNotListOverIt) {
  Open();
  frmSCM->tmrAutoProcess->Enabled = false;
  frmSCM->chkbox_AutoRefresh->Checked = true;
  frmSCM->edt_RefreshTime->Text = "1";  // due at every pass of the listing's message processing
  RunFor(20);
  EXPECT_EQ(Rows(), kXpRows);
  EXPECT_EQ(Str(frmSCM->edt_ListViewProcessCnt->Text), "9");
}

// A listing asked for while one lets messages through runs once that one
// has ended. Here the recommendation's ticks come during the listing at the
// end of its first apply: the second apply starts the service and asks for
// a listing, which must not be lost, as the service's process only now runs.
TEST_F(ProcessList, AListingAskedForDuringAListingFollowsIt) {
  Service("SCardSvr").values["state"] = std::string("stopped");
  SetStartType("SCardSvr", 4);
  for (int i = 0; i < 600; ++i) AddProcess("worker.exe", 10000 + 4 * i);
  Open();
  ASSERT_TRUE(frmSCM->tmrAutoProcess->Enabled);
  RunFor(30000);
  EXPECT_FALSE(frmSCM->tmrAutoProcess->Enabled);
  EXPECT_EQ(ServiceState("SCardSvr"), static_cast<DWORD>(SERVICE_RUNNING));
  const std::vector<std::string> rows = Rows();
  EXPECT_EQ(std::count(rows.begin(), rows.end(), "*1052|SCardSvr.exe"), 1);
  EXPECT_EQ(Str(frmSCM->edt_ListViewProcessCnt->Text), std::to_string(rows.size()));
  EXPECT_EQ(rows.size(), kXpRows.size() + 600);
}

}  // namespace
}  // namespace scmtest
