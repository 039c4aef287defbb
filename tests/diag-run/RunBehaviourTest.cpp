// What the run does besides its report: the header's clock lines, the marks
// one by one, the disabled button, the labels, the hand-over to the service
// control window, the warning without a model and status queries that are
// answered late or never.
#include "RunMachine.h"

#include "Log.h"
#include "Main.h"
#include "MainRun.h"
#include "service/SCM_Main.h"

#include <vqvcl/DialogScript.h>
#include <vqvcl/Input.h>
#include <vqvcl/Loop.h>
#include <vqwin/CodePage.h>
#include <vqwin/FileSystem.h>
#include <vqwin/Registry.h>
#include <vqwin/SmartCards.h>

#include <algorithm>
#include <set>

namespace diagrun {
namespace {

std::string LineStarting(const std::vector<std::string>& lines, const std::string& start) {
  for (const std::string& line : lines)
    if (line.rfind(start, 0) == 0) return line;
  return "";
}

struct ClockCase {
  int day, hour, minute, second;
  const char* date;
  const char* time;
};

TEST(RunHeader, DateAndTwelveHourTime) {
  const ClockCase cases[] = {
      {6, 0, 5, 9, "Date          : 2026/12/06, Sunday", "Time          : AM 12:05:09"},
      {7, 1, 0, 0, "Date          : 2026/12/07, Monday", "Time          : AM 01:00:00"},
      {8, 11, 59, 59, "Date          : 2026/12/08, Tuesday", "Time          : AM 11:59:59"},
      {9, 12, 0, 0, "Date          : 2026/12/09, Wednesday", "Time          : PM 12:00:00"},
      {10, 13, 30, 0, "Date          : 2026/12/10, Thursday", "Time          : PM 01:30:00"},
      {11, 23, 59, 1, "Date          : 2026/12/11, Friday", "Time          : PM 11:59:01"},
      {12, 23, 0, 0, "Date          : 2026/12/12, Saturday", "Time          : PM 11:00:00"},
  };
  for (const ClockCase& c : cases) {
    RunMachine m;
    vqwin::ClockSpec& clock = m.spec().clock;
    clock.day = c.day, clock.hour = c.hour, clock.minute = c.minute, clock.second = c.second;
    // The header is read before the marks' pauses, at the clock's start.
    const uint64_t now = m.machine().clock().Now();
    clock.second -= static_cast<int>(now / 1000);
    m.Run(1);
    const auto lines = m.Lines();
    EXPECT_EQ(LineStarting(lines, "Date "), c.date);
    EXPECT_EQ(LineStarting(lines, "Time "), c.time);
  }
  EXPECT_STREQ(WeekdayName(7), "Saturday");
  EXPECT_STREQ(WeekdayName(-1), "Saturday");
}

struct Snapshot {
  uint64_t clock;
  std::set<int> marks;  // visible marks (0-7 PASSED, 8-15 FAILED)
  bool checkEnabled;
};

std::set<int> VisibleMarks() {
  std::set<int> marks;
  for (int i = 0; i < StepMarkCount; ++i)
    if (SelfForm->StepMarks[i] != nullptr && SelfForm->StepMarks[i]->Visible) marks.insert(i);
  return marks;
}

// Records the window each time the run lets it process its messages.
void RecordAtEachMessagePass(std::vector<Snapshot>& snapshots) {
  vcl::PostInput([&snapshots] {
    snapshots.push_back({vqwin::CurrentClock().Now(), VisibleMarks(), SelfForm->bbtn_Check->Enabled});
    RecordAtEachMessagePass(snapshots);
  });
}

TEST(RunMarks, ShownOneByOneAHundredMillisecondsApartWhileTheButtonIsDisabled) {
  RunMachine m;
  m.Remove("C:\\WINDOWS\\inf\\vqusb.inf");
  m.PutBytes("C:\\WINDOWS\\inf\\a.inf", "; another driver\r\n");
  m.PutBytes("C:\\WINDOWS\\inf\\b.inf", "; VQUSB\r\n");
  std::vector<Snapshot> snapshots;
  uint64_t start = 0;
  m.Run(1, [&] {
    RecordAtEachMessagePass(snapshots);
    start = m.machine().clock().Now();
  });

  // Rows 0-2 are marked before step 3 looks for the driver, row 3 before
  // the INF search, each 100 ms after the one before.
  ASSERT_GE(snapshots.size(), 3u);
  EXPECT_EQ(snapshots[0].clock - start, 300u);
  EXPECT_EQ(snapshots[0].marks, (std::set<int>{0, 1, 2}));
  const Snapshot& search = snapshots.back();
  EXPECT_EQ(search.marks, (std::set<int>{0, 1, 2, 3}));
  EXPECT_GE(search.clock - start, 400u);
  EXPECT_LT(search.clock - start, 500u);
  for (const Snapshot& s : snapshots) EXPECT_FALSE(s.checkEnabled);

  EXPECT_TRUE(SelfForm->bbtn_Check->Enabled);
  EXPECT_TRUE(SelfForm->bbtn_ViewLog->Enabled);
  EXPECT_EQ(VisibleMarks(), (std::set<int>{0, 1, 2, 3, 4, 5, 6}));
  for (int row = 0; row < 7; ++row) {
    EXPECT_EQ(SelfForm->StepMarks[row]->Top, MarkRowTop[row]) << row;
    EXPECT_EQ(SelfForm->StepMarks[row]->Left, SelfForm->Image01->Left) << row;
  }
  EXPECT_FALSE(SelfForm->pnl_Info->Visible);
  EXPECT_EQ(SelfForm->pnlResult->Caption.get().str(), "Reader Installed Successfully");
}

TEST(RunMarks, FailedRowsTakeTheFailedColumn) {
  RunMachine m;
  m.PutUnversioned("C:\\WINDOWS\\system32\\drivers\\vqusb.sys");  // PASSED line, FAILED mark
  m.SetService("stopped", false);
  m.Run(1);
  EXPECT_EQ(VisibleMarks(), (std::set<int>{0, 1, 8 + 2, 8 + 3, 4, 8 + 5, 8 + 6}));
  EXPECT_EQ(SelfForm->StepMarks[8 + 3]->Left, SelfForm->Image02->Left);
  EXPECT_EQ(SelfForm->pnlResult->Caption.get().str(), "Reader Installed Incorrectly");
  // A second run hides the marks of the first before it shows its own.
  m.SetService("running", true);
  m.spec().processes.push_back(vqwin::Record{0, {{"name", std::string("SCardSvr.exe")}}});
  std::vector<Snapshot> snapshots;
  RecordAtEachMessagePass(snapshots);
  ASSERT_EQ(vcl::UserClick(SelfForm->bbtn_Check), "");
  ASSERT_FALSE(snapshots.empty());
  EXPECT_EQ(snapshots[0].marks, (std::set<int>{0, 1, 2}));
}

struct LabelCase {
  const char* name;
  int model;
  std::vector<ReaderSpec> readers;
  const char* label3;
  const char* label4;
  const char* label14;
  bool secondSlotShown;
  const char* label15;
};

TEST(RunLabels, RowCaptionsAndCardLines) {
  const std::string atr20 = "3B FF 11 00 00 81 31 FE 45 43 44 32 69 A9 41 00 00 20 20 20";
  const LabelCase cases[] = {
      {"vq480t", 1, {{"TERVANE VQ480T 0"}}, "VQUSB.SYS ..............................................",
       "VQUSB.INF ..............................................", "ATR : 3B 88 80 01 00 00 00 00 00 00 00 00 ........",
       false, ""},
      {"card absent", 6, {{"TERVANE PENVO 0", ""}}, "PENVO.SYS ..............................................",
       "PENVO.INF ..............................................", "Card Absent", false, ""},
      {"twelve bytes", 0, {{"TERVANE CCIDIFD 0", "t0", "3B 8F 80 01 80 4F 0C A0 00 00 03 06"}},
       "VQCCID.SYS ..............................................",
       "VQCCID.INF ..............................................", "ATR : 3B 8F 80 01 80 4F 0C A0 00 00 03 06 ", false,
       ""},
      {"two slots", 5, {{"TERVANE VQVASKT 0", ""}, {"TERVANE VQVASKTSAM 0", "t0", atr20}},
       "VQUBUS.SYS ..............................................",
       "VQUIFDS.SYS ..............................................", "Card Absent", true,
       "ATR : 3B FF 11 00 00 81 31 FE 45 43 44 32 ........"},
  };
  for (const LabelCase& c : cases) {
    RunMachine m;
    m.SetReaders(c.readers);
    m.Run(c.model);
    EXPECT_EQ(SelfForm->Label3->Caption.get().str(), c.label3) << c.name;
    EXPECT_EQ(SelfForm->Label4->Caption.get().str(), c.label4) << c.name;
    EXPECT_EQ(SelfForm->Label14->Caption.get().str(), c.label14) << c.name;
    EXPECT_TRUE(SelfForm->Label14->Visible) << c.name;
    EXPECT_EQ(SelfForm->Label13->Visible, c.secondSlotShown) << c.name;
    EXPECT_EQ(SelfForm->Label15->Visible, c.secondSlotShown) << c.name;
    if (c.secondSlotShown) {
      EXPECT_EQ(SelfForm->Label15->Caption.get().str(), c.label15) << c.name;
    }
    EXPECT_FALSE(SelfForm->Timer1->Enabled) << c.name;
  }
}

struct HandOverCase {
  const char* name;
  System system;
  const char* serviceState;
  bool processListed;
  DWORD startType;
  bool shown;
};

TEST(RunHandOver, ServiceWindowComesForwardOnlyOnTheNtFamilyWithoutTheRecommendedSetting) {
  const HandOverCase cases[] = {
      {"running, automatic", System::WinXP, "running", true, 2, false},
      {"running, manual", System::WinXP, "running", true, 3, true},
      {"start type 0x102 reads 2", System::WinXP, "running", true, 0x102, false},
      {"stopped", System::WinXP, "stopped", false, 2, true},
      {"Windows 98 without the process", System::Win98, "", false, 3, false},
      // The last 9x-family code (6) against the first NT-family code (7).
      {"ME, manual start", System::WinMe, "", true, 3, false},
      {"ME without the process", System::WinMe, "", false, 2, false},
      {"NT 4.0, manual start", System::WinNT4, "running", true, 3, true},
      {"NT 4.0, stopped", System::WinNT4, "stopped", false, 2, true},
  };
  for (const HandOverCase& c : cases) {
    RunMachine m;
    m.Use(c.system);
    if (c.system == System::Win98 || c.system == System::WinMe) {
      if (!c.processListed) m.spec().processes.pop_back();
    } else {
      m.SetService(c.serviceState, c.processListed);
    }
    m.machine().registry().SetDword("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SCardSvr", "Start",
                                    c.startType);
    m.Run(1);
    EXPECT_EQ(frmSCM->Visible, c.shown) << c.name;
    EXPECT_TRUE(SelfForm->bbtn_Check->Enabled) << c.name;
  }
}

TEST(RunStart, WithoutAModelOnlyTheWarningShows) {
  struct {
    WORD langId;
    UINT codePage;
    const char* text;
    const char* caption;
  } cases[] = {
      {0x0409, 1252, "Please select your reader at first !", "Information"},
      {0x0404, 950, "請先選擇您的讀卡機 !", "提示"},
      // Only Taiwan's language gets the Chinese warning.
      {0x0C04, 950, "Please select your reader at first !", "Information"},
  };
  for (const auto& c : cases) {
    RunMachine m;
    m.spec().locale.langId = c.langId;
    m.spec().locale.ansiCodePage = c.codePage;
    m.Run(-1);
    const auto& records = vcl::CurrentDialogScript().Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, vcl::DialogKind::MessageBox);
    EXPECT_EQ(records[0].text, c.text);
    EXPECT_EQ(records[0].caption, c.caption);
    EXPECT_EQ(records[0].type, static_cast<unsigned>(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(m.Lines(), std::vector<std::string>{""});
    EXPECT_FALSE(SelfForm->bbtn_ViewLog->Enabled);
    EXPECT_TRUE(SelfForm->bbtn_Check->Enabled);
    EXPECT_TRUE(VisibleMarks().empty());
  }
}

TEST(RunStep1, MissingLibraryShowsTheSystemText) {
  RunMachine m;
  m.Remove("C:\\WINDOWS\\system32\\drivers\\smclib.sys");
  m.Run(1);
  const auto& records = vcl::CurrentDialogScript().Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].kind, vcl::DialogKind::ShowMessage);
  EXPECT_NE(records[0].text.find("cannot find the file"), std::string::npos) << records[0].text;
}

TEST(RunStep3, SearchNoticeInTheWindowsLanguage) {
  // Every language but English gets the Chinese notice, Hong Kong's too.
  struct {
    WORD langId;
    UINT codePage;
    const char* notice;
  } cases[] = {
      {0x0409, 1252, "Searching file, please wait..."},
      {0x0404, 950, "搜 尋 檔 案 中 ,  請 稍 後 ..."},
      {0x0C04, 950, "搜 尋 檔 案 中 ,  請 稍 後 ..."},
  };
  for (const auto& c : cases) {
    RunMachine m;
    m.spec().locale.langId = c.langId;
    m.spec().locale.ansiCodePage = c.codePage;
    m.Run(1);
    EXPECT_EQ(SelfForm->pnl_Info->Caption.get().str(), vqwin::FromUtf8(c.notice)) << c.langId;
    if (c.langId == 0x0404) {
      EXPECT_EQ(SelfForm->pnlResult->Caption.get().str(), vqwin::FromUtf8("讀卡機已正確安裝"));
    }
  }
}

// The INF search reads the first 64 bytes of each file: the driver's name
// ending at the 64th byte is found, one byte further on it is not.
TEST(RunStep3, TheInfSearchReadsTheFirst64Bytes) {
  struct {
    size_t offset;  // where "VQUSB" begins
    const char* verdict;
  } const cases[] = {{59, "PASSED"}, {60, "FAILED"}};
  for (const auto& c : cases) {
    RunMachine m;
    m.Remove("C:\\WINDOWS\\inf\\vqusb.inf");
    m.PutBytes("C:\\WINDOWS\\inf\\oem3.inf", std::string(c.offset, ';') + "VQUSB\r\n");
    m.Run(1);
    const auto lines = m.Lines();
    const std::string line = std::string("           VQUSB.INF..........................................") + c.verdict;
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << c.offset;
  }
}

// The INF search leaves every file it reads with the attributes it had:
// the one that names the driver and one that cannot be opened included.
TEST(RunStep3, TheInfSearchLeavesTheFilesTheirAttributes) {
  const DWORD kReadOnly = FILE_ATTRIBUTE_READONLY, kHidden = FILE_ATTRIBUTE_HIDDEN,
              kSystem = FILE_ATTRIBUTE_SYSTEM, kArchive = FILE_ATTRIBUTE_ARCHIVE;
  struct {
    const char* name;
    DWORD attributes;
    const char* text;
  } const files[] = {
      {"a.inf", kReadOnly, "; another driver\r\n"},
      {"b.inf", kHidden | kSystem, "; another driver\r\n"},
      {"c.inf", FILE_ATTRIBUTE_NORMAL, "; another driver\r\n"},
      {"d.inf", kArchive, "; another driver\r\n"},
      {"e.inf", kReadOnly | kHidden | kSystem | kArchive, "; VQUSB, but it cannot be opened\r\n"},
      {"z.inf", kReadOnly | kHidden, "; VQUSB\r\n"},
  };
  RunMachine m;
  m.Remove("C:\\WINDOWS\\inf\\vqusb.inf");
  for (const auto& f : files) {
    const std::string path = std::string("C:\\WINDOWS\\inf\\") + f.name;
    m.PutBytes(path, f.text);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), f.attributes)) << f.name;
  }
  m.spec().fileFailures.push_back({"C:\\WINDOWS\\inf\\e.inf", "open", ERROR_ACCESS_DENIED});
  m.Run(1);
  EXPECT_EQ(LineStarting(m.Lines(), "           VQUSB.INF"),
            "           VQUSB.INF..........................................PASSED");
  for (const auto& f : files)
    EXPECT_EQ(GetFileAttributesA((std::string("C:\\WINDOWS\\inf\\") + f.name).c_str()), f.attributes) << f.name;
}

