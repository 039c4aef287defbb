// The diagnostic window and the texts, fonts and captions of the program's
// windows by language; the layout, the marks, the pre-selection and the
// watchdog.
#include "DiagProgram.h"
#include "Public.h"
#include "ReaderModel.h"

#include <vqvcl/Input.h>
#include <vqwin/Clock.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using diagtest::DiagProgram;

struct Language {
  const char* label;
  WORD langId;
  UINT codePage;
  int textColumn;  // 0 English, 1 Traditional Chinese
};

class WindowLanguage : public DiagProgram, public ::testing::WithParamInterface<Language> {
 protected:
  void SetUpLanguage() {
    spec().locale.langId = GetParam().langId;
    spec().locale.ansiCodePage = GetParam().codePage;
    spec().locale.oemCodePage = GetParam().codePage == 950 ? 950 : 437;
  }
};

struct TextRow {
  std::function<AnsiString()> text;
  const char* english;
  const char* chinese;
};

TEST_P(WindowLanguage, TextsOfAllWindows) {
  SetUpLanguage();
  Create();
  const TextRow rows[] = {
      {[] { return SelfForm->Caption.get(); }, "Smart Card Reader Self Testing Program v2.2",
       "智慧卡讀卡機自我檢測程式 v2.2"},
      {[] { return SelfForm->bbtn_Check->Caption.get(); }, "&Diagnostic", "檢測(&D)"},
      {[] { return SelfForm->ExitBitBtn->Caption.get(); }, "E&xit", "離開(&x)"},
      {[] { return SelfForm->bbtn_ViewLog->Caption.get(); }, "&View Log", "檢視紀錄(&V)"},
      {[] { return SelfForm->bbtn_FAQ->Caption.get(); }, "&FAQ", "疑難排解(&Q)"},
      {[] { return SelfForm->bbtn_SCM->Caption.get(); }, "&Service Tool", "服務控制工具(&T)"},
      {[] { return SelfForm->AboutBitBtn->Caption.get(); }, "&About", "關於(&A)"},
      {[] { return SelfForm->lblCheckTitle->Caption.get(); }, "CHECKED ITEMS", "檢查項目"},
      {[] { return SelfForm->lblPass->Caption.get(); }, "PASSED", "通過"},
      {[] { return SelfForm->lblFail->Caption.get(); }, "FAILED", "失敗"},
      {[] { return SelfForm->cbobox_SelectReader->Text.get(); }, "Plz select a reader type",
       "請選擇讀卡機型號"},
      {[] { return LogForm->Caption.get(); }, "Diagnostic Result", "檢測結果"},
      {[] { return LogForm->bbtnSave->Caption.get(); }, "&Save", "儲存(&S)"},
      {[] { return LogForm->bbtnClose->Caption.get(); }, "&Close", "關閉(&C)"},
      {[] { return FrmAbout->Caption.get(); }, "About", "關於"},
  };
  for (const TextRow& row : rows) {
    const char* expected = GetParam().textColumn == 1 ? row.chinese : row.english;
    EXPECT_EQ(Str(row.text()), Ansi(expected)) << expected;
  }
  EXPECT_EQ(SelfForm->LanguageIndex, GetUILanguageCode());
}

TEST_P(WindowLanguage, FontsChosenWhenShown) {
  SetUpLanguage();
  Create();
  SelfForm->Show();
  const bool chinese = GetParam().textColumn == 1;
  TBitBtn* buttons[] = {SelfForm->bbtn_Check, SelfForm->bbtn_ViewLog, SelfForm->bbtn_FAQ,
                        SelfForm->bbtn_SCM,   SelfForm->ExitBitBtn,   LogForm->bbtnSave,
                        LogForm->bbtnClose};
  for (TBitBtn* button : buttons) {
    EXPECT_EQ(Str(button->Font->Name), chinese ? Ansi("新細明體") : "Verdana") << button->Name;
    EXPECT_EQ(button->Font->Size, chinese ? 11 : 10) << button->Name;
    EXPECT_EQ(button->Font->Style.get().Contains(fsBold), !chinese) << button->Name;
  }
  TComboBox* combo = SelfForm->cbobox_SelectReader;
  EXPECT_EQ(Str(combo->Font->Name), "Verdana");
  EXPECT_EQ(combo->Font->Size, 10);
  EXPECT_TRUE(combo->Font->Style.get().Empty());
  EXPECT_EQ(Str(SelfForm->pnl_Info->Font->Name), chinese ? Ansi("新細明體") : "Verdana");
  EXPECT_EQ(SelfForm->pnl_Info->Font->Size, 14);
  EXPECT_TRUE(SelfForm->bbtn_Check->Focused());
}

