// The driver installation flow: refusals, the whole installation on
// Windows 98 SE, ME and NT 4.0, and what the machine holds afterwards.
#include "InstallerFixture.h"

#include <vqwin/Restarts.h>
#include <vqwin/Started.h>

#include <winsvc.h>

namespace setuptest {
namespace {

// Accepts the agreement, lets the package register, answers the restart prompt.
const char kAcceptAndRestart[] =
    "click lblYes\n"
    "wait 1500\n"
    "click YesBtn\n"
    "wait 3000\n"
    "answer IDYES\n";

struct RefusalCase {
  const char* name;
  std::string os;
  const char* text;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class Refusal : public Installer, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusal, OneBoxThenTheEndWithNothingWritten) {
  Machine(GetParam().os);
  Create();
  SetupForm->lblYesClick(SetupForm->lblYes);
  ASSERT_EQ(Dialogs().size(), 1u);
  EXPECT_EQ(Dialogs()[0], std::string("messagebox|Error|") + GetParam().text);
  EXPECT_EQ(vcl::CurrentDialogScript().Records()[0].type, (unsigned)MB_OK);
  EXPECT_EQ(vcl::CurrentDialogScript().Records()[0].owner, "SetupForm");
  EXPECT_TRUE(Application->Terminated);
  EXPECT_FALSE(SetupForm->DelayTimer->Enabled);
  EXPECT_FALSE(RegKeyExists("Software\\Tervane"));
  EXPECT_FALSE(Exists("C:\\Program Files\\VQUSB"));
}

INSTANTIATE_TEST_SUITE_P(
    Windows, Refusal,
    ::testing::Values(RefusalCase{"Win95", kWin95, "Cannot Support on Windows 95!"},
                      RefusalCase{"Win2000", kWin2000, "Cannot Run on Windows NT 5.0"},
                      RefusalCase{"WinXp", kWinXp, "Cannot Run on Windows NT 5.0"},
                      RefusalCase{"Vista", kVista, "Cannot Run on Windows NT 5.0"},
                      RefusalCase{"Unknown", std::string(kWinXp) + "version_query = \"none\"\n",
                                  "Cannot Run on Windows NT 5.0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Installer, Windows98WholeInstallation) {
  Registry("[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_F1E5&PID_0480\\INST_0]\n\"Class\"=\"UnKnown\"\n");
  Registry("[HKEY_LOCAL_MACHINE\\Enum\\SERENUM\\QVT0001]\n\"Class\"=\"Ports\"\n");
  Registry("[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices]\n"
           "\"Vqscmon\"=\"C:\\\\OLD\\\\vqscmon.exe\"\n");
  Machine(kWin98);
  Create();
  Run(kAcceptAndRestart);

  for (const char* path : {"C:\\WINDOWS\\inf\\VQUSB.inf", "C:\\WINDOWS\\system32\\drivers\\vqusb98.cat",
                           "C:\\WINDOWS\\system32\\drivers\\VQUSB.sys", "C:\\WINDOWS\\system32\\drivers\\smclib.sys",
                           "C:\\WINDOWS\\SYSTEM\\smclib.vxd", "C:\\WINDOWS\\SYSTEM\\vqscmon.exe",
                           "C:\\WINDOWS\\SYSTEM\\svcwatch.exe", "C:\\WINDOWS\\scbase\\SCardSvr.exe",
                           "C:\\WINDOWS\\scbase\\SMCLIB.Vxd", "C:\\WINDOWS\\scbase\\SCBASE.INF",
                           "C:\\WINDOWS\\scbase\\license.txt", "C:\\Program Files\\VQUSB\\vqdiag.exe",
                           "C:\\Program Files\\VQUSB\\vqusbunst.exe", "C:\\Program Files\\VQUSB\\EWIN98.htm",
                           "C:\\Program Files\\VQUSB\\EWIN98.files\\image001.png",
                           "C:\\Program Files\\VQUSB\\FAQ\\VQ_PCSC_Reader_FAQ_ENG.pdf",
                           "C:\\Program Files\\VQUSB\\Foxit Reader\\Foxit.exe"})
    EXPECT_TRUE(Exists(path)) << path;
  EXPECT_EQ(Content("C:\\WINDOWS\\inf\\VQUSB.inf"), Content("D:\\SETUP\\drivers\\VQUSB.ncp"));

  const char* const cv = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  EXPECT_EQ(RegString(std::string(cv) + "\\Setup", "SourcePath"), "C:\\WINDOWS\\System32\\drivers");
  const vqwin::RegValue* vxd = RegValue("System\\CurrentControlSet\\Services\\VxD\\SMCLIB", "StaticVxD");
  ASSERT_NE(vxd, nullptr);
  EXPECT_EQ(vxd->data.size(), 11u);
  const vqwin::RegValue* start = RegValue("System\\CurrentControlSet\\Services\\VxD\\SMCLIB", "Start");
  ASSERT_NE(start, nullptr);
  EXPECT_EQ(start->type, (DWORD)REG_BINARY);
  EXPECT_EQ(start->data, std::vector<uint8_t>{0});
  EXPECT_TRUE(RegKeyExists("System\\CurrentControlSet\\Services\\VxD\\SMCLIB\\Devices"));
  EXPECT_EQ(RegDword("Software\\Tervane\\VqReader\\VQUSB", "Type"), 3u);
  EXPECT_EQ(RegValue("Software\\Tervane\\VqReader\\VQUSB", "Driver")->data.size(), 10u);
  EXPECT_EQ(RegString(std::string(cv) + "\\Run", "Vqscmon"), "C:\\WINDOWS\\SYSTEM\\Vqscmon.exe");
  EXPECT_EQ(RegString(std::string(cv) + "\\Run", "Svcwatch"), "C:\\WINDOWS\\SYSTEM\\Svcwatch.exe");
  EXPECT_EQ(RegString(std::string(cv) + "\\RunServices", "Vqscmon"), std::nullopt);
  EXPECT_FALSE(RegKeyExists("Enum\\USB\\VID_F1E5&PID_0480"));
  EXPECT_FALSE(RegKeyExists("Enum\\SERENUM\\QVT0001"));
  EXPECT_FALSE(RegKeyExists(std::string(cv) + "\\Uninstall\\VQUSB"));

  const std::string menu = "C:\\WINDOWS\\Start Menu\\Programs\\VQUSB Utility\\";
  const struct {
    const char *name, *target, *icon;
  } links[] = {
      {"Uninstall VQUSB Reader", "C:\\Program Files\\VQUSB\\vqusbunst.exe", "C:\\Program Files\\VQUSB\\vqusbunst.exe"},
      {"VQUSB Diagnostics", "C:\\Program Files\\VQUSB\\vqdiag.exe", "C:\\Program Files\\VQUSB\\vqdiag.exe"},
      {"Installation Guide", "C:\\Program Files\\VQUSB\\EWIN98.htm",
       "C:\\Program Files\\Internet Explorer\\iexplore.exe"},
  };
  for (const auto& link : links) {
    const auto read = vqwin::ReadShellLink(menu + link.name + ".lnk");
    ASSERT_TRUE(read) << link.name;
    EXPECT_EQ(read->target, link.target);
    EXPECT_EQ(read->iconLocation, link.icon);
    EXPECT_EQ(read->workingDirectory, "C:\\Program Files\\VQUSB");
    EXPECT_EQ(read->arguments, "");
    EXPECT_FALSE(Exists(std::string("C:\\WINDOWS\\Desktop\\") + link.name + ".lnk"));
  }

  const std::vector<vqwin::StartedProgram> started = vqwin::StartedPrograms();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].file + " " + started[0].parameters,
            "C:\\WINDOWS\\rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 .\\smclib\\scbase.inf");
  EXPECT_EQ(started[0].show, SW_SHOW);
  EXPECT_EQ(started[0].directory, "D:\\SETUP");
  EXPECT_EQ(RegString(std::string(cv) + "\\RunServices", "SCardSvr"), "C:\\WINDOWS\\SYSTEM\\SCardSvr.exe");
  EXPECT_TRUE(Exists("C:\\WINDOWS\\SYSTEM\\SCardSvr.exe"));

  const std::vector<std::string> dialogs = Dialogs();
  ASSERT_EQ(dialogs.size(), 2u) << ::testing::PrintToString(dialogs);
  EXPECT_EQ(dialogs[0], "modalform|Microsoft Smart Card Base Components|LicenseForm");
  EXPECT_EQ(dialogs[1].rfind("messagebox|System Settings Change|", 0), 0u) << dialogs[1];
  EXPECT_EQ(vqwin::RestartRequests(), 1);
  EXPECT_EQ(SetupForm->ProgressBar1->Position, 3);
  EXPECT_FALSE(SetupForm->lblYes->Enabled);
  EXPECT_TRUE(Application->Terminated);
}

TEST_F(Installer, WindowsMeKoreanInstallsFromTheCopiedPackage) {
  Machine(kWinMe, kKorean);
  Create();
  Run(std::string(kAcceptAndRestart));
  const std::vector<vqwin::StartedProgram> started = vqwin::StartedPrograms();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].file + " " + started[0].parameters,
            "C:\\WINDOWS\\rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 C:\\WINDOWS\\scbase\\scbase.inf");
  EXPECT_EQ(RegString("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices", "SCardSvr"),
            "C:\\WINDOWS\\SYSTEM\\SCardSvr.exe");
  // English on the welcome window and the agreement page of a Korean system.
  EXPECT_EQ(Utf8(LicenseForm->YesBtn->Caption), "&Accept");
  EXPECT_EQ(Utf8(LicenseForm->Memo3->Text).rfind("Your system needs", 0), 0u);
  EXPECT_TRUE(vqwin::ReadShellLink("C:\\WINDOWS\\Start Menu\\Programs\\VQUSB Utility\\VQUSB Diagnostics.lnk"));
  EXPECT_EQ(vqwin::RestartRequests(), 1);
}

