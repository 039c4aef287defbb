// Controls: items and indexes, bars, lists, rich text, fonts, button kinds.
#include "VclFixture.h"

#include "vqvcl/Input.h"

namespace {

class ControlsTest : public VclTest {
 protected:
  void SetUp() override {
    VclTest::SetUp();
    Application->CreateForm(__classid(TTestForm), &form_);
    form_->Show();
  }
  TTestForm* form_ = nullptr;
};

TEST_F(ControlsTest, ComboChoiceByTheUserRaisesChangeButCodeDoesNot) {
  auto* combo = new TComboBox(form_);
  combo->Name = "Combo";
  combo->Parent = form_;
  int changes = 0;
  combo->OnChange = [&](TObject*) { ++changes; };
  combo->Items->Add("alpha");
  combo->Items->Add("beta");
  combo->ItemIndex = 1;
  EXPECT_EQ(combo->Text, "beta");
  combo->Text = "free text";
  EXPECT_EQ(combo->ItemIndex, -1);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(vcl::UserSelect(combo, 0), "");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(combo->Text, "alpha");
  EXPECT_NE(vcl::UserSelect(combo, 2), "");
  combo->Items->Clear();
  EXPECT_EQ(combo->ItemIndex, -1);
  EXPECT_EQ(combo->Text, "");
  combo->Enabled = false;
  EXPECT_EQ(vcl::UserType(combo, "x"), "Combo is disabled");
}

TEST_F(ControlsTest, RadioGroupLosesItsChoiceWhenItsItemsAreReplaced) {
  auto* group = new TRadioGroup(form_);
  group->Parent = form_;
  group->Items->Add("START");
  group->Items->Add("STOP");
  group->ItemIndex = 1;
  EXPECT_EQ(group->ItemIndex, 1);
  group->Items->Clear();
  group->Items->Add("A");
  group->Items->Add("B");
  EXPECT_EQ(group->ItemIndex, -1);
  group->ItemIndex = 7;
  EXPECT_EQ(group->ItemIndex, 1);
}

TEST_F(ControlsTest, ProgressPositionStaysInRange) {
  auto* bar = new TProgressBar(form_);
  struct {
    int set, expect;
  } cases[] = {{50, 50}, {-5, 0}, {130, 100}, {100, 100}};
  for (auto c : cases) {
    bar->Position = c.set;
    EXPECT_EQ(bar->Position, c.expect) << c.set;
  }
  bar->Position = 90;
  EXPECT_EQ(bar->Position++, 90);
  EXPECT_EQ(bar->Position--, 91);
  bar->Position += 10;
  bar->Position += 10;
  EXPECT_EQ(bar->Position, 100);
  bar->Max = 50;
  EXPECT_EQ(bar->Position, 50);
}

TEST_F(ControlsTest, MakeVisibleScrollsARowIntoView) {
  auto* lv = new TListView(form_);
  lv->Parent = form_;
  lv->ViewStyle = vsReport;
  lv->Font->Height = -13;          // rows of 17, header 19
  lv->Height = 4 + 19 + 17 * 5 + 8;  // five rows and a part of a sixth
  for (int i = 0; i < 20; ++i) lv->Items->Add()->Caption = IntToStr(i);
  ASSERT_EQ(lv->VisibleRowCount(), 5);
  struct {
    int row;
    bool partial;
    int top;
  } cases[] = {{3, false, 0}, {5, true, 0}, {5, false, 1}, {12, false, 8}, {2, false, 2}};
  for (auto c : cases) {
    lv->Items->Item[c.row]->MakeVisible(c.partial);
    EXPECT_EQ(lv->TopIndex, c.top) << c.row;
  }
  lv->Items->Item[4]->Selected = true;
  lv->Items->Item[9]->Selected = true;
  EXPECT_EQ(lv->SelCount, 2);
  EXPECT_EQ(lv->Selected->Index, 4);
  lv->Items->Clear();
  EXPECT_EQ(lv->TopIndex, 0);
}

TEST_F(ControlsTest, RichEditLinesKeepTheirColourAndScrollCaretShowsTheLastLine) {
  auto* rich = new TRichEdit(form_);
  rich->Parent = form_;
  rich->Font->Height = -15;        // lines of 18
  rich->Height = 4 + 18 * 4;       // four lines in view
  rich->SelAttributes->Color = clRed;
  rich->Lines->Add("red");
  rich->SelAttributes->Color = clGreen;
  for (int i = 0; i < 9; ++i) rich->Lines->Add("green " + IntToStr(i));
  EXPECT_EQ(rich->LineColor(0), clRed);
  EXPECT_EQ(rich->LineColor(9), clGreen);
  EXPECT_EQ(rich->TopLine, 0);
  EXPECT_EQ(rich->Perform(EM_SCROLLCARET, 0, 0), 1);
  EXPECT_EQ(rich->TopLine, 10 - 4 + 1);  // the caret sits on the line after the last
  rich->Clear();
  EXPECT_EQ(rich->TopLine, 0);
  EXPECT_EQ(rich->Lines->Count, 0);
}

TEST_F(ControlsTest, CheckBoxClickTogglesAndEveryChangeRaisesOnClick) {
  auto* box = new TCheckBox(form_);
  box->Parent = form_;
  int clicks = 0;
  box->OnClick = [&](TObject*) { ++clicks; };
  EXPECT_EQ(vcl::UserClick(box), "");
  EXPECT_TRUE(box->Checked);
  box->Checked = true;  // no change
  box->Checked = false;
  EXPECT_EQ(clicks, 2);
}

TEST_F(ControlsTest, ChildrenTakeTheParentFontUntilTheirOwnChanges) {
  auto* panel = new TPanel(form_);
  panel->Parent = form_;
  auto* label = new TLabel(form_);
  label->Parent = panel;
  panel->Font->Name = "Verdana";
  panel->Font->Size = 10;
  EXPECT_EQ(label->Font->Name, "Verdana");
  EXPECT_EQ(label->Font->Height, -13);
  label->Font->Style = TFontStyles() << fsBold;
  panel->Font->Name = "Arial";
  EXPECT_EQ(label->Font->Name, "Verdana");
  EXPECT_FALSE(label->ParentFont);
}

TEST_F(ControlsTest, FontSizeAndHeightAreOneValue) {
  TFont f;
  f.Style = f.Style << fsBold << fsUnderline;
  f.Style = f.Style >> fsBold;
  EXPECT_TRUE(f.Style.Contains(fsUnderline));
  EXPECT_FALSE(f.Style.Contains(fsBold));
  struct {
    int size, height;
  } cases[] = {{8, -11}, {10, -13}, {11, -15}, {14, -19}};
  for (auto c : cases) {
    f.Size = c.size;
    EXPECT_EQ(f.Height, c.height) << c.size;
    f.Height = c.height;
    EXPECT_EQ(f.Size, c.size) << c.height;
  }
}

TEST_F(ControlsTest, AutoSizedLabelMeasuresItsTextWithoutTheAccelerator) {
  auto* a = new TLabel(form_);
  a->Parent = form_;
  a->Caption = "&Diagnostic";
  const int withMark = a->Width;
  a->Caption = "Diagnostic";
  EXPECT_GT(a->Width, 20);
  EXPECT_EQ(a->Width, withMark);
  a->AutoSize = false;
  a->Width = 73;
  a->Caption = "a much longer caption than before";
  EXPECT_EQ(a->Width, 73);
}

TEST_F(ControlsTest, BitBtnKindsBringTheirRole) {
  struct {
    TBitBtnKind kind;
    const char* caption;
    int result;
    bool isDefault, isCancel;
  } cases[] = {{bkOK, "OK", mrOk, true, false}, {bkCancel, "Cancel", mrCancel, false, true},
               {bkYes, "&Yes", mrYes, true, false}, {bkNo, "&No", mrNo, false, true}};
  for (auto c : cases) {
    auto* b = new TBitBtn(form_);
    b->Kind = c.kind;
    EXPECT_EQ(b->Caption, c.caption);
    EXPECT_EQ(b->ModalResult, c.result);
    EXPECT_EQ(b->Default, c.isDefault);
    EXPECT_EQ(b->Cancel, c.isCancel);
  }
}

TEST_F(ControlsTest, SetFocusRefusesAHiddenControl) {
  form_->Memo->Visible = false;
  EXPECT_THROW(form_->Memo->SetFocus(), EInvalidOperation);
  form_->Memo->Visible = true;
  form_->Memo->SetFocus();
  EXPECT_TRUE(form_->Memo->Focused());
}

}  // namespace
