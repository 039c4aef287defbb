#include "Forms.hpp"

#include <algorithm>

#include "Internal.h"
#include "StdCtrls.hpp"
#include "vqvcl/DialogScript.h"
#include "vqvcl/Loop.h"

namespace {
// Classic Windows frame metrics.
constexpr int kCaption = 19;
constexpr int kToolCaption = 15;
constexpr int kFixedFrame = 3;
constexpr int kSizeFrame = 4;
}  // namespace

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  visible_ = false;
  SetBounds(0, 0, 320, 240);
  vcl::detail::FormsZOrder().push_back(this);
}

TCustomForm::~TCustomForm() {
  if (!destroying_) destroying_ = true;  // deleted directly: no OnDestroy (see Free)
  DestroyComponents();
  auto& z = vcl::detail::FormsZOrder();
  z.erase(std::remove(z.begin(), z.end(), this), z.end());
  auto& m = vcl::detail::ModalStack();
  m.erase(std::remove(m.begin(), m.end(), this), m.end());
  vcl::detail::FormDestroyed(this);
}

void TCustomForm::AfterConstruction() {
  if (created_) return;
  created_ = true;
  vcl::detail::EnsureMessageBoxHook();
  Realign();
  // An error in the creation handler is shown; the form is still made.
  try {
    OnCreate(this);
  } catch (...) {
    Application->HandleException(this);
  }
  if (visible_) {
    visible_ = false;
    SetVisible(true);
  }
}

void TCustomForm::BeforeDestruction() {
  if (destroying_) return;
  destroying_ = true;
  try {
    OnDestroy(this);
  } catch (...) {
    if (Application) Application->HandleException(this);
  }
}

void TCustomForm::GetFrame(int& left, int& top, int& right, int& bottom) const {
  int border = 0, caption = 0;
  switch (borderStyle_) {
    case bsNone: break;
    case bsSingle:
    case bsDialog: border = kFixedFrame; caption = kCaption; break;
    case bsSizeable: border = kSizeFrame; caption = kCaption; break;
    case bsToolWindow: border = kFixedFrame; caption = kToolCaption; break;
    case bsSizeToolWin: border = kSizeFrame; caption = kToolCaption; break;
  }
  left = right = bottom = border;
  top = border + caption;
}

void TCustomForm::SetBorderStyle(const TFormBorderStyle& b) {
  const int cw = GetClientWidth(), ch = GetClientHeight();
  borderStyle_ = b;
  int l, t, r, bo;
  GetFrame(l, t, r, bo);
  SetBounds(left_, top_, cw + l + r, ch + t + bo);
}

void TCustomForm::BoundsChanged(bool resized) {
  TWinControl::BoundsChanged(resized);
  if (resized && handleCreated_) OnResize(this);
}

void TCustomForm::SetVisible(const bool& v) {
  if (v == visible_) return;
  if (!created_) {
    visible_ = v;
    return;
  }
  if (v) {
    visible_ = true;
    BringToFront();
    if (!handleCreated_) {
      // The window is made at its first showing: centred when asked, then
      // its first resize event.
      handleCreated_ = true;
      if (Position == poScreenCenter || Position == poDesktopCenter || Position == poMainFormCenter ||
          Position == poOwnerFormCenter)
        SetBounds((Screen->Width - width_) / 2, (Screen->Height - height_) / 2, width_, height_);
      OnResize(this);
    }
    FireShow();
  } else {
    visible_ = false;
    OnHide(this);
  }
}

namespace {
// The first control that takes the focus, in tab order (unnumbered controls
// in the order they were made), depth first.
TWinControl* FirstFocusable(const TWinControl* w) {
  std::vector<TWinControl*> kids;
  for (TControl* c : w->Children())
    if (auto* cw = dynamic_cast<TWinControl*>(c)) kids.push_back(cw);
  std::stable_sort(kids.begin(), kids.end(), [](TWinControl* a, TWinControl* b) {
    const unsigned ta = static_cast<unsigned>(a->TabOrder), tb = static_cast<unsigned>(b->TabOrder);
    return ta < tb;  // -1 sorts last
  });
  for (TWinControl* c : kids) {
    if (!c->GetVisible() || !c->GetEnabled()) continue;
    if (c->TabStop) return c;
    if (TWinControl* inner = FirstFocusable(c)) return inner;
  }
  return nullptr;
}
}  // namespace

