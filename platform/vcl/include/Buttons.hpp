// Picture buttons.
#pragma once

#include "StdCtrls.hpp"

enum TBitBtnKind { bkCustom, bkOK, bkCancel, bkHelp, bkYes, bkNo, bkClose, bkAbort, bkRetry,
                   bkIgnore, bkAll };
enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

class TBitBtn : public TButton {
 public:
  explicit __fastcall TBitBtn(TComponent* AOwner);
  ~TBitBtn() override;

  // A kind brings its caption, modal result and Default/Cancel role
  // (OK: "OK", mrOk, default; Cancel: "Cancel", mrCancel, cancel ...).
  VCL_PROPERTY(TBitBtnKind, Kind, GetKind, SetKind);
  TBitmap* Glyph;
  int NumGlyphs = 1;
  TButtonLayout Layout = blGlyphLeft;
  int Margin = -1;
  int Spacing = 4;

  TBitBtnKind GetKind() const { return kind_; }
  void SetKind(const TBitBtnKind& k);
  void Click() override;  // bkClose closes the form

 private:
  TBitBtnKind kind_ = bkCustom;
};