TEST(RunSteps4And5, ASecondRunRebuildsTheReaderSet) {
  RunMachine m;
  m.SetReaders({{"TERVANE VQ480T 0"}});
  m.Run(1);
  const std::string first = m.Report();
  const SCARDCONTEXT context = SelfForm->ScardContext;
  EXPECT_NE(context, 0u);
  m.SetReaders({{"Other Reader 0"}, {"TERVANE VQ480T 1", ""}});
  ASSERT_EQ(vcl::UserClick(SelfForm->bbtn_Check), "");
  EXPECT_NE(SelfForm->ScardContext, context);
  EXPECT_EQ(SelfForm->ReaderCount, 2);
  EXPECT_EQ(SelfForm->SelectedReader, 1);
  const auto lines = m.Lines();
  EXPECT_EQ(LineStarting(lines, "           Device 1"), "           Device 1 : TERVANE VQ480T 1");
  EXPECT_EQ(LineStarting(lines, "          (Card Absent)"),
            "          (Card Absent).......................................PASSED");
}

TEST(RunSteps4And5, AContextRefusedInTheUserScopeIsAskedInTheSystemScope) {
  RunMachine m;
  m.SetPcsc("establish_user_error = 0x80100011");
  m.Run(1);
  const auto lines = m.Lines();
  EXPECT_EQ(LineStarting(lines, "           SCardEstablishContext"), "");
  EXPECT_EQ(LineStarting(lines, "           Device 0"), "           Device 0 : TERVANE VQ480T 0");
  EXPECT_EQ(lines.back(), "-> [Result] : PC/SC Smart Card Environment is proper(OK).");
}