// The watchdog puts the whole no-response pair of the language into the
// result panel, once, at 10 000 ms of machine time.
TEST_P(WindowLanguage, WatchdogText) {
  SetUpLanguage();
  Create();
  SelfForm->Timer1->Enabled = true;
  const int paints = SelfForm->pnlResult->PaintCount();
  vqwin::CurrentClock().Sleep(9999);
  Application->ProcessMessages();
  EXPECT_EQ(Str(SelfForm->pnlResult->Caption), "");
  vqwin::CurrentClock().Sleep(1);
  Application->ProcessMessages();
  const char* expected = GetParam().textColumn == 1 ? "沒有回應! 請重新啟動系統"
                                                    : "No Response! Please reboot your system!";
  EXPECT_EQ(Str(SelfForm->pnlResult->Caption), Ansi(expected));
  EXPECT_GT(SelfForm->pnlResult->PaintCount(), paints);
  EXPECT_FALSE(SelfForm->Timer1->Enabled);
  EXPECT_EQ(SelfForm->Timer1->Interval, 10000u);
}

INSTANTIATE_TEST_SUITE_P(Languages, WindowLanguage,
                         ::testing::Values(Language{"English", 0x0409, 1252, 0},
                                           Language{"Taiwan", 0x0404, 950, 1},
                                           Language{"HongKong", 0x0C04, 950, 0},
                                           Language{"China", 0x0804, 936, 0},
                                           Language{"Unknown", 0x007F, 1252, 0}),
                         [](const ::testing::TestParamInfo<Language>& info) { return info.param.label; });

class MainWindow : public DiagProgram {};

TEST_F(MainWindow, TraditionalChineseTextsAreBig5Bytes) {
  Taiwanese();
  Create();
  // "通過" in code page 950.
  EXPECT_EQ(Str(SelfForm->lblPass->Caption), "\xB3\x71\xB9\x4C");
}

TEST_F(MainWindow, ReaderListAndDesignValues) {
  Create();
  TComboBox* combo = SelfForm->cbobox_SelectReader;
  ASSERT_EQ(combo->Items->Count, ReaderModelCount);
  const char* texts[] = {"CCID -480T/Nano S", "VQ 480T", "VQ Nano", "VQ Nano S", "Corvel Dravo",
                         "VQ Brel T", "Penvo Lumo", "VQ Torq Series", "VQSlev"};
  for (int i = 0; i < ReaderModelCount; ++i) EXPECT_EQ(Str(combo->Items->Get(i)), texts[i]);
  EXPECT_EQ(combo->ItemIndex, -1);
  EXPECT_EQ(combo->Left, 516);
  EXPECT_EQ(combo->Top, 456);
  EXPECT_EQ(combo->Width, 265);

  EXPECT_EQ(SelfForm->ClientWidth, 781);
  EXPECT_EQ(SelfForm->ClientHeight, 585);
  EXPECT_FALSE(SelfForm->bbtn_ViewLog->Enabled);
  EXPECT_FALSE(SelfForm->Timer1->Enabled);
  EXPECT_FALSE(SelfForm->Label13->Visible);
  EXPECT_FALSE(SelfForm->Label14->Visible);
  EXPECT_FALSE(SelfForm->Label15->Visible);
  EXPECT_FALSE(SelfForm->pnl_Info->Visible);
  EXPECT_EQ(SelfForm->SelectedReader, -1);
  EXPECT_EQ(SelfForm->ScardContext, 0u);
  EXPECT_EQ(SelfForm->ReaderCount, 0);
  EXPECT_EQ(SelfForm->OsVersionCode, 9);  // the default machine: XP SP3
  EXPECT_EQ(SelfForm->ArchCode, 86u);
  EXPECT_EQ(Str(SelfForm->OsName), "Windows XP Professional Service Pack 3 (build 2600)");
  EXPECT_EQ(Str(SelfForm->Label7->Caption), "Resource Manager " + std::string(41, '.'));
  EXPECT_EQ(Str(SelfForm->Label8->Caption), "Smart Card Library " + std::string(40, '.'));
  EXPECT_EQ(Str(SelfForm->Label3->Caption), "VQUSB.SYS " + std::string(50, '.'));
  EXPECT_EQ(Str(SelfForm->Label4->Caption), "VQUSB.INF " + std::string(50, '.'));
  EXPECT_EQ(Str(SelfForm->Label13->Caption), "    Communication with Reader (Second)");
}

