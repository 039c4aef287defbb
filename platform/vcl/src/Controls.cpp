#include "Controls.hpp"

#include <algorithm>

#include "Forms.hpp"

// ---- TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner), Font(new TFont) {
  Font->OnChanged = [this] { FontChanged(); };
}

TControl::~TControl() {
  if (TCustomForm* f = ParentForm(); f && f->ActiveControl == this) f->ActiveControl = nullptr;
  if (parent_) parent_->RemoveChild(this);
  Font->OnChanged = nullptr;
  delete Font;
}

void TControl::SetParent(TWinControl* const& p) {
  if (p == parent_) return;
  TWinControl* old = parent_;
  if (old) old->RemoveChild(this);
  parent_ = p;
  if (p) p->InsertChild(this);
  if (old && align_ != alNone) old->Realign();
  if (p) {
    ParentFontChanged();
    if (align_ != alNone) p->Realign();
  }
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  const bool resized = width != width_ || height != height_;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  BoundsChanged(resized);
  if (parent_ && align_ != alNone) parent_->Realign();
}

void TControl::GetFrame(int& left, int& top, int& right, int& bottom) const {
  left = top = right = bottom = 0;
}

int TControl::GetClientWidth() const {
  int l, t, r, b;
  GetFrame(l, t, r, b);
  return std::max(0, width_ - l - r);
}

void TControl::SetClientWidth(const int& v) {
  int l, t, r, b;
  GetFrame(l, t, r, b);
  SetWidth(v + l + r);
}

int TControl::GetClientHeight() const {
  int l, t, r, b;
  GetFrame(l, t, r, b);
  return std::max(0, height_ - t - b);
}

void TControl::SetClientHeight(const int& v) {
  int l, t, r, b;
  GetFrame(l, t, r, b);
  SetHeight(v + t + b);
}

void TControl::SetAlign(const TAlign& a) {
  if (a == align_) return;
  align_ = a;
  if (parent_) parent_->Realign();
}

void TControl::SetVisible(const bool& v) {
  if (v == visible_) return;
  visible_ = v;
  if (parent_ && align_ != alNone) parent_->Realign();
}

void TControl::SetText(const AnsiString& t) {
  if (t == text_) return;
  text_ = t;
  TextChanged();
}

void TControl::SetParentFont(const bool& v) {
  parentFont_ = v;
  if (v) ParentFontChanged();
}

void TControl::ParentFontChanged() {
  if (!parentFont_ || !parent_) return;
  inFontCopy_ = true;
  Font->Assign(parent_->Font);
  inFontCopy_ = false;
}

void TControl::FontChanged() {
  if (!inFontCopy_) parentFont_ = false;
  if (auto* w = dynamic_cast<TWinControl*>(this))
    for (TControl* c : w->Children()) c->ParentFontChanged();
  FontUpdated();
}

void TControl::BringToFront() {
  if (parent_) parent_->RaiseChild(this, true);
}

void TControl::SendToBack() {
  if (parent_) parent_->RaiseChild(this, false);
}

LRESULT TControl::Perform(UINT msg, WPARAM wParam, LPARAM lParam) { return Dispatch(msg, wParam, lParam); }

LRESULT TControl::Dispatch(UINT, WPARAM, LPARAM) { return 0; }

void TControl::Click() { OnClick(this); }

bool TControl::Showing() const {
  for (const TControl* c = this; c; c = c->parent_)
    if (!c->visible_) return false;
  return true;
}

bool TControl::EffectivelyEnabled() const {
  for (const TControl* c = this; c; c = c->parent_)
    if (!c->enabled_) return false;
  return true;
}

TCustomForm* TControl::ParentForm() const {
  const TControl* c = this;
  while (c->parent_) c = c->parent_;
  return dynamic_cast<TCustomForm*>(const_cast<TControl*>(c));
}

// ---- TWinControl

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  for (TControl* c : children_) c->parent_ = nullptr;
  children_.clear();
}

TControl* TWinControl::GetControl(int i) const {
  if (i < 0 || i >= GetControlCount()) throw EListError("List index out of bounds (" + AnsiString(i) + ")");
  return children_[static_cast<size_t>(i)];
}

void TWinControl::InsertChild(TControl* c) { children_.push_back(c); }

void TWinControl::RemoveChild(TControl* c) {
  children_.erase(std::remove(children_.begin(), children_.end(), c), children_.end());
}

void TWinControl::RaiseChild(TControl* c, bool toFront) {
  auto it = std::find(children_.begin(), children_.end(), c);
  if (it == children_.end()) return;
  children_.erase(it);
  if (toFront) children_.push_back(c);
  else children_.insert(children_.begin(), c);
}

void TWinControl::BoundsChanged(bool resized) {
  if (resized) Realign();
}

void TWinControl::Realign() {
  if (aligning_) return;
  aligning_ = true;
  TRect r = AlignRect();
  auto take = [&](TAlign a) {
    std::vector<TControl*> v;
    for (TControl* c : children_)
      if (c->align_ == a && c->visible_) v.push_back(c);
    return v;
  };
  auto tops = take(alTop);
  std::stable_sort(tops.begin(), tops.end(), [](TControl* a, TControl* b) { return a->top_ < b->top_; });
  for (TControl* c : tops) {
    const int h = c->height_;
    c->SetBounds(r.Left, r.Top, std::max(0, r.Width()), h);
    r.Top += h;
  }
  auto bottoms = take(alBottom);
  std::stable_sort(bottoms.begin(), bottoms.end(), [](TControl* a, TControl* b) {
    return a->top_ + a->height_ > b->top_ + b->height_;
  });
  for (TControl* c : bottoms) {
    const int h = c->height_;
    c->SetBounds(r.Left, r.Bottom - h, std::max(0, r.Width()), h);
    r.Bottom -= h;
  }
  auto lefts = take(alLeft);
  std::stable_sort(lefts.begin(), lefts.end(), [](TControl* a, TControl* b) { return a->left_ < b->left_; });
  for (TControl* c : lefts) {
    const int w = c->width_;
    c->SetBounds(r.Left, r.Top, w, std::max(0, r.Height()));
    r.Left += w;
  }
  auto rights = take(alRight);
  std::stable_sort(rights.begin(), rights.end(), [](TControl* a, TControl* b) {
    return a->left_ + a->width_ > b->left_ + b->width_;
  });
  for (TControl* c : rights) {
    const int w = c->width_;
    c->SetBounds(r.Right - w, r.Top, w, std::max(0, r.Height()));
    r.Right -= w;
  }
  for (TControl* c : take(alClient))
    c->SetBounds(r.Left, r.Top, std::max(0, r.Width()), std::max(0, r.Height()));
  aligning_ = false;
}

bool TWinControl::CanFocus() const {
  const TCustomForm* form = ParentForm();
  for (const TControl* c = this; c && c != form; c = c->GetParent())
    if (!c->GetVisible() || !c->GetEnabled()) return false;
  return true;
}

void TWinControl::SetFocus() {
  if (!CanFocus()) throw EInvalidOperation("Cannot focus a disabled or invisible window");
  if (TCustomForm* f = ParentForm(); f && f != this) f->ActiveControl = this;
}

bool TWinControl::Focused() const {
  const TCustomForm* f = ParentForm();
  return f && f->ActiveControl == this;
}

bool TWinControl::WantsKey(char) const { return false; }

void TWinControl::KeyPress(char& key) { OnKeyPress(this, key); }
