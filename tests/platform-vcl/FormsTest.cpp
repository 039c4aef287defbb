// Forms: creation, showing, closing, modal results, default and cancel keys.
#include "VclFixture.h"

namespace {

class FormsTest : public VclTest {
 protected:
  TTestForm* Make(const char* name = "TestForm") {
    TTestForm* f = nullptr;
    Application->CreateForm(__classid(TTestForm), &f);
    f->Name = name;
    return f;
  }
};

TEST_F(FormsTest, CreateFormRunsOnCreateOnceAndTheFirstFormIsMain) {
  TTestForm* a = Make("A");
  TTestForm* b = Make("B");
  EXPECT_EQ(a->creates, 1);
  EXPECT_EQ(b->creates, 1);
  EXPECT_EQ(static_cast<TCustomForm*>(Application->MainForm), a);
  EXPECT_FALSE(a->Visible);
  a->Show();
  a->Show();
  EXPECT_EQ(a->shows, 1);
  a->Hide();
  a->Visible = true;
  EXPECT_EQ(a->shows, 2);
}

TEST_F(FormsTest, ModalFormReturnsTheResultOfItsButton) {
  TTestForm* main = Make("Main");
  TTestForm* dlg = Make("Dlg");
  main->Show();
  struct Case {
    const char* script;
    int result;
  } cases[] = {
      {"click OkBtn\n", mrOk},
      {"click CancelBtn\n", mrCancel},
      {"close Dlg\n", mrCancel},
      {"key Dlg Esc\n", mrCancel},
  };
  for (const Case& c : cases) {
    Script(c.script);
    EXPECT_EQ(dlg->ShowModal(), c.result) << c.script;
    EXPECT_FALSE(dlg->Visible);
    EXPECT_FALSE(dlg->Modal());
    ASSERT_FALSE(Records().empty());
    EXPECT_EQ(Records().back().kind, vcl::DialogKind::ModalForm);
    EXPECT_EQ(Records().back().result, c.result);
    EXPECT_TRUE(Records().back().scripted);
  }
}

TEST_F(FormsTest, ModalResultSetByAHandlerClosesTheForm) {
  TTestForm* dlg = Make("Dlg");
  dlg->Ok->Kind = bkCustom;
  dlg->Ok->ModalResult = mrNone;
  dlg->Ok->OnClick = [dlg](TObject*) { dlg->ModalResult = mrRetry; };
  Script("click OkBtn\n");
  EXPECT_EQ(dlg->ShowModal(), mrRetry);
}

TEST_F(FormsTest, ModalFormWithAnExhaustedScriptIsCancelled) {
  TTestForm* dlg = Make("Dlg");
  Script("");
  EXPECT_EQ(dlg->ShowModal(), mrCancel);
  EXPECT_FALSE(Records().back().scripted);
  EXPECT_THROW(
      {
        dlg->Show();
        dlg->ShowModal();
      },
      EInvalidOperation);
}

TEST_F(FormsTest, ControlsBehindAModalFormTakeNoInput) {
  TTestForm* main = Make("Main");
  TTestForm* dlg = Make("Dlg");
  main->Show();
  int clicks = 0;
  main->Ok->OnClick = [&](TObject*) { ++clicks; };
  Script("click Main.OkBtn\nclick Dlg.OkBtn\n");
  EXPECT_EQ(dlg->ShowModal(), mrOk);
  EXPECT_EQ(clicks, 0);
  EXPECT_NE(out_.str().find("behind the modal form Dlg"), std::string::npos) << out_.str();
  EXPECT_EQ(session_->Errors(), 1);
}

TEST_F(FormsTest, CloseActionDecidesWhatCloseDoes) {
  TTestForm* main = Make("Main");
  TTestForm* other = Make("Other");
  main->Show();
  other->Show();
  TCloseAction wanted = caNone;
  other->OnClose = [&](TObject*, TCloseAction& a) { a = wanted; };
  other->Close();
  EXPECT_TRUE(other->Visible);
  wanted = caHide;
  other->Close();
  EXPECT_FALSE(other->Visible);
  EXPECT_FALSE(Application->Terminated);
  main->Close();  // the main form ends the program whatever its action
  EXPECT_TRUE(Application->Terminated);
}

TEST_F(FormsTest, EnterAndEscPressTheDefaultAndCancelButtonsUnlessTheMemoTakesThem) {
  TTestForm* f = Make();
  f->Show();
  std::string pressed;
  f->Ok->OnClick = [&](TObject*) { pressed += "ok "; };
  f->Cancel->OnClick = [&](TObject*) { pressed += "cancel "; };
  f->ActiveControl = f->Ok;
  f->PressKey('\x1b');
  f->PressKey('\r');
  EXPECT_EQ(pressed, "cancel ok ");
  f->Memo->SetFocus();
  f->PressKey('\x1b');
  f->PressKey('a');
  EXPECT_EQ(f->keys, "\x1b" "a");
  EXPECT_EQ(pressed, "cancel ok ");
  f->Memo->WantReturns = false;
  f->PressKey('\x1b');
  EXPECT_EQ(pressed, "cancel ok cancel ");
}

TEST_F(FormsTest, ShowingFocusesTheFirstControlInTabOrderUnlessOnShowChoseOne) {
  TTestForm* f = Make();
  f->Memo->TabOrder = 0;
  f->Show();
  EXPECT_EQ(f->ActiveControl, f->Memo);
  f->Hide();
  f->Memo->TabOrder = -1;
  f->OnShow = [f](TObject*) { f->Cancel->SetFocus(); };
  f->Show();
  EXPECT_EQ(f->ActiveControl, f->Cancel);
  f->Hide();
  f->OnShow = nullptr;
  f->Cancel->Enabled = false;
  f->Show();
  EXPECT_EQ(f->ActiveControl, f->Ok);
}

TEST_F(FormsTest, KeyPreviewSeesKeysFirstAndCanSwallowThem) {
  TTestForm* f = Make();
  f->Show();
  f->Memo->SetFocus();
  std::string seen;
  f->KeyPreview = true;
  f->OnKeyPress = [&](TObject*, char& k) {
    seen += k;
    if (k == 'y') k = 0;
  };
  f->PressKey('y');
  f->PressKey('n');
  EXPECT_EQ(seen, "yn");
  EXPECT_EQ(f->keys, "n");
}

TEST_F(FormsTest, FrameAndAlignmentFollowTheClientArea) {
  TTestForm* f = Make();
  EXPECT_EQ(f->Width, 400 + 6);
  EXPECT_EQ(f->Height, 300 + 25);
  EXPECT_EQ(f->Top_->Width, 400);
  EXPECT_EQ(f->Memo->Top, 40);
  EXPECT_EQ(f->Memo->Height, 260);
  auto* bottom = new TPanel(f);
  bottom->Parent = f;
  bottom->Align = alBottom;
  bottom->Height = 50;
  EXPECT_EQ(bottom->Top, 250);
  EXPECT_EQ(f->Memo->Height, 210);
  f->BorderStyle = bsSizeable;  // keeps the client area
  EXPECT_EQ(f->ClientHeight, 300);
  EXPECT_EQ(f->Width, 408);
  f->Width = 508;
  EXPECT_EQ(f->Memo->Width, 500);
  bottom->Visible = false;
  EXPECT_EQ(f->Memo->Height, 260);
}

TEST_F(FormsTest, ResizeEventsFollowTheFirstShowing) {
  TTestForm* f = Make();
  int resizes = 0;
  f->OnResize = [&](TObject*) { ++resizes; };
  f->Width = 500;
  EXPECT_EQ(resizes, 0);
  f->Show();
  EXPECT_EQ(resizes, 1);
  f->Height = 200;
  EXPECT_EQ(resizes, 2);
}

class Counted : public TComponent {
 public:
  Counted(TComponent* owner, std::vector<std::string>* log, std::string name)
      : TComponent(owner), log_(log), name_(std::move(name)) {}
  ~Counted() override { log_->push_back(name_); }

