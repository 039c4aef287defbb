// Copy failures of the driver flows: which stop the flow, which are
// reported, which pass in silence; read-only copies of an earlier
// installation; the stale enumeration entries.
#include "InstallerFixture.h"

#include <vqvcl/Input.h>

namespace setuptest {
namespace {

struct FailureCase {
  const char* name;
  std::string os, locale;
  const char* failing;  // destination whose copy fails
  int error;
  const char* box;      // the error box's text (UTF-8), "" for none
  bool timerAfter;      // DelayTimer still running when the handler returns
  std::vector<const char*> present, absent;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class CopyFailure : public Installer, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CopyFailure, StopsReportsOrPassesOver) {
  const FailureCase& c = GetParam();
  Machine(c.os, c.locale,
          std::string("[[file_failures]]\npath = '") + c.failing + "'\nop = \"copy\"\nerror = " +
              std::to_string(c.error) + "\n");
  Create();
  SetupForm->lblYesClick(SetupForm->lblYes);
  const auto& records = vcl::CurrentDialogScript().Records();
  if (c.box[0] == '\0') {
    EXPECT_TRUE(records.empty()) << ::testing::PrintToString(Dialogs());
  } else {
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, c.box);
    EXPECT_EQ(records[0].caption, "Error");
    EXPECT_EQ(records[0].type, (unsigned)MB_ICONQUESTION);
    EXPECT_EQ(records[0].owner, "SetupForm");
  }
  EXPECT_EQ(SetupForm->DelayTimer->Enabled, c.timerAfter);
  EXPECT_FALSE(Application->Terminated);
  for (const char* path : c.present) EXPECT_TRUE(Exists(path)) << path;
  for (const char* path : c.absent) EXPECT_FALSE(Exists(path)) << path;
}

const char* const kTervane = "Software\\Tervane\\VqReader\\VQUSB";

INSTANTIATE_TEST_SUITE_P(
    Copies, CopyFailure,
    ::testing::Values(
        FailureCase{"InfStopsBeforeAnyDriverFile", kWin98, kEnglish, "C:\\WINDOWS\\inf\\VQUSB.inf", 5,
                    "Cannot Copy VQUSB.inf, Error Code : 5", false, {},
                    {"C:\\WINDOWS\\system32\\drivers\\vqusb98.cat", "C:\\WINDOWS\\system32\\drivers\\VQUSB.sys",
                     "C:\\Program Files\\VQUSB"}},
        FailureCase{"CatalogueIgnored", kWin98, kEnglish, "C:\\WINDOWS\\system32\\drivers\\vqusb98.cat", 5, "", true,
                    {"C:\\WINDOWS\\system32\\drivers\\VQUSB.sys", "C:\\Program Files\\VQUSB\\vqdiag.exe"}, {}},
        FailureCase{"VxdDiskFullAfterFourCopies", kWin98, kEnglish, "C:\\WINDOWS\\SYSTEM\\smclib.vxd", 112,
                    "Cannot Copy smclib.vxd, Error Code : Disk Full", false,
                    {"C:\\WINDOWS\\inf\\VQUSB.inf", "C:\\WINDOWS\\system32\\drivers\\vqusb98.cat",
                     "C:\\WINDOWS\\system32\\drivers\\VQUSB.sys", "C:\\WINDOWS\\system32\\drivers\\smclib.sys"},
                    {"C:\\WINDOWS\\SYSTEM\\vqscmon.exe", "C:\\WINDOWS\\scbase"}},
        FailureCase{"RunningMonitorPassedOver", kWin98, kEnglish, "C:\\WINDOWS\\SYSTEM\\vqscmon.exe", 32, "", true,
                    {"C:\\WINDOWS\\SYSTEM\\svcwatch.exe", "C:\\Program Files\\VQUSB\\vqdiag.exe"},
                    {"C:\\WINDOWS\\SYSTEM\\vqscmon.exe"}},
        FailureCase{"WatcherReportedAndTheFlowGoesOn", kWin98, kEnglish, "C:\\WINDOWS\\SYSTEM\\svcwatch.exe", 5,
                    "Cannot Copy svcwatch.exe, Error Code : 5", false,
                    {"C:\\WINDOWS\\scbase\\license.txt", "C:\\Program Files\\VQUSB\\vqdiag.exe"}, {}},
        FailureCase{"ChineseDiskFullOnNt4", kNt4, kTaiwan, "C:\\WINNT\\system32\\drivers\\wdusbd.sys", 112,
                    "無法複製檔案 wdusbd.sys, 錯誤代碼 : 磁碟已滿", false,
                    {"C:\\WINNT\\system32\\drivers\\vqusb.sys"},
                    {"C:\\WINNT\\system32\\drivers\\windrvr.sys", "C:\\WINNT\\inf\\vqusbunst.inf",
                     "C:\\Program Files\\VQUSB"}},
        FailureCase{"ChineseErrorCodeOnNt4", kNt4, kTaiwan, "C:\\WINNT\\System32\\advpack.dll", 5,
                    "無法複製檔案 advpack.dll, 錯誤代碼 : 5", false, {"C:\\WINNT\\system32\\drivers\\smclib.sys"},
                    {"C:\\WINNT\\system32\\drivers\\vqusb.sys"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct SharingCase {
  const char* name;
  std::string os;
  const char* destination;
  const char* box;  // "" when the running file is passed over in silence
};

void PrintTo(const SharingCase& c, std::ostream* os) { *os << c.name; }

class SharingViolation : public Installer, public ::testing::WithParamInterface<SharingCase> {};

// A file in use (error 32) is passed over only for the two companion
// programs (and the catalogue, whose failures never count); a driver in use
// stops the flow like any other failure.
TEST_P(SharingViolation, OnEveryCopyRow) {
  const SharingCase& c = GetParam();
  Machine(c.os, kEnglish,
          std::string("[[file_failures]]\npath = '") + c.destination + "'\nop = \"copy\"\nerror = 32\n");
  Create();
  SetupForm->lblYesClick(SetupForm->lblYes);
  const bool silent = c.box[0] == '\0';
  if (silent)
    EXPECT_TRUE(Dialogs().empty()) << ::testing::PrintToString(Dialogs());
  else
    EXPECT_EQ(Dialogs(), std::vector<std::string>{std::string("messagebox|Error|") + c.box});
  EXPECT_EQ(SetupForm->DelayTimer->Enabled, silent);
  EXPECT_EQ(Exists("C:\\Program Files\\VQUSB\\vqdiag.exe"), silent);
  EXPECT_EQ(SetupForm->ProgressBar1->Position, silent ? 3 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SharingViolation,
    ::testing::Values(
        SharingCase{"Inf98", kWin98, "C:\\WINDOWS\\inf\\VQUSB.inf", "Cannot Copy VQUSB.inf, Error Code : 32"},
        SharingCase{"Catalogue98", kWin98, "C:\\WINDOWS\\system32\\drivers\\vqusb98.cat", ""},
        SharingCase{"Driver98", kWin98, "C:\\WINDOWS\\system32\\drivers\\VQUSB.sys",
                    "Cannot Copy VQUSB.sys, Error Code : 32"},
        SharingCase{"Library98", kWin98, "C:\\WINDOWS\\system32\\drivers\\smclib.sys",
                    "Cannot Copy smclib.sys, Error Code : 32"},
        SharingCase{"Vxd98", kWin98, "C:\\WINDOWS\\SYSTEM\\smclib.vxd", "Cannot Copy smclib.vxd, Error Code : 32"},
        SharingCase{"Monitor98", kWin98, "C:\\WINDOWS\\SYSTEM\\vqscmon.exe", ""},
        SharingCase{"Watcher98", kWin98, "C:\\WINDOWS\\SYSTEM\\svcwatch.exe", ""},
        SharingCase{"MonitorMe", kWinMe, "C:\\WINDOWS\\SYSTEM\\vqscmon.exe", ""},
        SharingCase{"WatcherMe", kWinMe, "C:\\WINDOWS\\SYSTEM\\svcwatch.exe", ""},
        SharingCase{"DriverMe", kWinMe, "C:\\WINDOWS\\system32\\drivers\\VQUSB.sys",
                    "Cannot Copy VQUSB.sys, Error Code : 32"},
        SharingCase{"LibraryNt4", kNt4, "C:\\WINNT\\system32\\drivers\\smclib.sys",
                    "Cannot Copy smclib.sys, Error Code : 32"},
        SharingCase{"AdvpackNt4", kNt4, "C:\\WINNT\\System32\\advpack.dll", "Cannot Copy advpack.dll, Error Code : 32"},
        SharingCase{"DriverNt4", kNt4, "C:\\WINNT\\system32\\drivers\\vqusb.sys",
                    "Cannot Copy vqusb.sys, Error Code : 32"},
        SharingCase{"WdusbdNt4", kNt4, "C:\\WINNT\\system32\\drivers\\wdusbd.sys",
                    "Cannot Copy wdusbd.sys, Error Code : 32"},
        SharingCase{"WindrvrNt4", kNt4, "C:\\WINNT\\system32\\drivers\\windrvr.sys",
                    "Cannot Copy windrvr.sys, Error Code : 32"},
        SharingCase{"UninstallInfNt4", kNt4, "C:\\WINNT\\inf\\vqusbunst.inf", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// The uninstall INF's copy is not looked at: the services and the uninstall
// entry are written all the same, pointing at the INF that is not there.
TEST_F(Installer, Nt4UninstallInfThatCannotBeCopiedLeavesTheFlowRunning) {
  Machine(kNt4, kEnglish, "[[file_failures]]\npath = 'C:\\WINNT\\inf\\vqusbunst.inf'\nop = \"copy\"\nerror = 5\n");
  Create();
  SetupForm->lblYesClick(SetupForm->lblYes);
  EXPECT_TRUE(Dialogs().empty()) << ::testing::PrintToString(Dialogs());
  EXPECT_FALSE(Exists("C:\\WINNT\\inf\\vqusbunst.inf"));
  EXPECT_EQ(RegDword("SYSTEM\\CurrentControlSet\\Services\\VQUSB", "Start"), 2u);
  EXPECT_EQ(RegString("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VQUSB", "UninstallString"),
            "RunDll32 advpack.dll,LaunchINFSection C:\\WINNT\\inf\\vqusbunst.inf, DefaultUninstall.NT");
  EXPECT_TRUE(vqwin::ReadShellLink("C:\\WINNT\\Profiles\\User\\Start Menu\\Programs\\VQUSB Utility\\Installation "
                                   "Guide.lnk"));
  EXPECT_EQ(SetupForm->ProgressBar1->Position, 3);
  EXPECT_TRUE(SetupForm->DelayTimer->Enabled);
  EXPECT_TRUE(SetupForm->lblYes->Enabled);
}

TEST_F(Installer, AbortedFlowsWriteNoRegistryAndRunAgainOnY) {
  Machine(kWin98, kEnglish, "[[file_failures]]\npath = 'C:\\WINDOWS\\SYSTEM\\smclib.vxd'\nop = \"copy\"\nerror = 5\n");
  Create();
  SetupForm->Show();
  SetupForm->lblYesClick(SetupForm->lblYes);
  EXPECT_FALSE(RegKeyExists(kTervane));
  EXPECT_FALSE(SetupForm->lblYes->Enabled);
  // Y runs the flow again although the label is disabled.
  vcl::UserKey(SetupForm, 'Y');
  EXPECT_EQ(vcl::CurrentDialogScript().Records().size(), 2u);
}

TEST_F(Installer, DestinationPastItsBufferIsACopyFailureNotAnOverrun) {
  // 244 characters: the folder fits its 255-byte buffer, the INF's destination does not.
  const std::string windows = "C:\\" + std::string(120, 'A') + "\\" + std::string(120, 'B');
  WindowsDir(windows);
  Machine(kWin98);
  Create();
  SetupForm->lblYesClick(SetupForm->lblYes);
  ASSERT_EQ(Dialogs().size(), 1u);
  EXPECT_EQ(Dialogs()[0], "messagebox|Error|Cannot Copy VQUSB.inf, Error Code : 206");
  EXPECT_FALSE(SetupForm->DelayTimer->Enabled);
  EXPECT_FALSE(Exists(windows + "\\system32\\drivers\\vqusb98.cat"));
}

TEST_F(Installer, ReadOnlyCopiesOfAnEarlierInstallation) {
  File("C:\\WINDOWS\\system32\\drivers\\VQUSB.sys", "old driver");
  File("C:\\WINDOWS\\scbase\\MFC42.DLL", "old library");
  Machine(kWin98);
  SetFileAttributesA("C:\\WINDOWS\\system32\\drivers\\VQUSB.sys", FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA("C:\\WINDOWS\\scbase\\MFC42.DLL", FILE_ATTRIBUTE_READONLY);
  Create();
  SetupForm->lblYesClick(SetupForm->lblYes);
  EXPECT_TRUE(vcl::CurrentDialogScript().Records().empty());
  EXPECT_EQ(Content("C:\\WINDOWS\\system32\\drivers\\VQUSB.sys"), Content("D:\\SETUP\\drivers\\VQUSB.sys"));
  // The named package copies leave a read-only file alone; the folder copy
  // at the end resets it and copies it once more.
  EXPECT_EQ(Content("C:\\WINDOWS\\scbase\\MFC42.DLL"), Content("D:\\SETUP\\smclib\\MFC42.DLL"));
}

struct EnumCase {
  const char* name;
  std::vector<std::pair<int, const char*>> instances;  // instance number, class
  bool removed;
};

void PrintTo(const EnumCase& c, std::ostream* os) { *os << c.name; }

class StaleEnum : public Installer, public ::testing::WithParamInterface<EnumCase> {};

TEST_P(StaleEnum, RemovedOnlyForAnUnknownClass) {
  for (const auto& [n, cls] : GetParam().instances)
    Registry("[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_F1E5&PID_0480\\INST_" + std::to_string(n) + "]\n\"Class\"=\"" +
             cls + "\"\n");
  Registry("[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_1234&PID_0001\\INST_0]\n\"Class\"=\"UnKnown\"\n");
  Machine(kWin98);
  RemoveStaleUsbEnum();
  EXPECT_EQ(RegKeyExists("Enum\\USB\\VID_F1E5&PID_0480"), !GetParam().removed);
  EXPECT_TRUE(RegKeyExists("Enum\\USB\\VID_1234&PID_0001\\INST_0"));
}

INSTANTIATE_TEST_SUITE_P(
    Classes, StaleEnum,
    ::testing::Values(EnumCase{"UnknownAnyCase", {{0, "unknown"}}, true},
                      EnumCase{"KnownClassStays", {{0, "SmartCardReader"}}, false},
                      EnumCase{"LaterInstance", {{0, "SmartCardReader"}, {8, "UNKNOWN"}}, true},
                      // A short class read first does not make a longer one unreadable.
                      EnumCase{"AfterAShorterClass", {{0, "Net"}, {1, "UnKnown"}}, true},
                      EnumCase{"InstanceNineIsNotLookedAt", {{9, "UnKnown"}}, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace setuptest