struct LabelRow {
  TLabel* TSelfForm::*label;
  int left, top;
};

void ExpectDesignLayout(const std::string& when) {
  SCOPED_TRACE(when);
  const LabelRow rows[] = {
      {&TSelfForm::Label1, 60, 58},   {&TSelfForm::Label7, 70, 88},   {&TSelfForm::Label8, 70, 118},
      {&TSelfForm::Label9, 60, 148},  {&TSelfForm::Label2, 60, 178},  {&TSelfForm::Label3, 70, 208},
      {&TSelfForm::Label4, 70, 238},  {&TSelfForm::Label5, 60, 268},  {&TSelfForm::Label12, 60, 298},
      {&TSelfForm::Label14, 70, 328}, {&TSelfForm::Label13, 60, 358}, {&TSelfForm::Label15, 70, 388},
  };
  for (const LabelRow& row : rows) {
    TLabel* label = SelfForm->*row.label;
    EXPECT_EQ(label->Left, row.left) << label->Name;
    EXPECT_EQ(label->Top, row.top) << label->Name;
  }
  EXPECT_EQ(SelfForm->lblCheckTitle->Left, 238);
  EXPECT_EQ(SelfForm->lblPass->Left, 536);
  EXPECT_EQ(SelfForm->lblFail->Left, 640);
  EXPECT_EQ(SelfForm->lblPass->Top, 28);
  EXPECT_EQ(SelfForm->Panel4->Left, 526);
  EXPECT_EQ(SelfForm->Panel5->Left, 630);
  EXPECT_EQ(SelfForm->Image01->Left, 552);
  EXPECT_EQ(SelfForm->Image02->Left, 656);
  EXPECT_EQ(SelfForm->Image01->Top, 84);
  EXPECT_EQ(SelfForm->Image02->Top, 84);

  const int rowTops[MarkRowCount] = {84, 114, 144, 204, 234, 264, 294, 354};
  for (int r = 0; r < MarkRowCount; ++r) EXPECT_EQ(MarkRowTop[r], rowTops[r]) << "row " << r;

  for (int i = 0; i < StepMarkCount; ++i) {
    TImage* mark = SelfForm->StepMarks[i];
    ASSERT_NE(mark, nullptr) << i;
    TImage* source = i < MarkRowCount ? SelfForm->Image01 : SelfForm->Image02;
    EXPECT_FALSE(mark->Visible) << i;
    EXPECT_EQ(mark->Parent.get(), SelfForm->Panel2) << i;
    EXPECT_EQ(mark->Left, source->Left) << i;
    EXPECT_EQ(mark->Top, source->Top) << i;
    EXPECT_EQ(mark->Width, 20) << i;
    EXPECT_EQ(mark->Height, 20) << i;
    EXPECT_TRUE(mark->Transparent) << i;
  }
}

void ExpectButtonBar(int width, int height) {
  TBitBtn* bar[] = {SelfForm->bbtn_Check, SelfForm->bbtn_ViewLog, SelfForm->bbtn_FAQ,
                    SelfForm->bbtn_SCM, SelfForm->ExitBitBtn};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(bar[i]->Left, 2 + i * width) << bar[i]->Name;
    EXPECT_EQ(bar[i]->Width, width) << bar[i]->Name;
    EXPECT_EQ(bar[i]->Height, height) << bar[i]->Name;
    EXPECT_EQ(bar[i]->Top, 5) << bar[i]->Name;
    EXPECT_TRUE(bar[i]->Visible) << bar[i]->Name;
  }
  EXPECT_FALSE(SelfForm->AboutBitBtn->Visible);
}

TEST_F(MainWindow, LayoutWithTheDesignSizes) {
  Create();
  ExpectDesignLayout("after creation");
  ExpectButtonBar(155, 57);
}

