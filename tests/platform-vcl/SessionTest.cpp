// Scripted sessions: actions by name, errors, dumps and the PNG renderer.
#include "VclFixture.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "vqvcl/Dump.h"
#include "vqvcl/Render.h"

namespace {

class SessionTest : public VclTest {
 protected:
  void SetUp() override {
    VclTest::SetUp();
    Application->CreateForm(__classid(TTestForm), &form_);
    form_->Caption = "Test window";
    combo_ = new TComboBox(form_);
    combo_->Name = "cbobox_Model";
    combo_->Parent = form_->Top_;
    combo_->Left = 200;
    combo_->Items->Add("VQ Nano");
    combo_->Items->Add("VQ Nano S");
    combo_->OnChange = [this](TObject*) { log_ += "change " + combo_->Text.get().str() + ";"; };
    edit_ = new TEdit(form_);
    edit_->Name = "edt_Time";
    edit_->Parent = form_->Top_;
    edit_->OnChange = [this](TObject*) { log_ += "edit " + edit_->Text.get().str() + ";"; };
    form_->Ok->OnMouseMove = [this](TObject*, TShiftState, int, int) { log_ += "hover;"; };
    form_->Show();
  }
  TTestForm* form_ = nullptr;
  TComboBox* combo_ = nullptr;
  TEdit* edit_ = nullptr;
  std::string log_;
};

TEST_F(SessionTest, ActionsReachControlsByName) {
  vcl::Session& s = Script(
      "# a comment\n"
      "select cbobox_Model 1\n"
      "select TestForm.cbobox_Model VQ Nano\n"
      "type edt_Time 250\n"
      "hover OkBtn\n"
      "key Memo q\n");
  s.Run();
  EXPECT_EQ(log_, "change VQ Nano S;change VQ Nano;edit 250;hover;");
  EXPECT_EQ(form_->keys, "q");
  EXPECT_EQ(s.Errors(), 0) << out_.str();
  EXPECT_TRUE(s.Exhausted());
  EXPECT_EQ(s.Finish(), 0);  // a script run to its end leaves nothing
}

TEST_F(SessionTest, LinesAfterAClickThatOpensAModalFormDriveThatForm) {
  TTestForm* dlg = nullptr;
  Application->CreateForm(__classid(TTestForm), &dlg);
  dlg->Name = "Dlg";
  auto* save = new TSaveDialog(dlg);
  save->InitialDir = "C:\\Out";
  dlg->Cancel->Kind = bkCustom;
  dlg->Cancel->ModalResult = mrNone;
  dlg->Cancel->OnClick = [&](TObject*) { log_ += save->Execute() ? "saved " + save->FileName.str() + ";" : "cancelled;"; };
  int result = -1;
  form_->Cancel->Kind = bkCustom;
  form_->Cancel->OnClick = [&](TObject*) { result = dlg->ShowModal(); };
  vcl::Session& s = Script(
      "click TestForm.CancelBtn\n"
      "click CancelBtn\n"  // the modal form's button: it is searched first
      "save x.log\n"
      "dump Dlg\n"
      "click OkBtn\n"
      "select cbobox_Model 1\n");
  Application->Run();
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(log_, "saved C:\\Out\\x.log;change VQ Nano S;");
  EXPECT_EQ(s.Errors(), 0) << out_.str();
  const std::string out = out_.str();
  const size_t saved = out.find("dialog savedialog \"Save As\" \"\" -> save \"C:\\\\Out\\\\x.log\" (scripted)");
  const size_t dump = out.find("form Dlg TTestForm");
  const size_t modal = out.find("dialog modalform \"\" \"Dlg\" -> modal result 1 (scripted)");
  EXPECT_NE(saved, std::string::npos) << out;
  EXPECT_LT(saved, dump);
  EXPECT_LT(dump, modal);
  EXPECT_NE(modal, std::string::npos) << out;
}

TEST_F(SessionTest, BadLinesAreReportedAndTheScriptGoesOn) {
  edit_->Enabled = false;
  vcl::Session& s = Script(
      "click NoSuchButton\n"
      "select cbobox_Model 9\n"
      "type edt_Time 1\n"
      "wait soon\n"
      "answer IDMAYBE\n"
      "frobnicate\n"
      "key Memo Enterr\n"
      "select cbobox_Model 0\n");
  s.Run();
  EXPECT_EQ(s.Errors(), 7);
  EXPECT_EQ(log_, "change VQ Nano;");
  const std::string out = out_.str();
  for (const char* part : {"line 1: click: no control named NoSuchButton", "line 3: type: edt_Time is disabled",
                           "line 6: frobnicate: unknown action"})
    EXPECT_NE(out.find(part), std::string::npos) << part << "\n" << out;
}

TEST_F(SessionTest, LinesThatTheEndedProgramNeverReachedAreErrors) {
  form_->Ok->OnClick = [](TObject*) { Application->Terminate(); };
  vcl::Session& s = Script(
      "select cbobox_Model 1\n"
      "click OkBtn\n"
      "# a comment is no action\n"
      "select cbobox_Model 0\n"
      "answer IDOK\n");
  Application->Run();
  EXPECT_EQ(s.Errors(), 0) << out_.str();
  EXPECT_EQ(s.Finish(), 2);
  EXPECT_EQ(log_, "change VQ Nano S;");
  const std::string out = out_.str();
  for (const char* part : {"error: line 4: select: not run: the program had ended\n",
                           "error: line 5: answer: not run: the program had ended\n"})
    EXPECT_NE(out.find(part), std::string::npos) << part << "\n" << out;
}

TEST_F(SessionTest, DumpListsEveryControlWithItsState) {
  combo_->ItemIndex = 1;
  form_->Memo->Lines->Add("first line");
  form_->Ok->Enabled = false;
  Script("dump TestForm\n").Run();
  const std::string out = out_.str();
  const char* expected[] = {
      "form TestForm TTestForm pos=",
      " size=406x325 client=400x300 visible=1 enabled=1 caption=\"Test window\"",
      "\n  TopBar TPanel pos=0,0 size=400x40 visible=1",
      "\n    OkBtn TBitBtn pos=0,0 size=75x25 visible=1 enabled=0 caption=\"OK\" font=\"MS Sans Serif\" 8pt/-11px plain",
      " default",
      "cbobox_Model TComboBox pos=200,0 size=145x21 visible=1 enabled=1 text=\"VQ Nano S\"",
      "index=1 items=[\"VQ Nano\", \"VQ Nano S\"]",
      "\n  Memo TMemo pos=0,40 size=400x260",
      "lines=1 top=0",
      "\n    | first line\n",
  };
  for (const char* part : expected) EXPECT_NE(out.find(part), std::string::npos) << part << "\n" << out;
}

TEST_F(SessionTest, RenderWritesAPngOfTheFormsSize) {
  const std::string path = (std::filesystem::temp_directory_path() / "vqvcl-render-test.png").string();
  std::remove(path.c_str());
  form_->Memo->Lines->Add("Traditional Chinese: \xE6\x99\xBA");  // not in code page 1252: shown as '?'
  ASSERT_TRUE(vcl::RenderFormToPng(form_, path));
  std::ifstream in(path, std::ios::binary);
  unsigned char head[24] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  ASSERT_TRUE(in);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(head) + 1, 3), "PNG");
  auto be32 = [&](int at) { return head[at] << 24 | head[at + 1] << 16 | head[at + 2] << 8 | head[at + 3]; };
  EXPECT_EQ(be32(16), 406);  // IHDR width
  EXPECT_EQ(be32(20), 325);  // IHDR height
  std::remove(path.c_str());
  EXPECT_FALSE(vcl::RenderFormToPng(form_, "/nonexistent-folder/x.png"));
}

}  // namespace