 private:
  std::vector<std::string>* log_;
  std::string name_;
};

TEST_F(FormsTest, AnOwnerFreesWhatItOwnsLastFirst) {
  std::vector<std::string> log;
  TTestForm* f = Make();
  int destroys = 0;
  f->OnDestroy = [&](TObject*) { ++destroys; };
  auto* a = new Counted(f, &log, "a");
  new Counted(a, &log, "a.child");
  new Counted(f, &log, "b");
  auto* gone = new Counted(f, &log, "gone");
  delete gone;
  EXPECT_EQ(f->ComponentCount, 6);  // panel, two buttons, memo, a, b
  f->Free();
  EXPECT_EQ(log, (std::vector<std::string>{"gone", "b", "a", "a.child"}));
  EXPECT_EQ(destroys, 1);
  EXPECT_EQ(Screen->FormCount, 0);
  EXPECT_EQ(static_cast<TForm*>(Application->MainForm), nullptr);
}

class TFailingForm : public TForm {
 public:
  explicit __fastcall TFailingForm(TComponent* owner) : TForm(owner) { OnCreate = &TFailingForm::FormCreate; }
  void __fastcall FormCreate(TObject*) { throw EConvertError("bad design value"); }
};

TEST_F(FormsTest, AnErrorInOnCreateIsShownAndTheFormStillMade) {
  TFailingForm* f = nullptr;
  Application->Title = "Prog";
  Application->CreateForm(__classid(TFailingForm), &f);
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_EQ(Records()[0].text, "bad design value.");
}

TEST_F(FormsTest, HandlerOfAnotherClassThanTheOwnerIsRefused) {
  auto* orphan = new TButton(nullptr);
  EXPECT_THROW(orphan->OnClick = &TTestForm::FormShow, std::logic_error);
  delete orphan;
}

}  // namespace
