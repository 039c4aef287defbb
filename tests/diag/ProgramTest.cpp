// The program entry and the coloured information lines of the service
// control window.
#include "DiagProgram.h"
#include "Public.h"
#include "vqdiag.h"

#include <vqvcl/Session.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

class Program : public diagtest::DiagProgram {};

struct EndCase {
  const char* script;
  const char* reason;
  bool marksFreed;  // FormClose ran
};

// Exit ends the loop at once without a close event; the close box closes
// the main window, whose FormClose frees the marks. Closing the program
// then destroys its windows.
TEST_F(Program, CreatesTheFourWindowsInOrderAndRunsTheLoop) {
  const EndCase cases[] = {
      {"click ExitBitBtn\n", "terminated", false},
      {"close SelfForm\n", "main form closed", true},
  };
  for (const EndCase& c : cases) {
    SCOPED_TRACE(c.script);
    vcl::ResetApplication();
    std::ostringstream out;
    vcl::Session session(c.script, out);
    session.Attach();
    bool seen = false;
    vcl::BeforeFormsDestroyed([&] {
      seen = true;
      ASSERT_NE(SelfForm, nullptr);
      EXPECT_EQ(Application->MainForm.get(), SelfForm);
      ASSERT_EQ(Application->ComponentCount, 4);
      EXPECT_EQ(Application->Components[0].get(), SelfForm);
      EXPECT_EQ(Application->Components[1].get(), LogForm);
      EXPECT_EQ(Application->Components[2].get(), FrmAbout);
      EXPECT_EQ(Application->Components[3].get(), frmSCM);
      EXPECT_STREQ(Application->RunEndReason(), c.reason);
      EXPECT_EQ(SelfForm->StepMarks[0] == nullptr, c.marksFreed);
      EXPECT_EQ(SelfForm->StepMarks[15] == nullptr, c.marksFreed);
    });
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_TRUE(seen);
    EXPECT_EQ(Application->ComponentCount, 0);
    EXPECT_EQ(Screen->FormCount, 0);
    EXPECT_EQ(SelfForm, nullptr);
    EXPECT_EQ(frmSCM, nullptr);
    EXPECT_EQ(session.Errors(), 0) << out.str();
  }
}

// The service window's unit starts before the program's first window and
// finishes after the last one is destroyed; the window's own constructor
// and destructor do none of it.
TEST_F(Program, TheServiceUnitStartsBeforeTheWindowsAndFinishesAfterThem) {
  Scm_main::QueryServiceStatusExPtr = nullptr;
  Application->Initialize();
  CreateProgramWindows();
  EXPECT_EQ(Scm_main::QueryServiceStatusExPtr, nullptr);
  EXPECT_EQ(Str(Scm_main::CurrentServiceName), "SCardSvr");
  vcl::ResetApplication();
  EXPECT_EQ(Str(Scm_main::CurrentServiceName), "SCardSvr");

  std::ostringstream out;
  vcl::Session session("click bbtn_SCM\nclick frmSCM.bbtn_Refresh\nclick ExitBitBtn\n", out);
  session.Attach();
  // Each window notes the unit's service name as it is destroyed.
  std::vector<std::string> destroyed;
  vcl::BeforeFormsDestroyed([&] {
    // The status query was there for the refresh.
    EXPECT_NE(Scm_main::QueryServiceStatusExPtr, nullptr);
    EXPECT_EQ(frmSCM->rdogp_Status->ItemIndex, 0);
    EXPECT_EQ(Str(frmSCM->cbbox_ServiceProcessName->Text), "SCardSvr");
    for (TCustomForm* form : {static_cast<TCustomForm*>(SelfForm), static_cast<TCustomForm*>(LogForm),
                              static_cast<TCustomForm*>(FrmAbout), static_cast<TCustomForm*>(frmSCM)})
      form->OnDestroy = [&destroyed, form](TObject*) {
        destroyed.push_back(form->Name.str() + " " + Str(Scm_main::CurrentServiceName));
      };
  });
  EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(session.Errors(), 0) << out.str();
  const std::vector<std::string> expected = {"frmSCM SCardSvr", "FrmAbout SCardSvr", "LogForm SCardSvr",
                                             "SelfForm SCardSvr"};
  EXPECT_EQ(destroyed, expected);
  // The unit's texts are released after the last window.
  EXPECT_EQ(Str(Scm_main::CurrentServiceName), "");
  EXPECT_EQ(Str(Scm_main::OsDisplayText), "");
}

TEST_F(Program, EscapedExceptionsAreShownByTheFramework) {
  Create();
  try {
    throw EFCreateError("Cannot create file X");
  } catch (...) {
    ShowEscapedException();
  }
  try {
    throw std::runtime_error("not the framework's");
  } catch (...) {
    ShowEscapedException();
  }
  const auto& records = vcl::CurrentDialogScript().Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].kind, vcl::DialogKind::MessageBox);
  EXPECT_EQ(records[0].text, "Cannot create file X.");
  EXPECT_EQ(records[1].text, "");
}

class InfoLines : public diagtest::DiagProgram {};

TEST_F(InfoLines, AppendsColouredLinesAndClearsOnlyOnTheExactWord) {
  Create();
  TRichEdit* box = frmSCM->rchedt_Info;
  AddInfoLine("-> Smart Card service not found !", 0x0000FF);
  AddInfoLine("d_clear", 0x000000);
  AddInfoLine("d_CLEAR ", 0x008000);
  ASSERT_EQ(box->Lines->Count, 3);
  EXPECT_EQ(Str(box->Lines->Get(1)), "d_clear");
  EXPECT_EQ(Str(box->Lines->Get(2)), "d_CLEAR ");
  EXPECT_EQ(ColorToRGB(box->LineColor(0)), 0x0000FF);
  EXPECT_EQ(ColorToRGB(box->LineColor(1)), 0x000000);
  EXPECT_EQ(ColorToRGB(box->LineColor(2)), 0x008000);
  AddInfoLine("d_CLEAR", 0x0000FF);
  EXPECT_EQ(box->Lines->Count, 0);
}

TEST_F(InfoLines, NewLineIsScrolledIntoView) {
  Create();
  TRichEdit* box = frmSCM->rchedt_Info;
  for (int i = 0; i < 40; ++i) AddInfoLine(AnsiString("line ") + AnsiString(i), 0xFF0000);
  EXPECT_GT(box->TopLine, 0);
  EXPECT_LE(box->TopLine, 39);
  EXPECT_GT(box->TopLine + box->VisibleLineCount(), 39);
}

TEST_F(InfoLines, NothingHappensBeforeTheWindowExists) {
  AddInfoLine("early", 0x0000FF);
  AddInfoLine("d_CLEAR", 0);
  SUCCEED();
}

}  // namespace
