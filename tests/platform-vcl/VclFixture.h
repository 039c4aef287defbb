// A fresh application and dialog record for each test, on the current
// machine's clock (virtual); times are counted from the test's start.
#pragma once

#include <gtest/gtest.h>
#include <vcl.h>

#include <sstream>

#include "vqvcl/DialogScript.h"
#include "vqvcl/Loop.h"
#include "vqvcl/Session.h"
#include "vqwin/Clock.h"

class VclTest : public ::testing::Test {
 protected:
  void SetUp() override {
    (void)GetTickCount();  // the machine (and its clock) is made current
    ASSERT_EQ(vqwin::CurrentClock().mode(), vqwin::Clock::Mode::Virtual);
    start_ = vqwin::CurrentClock().Now();
    vcl::ResetApplication();
  }
  void TearDown() override {
    session_.reset();
    vcl::ResetApplication();
  }
  // Starts a scripted session on `script`; its output goes to out_.
  vcl::Session& Script(const std::string& script) {
    session_ = std::make_unique<vcl::Session>(script, out_);
    session_->Attach();
    return *session_;
  }
  uint64_t Now() const { return vqwin::CurrentClock().Now() - start_; }
  const std::vector<vcl::DialogRecord>& Records() const { return vcl::CurrentDialogScript().Records(); }

  uint64_t start_ = 0;
  std::ostringstream out_;
  std::unique_ptr<vcl::Session> session_;
};

// A form with a few controls, built as a program's forms are.
class TTestForm : public TForm {
 public:
  explicit __fastcall TTestForm(TComponent* owner) : TForm(owner) {
    Name = "TestForm";
    BorderStyle = bsSingle;
    ClientWidth = 400;
    ClientHeight = 300;
    Top_ = new TPanel(this);
    Top_->Name = "TopBar";
    Top_->Parent = this;
    Top_->Align = alTop;
    Top_->Height = 40;
    Ok = new TBitBtn(this);
    Ok->Name = "OkBtn";
    Ok->Parent = Top_;
    Ok->Kind = bkOK;
    Cancel = new TBitBtn(this);
    Cancel->Name = "CancelBtn";
    Cancel->Parent = Top_;
    Cancel->Kind = bkCancel;
    Cancel->Left = 80;
    Memo = new TMemo(this);
    Memo->Name = "Memo";
    Memo->Parent = this;
    Memo->Align = alClient;
    Memo->OnKeyPress = &TTestForm::MemoKeyPress;
    OnCreate = &TTestForm::FormCreate;
    OnShow = &TTestForm::FormShow;
  }
  void __fastcall FormCreate(TObject*) { ++creates; }
  void __fastcall FormShow(TObject*) { ++shows; }
  void __fastcall MemoKeyPress(TObject*, char& key) { keys += key; }

  TPanel* Top_;
  TBitBtn* Ok;
  TBitBtn* Cancel;
  TMemo* Memo;
  int creates = 0, shows = 0;
  std::string keys;
};
