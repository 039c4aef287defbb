// Panels, images, timers and radio groups.
#pragma once

#include <cstdint>

#include "StdCtrls.hpp"

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };

class TPanel : public TCustomControl {
 public:
  explicit __fastcall TPanel(TComponent* AOwner);

  TAlignment Alignment = taCenter;
  VCL_PROPERTY(TBevelCut, BevelOuter, GetBevelOuter, SetBevelOuter);
  VCL_PROPERTY(TBevelCut, BevelInner, GetBevelInner, SetBevelInner);
  VCL_PROPERTY(int, BevelWidth, GetBevelWidth, SetBevelWidth);
  VCL_PROPERTY(int, BorderWidth, GetBorderWidth, SetBorderWidth);
  VCL_PROPERTY(TBorderStyle, BorderStyle, GetBorderStyle, SetBorderStyle);

  // Aligned children sit inside the border and the bevels.
  TRect AlignRect() const override;
  void GetFrame(int& l, int& t, int& r, int& b) const override;

  TBevelCut GetBevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(const TBevelCut& v) { bevelOuter_ = v; Realign(); }
  TBevelCut GetBevelInner() const { return bevelInner_; }
  void SetBevelInner(const TBevelCut& v) { bevelInner_ = v; Realign(); }
  int GetBevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(const int& v) { bevelWidth_ = v; Realign(); }
  int GetBorderWidth() const { return borderWidth_; }
  void SetBorderWidth(const int& v) { borderWidth_ = v; Realign(); }
  TBorderStyle GetBorderStyle() const { return borderStyle_; }
  void SetBorderStyle(const TBorderStyle& v) { borderStyle_ = v; Realign(); }

 private:
  TBevelCut bevelOuter_ = bvRaised;
  TBevelCut bevelInner_ = bvNone;
  int bevelWidth_ = 1;
  int borderWidth_ = 0;
  TBorderStyle borderStyle_ = bsNone;
};

class TImage : public TGraphicControl {
 public:
  explicit __fastcall TImage(TComponent* AOwner);
  ~TImage() override;

  TPicture* Picture;
  // An auto-sized image takes the size of its picture.
  VCL_PROPERTY(bool, AutoSize, GetAutoSize, SetAutoSize);
  bool Transparent = false;
  bool Stretch = false;
  bool Center = false;

  bool GetAutoSize() const { return autoSize_; }
  void SetAutoSize(const bool& v);

 private:
  void PictureChanged();
  bool autoSize_ = false;
};

// A timer on the machine's clock. It runs while Enabled with a non-zero
// Interval and an OnTimer handler; enabling it or changing its interval starts the count afresh.
// Ticks that fall due while the program is busy are served once, late.
class TTimer : public TComponent {
 public:
  explicit __fastcall TTimer(TComponent* AOwner);
  ~TTimer() override;

  VCL_PROPERTY(bool, Enabled, GetEnabled, SetEnabled);
  VCL_PROPERTY(unsigned, Interval, GetInterval, SetInterval);
  TNotifyEventProperty OnTimer{this};

  bool GetEnabled() const { return enabled_; }
  void SetEnabled(const bool& v);
  unsigned GetInterval() const { return interval_; }
  void SetInterval(const unsigned& v);
  // Machine time of the next tick; meaningful while Running().
  uint64_t Due() const { return due_; }
  // Enabled, with an interval and a handler.
  bool Running() const { return enabled_ && interval_ != 0 && static_cast<bool>(OnTimer); }
  // Called by the message loop when the tick is served.
  void Fire();

 private:
  void Restart();
  bool enabled_ = true;
  unsigned interval_ = 1000;
  uint64_t due_ = 0;
};

class TRadioGroup : public TCustomControl {
 public:
  explicit __fastcall TRadioGroup(TComponent* AOwner);
  ~TRadioGroup() override;

  TStrings* Items;
  // -1: no button chosen. Emptying the items leaves -1.
  VCL_PROPERTY(int, ItemIndex, GetItemIndex, SetItemIndex);
  int Columns = 1;

  int GetItemIndex() const { return itemIndex_; }
  void SetItemIndex(const int& i);

 private:
  int itemIndex_ = -1;
};
