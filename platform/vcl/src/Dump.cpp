#include "vqvcl/Dump.h"

#include <cstdio>
#include <sstream>

#include "Buttons.hpp"
#include "ComCtrls.hpp"
#include "Dialogs.hpp"
#include "Internal.h"

namespace vcl {

namespace {

std::string Quote(const std::string& ansi) {
  const std::string s = detail::AnsiToUtf8(ansi);
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\', out += c;
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
  return out + "\"";
}

std::string ColorName(TColor c) {
  const int32_t v = static_cast<int32_t>(c);
  if (v < 0) {
    switch (static_cast<uint32_t>(v)) {
      case 0x8000000F: return "clBtnFace";
      case 0x80000005: return "clWindow";
      case 0x80000008: return "clWindowText";
      case 0x80000012: return "clBtnText";
      default: break;
    }
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%06X", static_cast<unsigned>(v));
  return buf;
}

std::string FontText(const TFont* f) {
  std::string style;
  const TFontStyles s = f->GetStyle();
  if (s.Contains(fsBold)) style += "bold,";
  if (s.Contains(fsItalic)) style += "italic,";
  if (s.Contains(fsUnderline)) style += "underline,";
  if (s.Contains(fsStrikeOut)) style += "strikeout,";
  if (style.empty()) style = "plain";
  else style.pop_back();
  std::ostringstream o;
  o << "font=" << Quote(f->GetName().str()) << ' ' << f->GetSize() << "pt/" << f->GetHeight() << "px " << style
    << ' ' << ColorName(f->GetColor()) << " charset=" << static_cast<int>(f->GetCharset());
  return o.str();
}

std::string Items(TStrings* items) {
  std::string out = "[";
  for (int i = 0; i < items->GetCount(); ++i) {
    if (i) out += ", ";
    out += Quote(items->Get(i).str());
  }
  return out + "]";
}

void DumpControl(std::ostringstream& o, TControl* c, int depth) {
  const std::string pad(static_cast<size_t>(depth) * 2, ' ');
  o << pad << (c->Name.IsEmpty() ? std::string("(unnamed)") : c->Name.str()) << ' ' << c->ClassName()
    << " pos=" << c->GetLeft() << ',' << c->GetTop() << " size=" << c->GetWidth() << 'x' << c->GetHeight();
  if (auto* f = dynamic_cast<TCustomForm*>(c))
    o << " client=" << f->GetClientWidth() << 'x' << f->GetClientHeight();
  o << " visible=" << (c->GetVisible() ? 1 : 0) << " enabled=" << (c->GetEnabled() ? 1 : 0);
  if (!dynamic_cast<TCustomMemo*>(c)) o << (dynamic_cast<TEdit*>(c) || dynamic_cast<TComboBox*>(c) ? " text=" : " caption=") << Quote(c->GetText().str());
  o << ' ' << FontText(c->Font) << " color=" << ColorName(c->Color);
  if (c->GetAlign() != alNone) o << " align=" << static_cast<int>(c->GetAlign());
  if (c->Cursor != crDefault) o << " cursor=" << c->Cursor;
  if (!c->Hint.IsEmpty()) o << " hint=" << Quote(c->Hint.str()) << (c->ShowHint ? "" : "(off)");
  if (auto* w = dynamic_cast<TWinControl*>(c); w && w->TabOrder >= 0) o << " tab=" << w->TabOrder;
  if (auto* f = dynamic_cast<TCustomForm*>(c); f && f->ActiveControl) o << " focus=" << f->ActiveControl->Name;
  if (auto* b = dynamic_cast<TBitBtn*>(c)) o << " kind=" << static_cast<int>(b->GetKind());
  if (auto* b = dynamic_cast<TButton*>(c)) {
    if (b->Default) o << " default";
    if (b->Cancel) o << " cancel";
    if (b->ModalResult) o << " modalresult=" << b->ModalResult;
  }
  if (auto* cb = dynamic_cast<TComboBox*>(c)) o << " index=" << cb->GetItemIndex() << " items=" << Items(cb->Items);
  if (auto* rg = dynamic_cast<TRadioGroup*>(c)) o << " index=" << rg->GetItemIndex() << " items=" << Items(rg->Items);
  if (auto* ck = dynamic_cast<TCheckBox*>(c)) o << " checked=" << (ck->GetChecked() ? 1 : 0);
  if (auto* pb = dynamic_cast<TProgressBar*>(c))
    o << " position=" << pb->GetPosition() << " range=" << pb->GetMin() << ".." << pb->GetMax();
  if (auto* im = dynamic_cast<TImage*>(c))
    o << " picture=" << im->Picture->GetWidth() << 'x' << im->Picture->GetHeight();
  auto* memo = dynamic_cast<TCustomMemo*>(c);
  if (memo) o << " lines=" << memo->Lines->GetCount() << " top=" << memo->TopLine << (memo->ReadOnly ? " readonly" : "");
  auto* lv = dynamic_cast<TListView*>(c);
  if (lv) {
    o << " columns=[";
    for (int i = 0; i < lv->Columns->GetCount(); ++i)
      o << (i ? ", " : "") << Quote(lv->Columns->Get(i)->Caption.str()) << ':' << lv->Columns->Get(i)->Width;
    o << "] rows=" << lv->Items->GetCount() << " top=" << lv->TopIndex;
  }
  o << '\n';
  if (memo) {
    auto* rich = dynamic_cast<TRichEdit*>(c);
    for (int i = 0; i < memo->Lines->GetCount(); ++i) {
      o << pad << "  | ";
      if (rich) o << ColorName(rich->LineColor(i)) << ' ';
      o << detail::AnsiToUtf8(memo->Lines->Get(i).str()) << '\n';
    }
  }
  if (lv) {
    for (int i = 0; i < lv->Items->GetCount(); ++i) {
      TListItem* it = lv->Items->Get(i);
      o << pad << "  row " << i << ' ' << Quote(it->Caption.str());
      for (int k = 0; k < it->SubItems->GetCount(); ++k) o << ' ' << Quote(it->SubItems->Get(k).str());
      if (it->Selected) o << " selected";
      o << '\n';
    }
  }
  if (auto* w = dynamic_cast<TWinControl*>(c))
    for (TControl* child : w->Children()) DumpControl(o, child, depth + 1);
}

}  // namespace

std::string DumpForm(TCustomForm* form) {
  std::ostringstream o;
  o << "form ";
  DumpControl(o, form, 0);
  // Components that are not controls: timers and dialogs.
  for (int i = 0; i < form->GetComponentCount(); ++i) {
    TComponent* c = form->GetComponent(i);
    if (auto* t = dynamic_cast<TTimer*>(c))
      o << "  " << t->Name << " TTimer enabled=" << (t->GetEnabled() ? 1 : 0) << " interval=" << t->GetInterval()
        << '\n';
    else if (auto* d = dynamic_cast<TSaveDialog*>(c))
      o << "  " << d->Name << " TSaveDialog filename=" << Quote(d->FileName.str()) << " filter="
        << Quote(d->Filter.str()) << '\n';
  }
  return o.str();
}

}  // namespace vcl