// After OnShow the form is activated: without an active control the first
// one in tab order takes the focus.
void TCustomForm::FireShow() {
  OnShow(this);
  if (visible_ && (!ActiveControl || !ActiveControl->CanFocus())) ActiveControl = FirstFocusable(this);
}

void TCustomForm::BringToFront() {
  auto& z = vcl::detail::FormsZOrder();
  auto it = std::find(z.begin(), z.end(), this);
  if (it != z.end()) {
    z.erase(it);
    z.push_back(this);
  }
}

bool TCustomForm::CloseQuery() {
  bool can = true;
  OnCloseQuery(this, can);
  return can;
}

void TCustomForm::Close() {
  if (modal_) {
    modalResult_ = mrCancel;
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = caHide;
  OnClose(this, action);
  if (action == caNone) return;
  if (Application && static_cast<TCustomForm*>(Application->MainForm) == this) {
    vcl::detail::MainFormClosed();
    Application->Terminate();
    return;
  }
  if (action == caHide) Hide();
  else if (action == caFree) Release();
}

void TCustomForm::CloseModal() {
  if (!CloseQuery()) {
    modalResult_ = mrNone;
    return;
  }
  TCloseAction action = caHide;
  OnClose(this, action);
  if (action == caNone) modalResult_ = mrNone;
}

int TCustomForm::ShowModal() {
  if (visible_ || !enabled_ || modal_) throw EInvalidOperation("Cannot make a visible window modal");
  modal_ = true;
  vcl::detail::ModalStack().push_back(this);
  std::string note;
  try {
    modalResult_ = mrNone;
    Show();
    for (;;) {
      const bool alive = Application->HandleMessage();
      if (Application->Terminated) {
        modalResult_ = mrCancel;
      } else if (!alive && modalResult_ == mrNone) {
        note = "input exhausted: closed with mrCancel";
        modalResult_ = mrCancel;
      }
      if (modalResult_ != mrNone) {
        const TModalResult wanted = modalResult_;
        CloseModal();
        if (modalResult_ != mrNone) break;
        if (!alive || Application->Terminated) {  // nothing can close it any more
          modalResult_ = wanted;
          break;
        }
      }
    }
  } catch (...) {
    modal_ = false;
    auto& m = vcl::detail::ModalStack();
    m.erase(std::remove(m.begin(), m.end(), this), m.end());
    throw;
  }
  Hide();
  modal_ = false;
  auto& m = vcl::detail::ModalStack();
  m.erase(std::remove(m.begin(), m.end(), this), m.end());
  vcl::DialogRecord rec;
  rec.kind = vcl::DialogKind::ModalForm;
  rec.caption = vcl::detail::AnsiToUtf8(text_.str());
  rec.text = Name.str();
  rec.result = modalResult_;
  rec.scripted = note.empty();
  rec.note = note;
  vcl::CurrentDialogScript().Record(rec);
  return modalResult_;
}

void TCustomForm::Release() {
  vcl::PostInput([this] {
    auto& z = vcl::detail::FormsZOrder();
    if (std::find(z.begin(), z.end(), this) != z.end()) Free();
  });
}

namespace {
TButton* FindButton(const TWinControl* w, bool isDefault) {
  for (TControl* c : w->Children()) {
    if (auto* b = dynamic_cast<TButton*>(c))
      if (isDefault ? b->Default : b->Cancel) return b;
    if (auto* cw = dynamic_cast<TWinControl*>(c))
      if (TButton* b = FindButton(cw, isDefault)) return b;
  }
  return nullptr;
}
}  // namespace

TButton* TCustomForm::DefaultButton() const { return FindButton(this, true); }
TButton* TCustomForm::CancelButton() const { return FindButton(this, false); }

void TCustomForm::PressKey(char key) {
  TWinControl* target = ActiveControl;
  if (target && (!target->Showing() || !target->EffectivelyEnabled())) target = nullptr;
  if ((key == '\r' || key == '\x1b') && !(target && target->WantsKey(key))) {
    TButton* button = nullptr;
    if (key == '\r') button = dynamic_cast<TButton*>(target);
    if (!button) button = key == '\r' ? DefaultButton() : CancelButton();
    if (button && button->Showing() && button->EffectivelyEnabled()) {
      button->Click();
      return;
    }
  }
  if (KeyPreview) {
    OnKeyPress(this, key);
    if (key == 0) return;
  }
  if (target) target->KeyPress(key);
  else if (!KeyPreview) OnKeyPress(this, key);
}
