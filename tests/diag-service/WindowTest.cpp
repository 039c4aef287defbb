// The window: design, language, opening lines, numbered messages and the
// small handlers.
#include "ServiceWindow.h"

#include <vqvcl/Input.h>
#include <vqwin/MessageTexts.h>
#include <vqwin/Registry.h>

namespace scmtest {
namespace {

using Window = ServiceWindow;

const std::vector<InfoLine> kPerfect = {{"-> Smart Card service status works perfectly.", kGreen},
                                        {"-> You don't need to set this service", kGreen},
                                        {"-> Press [Cancel] to close windows", kGreen}};

std::vector<bool> ServiceControlsEnabled() {
  TControl* controls[] = {frmSCM->cbbox_ServiceDisplayName, frmSCM->cbbox_ServiceProcessName,
                          frmSCM->rdogp_Status,             frmSCM->rdogp_Type,
                          frmSCM->chkbox_AutoRefresh,       frmSCM->edt_RefreshTime,
                          frmSCM->bbtn_Recommend,           frmSCM->bbtn_Apply,
                          frmSCM->bbtn_Refresh};
  std::vector<bool> out;
  for (TControl* c : controls) out.push_back(c->Enabled);
  return out;
}

TEST_F(Window, DesignValues) {
  Create();
  EXPECT_EQ(frmSCM->BorderStyle, bsDialog);
  EXPECT_EQ(frmSCM->ClientHeight, 438);
  EXPECT_EQ(frmSCM->Width, 808);
  EXPECT_EQ(frmSCM->Left, (1024 - 808) / 2);
  EXPECT_EQ(frmSCM->Top, (768 - frmSCM->Height) / 2);
  EXPECT_FALSE(frmSCM->Visible);
  EXPECT_FALSE(frmSCM->tmrStatus->Enabled);
  EXPECT_EQ(frmSCM->tmrStatus->Interval, 5000u);
  EXPECT_FALSE(frmSCM->tmrAutoProcess->Enabled);
  EXPECT_EQ(Str(frmSCM->edt_RefreshTime->Text), "5000");
  EXPECT_FALSE(frmSCM->edt_RefreshTime->Enabled);
  EXPECT_TRUE(frmSCM->bbtn_Apply->Default);
  EXPECT_TRUE(frmSCM->bbtn_Cancel->Cancel);
  EXPECT_EQ(frmSCM->lstview_Process->Columns->Count, 2);
  EXPECT_EQ(frmSCM->lstview_Process->Column[0]->Width, 50);
  EXPECT_TRUE(frmSCM->lstview_Process->MultiSelect);
  EXPECT_FALSE(frmSCM->lstview_Process->HideSelection);
  EXPECT_TRUE(frmSCM->rchedt_Info->ReadOnly);
  EXPECT_EQ(frmSCM->rchedt_Info->Lines->Count, 0);
  // The service's name selects the same row in both lists.
  EXPECT_EQ(Str(frmSCM->cbbox_ServiceProcessName->Text), "SCardSvr");
  EXPECT_EQ(Str(frmSCM->cbbox_ServiceDisplayName->Text), "Smart Card");
  EXPECT_EQ(frmSCM->cbbox_ServiceDisplayName->Items->Count, frmSCM->cbbox_ServiceProcessName->Items->Count);
  EXPECT_EQ(Str(Scm_main::CurrentServiceName), "SCardSvr");
  EXPECT_TRUE(Scm_main::ServiceFound);
}

TEST_F(Window, WidthFollowsTheProcessor) {
  struct {
    WORD architecture;  // native PROCESSOR_ARCHITECTURE_*
    int width;
  } const cases[] = {{0, 808}, {9, 505}, {6, 505}, {5, 808}};
  for (const auto& c : cases) {
    vcl::ResetApplication();
    spec().os.architecture = c.architecture;
    Create();
    EXPECT_EQ(frmSCM->Width, c.width) << c.architecture;
    EXPECT_EQ(frmSCM->Left, (1024 - c.width) / 2) << c.architecture;
  }
}

TEST_F(Window, CentringOnASmallScreenGoesNegative) {
  spec().screenWidth = 640;
  spec().screenHeight = 400;
  Create();
  EXPECT_EQ(frmSCM->Left, (640 - 808) / 2);
  EXPECT_EQ(frmSCM->Top, (400 - frmSCM->Height) / 2);
  EXPECT_LT(frmSCM->Top, 0);
}

TEST_F(Window, LanguagesAndTheDebugFields) {
  struct {
    WORD langId;
    UINT codePage;
    bool marker;
    const char* caption;  // UTF-8
    const char* status1;
    const char* apply;
    const char* debug;
  } const cases[] = {
      {0x0409, 1252, false, "Smart Card Service Control Tool - ", "STOP", "Apply", ""},
      {0x0409, 1252, true, "Smart Card Service Control Tool - ", "STOP", "Apply", "Lang : EN"},
      {0x0404, 950, true, "智慧卡服務控制工具 - ", "停止", "套用", "Lang : TC"},
      {0x0C04, 950, true, "Smart Card Service Control Tool - ", "STOP", "Apply", ""},
  };
  for (const auto& c : cases) {
    vcl::ResetApplication();
    spec().locale.langId = c.langId;
    spec().locale.ansiCodePage = c.codePage;
    if (c.marker) PutDebugMarker();
    Create();
    const std::string caption = Utf8(Str(frmSCM->Caption));
    EXPECT_EQ(caption.rfind(c.caption, 0), 0u) << caption;
    EXPECT_EQ(caption.back(), ' ');
    EXPECT_EQ(Utf8(Str(frmSCM->rdogp_Status->Items->Get(1))), c.status1);
    EXPECT_EQ(Utf8(Str(frmSCM->bbtn_Apply->Caption)), c.apply);
    EXPECT_EQ(frmSCM->edt_Debug->Visible, c.marker);
    EXPECT_EQ(frmSCM->edt_OS->Visible, c.marker);
    EXPECT_EQ(frmSCM->edt_TotalProcessCnt->Visible, c.marker);
    EXPECT_EQ(Str(frmSCM->edt_Debug->Text), c.debug);
    EXPECT_EQ(Str(frmSCM->edt_OS->Text), c.marker ? "OS : 9" : "");
    const bool chinese = c.langId == 0x0404;
    EXPECT_EQ(Str(frmSCM->bbtn_Apply->Font->Name), chinese ? "Verdana" : "Arial");
    EXPECT_EQ(frmSCM->bbtn_Apply->Font->Style.Contains(fsBold), !chinese);
    EXPECT_EQ(frmSCM->bbtn_Apply->Font->Size, 10);
    EXPECT_EQ(Str(frmSCM->rchedt_Info->Font->Name), "Verdana");
    EXPECT_EQ(frmSCM->rchedt_Info->Font->Size, 11);
  }
}

TEST_F(Window, OpeningLinesByWhatWasFound) {
  enum Setup { InOrder, NoService, LowerCaseOnly, Win98All, Win98NoCompanion };
  struct {
    const char* name;
    Setup setup;
    std::vector<InfoLine> lines;
    bool enabled;
  } const cases[] = {
      {"found, in order", InOrder, kPerfect, true},
      {"no service",
       NoService,
       {{"-> Smart Card service not found !", kRed},
        {"- Plz open windows : [Control Panel] - [Administrative Tools] - [Services].", kBlack},
        {"- Check if any service of [Smart Card] exists ?", kBlack},
        {"- If you have installed drivers successfully from CD setup,", kBlack},
        {"- for more details, just refers to [FAQ] function of self-testing tool.", kBlack}},
       false},
      {"only another letter case", LowerCaseOnly, {}, false},
      {"Windows 98, all three processes", Win98All, kPerfect, false},
      {"Windows 98 without a companion",
       Win98NoCompanion,
       {{"-> Some Smart Card service component not found !", kRed},
        {"- If you have installed drivers successfully from CD setup,", kBlack},
        {"- for more details, just refers to [FAQ] function of self-testing tool.", kBlack}},
       false},
  };
  const std::string services = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
  for (const auto& c : cases) {
    vcl::ResetApplication();
    if (c.setup == NoService || c.setup == LowerCaseOnly) {
      spec().services.clear();
      machine().registry().Find(services.substr(0, services.size() - 1))->RemoveChild("SCardSvr");
      if (c.setup == LowerCaseOnly) Service("scardsvr").values["state"] = std::string("running");
    }
    if (c.setup == Win98All || c.setup == Win98NoCompanion) {
      Use(System::Win98);
      AddProcess("SCARDSVR.EXE", 100).values["path"] = std::string("C:\\WINDOWS\\SYSTEM\\SCARDSVR.EXE");
      AddProcess("Vqscmon.exe", 104).values["path"] = std::string("C:\\Program Files\\VQUSB\\Vqscmon.exe");
      if (c.setup == Win98All) AddProcess("SVCWATCH.EXE", 108).values["path"] = std::string("SVCWATCH.EXE");
    }
    Open();
    std::vector<InfoLine> expected = c.lines;
    if (c.setup == LowerCaseOnly) expected = cases[1].lines;
    EXPECT_EQ(Info(), expected) << c.name;
    EXPECT_EQ(ServiceControlsEnabled(), std::vector<bool>(9, c.enabled)) << c.name;
    EXPECT_TRUE(frmSCM->bbtn_Cancel->Enabled) << c.name;
    EXPECT_EQ(Str(frmSCM->cbbox_ServiceProcessName->Text), "SCardSvr") << c.name;
    EXPECT_EQ(Str(frmSCM->cbbox_ServiceDisplayName->Text), "Smart Card") << c.name;
  }
}

TEST_F(Window, OpeningLinesInChinese) {
  Taiwanese();
  spec().services.clear();
  machine().registry().Find("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services")->RemoveChild("SCardSvr");
  Open();
  EXPECT_EQ(Info(), (std::vector<InfoLine>{{"-> 找不到智慧卡服務元件 !", kRed},
                                           {"- 請開啟 [控制台] - [系統管理工具] - [服務] 視窗，", kBlack},
                                           {"- 並檢查 [Smart Card] 服務元件是否存在 ?", kBlack},
                                           {"- 如果你已經完成驅動程式安裝，", kBlack},
                                           {"- 詳細解決方式請參照 [自我檢測程式] 之 [疑難排解] 功能。", kBlack}}));
}

TEST_F(Window, ShowingAgainReplacesTheLines) {
  Open();
  frmSCM->ShowServiceMessage(10);
  ASSERT_EQ(Info().size(), 4u);
  ASSERT_EQ(vcl::UserClick(frmSCM->bbtn_Cancel), "");
  EXPECT_FALSE(frmSCM->Visible);
  frmSCM->Visible = true;
  EXPECT_EQ(Info(), kPerfect);
}

TEST_F(Window, NumberedMessages) {
  vqwin::RegisterMessageText(0xE0001234, "Odd failure.  \r\n");
  struct {
    int code;
    DWORD lastError;
    bool chinese;
    InfoLine line;
  } const cases[] = {
      {0, 5, false, {"", kRed}},
      {1, 5, false, {"-> Open service control manager failed (Access is denied).", kRed}},
      {2, 1060, false, {"-> Open service failed (The specified service does not exist as an installed service).", kRed}},
      {4, 0xE0001234, false, {"-> Change service config failed (Odd failure).", kRed}},
      {5, 5, false, {"-> Timeout waiting for service to stop.", kRed}},
      {9, 0xE0009999, false, {"-> Get start type failed ().", kRed}},
      {10, 0, false, {"-> Service is running.", kBlue}},
      {17, 0, false, {"-> Set start type successfully.", kBlue}},
      {18, 0, false, {"", kBlue}},
      {2, 5, true, {"-> 無法開啟服務 (Access is denied)", kRed}},
      {4, 5, true, {"-> 變更服務設定失敗 (Access is denied)", kRed}},
      {16, 0, true, {"-> 啟用服務成功", kBlue}},
  };
  for (const auto& c : cases) {
    vcl::ResetApplication();
    if (c.chinese) Taiwanese();
    Create();
    SetLastError(c.lastError);
    frmSCM->ShowServiceMessage(static_cast<unsigned char>(c.code));
    EXPECT_EQ(Info(), std::vector<InfoLine>{c.line}) << c.code;
  }
}

TEST_F(Window, ComboBoxesFollowEachOther) {
  Open();
  TComboBox* display = frmSCM->cbbox_ServiceDisplayName;
  TComboBox* service = frmSCM->cbbox_ServiceProcessName;
  ASSERT_EQ(vcl::UserSelect(display, 2), "");
  EXPECT_EQ(service->ItemIndex, 2);
  EXPECT_EQ(Str(service->Text), "VQUSB");
  ASSERT_EQ(vcl::UserSelect(service, 1), "");
  EXPECT_EQ(display->ItemIndex, 1);
  EXPECT_EQ(Str(Scm_main::CurrentServiceName), "SCardSvr");  // taken at the next refresh
  display->ItemIndex = -1;
  frmSCM->cbbox_ServiceDisplayNameChange(display);
  EXPECT_EQ(service->ItemIndex, -1);
}

TEST_F(Window, KeysEscAndEnter) {
  Open();
  // Esc in the information box empties it and leaves the window open.
  ASSERT_EQ(vcl::UserKey(frmSCM->rchedt_Info, 'x'), "");
  EXPECT_EQ(Info().size(), 3u);
  ASSERT_EQ(vcl::UserKey(frmSCM->rchedt_Info, '\x1b'), "");
  EXPECT_TRUE(Info().empty());
  EXPECT_TRUE(frmSCM->Visible);
  // Enter elsewhere presses Apply (its dash line), Esc presses Cancel.
  ASSERT_EQ(vcl::UserKey(frmSCM->chkbox_AutoRefresh, '\r'), "");
  ASSERT_FALSE(Info().empty());
  EXPECT_EQ(Info().back(), (InfoLine{std::string(52, '-'), kBlack}));
  ASSERT_EQ(vcl::UserKey(frmSCM->chkbox_AutoRefresh, '\x1b'), "");
  EXPECT_FALSE(frmSCM->Visible);
}

}  // namespace
}  // namespace scmtest
