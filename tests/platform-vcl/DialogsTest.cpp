// Message boxes, ShowMessage and save dialogs: recorded and answered by the script.
#include "VclFixture.h"

namespace {

class DialogsTest : public VclTest {
 protected:
  void SetUp() override {
    VclTest::SetUp();
    Application->CreateForm(__classid(TTestForm), &form_);
    form_->Show();
    form_->Ok->Kind = bkCustom;
    form_->Ok->ModalResult = mrNone;
  }
  // The OK button shows a message box of `type` and keeps its answer.
  void OkShowsBox(unsigned type) {
    form_->Ok->OnClick = [this, type](TObject*) {
      answer_ = MessageBoxA(form_->Handle, "Really?", "Question", type);
    };
  }
  TTestForm* form_ = nullptr;
  int answer_ = 0;
};

TEST_F(DialogsTest, MessageBoxIsAnsweredByTheScriptAndRecorded) {
  OkShowsBox(MB_YESNO | MB_ICONQUESTION);
  Script("click OkBtn\nanswer IDNO\n").Run();
  EXPECT_EQ(answer_, IDNO);
  ASSERT_EQ(Records().size(), 1u);
  const vcl::DialogRecord& r = Records()[0];
  EXPECT_EQ(r.kind, vcl::DialogKind::MessageBox);
  EXPECT_EQ(r.caption, "Question");
  EXPECT_EQ(r.text, "Really?");
  EXPECT_EQ(r.type, unsigned(MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(r.result, IDNO);
  EXPECT_TRUE(r.scripted);
  EXPECT_EQ(r.owner, "TestForm");
  EXPECT_EQ(out_.str(), "dialog messagebox \"Question\" \"Really?\" owner=TestForm -> IDNO (scripted)\n");
  EXPECT_EQ(session_->Errors(), 0);
}

TEST_F(DialogsTest, AnAnswerGivenBeforeTheClickIsTakenToo) {
  OkShowsBox(MB_OKCANCEL);
  Script("answer IDCANCEL\nclick OkBtn\n").Run();
  EXPECT_EQ(answer_, IDCANCEL);
  EXPECT_TRUE(Records()[0].scripted);
}

TEST_F(DialogsTest, UnansweredOrMisansweredBoxesTakeTheirDefaultButton) {
  struct {
    unsigned type;
    const char* script;
    int expect;
  } cases[] = {
      {MB_OK, "click OkBtn\n", IDOK},
      {MB_YESNO, "click OkBtn\n", IDYES},
      {MB_YESNO | MB_DEFBUTTON2, "click OkBtn\n", IDNO},
      {MB_YESNOCANCEL | MB_DEFBUTTON3, "click OkBtn\n", IDCANCEL},
      {MB_ABORTRETRYIGNORE, "click OkBtn\n", IDABORT},
      {MB_RETRYCANCEL | MB_DEFBUTTON2, "click OkBtn\n", IDCANCEL},
      {MB_OK, "click OkBtn\nanswer IDYES\n", IDOK},  // no such button
  };
  for (auto c : cases) {
    OkShowsBox(c.type);
    Script(c.script).Run();
    EXPECT_EQ(answer_, c.expect) << c.type << ' ' << c.script;
    EXPECT_FALSE(Records().back().scripted);
    EXPECT_FALSE(Records().back().note.empty());
  }
}

TEST_F(DialogsTest, ShowMessageIsRecordedWithTheApplicationTitle) {
  Application->Title = "vqdiag";
  ShowMessage("The system cannot find the file specified.");
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_EQ(Records()[0].kind, vcl::DialogKind::ShowMessage);
  EXPECT_EQ(Records()[0].caption, "vqdiag");
  EXPECT_EQ(Records()[0].text, "The system cannot find the file specified.");
}

class SaveDialogTest : public DialogsTest {
 protected:
  void SetUp() override {
    DialogsTest::SetUp();
    dialog_ = new TSaveDialog(form_);
    dialog_->FileName = "Diagnostics Log.log";
    dialog_->Filter = "Log File|*.log";
    dialog_->OnCanClose = [this](TObject*, bool& can) {
      asked_.push_back(dialog_->FileName.str());
      if (refuse_ > 0) {
        --refuse_;
        can = false;
      }
      if (throwOnce_) {
        throwOnce_ = false;
        throw EFCreateError("Cannot create file " + dialog_->FileName);
      }
    };
    form_->Ok->OnClick = [this](TObject*) { result_ = dialog_->Execute() ? 1 : 0; };
  }
  TSaveDialog* dialog_ = nullptr;
  std::vector<std::string> asked_;
  int refuse_ = 0;
  bool throwOnce_ = false;
  int result_ = -1;
};

TEST_F(SaveDialogTest, ConfirmedNamesAreFullPathsAndCancelWritesNothing) {
  dialog_->InitialDir = "C:\\Logs";
  struct {
    const char* script;
    int result;
    const char* file;
  } cases[] = {
      {"click OkBtn\nsave\n", 1, "C:\\Logs\\Diagnostics Log.log"},
      {"click OkBtn\nsave report\n", 1, "C:\\Logs\\report"},  // no extension added
      {"click OkBtn\nsave D:\\out.log\n", 1, "D:\\out.log"},
      {"click OkBtn\ncancel\n", 0, nullptr},
      {"click OkBtn\n", 0, nullptr},  // no answer: cancelled
  };
  for (auto c : cases) {
    dialog_->FileName = "Diagnostics Log.log";
    asked_.clear();
    Script(c.script).Run();
    EXPECT_EQ(result_, c.result) << c.script;
    if (c.file) {
      ASSERT_EQ(asked_.size(), 1u) << c.script;
      EXPECT_EQ(asked_[0], c.file);
      EXPECT_EQ(dialog_->FileName, c.file);
    } else {
      EXPECT_TRUE(asked_.empty()) << c.script;
    }
  }
}

TEST_F(SaveDialogTest, RefusedOrFailedConfirmationKeepsTheDialogUp) {
  dialog_->InitialDir = "C:\\";
  refuse_ = 1;
  Script("click OkBtn\nsave a.log\nsave b.log\n").Run();
  EXPECT_EQ(result_, 1);
  EXPECT_EQ(asked_, (std::vector<std::string>{"C:\\a.log", "C:\\b.log"}));

  asked_.clear();
  throwOnce_ = true;
  Script("click OkBtn\nsave x.log\nanswer IDOK\ncancel\n").Run();
  EXPECT_EQ(result_, 0);
  EXPECT_EQ(asked_, (std::vector<std::string>{"C:\\x.log"}));
  // The file error was shown in a message box, answered by the IDOK line.
  bool shown = false;
  for (const auto& r : Records())
    if (r.kind == vcl::DialogKind::MessageBox && r.text == "Cannot create file C:\\x.log." && r.scripted) shown = true;
  EXPECT_TRUE(shown) << out_.str();
}

}  // namespace
