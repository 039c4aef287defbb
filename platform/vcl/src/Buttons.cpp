#include "Buttons.hpp"

TBitBtn::TBitBtn(TComponent* AOwner) : TButton(AOwner), Glyph(new TBitmap) {}

TBitBtn::~TBitBtn() { delete Glyph; }

void TBitBtn::SetKind(const TBitBtnKind& k) {
  kind_ = k;
  struct Role {
    const char* caption;
    TModalResult result;
    bool isDefault, isCancel;
  };
  Role r{nullptr, mrNone, false, false};
  switch (k) {
    case bkCustom: return;
    case bkOK: r = {"OK", mrOk, true, false}; break;
    case bkCancel: r = {"Cancel", mrCancel, false, true}; break;
    case bkHelp: r = {"&Help", mrNone, false, false}; break;
    case bkYes: r = {"&Yes", mrYes, true, false}; break;
    case bkNo: r = {"&No", mrNo, false, true}; break;
    case bkClose: r = {"&Close", mrNone, false, false}; break;
    case bkAbort: r = {"Abort", mrAbort, false, true}; break;
    case bkRetry: r = {"&Retry", mrRetry, false, false}; break;
    case bkIgnore: r = {"&Ignore", mrIgnore, false, false}; break;
    case bkAll: r = {"&All", mrAll, true, false}; break;
  }
  SetText(r.caption);
  ModalResult = r.result;
  Default = r.isDefault;
  Cancel = r.isCancel;
}

void TBitBtn::Click() {
  TButton::Click();
  if (kind_ == bkClose)
    if (TCustomForm* f = ParentForm()) f->Close();
}
