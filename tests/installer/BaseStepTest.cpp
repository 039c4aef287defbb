// The base components step: the agreement page's Accept and Reject, the
// wait for the package's registry marker, the notice dialog.
#include "InstallerFixture.h"

#include <vqvcl/Input.h>
#include <vqwin/Restarts.h>
#include <vqwin/Started.h>

namespace setuptest {
namespace {

const char kRunServices[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices";
const char kRun[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kScardSvr[] = "SYSTEM\\CurrentControlSet\\Services\\SCardSvr";
// The package never registers: only the test's values count.
const char kSilentPackage[] = "[shell]\ninf_result = \"nothing\"\n";

struct MarkerCase {
  const char* name;
  std::string os;
  const char* key;    // where the value is
  const char* value;  // its name
  const char* data;
  bool ends;          // the wait ends (restart prompt)
};

void PrintTo(const MarkerCase& c, std::ostream* os) { *os << c.name; }

class Marker : public Installer, public ::testing::WithParamInterface<MarkerCase> {};

TEST_P(Marker, EndsTheWaitOrNot) {
  const MarkerCase& c = GetParam();
  Machine(c.os, kEnglish, kSilentPackage);
  Create();
  machine().registry().SetString(std::string("HKEY_LOCAL_MACHINE\\") + c.key, c.value, c.data);
  LicenseForm->CheckTimer->Enabled = true;
  LicenseForm->CheckTimerTimer(LicenseForm->CheckTimer);
  const std::vector<std::string> dialogs = Dialogs();
  EXPECT_EQ(Application->Terminated, c.ends);
  EXPECT_EQ(LicenseForm->CheckTimer->Enabled, !c.ends);
  if (!c.ends) {
    EXPECT_TRUE(dialogs.empty()) << ::testing::PrintToString(dialogs);
  } else {
    ASSERT_FALSE(dialogs.empty());
    EXPECT_EQ(dialogs.back().rfind("messagebox|System Settings Change|", 0), 0u);
    EXPECT_EQ(vcl::CurrentDialogScript().Records().back().owner, "SetupForm");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, Marker,
    ::testing::Values(
        MarkerCase{"SystemFolderAnyCase", kWin98, kRunServices, "SCardSvr", "c:\\windows\\system\\SCARDSVR.exe", true},
        MarkerCase{"OtherPathWaits", kWin98, kRunServices, "SCardSvr", "C:\\OTHER\\SCardSvr.exe", false},
        MarkerCase{"RunDoesNotCount", kWin98, kRun, "SCardSvr", "C:\\WINDOWS\\SYSTEM\\SCardSvr.exe", false},
        MarkerCase{"MeToo", kWinMe, kRunServices, "SCardSvr", "C:\\WINDOWS\\SYSTEM\\SCardSvr.exe", true},
        MarkerCase{"Nt4AnyObjectName", kNt4, kScardSvr, "ObjectName", "whatever", true},
        MarkerCase{"Nt4OtherValueWaits", kNt4, kScardSvr, "ImagePath", "x", false}),
    [](const auto& info) { return std::string(info.param.name); });

// Accept clears the marker an earlier installation left, so that only the
// package's own registration ends the wait: in RunServices (and Run) on
// Windows 98 and ME, the service's ObjectName on NT 4.0, each leaving the
// other family's values alone.
struct AcceptCase {
  const char* name;
  std::string os;
  bool nineX;
};

void PrintTo(const AcceptCase& c, std::ostream* os) { *os << c.name; }

class AcceptMarkers : public Installer, public ::testing::WithParamInterface<AcceptCase> {};

TEST_P(AcceptMarkers, EarlierMarkersClearedSoOnlyThePackageEndsTheWait) {
  const bool nineX = GetParam().nineX;
  Registry(std::string("[HKEY_LOCAL_MACHINE\\") + kRunServices +
           "]\n\"SCardSvr\"=\"C:\\\\WINDOWS\\\\SYSTEM\\\\SCardSvr.exe\"\n\"Vqscmon\"=\"x\"\n");
  Registry(std::string("[HKEY_LOCAL_MACHINE\\") + kRun + "]\n\"SCardSvr\"=\"y\"\n");
  Registry(std::string("[HKEY_LOCAL_MACHINE\\") + kScardSvr + "]\n\"ObjectName\"=\"LocalSystem\"\n");
  Machine(GetParam().os, kEnglish, kSilentPackage);
  Create();
  Run("click lblYes\nwait 1500\nkey LicenseForm a\nwait 60000\n");
  using Value = std::optional<std::string>;
  const Value gone;
  EXPECT_EQ(RegString(kRunServices, "SCardSvr"), nineX ? gone : Value("C:\\WINDOWS\\SYSTEM\\SCardSvr.exe"));
  EXPECT_EQ(RegString(kRunServices, "Vqscmon"), nineX ? gone : Value("x"));
  EXPECT_EQ(RegString(kRun, "SCardSvr"), nineX ? gone : Value("y"));
  EXPECT_EQ(RegString(kRun, "Vqscmon"), nineX ? Value("C:\\WINDOWS\\SYSTEM\\Vqscmon.exe") : gone);
  EXPECT_EQ(RegString(kScardSvr, "ObjectName"), nineX ? Value("LocalSystem") : gone);
  EXPECT_EQ(vqwin::StartedPrograms().size(), 1u);
  // Still waiting a minute later: no time limit.
  EXPECT_TRUE(LicenseForm->CheckTimer->Enabled);
  EXPECT_FALSE(Application->Terminated);
  EXPECT_FALSE(SetupForm->lblYes->Enabled);
  EXPECT_EQ(vqwin::RestartRequests(), 0);
}

INSTANTIATE_TEST_SUITE_P(Windows, AcceptMarkers,
                         ::testing::Values(AcceptCase{"Win98", kWin98, true}, AcceptCase{"WinMe", kWinMe, true},
                                           AcceptCase{"Nt4", kNt4, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Installer, PackageRegistersAfterTheMachinesDelay) {
  Machine(kWin98, kEnglish, "[shell]\ninf_delay_ms = 5000\n");
  Create();
  LicenseForm->YesBtnClick(LicenseForm->YesBtn);
  Sleep(4999);
  LicenseForm->CheckTimerTimer(LicenseForm->CheckTimer);
  EXPECT_FALSE(Application->Terminated);
  EXPECT_FALSE(Exists("C:\\WINDOWS\\SYSTEM\\SCardSvr.exe"));
  Sleep(1);
  LicenseForm->CheckTimerTimer(LicenseForm->CheckTimer);
  EXPECT_TRUE(Application->Terminated);
  EXPECT_TRUE(Exists("C:\\WINDOWS\\SYSTEM\\SCardSvr.exe"));
  EXPECT_TRUE(Exists("C:\\WINDOWS\\SYSTEM\\WinSCard.dll"));
}

TEST_F(Installer, MissingInfInstallerLeavesTheInstallerWaiting) {
  Machine(kWin98);
  Create();
  ASSERT_TRUE(DeleteFileA("C:\\WINDOWS\\rundll.exe"));
  LicenseForm->YesBtnClick(LicenseForm->YesBtn);
  Sleep(60000);
  LicenseForm->CheckTimerTimer(LicenseForm->CheckTimer);
  EXPECT_TRUE(vqwin::StartedPrograms().empty());
  EXPECT_TRUE(LicenseForm->CheckTimer->Enabled);
  EXPECT_FALSE(Application->Terminated);
}

TEST_F(Installer, MePackageFolderPastItsBufferCopiesNothingAndFails) {
  // 253 characters: the Windows folder fits its buffers, "\\scbase" after it does not.
  const std::string windows = "C:\\" + std::string(125, 'A') + "\\" + std::string(124, 'B');
  WindowsDir(windows);
  Machine(kWinMe);
  Create();
  LicenseForm->YesBtnClick(LicenseForm->YesBtn);
  ASSERT_EQ(Dialogs().size(), 1u);
  EXPECT_EQ(Dialogs()[0], "messagebox|Error|Fail tp Copy File to " + windows + "\\scbase");
  EXPECT_EQ(vcl::CurrentDialogScript().Records()[0].owner, "LicenseForm");
  EXPECT_TRUE(Application->Terminated);
  EXPECT_TRUE(vqwin::StartedPrograms().empty());
  // Nothing of the package lands in the current drive's root.
  for (const char* path : {"D:\\SCBASE.INF", "D:\\SCardSvr.exe", "D:\\license.txt"})
    EXPECT_FALSE(Exists(path)) << path;
}

TEST_F(Installer, Nt4AcceptDeletesTheServicesObjectName) {
  Registry(std::string("[HKEY_LOCAL_MACHINE\\") + kScardSvr + "]\n\"ObjectName\"=\"LocalSystem\"\n");
  Machine(kNt4, kEnglish, kSilentPackage);
  Create();
  // The NT 4.0 flow leaves Yes enabled; Accept turns it off.
  SetupForm->lblYesClick(SetupForm->lblYes);
  ASSERT_TRUE(SetupForm->lblYes->Enabled);
  LicenseForm->YesBtnClick(LicenseForm->YesBtn);
  EXPECT_FALSE(SetupForm->lblYes->Enabled);
  EXPECT_EQ(RegString(kScardSvr, "ObjectName"), std::nullopt);
  EXPECT_TRUE(LicenseForm->CheckTimer->Enabled);
  EXPECT_EQ(LicenseForm->ModalResult, mrOk);
}

struct PageCase {
  const char* name;
  std::string locale;
  unsigned codePage;
  const char *notice, *accept, *reject;
};

void PrintTo(const PageCase& c, std::ostream* os) { *os << c.name; }

class AgreementPage : public Installer, public ::testing::WithParamInterface<PageCase> {};

// The texts as the page shows them, byte for byte in the system's code page.
TEST_P(AgreementPage, TextsByteForByte) {
  const PageCase& c = GetParam();
  Machine(kWin98, c.locale);
  Create();
  Run("click lblYes\nwait 1500\nclick NoBtn\n");
  auto bytes = [&](const char* utf8) { return vqwin::FromUtf8(utf8, c.codePage); };
  EXPECT_EQ(std::string(LicenseForm->Memo3->Lines->Get(0).c_str()), bytes(c.notice));
  EXPECT_EQ(LicenseForm->Memo3->Lines->Count, 1);
  EXPECT_EQ(std::string(AnsiString(LicenseForm->YesBtn->Caption).c_str()), bytes(c.accept));
  EXPECT_EQ(std::string(AnsiString(LicenseForm->NoBtn->Caption).c_str()), bytes(c.reject));
  EXPECT_EQ(std::string(AnsiString(LicenseForm->Caption).c_str()), "Microsoft Smart Card Base Components");
  const std::vector<std::string> instructions = {
      "Please read the following license agreement. Press the PAGE DOWN key ",
      "to see the rest of the agreement.",
      "Do you accept all of the terms of the preceding License Agreement? If you",
      "choose No, Install will close. To install you must accept this agreement.",
  };
  std::vector<std::string> shown;
  for (TMemo* memo : {LicenseForm->Memo1, LicenseForm->Memo2})
    for (int i = 0; i < memo->Lines->Count; ++i) shown.push_back(memo->Lines->Get(i).c_str());
  EXPECT_EQ(shown, instructions);
  EXPECT_EQ(LicenseForm->Memo3->Font->Color, clRed);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, AgreementPage,
    ::testing::Values(
        PageCase{"English", kEnglish, 1252,
                 "Your system needs to install the Microsoft Smart Card Base Components; otherwise, the reader will "
                 "not work probably.",
                 "&Accept", "&Reject"},
        // The quotes around the button's name are ASCII quotation marks.
        PageCase{"Chinese", kTaiwan, 950,
                 "你的系統需要額外安裝微軟公司智慧卡基礎元件，讀卡機才能正常工作。請閱讀下列微軟公司授權同意書，"
                 "若要使用讀卡機，請按\"接受\"按鈕。",
                 "接受(&A)", "不接受(&R)"},
        PageCase{"KoreanInEnglish", kKorean, 949,
                 "Your system needs to install the Microsoft Smart Card Base Components; otherwise, the reader will "
                 "not work probably.",
                 "&Accept", "&Reject"}),
    [](const auto& info) { return std::string(info.param.name); });

struct RejectCase {
  const char* name;
  std::string locale;
  const char* action;
  const char *text, *caption;
};

void PrintTo(const RejectCase& c, std::ostream* os) { *os << c.name; }

class Reject : public Installer, public ::testing::WithParamInterface<RejectCase> {};

TEST_P(Reject, WarnsAndEndsLeavingTheDriverInPlace) {
  const RejectCase& c = GetParam();
  Machine(kWin98, c.locale);
  Create();
  Run(std::string("click lblYes\nwait 1500\n") + c.action + "\n");
  ASSERT_GE(vcl::CurrentDialogScript().Records().size(), 1u);
  const vcl::DialogRecord& box = vcl::CurrentDialogScript().Records()[0];
  EXPECT_EQ(box.text, c.text);
  EXPECT_EQ(box.caption, c.caption);
  EXPECT_EQ(box.type, (unsigned)MB_ICONWARNING);
  EXPECT_EQ(box.owner, "SetupForm");
  EXPECT_TRUE(Application->Terminated);
  EXPECT_TRUE(vqwin::StartedPrograms().empty());
  EXPECT_TRUE(Exists("C:\\WINDOWS\\system32\\drivers\\VQUSB.sys"));
  EXPECT_TRUE(RegKeyExists("Software\\Tervane\\VqReader\\VQUSB"));
}

INSTANTIATE_TEST_SUITE_P(
    Languages, Reject,
    ::testing::Values(RejectCase{"EnglishButton", kEnglish, "click NoBtn",
                                 "Smart Card Reader Driver Installed Failed!", "Notice"},
                      RejectCase{"ChineseKey", kTaiwan, "key LicenseForm R", "智慧卡讀卡機安裝失敗!", "注意"}),
    [](const auto& info) { return std::string(info.param.name); });

struct NoticeCase {
  const char* name;
  std::string locale;
  int width, buttonLeft;
  const char *caption, *line1, *line2, *line3;
};

void PrintTo(const NoticeCase& c, std::ostream* os) { *os << c.name; }

class Notice : public Installer, public ::testing::WithParamInterface<NoticeCase> {};

TEST_P(Notice, InTheSystemsLanguage) {
  const NoticeCase& c = GetParam();
  Machine(kNt4, c.locale);
  Create();
  std::ostringstream out;
  vcl::Session session("click Button1\n", out);
  session.Attach();
  EXPECT_EQ(DialogForm->ShowModal(), mrOk);
  EXPECT_EQ(DialogForm->Width, c.width);
  EXPECT_EQ(DialogForm->Button1->Left, c.buttonLeft);
  EXPECT_EQ(DialogForm->Button1->Top, DialogForm->Panel1->Height - 41 - 4);
  EXPECT_EQ(DialogForm->Left, (Screen->Width - c.width) / 2);
  EXPECT_EQ(Utf8(DialogForm->Caption), c.caption);
  EXPECT_EQ(Utf8(DialogForm->Label1->Caption), c.line1);
  EXPECT_EQ(Utf8(DialogForm->Label2->Caption), c.line2);
  EXPECT_EQ(Utf8(DialogForm->Label3->Caption), c.line3);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, Notice,
    ::testing::Values(
        NoticeCase{"English", kEnglish, 658, 187, "Notice", "Drivers Installed Completely!",
                   "You must restart this computer for taking effect.",
                   "Please plug-in the smart card reader before the system restarting."},
        NoticeCase{"Chinese", kTaiwan, 658, 187, "注意", "驅動程式安裝完成!", "您必須重新開機方能使用讀卡機",
                   "請在系統重新啟動之前先將讀卡機接頭連結到電腦上"},
        NoticeCase{"KoreanWider", kKorean, 798, 268, "주의", "드라이브 설치가 완성되었습니다!",
                   "컴퓨터를 재부팅 하셔야만 장치가 올바로 작동합니다.",
                   "컴퓨터를 재부팅하시기전에 스마트 카드리더의 연결 케이블을 컴퓨터에 연결하십시요."},
        NoticeCase{"KoreanSouthSubLanguage", "[locale]\nlang_id = 0x0812\ncode_page = 949\n", 798, 268, "주의",
                   "드라이브 설치가 완성되었습니다!", "컴퓨터를 재부팅 하셔야만 장치가 올바로 작동합니다.",
                   "컴퓨터를 재부팅하시기전에 스마트 카드리더의 연결 케이블을 컴퓨터에 연결하십시요."}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace setuptest