// The status queries wait 10 s of machine time for the resource manager:
// an answer at 10 s still counts, one later or none at all fails the query
// with SCARD_E_TIMEOUT, and the run goes on to its verdict.
TEST(RunSteps4And5, StatusQueriesWaitTenSecondsForTheResourceManager) {
  const char* const kTimedOut = "           SCardGetStatusChange Fail : 0x8010000A";
  struct {
    const char* name;
    int model;
    const char* pcsc;
    const char* readerKeys;
    int timeouts;     // failed status queries: 0, or one per slot tested
    uint64_t waitMs;  // machine time the queries took
  } const cases[] = {
      {"answer at 10 s", 1, "status_delay_ms = 10000", "", 0, 10000},
      {"answer after 10 s", 1, "status_delay_ms = 10001", "", 1, 10000},
      {"no answer from the resource manager", 1, "status_hangs = true", "", 1, 10000},
      {"no answer for the reader", 1, "", "status_hangs = true", 1, 10000},
      {"no answer, two slots", 5, "status_hangs = true", "", 2, 20000},
  };
  for (const auto& c : cases) {
    RunMachine m;
    if (c.model == 5)
      m.SetReaders({{"TERVANE VQVASKT 0"}, {"TERVANE VQVASKTSAM 0"}});
    else
      m.SetReaders({{"TERVANE VQ480T 0", "t1", "3B 00", c.readerKeys}});
    m.SetPcsc(c.pcsc);
    uint64_t asked = 0;
    m.Run(c.model, [&] { asked = m.machine().clock().Now(); });
    const auto lines = m.Lines();
    const auto timeouts = std::count(lines.begin(), lines.end(), kTimedOut);
    EXPECT_EQ(timeouts, c.timeouts) << c.name;
    // The run took the waits of its queries, besides the marks' pauses.
    const uint64_t took = m.machine().clock().Now() - asked;
    EXPECT_GE(took, c.waitMs) << c.name;
    EXPECT_LT(took, c.waitMs + 2000) << c.name;
    if (c.timeouts == 0) {
      EXPECT_EQ(lines.back(), "-> [Result] : PC/SC Smart Card Environment is proper(OK).") << c.name;
      continue;
    }
    const auto fail = std::find(lines.begin(), lines.end(), kTimedOut);
    ASSERT_NE(fail, lines.end()) << c.name;
    EXPECT_EQ(*(fail + 1), "           ...................................................FAILED") << c.name;
    if (c.timeouts == 2) {
      EXPECT_EQ(*(fail + 2), "     Communication with Reader (Second)") << c.name;
    }
    EXPECT_EQ(lines.back(), "-> [Result] : Some of PC/SC Smart Card Environment Failed.") << c.name;
    EXPECT_TRUE(SelfForm->bbtn_Check->Enabled) << c.name;
    EXPECT_EQ(vqwin::BlockedStatusQueries(), 0) << c.name;
  }
}

}  // namespace
}  // namespace diagrun

