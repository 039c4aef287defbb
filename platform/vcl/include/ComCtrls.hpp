// Common controls: rich edit, list view, progress bar.
#pragma once

#include <vector>

#include "ExtCtrls.hpp"

// Attributes of rich-edit text: SelAttributes are those that newly inserted
// text takes.
class TTextAttributes : public TPersistent {
 public:
  TColor Color = clWindowText;
  AnsiString Name;
  int Size = 8;
  TFontStyles Style;
  TFontCharset Charset = DEFAULT_CHARSET;
};

class TRichEdit : public TCustomMemo {
 public:
  explicit __fastcall TRichEdit(TComponent* AOwner);
  ~TRichEdit() override;

  TTextAttributes* SelAttributes;
  TTextAttributes* DefAttributes;
  bool PlainText = false;
  bool HideSelection = true;

  TColor InsertColor() const override { return SelAttributes->Color; }
  // Colour of line `index` (as it was inserted).
  TColor LineColor(int index) const;
};

enum TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };

class TListView;
class TListItems;

class TListColumn : public TPersistent {
 public:
  AnsiString Caption;
  int Width = 50;
  TAlignment Alignment = taLeftJustify;
};

class TListColumns : public TPersistent {
 public:
  ~TListColumns() override;
  TListColumn* Add();
  void Clear();
  VCL_READONLY(int, Count, GetCount);
  vcl::IndexedProperty<TListColumn*> Items{[this](int i) { return Get(i); }};
  TListColumn* operator[](int i) const { return Get(i); }
  int GetCount() const { return static_cast<int>(columns_.size()); }
  TListColumn* Get(int i) const;

 private:
  std::vector<TListColumn*> columns_;
};

class TListItem : public TPersistent {
 public:
  explicit TListItem(TListItems* owner);
  ~TListItem() override;

  AnsiString Caption;
  TStrings* SubItems;
  bool Selected = false;
  bool Focused = false;
  VCL_READONLY(int, Index, GetIndex);
  // Scrolls the list so that the item is in view (partialOK: a partly
  // visible row counts as in view).
  bool MakeVisible(bool partialOK);
  int GetIndex() const;

 private:
  TListItems* owner_;
};

class TListItems : public TPersistent {
 public:
  explicit TListItems(TListView* owner) : owner_(owner) {}
  ~TListItems() override;

  TListItem* Add();
  void Clear();
  void Delete(int index);
  void BeginUpdate() {}
  void EndUpdate() {}
  VCL_READONLY(int, Count, GetCount);
  vcl::IndexedProperty<TListItem*> Item{[this](int i) { return Get(i); }};
  TListItem* operator[](int i) const { return Get(i); }
  int GetCount() const { return static_cast<int>(items_.size()); }
  TListItem* Get(int i) const;
  int IndexOf(const TListItem* item) const;
  TListView* Owner() const { return owner_; }

 private:
  TListView* owner_;
  std::vector<TListItem*> items_;
};

class TListView : public TCustomControl {
 public:
  explicit __fastcall TListView(TComponent* AOwner);
  ~TListView() override;

  TListColumns* Columns;
  vcl::IndexedProperty<TListColumn*> Column{[this](int i) { return Columns->Get(i); }};
  TListItems* Items;
  TViewStyle ViewStyle = vsIcon;
  bool GridLines = false;
  bool RowSelect = false;
  bool MultiSelect = false;
  bool HideSelection = true;
  bool ReadOnly = false;
  // First row in view (report view).
  int TopIndex = 0;
  VCL_READONLY(int, SelCount, GetSelCount);
  VCL_READONLY(TListItem*, Selected, GetSelected);

  void Clear() { Items->Clear(); }
  int GetSelCount() const;
  TListItem* GetSelected() const;
  // Rows that fit below the column header, by the font's row height.
  int VisibleRowCount() const;
  int RowHeight() const;
  int HeaderHeight() const;
  void GetFrame(int& l, int& t, int& r, int& b) const override { l = t = r = b = 2; }
};

class TProgressBar : public TWinControl {
 public:
  explicit __fastcall TProgressBar(TComponent* AOwner);

  VCL_PROPERTY(int, Min, GetMin, SetMin);
  VCL_PROPERTY(int, Max, GetMax, SetMax);
  // Kept within Min..Max.
  VCL_PROPERTY(int, Position, GetPosition, SetPosition);
  int Step = 10;
  bool Smooth = false;

  void StepIt() { SetPosition(position_ + Step); }
  void StepBy(int delta) { SetPosition(position_ + delta); }
  int GetMin() const { return min_; }
  void SetMin(const int& v);
  int GetMax() const { return max_; }
  void SetMax(const int& v);
  int GetPosition() const { return position_; }
  void SetPosition(const int& v);

 private:
  int min_ = 0, max_ = 100, position_ = 0;
};