// The flow itself moves the card monitor's autostart from RunServices to
// Run (before and without the agreement page) and starts the watcher.
TEST_F(Installer, Windows98FlowMovesTheMonitorsAutostartToRun) {
  Registry("[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices]\n"
           "\"Vqscmon\"=\"C:\\\\OLD\\\\vqscmon.exe\"\n\"Other\"=\"kept\"\n");
  Machine(kWin98);
  Create();
  SetupForm->lblYesClick(SetupForm->lblYes);
  const std::string cv = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  EXPECT_EQ(RegString(cv + "\\RunServices", "Vqscmon"), std::nullopt);
  EXPECT_EQ(RegString(cv + "\\RunServices", "Other"), "kept");
  EXPECT_EQ(RegString(cv + "\\Run", "Vqscmon"), "C:\\WINDOWS\\SYSTEM\\Vqscmon.exe");
  EXPECT_EQ(RegString(cv + "\\Run", "Svcwatch"), "C:\\WINDOWS\\SYSTEM\\Svcwatch.exe");
  EXPECT_TRUE(Dialogs().empty());
}

// The guide is picked by the welcome window's language, which a Korean
// system leaves at English: the English page, not the Korean one.
TEST_F(Installer, KoreanSystemGetsTheEnglishGuide) {
  Machine(kWin98, kKorean);
  Create();
  SetupForm->lblYesClick(SetupForm->lblYes);
  EXPECT_TRUE(Exists("C:\\Program Files\\VQUSB\\EWIN98.htm"));
  EXPECT_TRUE(Exists("C:\\Program Files\\VQUSB\\EWIN98.files\\image001.png"));
  EXPECT_FALSE(Exists("C:\\Program Files\\VQUSB\\KWIN98.htm"));
  EXPECT_FALSE(Exists("C:\\Program Files\\VQUSB\\KWIN98.files"));
  const auto guide =
      vqwin::ReadShellLink("C:\\WINDOWS\\Start Menu\\Programs\\VQUSB Utility\\Installation Guide.lnk");
  ASSERT_TRUE(guide);
  EXPECT_EQ(guide->target, "C:\\Program Files\\VQUSB\\EWIN98.htm");
}