namespace diagrun {
namespace {

TEST(RunDirectOpens, WatchdogRunsOnlyAroundEachOpenOfBothSlots) {
  RunMachine m;
  m.Use(System::Win98);
  m.SetReaders({{"TERVANE VQVASKT 0", "t1", "3B 00", "device = \"VQUSB0\""},
                {"TERVANE VQVASKTSAM 0", "", "", "device = \"VQUSB1\""}});
  std::vector<std::pair<std::string, bool>> opens;
  vqwin::SetReaderDeviceObserver([&](const std::string& name) { opens.push_back({name, SelfForm->Timer1->Enabled}); });
  m.Run(5);
  vqwin::SetReaderDeviceObserver(nullptr);
  const std::vector<std::pair<std::string, bool>> expected = {{"VQUSB0", true}, {"VQUSB1", true}};
  EXPECT_EQ(opens, expected);
  EXPECT_FALSE(SelfForm->Timer1->Enabled);
  // Windows 2000 and later never open the device.
  RunMachine xp;
  opens.clear();
  vqwin::SetReaderDeviceObserver([&](const std::string& name) { opens.push_back({name, true}); });
  xp.Run(1);
  vqwin::SetReaderDeviceObserver(nullptr);
  EXPECT_TRUE(opens.empty());
}

}  // namespace
}  // namespace diagrun

namespace diagrun {
namespace {

TEST(RunRedirection, NativeFoldersForStepsOneToThreeThenRestored) {
  RunMachine m;
  m.Use(System::Win7x64);
  // What a 32-bit program sees in system32 without the redirection off.
  m.PutVersioned("C:\\WINDOWS\\SysWOW64\\SCardSvr.dll", "6.1.7600.16385");
  m.Run(1);
  const auto lines = m.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "           Resource Manager(6.1.7601.17514).......................PASSED"),
            lines.end());
  EXPECT_TRUE(m.machine().files().redirection());
}

}  // namespace
}  // namespace diagrun
