// Standard controls: labels, edits, memos, combo boxes, check boxes, buttons.
#pragma once

#include <vector>

#include "Forms.hpp"

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TComboBoxStyle { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };
enum TTextLayout { tlTop, tlCenter, tlBottom };

class TLabel : public TGraphicControl {
 public:
  explicit __fastcall TLabel(TComponent* AOwner);

  // An auto-sized label takes the size of its text in its font.
  VCL_PROPERTY(bool, AutoSize, GetAutoSize, SetAutoSize);
  TAlignment Alignment = taLeftJustify;
  TTextLayout Layout = tlTop;
  bool Transparent = false;
  bool WordWrap = false;
  bool ShowAccelChar = true;

  bool GetAutoSize() const { return autoSize_; }
  void SetAutoSize(const bool& v) { autoSize_ = v; AdjustSize(); }
  void AdjustSize();

 protected:
  void TextChanged() override { AdjustSize(); }
  void FontUpdated() override;

 private:
  bool autoSize_ = true;
};

class TEdit : public TWinControl {
 public:
  explicit __fastcall TEdit(TComponent* AOwner);

  bool ReadOnly = false;
  int MaxLength = 0;
  TImeMode ImeMode = imDontCare;
  TBorderStyle BorderStyle = bsSingle;  // bsNone: no sunken frame
  TNotifyEventProperty OnChange{this};
  void Clear() { SetText(""); }
  void GetFrame(int& l, int& t, int& r, int& b) const override { l = t = r = b = BorderStyle == bsNone ? 0 : 2; }

 protected:
  void TextChanged() override;
};

// Lines of a memo; each keeps the colour it was inserted with (a rich edit
// shows it), and each insertion moves the caret after the new line.
class TMemoStrings : public TStrings {
 public:
  explicit TMemoStrings(class TCustomMemo* memo) : memo_(memo) {}
  void Insert(int index, const AnsiString& s) override;
  void Delete(int index) override;
  void Clear() override;
  AnsiString Get(int index) const override;
  void Put(int index, const AnsiString& s) override;
  int GetCount() const override { return static_cast<int>(lines_.size()); }
  TColor LineColor(int index) const;

 private:
  struct Line {
    AnsiString text;
    TColor color;
  };
  class TCustomMemo* memo_;
  std::vector<Line> lines_;
};

class TCustomMemo : public TWinControl {
 public:
  explicit __fastcall TCustomMemo(TComponent* AOwner);
  ~TCustomMemo() override;

  TStrings* Lines;
  bool ReadOnly = false;
  TScrollStyle ScrollBars = ssNone;
  bool WordWrap = true;
  bool WantReturns = true;
  TAlignment Alignment = taLeftJustify;
  TImeMode ImeMode = imDontCare;
  TBorderStyle BorderStyle = bsSingle;  // bsNone: no sunken frame
  TNotifyEventProperty OnChange{this};
  // First line in view (0-based); EM_SCROLLCARET brings the caret's line
  // into view.
  int TopLine = 0;
  int CaretLine = 0;

  void Clear() { Lines->Clear(); }
  // Colour that newly inserted lines take (a rich edit's SelAttributes).
  virtual TColor InsertColor() const { return Font->Color; }
  AnsiString GetText() const override;
  void SetText(const AnsiString& t) override;
  bool WantsKey(char key) const override;
  LRESULT Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void GetFrame(int& l, int& t, int& r, int& b) const override { l = t = r = b = BorderStyle == bsNone ? 0 : 2; }
  // Lines that fit in the client area, by the font's line height.
  int VisibleLineCount() const;

 protected:
  friend class TMemoStrings;
  void LinesChanged(int caretLine);
};

class TMemo : public TCustomMemo {
 public:
  explicit __fastcall TMemo(TComponent* AOwner) : TCustomMemo(AOwner) {}
};

class TComboBox : public TWinControl {
 public:
  explicit __fastcall TComboBox(TComponent* AOwner);
  ~TComboBox() override;

  TStrings* Items;
  VCL_PROPERTY(int, ItemIndex, GetItemIndex, SetItemIndex);
  TComboBoxStyle Style = csDropDown;
  int ItemHeight = 13;
  int DropDownCount = 8;
  TImeMode ImeMode = imDontCare;
  // A choice by the user raises OnClick, then OnChange; setting ItemIndex
  // from code raises neither.
  TNotifyEventProperty OnChange{this};

  void Clear();
  int GetItemIndex() const { return itemIndex_; }
  void SetItemIndex(const int& i);
  void GetFrame(int& l, int& t, int& r, int& b) const override { l = t = r = b = 2; }

 protected:
  void TextChanged() override;

 private:
  int itemIndex_ = -1;
  bool settingIndex_ = false;
};

class TButtonControl : public TWinControl {
 public:
  using TWinControl::TWinControl;
};

class TCheckBox : public TButtonControl {
 public:
  explicit __fastcall TCheckBox(TComponent* AOwner);

  // Changing Checked (by the user or from code) raises OnClick.
  VCL_PROPERTY(bool, Checked, GetChecked, SetChecked);
  TAlignment Alignment = taRightJustify;

  bool GetChecked() const { return checked_; }
  void SetChecked(const bool& v);
  void Click() override;  // toggles

 private:
  bool checked_ = false;
};

class TButton : public TButtonControl {
 public:
  explicit __fastcall TButton(TComponent* AOwner);

  TModalResult ModalResult = mrNone;
  bool Default = false;  // Enter presses it
  bool Cancel = false;   // Esc presses it
  // Hands ModalResult (when set) to the form, then OnClick.
  void Click() override;
};