TEST_F(Installer, WindowsMeWithoutThePackageInfEndsWithAnError) {
  Machine(kWinMe, kEnglish, "", {"SETUP/smclib/SCBASE.INF"});
  Create();
  Run("click lblYes\nwait 1500\nclick YesBtn\n");
  const std::vector<std::string> dialogs = Dialogs();
  ASSERT_EQ(dialogs.size(), 2u) << ::testing::PrintToString(dialogs);
  EXPECT_EQ(dialogs[0], "messagebox|Error|Fail tp Copy File to C:\\WINDOWS\\scbase");
  EXPECT_TRUE(vqwin::StartedPrograms().empty());
  EXPECT_TRUE(Application->Terminated);
  EXPECT_EQ(vqwin::RestartRequests(), 0);
}

TEST_F(Installer, WindowsNt4WholeInstallation) {
  Machine(kNt4, kTaiwan);
  Create();
  const std::string out = Run(kAcceptAndRestart);

  for (const char* path : {"C:\\WINNT\\system32\\drivers\\smclib.sys", "C:\\WINNT\\System32\\advpack.dll",
                           "C:\\WINNT\\system32\\drivers\\vqusb.sys", "C:\\WINNT\\system32\\drivers\\wdusbd.sys",
                           "C:\\WINNT\\system32\\drivers\\windrvr.sys", "C:\\WINNT\\inf\\vqusbunst.inf",
                           "C:\\Program Files\\VQUSB\\vqdiag.exe", "C:\\Program Files\\VQUSB\\CWIN98.htm",
                           "C:\\Program Files\\VQUSB\\CWIN98.files\\image001.png"})
    EXPECT_TRUE(Exists(path)) << path;
  EXPECT_EQ(Content("C:\\WINNT\\system32\\drivers\\vqusb.sys"), Content("D:\\SETUP\\drivers\\winnt4\\vqusb.sys"));
  EXPECT_FALSE(Exists("C:\\WINNT\\inf\\VQUSB.inf"));
  EXPECT_FALSE(Exists("C:\\WINNT\\scbase"));

  const struct {
    const char *key;
    DWORD start;
    const char *imagePath, *displayName, *group;
  } services[] = {
      {"Smclib", 2, nullptr, "Smardcard Library", "Extended base"},
      {"WDUSBD", 1, nullptr, "wdusbd", "Extended base"},
      {"WINDRIVER", 1, "\\SystemRoot\\System32\\Drivers\\windrvr.sys", "WinDriver", "Extended base"},
      {"VQUSB", 2, nullptr, "VQUSB PC/SC Smart Card Reader Driver", "Smart Card Reader"},
  };
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  ASSERT_NE(manager, nullptr);
  for (const auto& s : services) {
    const std::string key = std::string("SYSTEM\\CurrentControlSet\\Services\\") + s.key;
    EXPECT_EQ(RegDword(key, "Start"), s.start) << s.key;
    EXPECT_EQ(RegDword(key, "Type"), 1u) << s.key;
    EXPECT_EQ(RegDword(key, "ErrorControl"), 1u) << s.key;
    EXPECT_EQ(RegString(key, "ImagePath"), s.imagePath ? std::optional<std::string>(s.imagePath) : std::nullopt);
    EXPECT_EQ(RegString(key, "DisplayName"), s.displayName) << s.key;
    EXPECT_EQ(RegString(key, "Group"), s.group) << s.key;
    SC_HANDLE service = OpenServiceA(manager, s.key, SERVICE_QUERY_STATUS);
    EXPECT_NE(service, nullptr) << s.key;
    if (service) CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  EXPECT_EQ(RegString("SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\VQUSB", "EventMessageFile"),
            "C:\\WINNT\\System32\\drivers\\vqusb.sys");
  EXPECT_EQ(RegDword("SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\VQUSB", "TypesSupported"), 7u);
  const std::string uninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VQUSB";
  EXPECT_EQ(RegString(uninstall, "UninstallString"),
            "RunDll32 advpack.dll,LaunchINFSection C:\\WINNT\\inf\\vqusbunst.inf, DefaultUninstall.NT");
  EXPECT_EQ(RegString(uninstall, "DisplayName"), "VQUSB PC/SC Smart Card Reader Driver");

  // Only the guide's shortcut, in the Chinese guide page.
  const std::string menu = "C:\\WINNT\\Profiles\\User\\Start Menu\\Programs\\VQUSB Utility\\";
  const auto guide = vqwin::ReadShellLink(menu + "Installation Guide.lnk");
  ASSERT_TRUE(guide);
  EXPECT_EQ(guide->target, "C:\\Program Files\\VQUSB\\CWIN98.htm");
  EXPECT_FALSE(Exists(menu + "VQUSB Diagnostics.lnk"));
  EXPECT_FALSE(Exists(menu + "Uninstall VQUSB Reader.lnk"));

  const std::vector<vqwin::StartedProgram> started = vqwin::StartedPrograms();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].file + " " + started[0].parameters,
            "C:\\WINNT\\system32\\rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 .\\smclib\\scbase.inf");
  EXPECT_EQ(RegString("SYSTEM\\CurrentControlSet\\Services\\SCardSvr", "ObjectName"), "LocalSystem");

  // The notice dialog after the package registered, before the restart prompt.
  const std::vector<std::string> dialogs = Dialogs();
  ASSERT_EQ(dialogs.size(), 3u) << out;
  EXPECT_EQ(dialogs[0], "modalform|Microsoft Smart Card Base Components|LicenseForm");
  EXPECT_EQ(dialogs[1], "modalform|注意|DialogForm");
  EXPECT_EQ(dialogs[2].rfind("messagebox|System Settings Change|", 0), 0u);
  EXPECT_EQ(Utf8(DialogForm->Label1->Caption), "驅動程式安裝完成!");
  EXPECT_EQ(SetupForm->ProgressBar1->Position, 3);
  EXPECT_EQ(vqwin::RestartRequests(), 1);
}

TEST_F(Installer, ExistingUninstallEntryIsRewritten) {
  Registry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VQUSB]\n"
           "\"UninstallString\"=\"old\"\n\"DisplayName\"=\"old\"\n\"Other\"=\"kept\"\n");
  Machine(kNt4);
  Create();
  SetupForm->lblYesClick(SetupForm->lblYes);
  const std::string uninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VQUSB";
  EXPECT_EQ(RegString(uninstall, "DisplayName"), "VQUSB PC/SC Smart Card Reader Driver");
  EXPECT_EQ(RegString(uninstall, "Other"), "kept");
  EXPECT_TRUE(SetupForm->lblYes->Enabled);
  EXPECT_TRUE(SetupForm->DelayTimer->Enabled);
}

}  // namespace
}  // namespace setuptest
