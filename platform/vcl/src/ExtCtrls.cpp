#include "ExtCtrls.hpp"

#include "vqvcl/Loop.h"
#include "vqwin/Clock.h"

// ---- TPanel

TPanel::TPanel(TComponent* AOwner) : TCustomControl(AOwner) { SetBounds(0, 0, 185, 41); }

void TPanel::GetFrame(int& l, int& t, int& r, int& b) const {
  l = t = r = b = borderStyle_ == bsSingle ? 1 : 0;
}

TRect TPanel::AlignRect() const {
  int inset = borderWidth_;
  if (bevelOuter_ != bvNone) inset += bevelWidth_;
  if (bevelInner_ != bvNone) inset += bevelWidth_;
  TRect r = ClientRect();
  r.Left += inset;
  r.Top += inset;
  r.Right -= inset;
  r.Bottom -= inset;
  return r;
}

// ---- TImage

TImage::TImage(TComponent* AOwner) : TGraphicControl(AOwner), Picture(new TPicture) {
  SetBounds(0, 0, 105, 105);
  Picture->OnChanged = [this] { PictureChanged(); };
}

TImage::~TImage() { delete Picture; }

void TImage::SetAutoSize(const bool& v) {
  autoSize_ = v;
  PictureChanged();
}

void TImage::PictureChanged() {
  if (autoSize_ && Picture->GetWidth() > 0 && Picture->GetHeight() > 0)
    SetBounds(left_, top_, Picture->GetWidth(), Picture->GetHeight());
}

// ---- TTimer

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {
  Restart();
  vcl::RegisterTimer(this);
}

TTimer::~TTimer() { vcl::UnregisterTimer(this); }

void TTimer::Restart() { due_ = vqwin::CurrentClock().Now() + interval_; }

void TTimer::SetEnabled(const bool& v) {
  if (v == enabled_) return;
  enabled_ = v;
  if (v) {
    Restart();
    vcl::UnregisterTimer(this);  // last among the started timers
    vcl::RegisterTimer(this);
  }
}

void TTimer::SetInterval(const unsigned& v) {
  if (v == interval_) return;
  interval_ = v;
  Restart();
}

void TTimer::Fire() {
  const uint64_t now = vqwin::CurrentClock().Now();
  if (interval_ == 0) return;
  // Ticks missed while the program was busy come as one.
  while (due_ <= now) due_ += interval_;
  vcl::Dispatch([this] { OnTimer(this); });
}

// ---- TRadioGroup

TRadioGroup::TRadioGroup(TComponent* AOwner) : TCustomControl(AOwner), Items(new TStringList) {
  SetBounds(0, 0, 185, 105);
  Items->OnChanged = [this] {
    if (itemIndex_ >= Items->GetCount()) itemIndex_ = Items->GetCount() - 1;
  };
}

TRadioGroup::~TRadioGroup() {
  Items->OnChanged = nullptr;
  delete Items;
}

void TRadioGroup::SetItemIndex(const int& i) {
  int v = i < -1 ? -1 : i;
  if (v >= Items->GetCount()) v = Items->GetCount() - 1;
  itemIndex_ = v;
}
