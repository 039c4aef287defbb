// The window: design, language, opening lines, numbered messages and the
// small handlers.
#include "ServiceWindow.h"

#include <vqvcl/Input.h>
#include <vqwin/MessageTexts.h>
#include <vqwin/Registry.h>

#include "Public.h"

#include <ostream>

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
    vqwin::VersionQuery query = vqwin::VersionQuery::Extended;
  } const cases[] = {{0, 808}, {9, 505}, {6, 505}, {5, 808},
                     // No version answer: processor code 22 keeps the form's own
                     // width, its 800-pixel client area and the dialog border.
                     {9, 806, vqwin::VersionQuery::None}};
  for (const auto& c : cases) {
    vcl::ResetApplication();
    spec().os.architecture = c.architecture;
    spec().os.versionQuery = c.query;
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

struct Font {
  std::string name;
  int size;
  bool bold;
  bool operator==(const Font& o) const { return name == o.name && size == o.size && bold == o.bold; }
};
std::ostream& operator<<(std::ostream& os, const Font& f) {
  return os << f.name << " " << f.size << (f.bold ? " bold" : "");
}
Font FontOf(TFont* font) {
  const AnsiString name = font->Name;
  return {name.c_str(), font->Size, font->Style.Contains(fsBold)};
}

// Every caption, radio item and font that the language sets.
TEST_F(Window, EveryCaptionItemAndFontByLanguage) {
  struct {
    WORD langId;
    UINT codePage;
    const char* caption;
    std::vector<std::string> captions;  // the twelve controls, in the order below
    std::vector<std::string> status, type;
    Font label, combo;
  } const cases[] = {
      {0x0409, 1252, "Smart Card Service Control Tool - ",
       {"Display Name", "Service Name", "Auto Refresh", "ms", "Refresh", "Recommend", "Staatus", "Type",
        "Information", "Apply", "Cancel", "Process List"},
       {"START", "STOP", "SUSPEND", "RESUME"},
       {"AUTO", "MANUAL", "DISABLE"},
       {"Arial", 10, true},
       {"Verdana", 10, true}},
      {0x0404, 950, "智慧卡服務控制工具 - ",
       {"顯示名稱", "服務名稱", "自動更新", "毫秒", "立即更新", "建議設定", "狀態", "啟動類型", "訊息", "套用", "取消",
        "處理程序"},
       {"啟動", "停止", "暫停", "繼續"},
       {"自動", "手動", "停用"},
       {"Verdana", 10, false},
       {"Verdana", 10, false}},
  };
  for (const auto& c : cases) {
    vcl::ResetApplication();
    spec().locale.langId = c.langId;
    spec().locale.ansiCodePage = c.codePage;
    Open();
    SCOPED_TRACE(c.langId);
    EXPECT_EQ(Utf8(Str(frmSCM->Caption)), c.caption + Str(GetOSDisplayString()) + " ");
    const AnsiString captions[] = {
        frmSCM->lbl_ServiceDisplayName->Caption, frmSCM->lbl_ServiceProcessName->Caption,
        frmSCM->chkbox_AutoRefresh->Caption,     frmSCM->lbl_millsec->Caption,
        frmSCM->bbtn_Refresh->Caption,           frmSCM->bbtn_Recommend->Caption,
        frmSCM->rdogp_Status->Caption,           frmSCM->rdogp_Type->Caption,
        frmSCM->lbl_Info->Caption,               frmSCM->bbtn_Apply->Caption,
        frmSCM->bbtn_Cancel->Caption,            frmSCM->lbl_ProcessList->Caption};
    std::vector<std::string> shown;
    for (const AnsiString& caption : captions) shown.push_back(Utf8(Str(caption)));
    EXPECT_EQ(shown, c.captions);
    std::vector<std::string> status, type;
    for (int i = 0; i < frmSCM->rdogp_Status->Items->Count; ++i)
      status.push_back(Utf8(Str(frmSCM->rdogp_Status->Items->Get(i))));
    for (int i = 0; i < frmSCM->rdogp_Type->Items->Count; ++i)
      type.push_back(Utf8(Str(frmSCM->rdogp_Type->Items->Get(i))));
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(type, c.type);
    TFont* labels[] = {frmSCM->lbl_ServiceDisplayName->Font, frmSCM->lbl_ServiceProcessName->Font,
                       frmSCM->chkbox_AutoRefresh->Font,     frmSCM->lbl_millsec->Font,
                       frmSCM->bbtn_Refresh->Font,           frmSCM->bbtn_Recommend->Font,
                       frmSCM->lbl_ProcessList->Font,        frmSCM->rdogp_Status->Font,
                       frmSCM->rdogp_Type->Font,             frmSCM->lbl_Info->Font,
                       frmSCM->bbtn_Apply->Font,             frmSCM->bbtn_Cancel->Font};
    for (TFont* font : labels) EXPECT_EQ(FontOf(font), c.label);
    EXPECT_EQ(FontOf(frmSCM->cbbox_ServiceDisplayName->Font), c.combo);
    EXPECT_EQ(FontOf(frmSCM->cbbox_ServiceProcessName->Font), c.combo);
    EXPECT_EQ(FontOf(frmSCM->rchedt_Info->Font), (Font{"Verdana", 11, false}));
    // Colours and character sets stay as the design has them.
    EXPECT_EQ(frmSCM->cbbox_ServiceDisplayName->Font->Color, static_cast<TColor>(kBlue));
    EXPECT_EQ(frmSCM->cbbox_ServiceProcessName->Font->Color, static_cast<TColor>(0xFF00FF));
    EXPECT_EQ(frmSCM->rchedt_Info->Font->Charset, CHINESEBIG5_CHARSET);
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

// The seventeen messages in both languages, with the system's text for
// the failures.
TEST_F(Window, EveryNumberedMessageInBothLanguages) {
  const char* const english[] = {
      "-> Open service control manager failed (Access is denied).",
      "-> Open service failed (Access is denied).",
      "-> Query service status failed (Access is denied).",
      "-> Change service config failed (Access is denied).",
      "-> Timeout waiting for service to stop.",
      "-> Start service failed (Access is denied).",
      "-> Set start type failed (Access is denied).",
      "-> Stop service failed (Access is denied).",
      "-> Get start type failed (Access is denied).",
      "-> Service is running.",
      "-> Service is not running.",
      "-> Cannot start the service because it is already running.",
      "-> Service start successfully.",
      "-> Cannot stop the service because it is already stopped.",
      "-> Service stop successfully.",
      "-> Service enable successfully.",
      "-> Set start type successfully.",
  };
  const char* const chinese[] = {
      "-> 無法開啟服務控制管理員 (Access is denied)",
      "-> 無法開啟服務 (Access is denied)",
      "-> 無法取得服務狀態 (Access is denied)",
      "-> 變更服務設定失敗 (Access is denied)",
      "-> 等候服務狀態逾時",
      "-> 啟動服務失敗 (Access is denied)",
      "-> 設定啟動類型失敗 (Access is denied)",
      "-> 停止服務失敗 (Access is denied)",
      "-> 讀取啟動類型失敗 (Access is denied)",
      "-> 服務已啟動",
      "-> 服務尚未啟動",
      "-> 無法啟動服務，因為服務已經啟動",
      "-> 啟動服務成功",
      "-> 無法停止服務，因為服務已經停止",
      "-> 停止服務成功",
      "-> 啟用服務成功",
      "-> 設定啟動類型成功",
  };
  for (const bool inChinese : {false, true}) {
    SCOPED_TRACE(inChinese ? "Chinese" : "English");
    vcl::ResetApplication();
    if (inChinese) Taiwanese();
    Create();
    std::vector<InfoLine> expected;
    for (int code = 1; code <= 17; ++code) {
      SetLastError(ERROR_ACCESS_DENIED);
      frmSCM->ShowServiceMessage(static_cast<unsigned char>(code));
      expected.push_back({(inChinese ? chinese : english)[code - 1], code > 9 ? kBlue : kRed});
    }
    EXPECT_EQ(Info(), expected);
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
