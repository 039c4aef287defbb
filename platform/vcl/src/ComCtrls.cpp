#include "ComCtrls.hpp"

#include <algorithm>

// ---- TRichEdit

TRichEdit::TRichEdit(TComponent* AOwner)
    : TCustomMemo(AOwner), SelAttributes(new TTextAttributes), DefAttributes(new TTextAttributes) {}

TRichEdit::~TRichEdit() {
  delete SelAttributes;
  delete DefAttributes;
}

TColor TRichEdit::LineColor(int index) const { return static_cast<TMemoStrings*>(Lines)->LineColor(index); }

// ---- columns and items

TListColumns::~TListColumns() { Clear(); }

TListColumn* TListColumns::Add() {
  columns_.push_back(new TListColumn);
  return columns_.back();
}

void TListColumns::Clear() {
  for (TListColumn* c : columns_) delete c;
  columns_.clear();
}

TListColumn* TListColumns::Get(int i) const {
  if (i < 0 || i >= GetCount()) throw EListError("List index out of bounds (" + AnsiString(i) + ")");
  return columns_[static_cast<size_t>(i)];
}

TListItem::TListItem(TListItems* owner) : SubItems(new TStringList), owner_(owner) {}
TListItem::~TListItem() { delete SubItems; }

int TListItem::GetIndex() const { return owner_->IndexOf(this); }

bool TListItem::MakeVisible(bool partialOK) {
  TListView* lv = owner_->Owner();
  const int index = GetIndex();
  if (!lv || index < 0) return false;
  const int rowH = lv->RowHeight();
  const int area = std::max(0, lv->GetClientHeight() - lv->HeaderHeight());
  const int full = std::max(1, area / rowH);
  const bool partial = area % rowH != 0;
  if (index < lv->TopIndex) {
    lv->TopIndex = index;
  } else if (index >= lv->TopIndex + full) {
    if (!(partialOK && partial && index == lv->TopIndex + full)) lv->TopIndex = index - full + 1;
  }
  return true;
}

TListItems::~TListItems() { Clear(); }

TListItem* TListItems::Add() {
  items_.push_back(new TListItem(this));
  return items_.back();
}

void TListItems::Clear() {
  for (TListItem* i : items_) delete i;
  items_.clear();
  if (owner_) owner_->TopIndex = 0;
}

void TListItems::Delete(int index) {
  Get(index);
  delete items_[static_cast<size_t>(index)];
  items_.erase(items_.begin() + index);
  if (owner_ && owner_->TopIndex >= GetCount()) owner_->TopIndex = std::max(0, GetCount() - 1);
}

TListItem* TListItems::Get(int i) const {
  if (i < 0 || i >= GetCount()) throw EListError("List index out of bounds (" + AnsiString(i) + ")");
  return items_[static_cast<size_t>(i)];
}

int TListItems::IndexOf(const TListItem* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

// ---- TListView

TListView::TListView(TComponent* AOwner)
    : TCustomControl(AOwner), Columns(new TListColumns), Items(new TListItems(this)) {
  SetBounds(0, 0, 250, 150);
  Color = clWindow;
  TabStop = true;
}

TListView::~TListView() {
  delete Items;
  delete Columns;
}

int TListView::GetSelCount() const {
  int n = 0;
  for (int i = 0; i < Items->GetCount(); ++i) n += Items->Get(i)->Selected ? 1 : 0;
  return n;
}

TListItem* TListView::GetSelected() const {
  for (int i = 0; i < Items->GetCount(); ++i)
    if (Items->Get(i)->Selected) return Items->Get(i);
  return nullptr;
}

// A row: the font's character height and a little room above and below.
int TListView::RowHeight() const { return std::abs(Font->GetHeight()) + 4; }
int TListView::HeaderHeight() const { return ViewStyle == vsReport ? RowHeight() + 2 : 0; }

int TListView::VisibleRowCount() const {
  return std::max(0, GetClientHeight() - HeaderHeight()) / std::max(1, RowHeight());
}

// ---- TProgressBar

TProgressBar::TProgressBar(TComponent* AOwner) : TWinControl(AOwner) { SetBounds(0, 0, 150, 16); }

void TProgressBar::SetMin(const int& v) {
  min_ = v;
  if (max_ < min_) max_ = min_;
  SetPosition(position_);
}

void TProgressBar::SetMax(const int& v) {
  max_ = v;
  if (min_ > max_) min_ = max_;
  SetPosition(position_);
}

void TProgressBar::SetPosition(const int& v) { position_ = std::clamp(v, min_, max_); }