// Every layout pass puts the controls back and leaves all sixteen marks
// hidden, whatever the run showed before.
TEST_F(MainWindow, LaterLayoutPassHidesTheMarks) {
  Create();
  TImage* first = SelfForm->StepMarks[3];
  SelfForm->StepMarks[3]->Top = MarkRowTop[3];
  SelfForm->StepMarks[3]->Visible = true;
  SelfForm->StepMarks[12]->Visible = true;
  SelfForm->Label7->Top = 500;
  SelfForm->FormResize(SelfForm);
  ExpectDesignLayout("after a second pass");
  EXPECT_EQ(SelfForm->StepMarks[3], first);
}

TEST_F(MainWindow, ButtonBarFollowsTheBarWidth) {
  Create();
  SelfForm->Show();
  SelfForm->ClientWidth = 1004;  // the window gets a resize event
  ExpectButtonBar((1004 - 4) / 5, 57);
}

// A screen smaller than the window gives a negative position, as computed.
TEST_F(MainWindow, CentredOnTheScreen) {
  const int screens[][2] = {{1280, 1024}, {800, 600}};
  for (const auto& screen : screens) {
    vcl::ResetApplication();
    spec().screenWidth = screen[0];
    spec().screenHeight = screen[1];
    Create();
    SelfForm->Show();
    EXPECT_EQ(SelfForm->Left, (screen[0] - SelfForm->Width) / 2) << screen[0];
    EXPECT_EQ(SelfForm->Top, (screen[1] - SelfForm->Height) / 2) << screen[0];
    LogForm->Show();
    EXPECT_EQ(LogForm->Left, (screen[0] - 729) / 2) << screen[0];
    EXPECT_EQ(LogForm->Top, (screen[1] - 568) / 2) << screen[0];
  }
}

struct FolderCase {
  const char* programPath;
  int index;
};

TEST_F(MainWindow, PreselectionFromTheProgramFolder) {
  const FolderCase cases[] = {
      {"C:\\Program Files\\VQNANOS_V2\\vqdiag.exe", 3},
      {"D:\\vqnanos\\vqdiag.exe", 3},
      {"C:\\VQNANO\\vqdiag.exe", 2},
      {"E:\\VQVASK\\vqdiag.exe", 5},
      {"E:\\VQBREL_X\\vqdiag.exe", 5},
      {"C:\\VQ48\\vqdiag.exe", -1},
      {"C:\\vqdiag.exe", -1},
  };
  for (const FolderCase& c : cases) {
    vcl::ResetApplication();
    spec().programPath = c.programPath;
    Create();
    EXPECT_EQ(SelfForm->cbobox_SelectReader->ItemIndex, c.index) << c.programPath;
    if (c.index < 0) {
      EXPECT_EQ(Str(SelfForm->cbobox_SelectReader->Text), "Plz select a reader type") << c.programPath;
    }
  }
}

TEST_F(MainWindow, CloseFreesTheMarks) {
  Create();
  SelfForm->Show();
  TCloseAction action = caHide;
  SelfForm->FormClose(SelfForm, action);
  EXPECT_EQ(action, caHide);
  for (int i = 0; i < StepMarkCount; ++i) EXPECT_EQ(SelfForm->StepMarks[i], nullptr) << i;
}

TEST_F(MainWindow, ButtonsOpenTheOtherWindows) {
  Create();
  SelfForm->Show();

  SelfForm->bbtn_SCM->Click();
  EXPECT_TRUE(frmSCM->Visible);
  EXPECT_FALSE(frmSCM->Modal());

  // The log window stays up until its Close button is pressed.
  vcl::PostInput([] { LogForm->bbtnClose->Click(); });
  SelfForm->bbtn_ViewLogClick(SelfForm);
  EXPECT_FALSE(LogForm->Visible);
  EXPECT_EQ(LogForm->ModalResult, mrOk);

  vcl::PostInput([] { FrmAbout->BitBtn1->Click(); });
  SelfForm->AboutBitBtnClick(SelfForm);
  EXPECT_FALSE(FrmAbout->Visible);
  EXPECT_EQ(FrmAbout->ModalResult, mrOk);

  const auto& records = vcl::CurrentDialogScript().Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].kind, vcl::DialogKind::ModalForm);
  EXPECT_EQ(records[0].caption, "Diagnostic Result");
  EXPECT_EQ(records[1].caption, "About");

  SelfForm->ExitBitBtn->Click();
  EXPECT_TRUE(Application->Terminated);
}

}  // namespace
