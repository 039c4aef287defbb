#include "StdCtrls.hpp"

#include <algorithm>

#include "vqvcl/Render.h"

// ---- TLabel

TLabel::TLabel(TComponent* AOwner) : TGraphicControl(AOwner) {
  SetBounds(0, 0, 32, 13);
  AdjustSize();
}

void TLabel::AdjustSize() {
  if (!autoSize_ || WordWrap) return;
  int w = 0, h = 0;
  const AnsiString shown = ShowAccelChar ? AnsiString(vcl::StripAccelerator(text_.str())) : text_;
  vcl::MeasureText(Font, shown, w, h);
  SetBounds(left_, top_, w, h);
}

void TLabel::FontUpdated() { AdjustSize(); }

// ---- TEdit

TEdit::TEdit(TComponent* AOwner) : TWinControl(AOwner) {
  SetBounds(0, 0, 121, 21);
  Color = clWindow;
  TabStop = true;
}

void TEdit::TextChanged() { OnChange(this); }

// ---- TMemoStrings

void TMemoStrings::Insert(int index, const AnsiString& s) {
  if (index < 0 || index > GetCount()) CheckIndex(index, GetCount());
  lines_.insert(lines_.begin() + index, Line{s, memo_ ? memo_->InsertColor() : clWindowText});
  if (memo_) memo_->LinesChanged(index + 1);
  Changed();
}

void TMemoStrings::Delete(int index) {
  CheckIndex(index, GetCount());
  lines_.erase(lines_.begin() + index);
  if (memo_) memo_->LinesChanged(std::min(memo_->CaretLine, GetCount()));
  Changed();
}

void TMemoStrings::Clear() {
  lines_.clear();
  if (memo_) memo_->LinesChanged(0);
  Changed();
}

AnsiString TMemoStrings::Get(int index) const {
  CheckIndex(index, GetCount());
  return lines_[static_cast<size_t>(index)].text;
}

void TMemoStrings::Put(int index, const AnsiString& s) {
  CheckIndex(index, GetCount());
  lines_[static_cast<size_t>(index)].text = s;
  Changed();
}

TColor TMemoStrings::LineColor(int index) const {
  CheckIndex(index, GetCount());
  return lines_[static_cast<size_t>(index)].color;
}

// ---- TCustomMemo

TCustomMemo::TCustomMemo(TComponent* AOwner) : TWinControl(AOwner), Lines(new TMemoStrings(this)) {
  SetBounds(0, 0, 185, 89);
  Color = clWindow;
  TabStop = true;
}

TCustomMemo::~TCustomMemo() { delete Lines; }

AnsiString TCustomMemo::GetText() const { return Lines->GetText(); }

void TCustomMemo::SetText(const AnsiString& t) {
  if (t == Lines->GetText()) return;
  Lines->SetText(t);
}

void TCustomMemo::LinesChanged(int caretLine) {
  CaretLine = caretLine;
  const int maxTop = std::max(0, Lines->GetCount() - 1);
  if (TopLine > maxTop) TopLine = maxTop;
  OnChange(this);
}

bool TCustomMemo::WantsKey(char key) const {
  return (key == '\r' || key == '\x1b') && WantReturns;
}

// One line of text: the font's character height and some leading.
int TCustomMemo::VisibleLineCount() const {
  const int lineHeight = std::abs(Font->GetHeight()) + 3;
  return std::max(1, GetClientHeight() / std::max(1, lineHeight));
}

LRESULT TCustomMemo::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == EM_SCROLLCARET) {
    const int visible = VisibleLineCount();
    if (CaretLine < TopLine) TopLine = CaretLine;
    else if (CaretLine >= TopLine + visible) TopLine = CaretLine - visible + 1;
    return 1;
  }
  return TWinControl::Dispatch(msg, wParam, lParam);
}

// ---- TComboBox

TComboBox::TComboBox(TComponent* AOwner) : TWinControl(AOwner), Items(new TStringList) {
  SetBounds(0, 0, 145, 21);
  Color = clWindow;
  TabStop = true;
  Items->OnChanged = [this] {
    if (itemIndex_ >= Items->GetCount()) itemIndex_ = -1;
    if (Items->GetCount() == 0) text_ = "";  // emptying the list empties the edit
  };
}

TComboBox::~TComboBox() {
  Items->OnChanged = nullptr;
  delete Items;
}

void TComboBox::Clear() {
  Items->Clear();
  SetText("");
}

void TComboBox::SetItemIndex(const int& i) {
  const int index = (i < 0 || i >= Items->GetCount()) ? -1 : i;
  itemIndex_ = index;
  settingIndex_ = true;
  text_ = index >= 0 ? Items->Get(index) : AnsiString();
  settingIndex_ = false;
}

// Text set from code raises no OnChange (only the user's typing does).
void TComboBox::TextChanged() {
  if (settingIndex_) return;
  if (itemIndex_ >= 0 && !(Items->Get(itemIndex_) == text_)) itemIndex_ = -1;
}

// ---- TCheckBox

TCheckBox::TCheckBox(TComponent* AOwner) : TButtonControl(AOwner) {
  SetBounds(0, 0, 97, 17);
  TabStop = true;
}

void TCheckBox::SetChecked(const bool& v) {
  if (v == checked_) return;
  checked_ = v;
  OnClick(this);
}

void TCheckBox::Click() { SetChecked(!checked_); }

// ---- TButton

TButton::TButton(TComponent* AOwner) : TButtonControl(AOwner) {
  SetBounds(0, 0, 75, 25);
  TabStop = true;
}

void TButton::Click() {
  if (ModalResult != mrNone)
    if (TCustomForm* f = ParentForm()) f->ModalResult = ModalResult;
  OnClick(this);
}
