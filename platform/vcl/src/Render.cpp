#include "vqvcl/Render.h"

#include <cairo.h>
#include <pango/pangocairo.h>


#include <algorithm>
#include <cmath>

#include "Buttons.hpp"
#include "ComCtrls.hpp"
#include "Internal.h"

namespace vcl {

std::string StripAccelerator(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') out += '&', ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

namespace {

// Families after the font's own: what this machine has for Latin and CJK text.
constexpr const char* kFallbackFamilies = ",DejaVu Sans,WenQuanYi Zen Hei";

PangoFontDescription* Describe(const TFont* font) {
  PangoFontDescription* d = pango_font_description_new();
  const std::string name = detail::AnsiToUtf8(font->GetName().str());
  // Fixed-pitch faces fall back to a fixed-pitch face, so that columns line up.
  const bool fixed = font->Pitch == fpFixed || name.find("Courier") != std::string::npos ||
                     name.find("Mono") != std::string::npos || name == "Fixedsys" || name == "Terminal";
  const std::string family = name + (fixed ? ",DejaVu Sans Mono,monospace" : "") + kFallbackFamilies;
  pango_font_description_set_family(d, family.c_str());
  const int px = std::max(1, std::abs(font->GetHeight()));
  pango_font_description_set_absolute_size(d, px * PANGO_SCALE);
  const TFontStyles s = font->GetStyle();
  pango_font_description_set_weight(d, s.Contains(fsBold) ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(d, s.Contains(fsItalic) ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  return d;
}

PangoLayout* MakeLayout(cairo_t* cr, const TFont* font, const std::string& utf8) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* d = Describe(font);
  pango_layout_set_font_description(layout, d);
  pango_font_description_free(d);
  pango_layout_set_text(layout, utf8.c_str(), static_cast<int>(utf8.size()));
  const TFontStyles s = font->GetStyle();
  if (s.Contains(fsUnderline) || s.Contains(fsStrikeOut)) {
    PangoAttrList* attrs = pango_attr_list_new();
    if (s.Contains(fsUnderline)) pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (s.Contains(fsStrikeOut)) pango_attr_list_insert(attrs, pango_attr_strikethrough_new(TRUE));
    pango_layout_set_attributes(layout, attrs);
    pango_attr_list_unref(attrs);
  }
  return layout;
}

void SetRgb(cairo_t* cr, TColor c) {
  const uint32_t v = vcl::ColorToRGB(c);
  cairo_set_source_rgb(cr, (v & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, ((v >> 16) & 0xFF) / 255.0);
}

void Fill(cairo_t* cr, double x, double y, double w, double h, TColor c) {
  SetRgb(cr, c);
  cairo_rectangle(cr, x, y, w, h);
  cairo_fill(cr);
}

// A 3-D edge: raised (light top-left, dark bottom-right) or sunken.
void Edge(cairo_t* cr, double x, double y, double w, double h, bool raised, int width = 1) {
  for (int i = 0; i < width; ++i) {
    const double a = x + i + 0.5, b = y + i + 0.5, r = x + w - i - 0.5, bo = y + h - i - 0.5;
    SetRgb(cr, raised ? clBtnHighlight : (i == 0 ? clBtnShadow : clBlack));
    cairo_move_to(cr, a, bo);
    cairo_line_to(cr, a, b);
    cairo_line_to(cr, r, b);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    SetRgb(cr, raised ? (i == 0 ? clBlack : clBtnShadow) : clBtnHighlight);
    cairo_move_to(cr, r, b);
    cairo_line_to(cr, r, bo);
    cairo_line_to(cr, a, bo);
    cairo_stroke(cr);
  }
}

enum class VAlign { Top, Center };

void Text(cairo_t* cr, const TFont* font, const std::string& ansi, double x, double y, double w, double h,
          TAlignment align, VAlign valign, TColor color) {
  if (ansi.empty()) return;
  PangoLayout* layout = MakeLayout(cr, font, detail::AnsiToUtf8(ansi));
  int tw = 0, th = 0;
  pango_layout_get_pixel_size(layout, &tw, &th);
  double tx = x;
  if (align == taCenter) tx = x + (w - tw) / 2;
  else if (align == taRightJustify) tx = x + w - tw;
  const double ty = valign == VAlign::Center ? y + (h - th) / 2 : y;
  cairo_save(cr);
  cairo_rectangle(cr, x, y, w, h);
  cairo_clip(cr);
  SetRgb(cr, color);
  cairo_move_to(cr, tx, ty);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
  g_object_unref(layout);
}

void Picture(cairo_t* cr, const TBitmap* bmp, double x, double y, double w, double h, bool stretch,
             bool center, int glyphs = 1) {
  if (!bmp || bmp->Empty()) return;
  const int bw = bmp->GetWidth(), bh = bmp->GetHeight();
  cairo_surface_t* s = cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(bmp->Pixels().data())), CAIRO_FORMAT_ARGB32, bw, bh,
      bw * 4);
  const double gw = static_cast<double>(bw) / std::max(1, glyphs);
  cairo_save(cr);
  cairo_rectangle(cr, x, y, w, h);
  cairo_clip(cr);
  if (stretch) {
    cairo_translate(cr, x, y);
    cairo_scale(cr, w / gw, h / bh);
    cairo_set_source_surface(cr, s, 0, 0);
  } else {
    const double ox = center ? x + (w - gw) / 2 : x, oy = center ? y + (h - bh) / 2 : y;
    cairo_set_source_surface(cr, s, ox, oy);
    cairo_rectangle(cr, ox, oy, gw, bh);
    cairo_clip(cr);
  }
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_surface_destroy(s);
}

std::string Shown(const TControl* c) { return StripAccelerator(c->GetText().str()); }

TColor TextColor(const TControl* c) { return c->EffectivelyEnabled() ? c->Font->GetColor() : clGrayText; }

void DrawControl(cairo_t* cr, TControl* c, double x, double y);

void DrawChildren(cairo_t* cr, TWinControl* w, double x, double y) {
  int l, t, r, b;
  w->GetFrame(l, t, r, b);
  cairo_save(cr);
  cairo_rectangle(cr, x + l, y + t, w->GetClientWidth(), w->GetClientHeight());
  cairo_clip(cr);
  for (TControl* child : w->Children()) DrawControl(cr, child, x + l + child->GetLeft(), y + t + child->GetTop());
  cairo_restore(cr);
}

// One line of a memo from row top `y`, `lineH` apart, within `maxH`: wrapped
// at the width `w` as the memo wraps it when `wrap` is set (at blanks; a word
// wider than the row, and CJK text, between characters), else whole. The
// rows it takes (at least 1).
int MemoLine(cairo_t* cr, const TFont* font, const std::string& ansi, double x, double y, double w, int lineH,
             double maxH, TAlignment align, bool wrap, TColor color) {
  if (ansi.empty()) return 1;
  PangoLayout* layout = MakeLayout(cr, font, detail::AnsiToUtf8(ansi));
  if (wrap && w > 0) {
    pango_layout_set_width(layout, static_cast<int>(w * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  }
  const int rows = std::max(1, pango_layout_get_line_count(layout));
  const double baseline = static_cast<double>(pango_layout_get_baseline(layout)) / PANGO_SCALE;
  cairo_save(cr);
  cairo_rectangle(cr, x, y, w, maxH);
  cairo_clip(cr);
  SetRgb(cr, color);
  for (int r = 0; r < rows && r * lineH < maxH; ++r) {
    PangoLayoutLine* line = pango_layout_get_line_readonly(layout, r);
    PangoRectangle logical;
    pango_layout_line_get_pixel_extents(line, nullptr, &logical);
    double tx = x;
    if (align == taCenter) tx = x + (w - logical.width) / 2;
    else if (align == taRightJustify) tx = x + w - logical.width;
    cairo_move_to(cr, tx, y + r * lineH + baseline);
    pango_cairo_show_layout_line(cr, line);
  }
  cairo_restore(cr);
  g_object_unref(layout);
  return rows;
}

void DrawMemo(cairo_t* cr, TCustomMemo* m, double x, double y, double w, double h) {
  Fill(cr, x, y, w, h, m->Color);
  if (m->BorderStyle != bsNone) Edge(cr, x, y, w, h, false, 2);
  const bool vbar = m->ScrollBars == ssVertical || m->ScrollBars == ssBoth;
  const bool hbar = m->ScrollBars == ssHorizontal || m->ScrollBars == ssBoth;
  const double cw = w - 4 - (vbar ? 16 : 0), ch = h - 4 - (hbar ? 16 : 0);
  const int lineH = std::abs(m->Font->GetHeight()) + 3;
  // A memo with a horizontal scroll bar shows its lines whole.
  const bool wrap = m->WordWrap && !hbar;
  auto* rich = dynamic_cast<TRichEdit*>(m);
  for (int i = m->TopLine, row = 0; i < m->Lines->GetCount() && row * lineH < ch; ++i) {
    const TColor color = rich ? rich->LineColor(i) : m->Font->GetColor();
    row += MemoLine(cr, m->Font, m->Lines->Get(i).str(), x + 4, y + 2 + row * lineH, cw - 2, lineH,
                    ch - row * lineH, m->Alignment, wrap, color);
  }
  if (vbar) {
    Fill(cr, x + w - 18, y + 2, 16, ch, clBtnFace);
    Edge(cr, x + w - 18, y + 2, 16, 16, true);
    Edge(cr, x + w - 18, y + 2 + ch - 16, 16, 16, true);
  }
  if (hbar) Fill(cr, x + 2, y + h - 18, cw, 16, clBtnFace);
}

void DrawListView(cairo_t* cr, TListView* lv, double x, double y, double w, double h) {
  Fill(cr, x, y, w, h, lv->Color);
  Edge(cr, x, y, w, h, false, 2);
  const double cx = x + 2, cy = y + 2, cw = w - 4, ch = h - 4;
  cairo_save(cr);
  cairo_rectangle(cr, cx, cy, cw, ch);
  cairo_clip(cr);
  const int rowH = lv->RowHeight(), headH = lv->HeaderHeight();
  std::vector<double> colX;
  double at = cx;
  for (int i = 0; i < lv->Columns->GetCount(); ++i) {
    TListColumn* col = lv->Columns->Get(i);
    colX.push_back(at);
    if (headH > 0) {
      Fill(cr, at, cy, col->Width, headH, clBtnFace);
      Edge(cr, at, cy, col->Width, headH, true);
      Text(cr, lv->Font, col->Caption.str(), at + 4, cy, col->Width - 8, headH, taLeftJustify, VAlign::Center, clBtnText);
    }
    at += col->Width;
  }
  if (colX.empty()) colX.push_back(cx);
  for (int i = lv->TopIndex, row = 0; i < lv->Items->GetCount(); ++i, ++row) {
    const double ry = cy + headH + row * rowH;
    if (ry > cy + ch) break;
    TListItem* it = lv->Items->Get(i);
    const bool sel = it->Selected && (!lv->HideSelection || lv->Focused());
    if (sel) Fill(cr, cx, ry, lv->RowSelect ? cw : (colX.size() > 1 ? colX[1] - cx : cw), rowH, clHighlight);
    const TColor tc = sel ? clHighlightText : lv->Font->GetColor();
    for (size_t k = 0; k < colX.size(); ++k) {
      const std::string cell = k == 0 ? it->Caption.str()
                               : static_cast<int>(k - 1) < it->SubItems->GetCount() ? it->SubItems->Get(static_cast<int>(k - 1)).str()
                                                                                     : std::string();
      const double colW = k < static_cast<size_t>(lv->Columns->GetCount()) ? lv->Columns->Get(static_cast<int>(k))->Width : cw;
      Text(cr, lv->Font, cell, colX[k] + 4, ry, colW - 8, rowH, taLeftJustify, VAlign::Center, tc);
    }
    if (lv->GridLines) {
      SetRgb(cr, clSilver);
      cairo_set_line_width(cr, 1);
      cairo_move_to(cr, cx, ry + rowH - 0.5);
      cairo_line_to(cr, cx + cw, ry + rowH - 0.5);
      cairo_stroke(cr);
    }
  }
  if (lv->GridLines)
    for (size_t k = 1; k <= colX.size() && k <= static_cast<size_t>(lv->Columns->GetCount()); ++k) {
      const double gx = (k < colX.size() ? colX[k] : at) - 0.5;
      SetRgb(cr, clSilver);
      cairo_move_to(cr, gx, cy + headH);
      cairo_line_to(cr, gx, cy + ch);
      cairo_stroke(cr);
    }
  cairo_restore(cr);
}

void DrawControl(cairo_t* cr, TControl* c, double x, double y) {
  if (!c->GetVisible()) return;
  const double w = c->GetWidth(), h = c->GetHeight();
  cairo_save(cr);
  cairo_rectangle(cr, x, y, w, h);
  cairo_clip(cr);
  if (auto* p = dynamic_cast<TPanel*>(c)) {
    Fill(cr, x, y, w, h, p->Color);
    double bx = x, by = y, bw = w, bh = h;
    if (p->GetBorderStyle() == bsSingle) {
      SetRgb(cr, clBlack);
      cairo_rectangle(cr, x + 0.5, y + 0.5, w - 1, h - 1);
      cairo_set_line_width(cr, 1);
      cairo_stroke(cr);
      bx += 1, by += 1, bw -= 2, bh -= 2;
    }
    if (p->GetBevelOuter() == bvRaised || p->GetBevelOuter() == bvLowered)
      Edge(cr, bx, by, bw, bh, p->GetBevelOuter() == bvRaised, p->GetBevelWidth());
    Text(cr, p->Font, Shown(p), x + 2, y, w - 4, h, p->Alignment, VAlign::Center, TextColor(p));
  } else if (auto* l = dynamic_cast<TLabel*>(c)) {
    if (!l->Transparent) Fill(cr, x, y, w, h, l->Color);
    Text(cr, l->Font, l->ShowAccelChar ? Shown(l) : l->GetText().str(), x, y, w, h, l->Alignment,
         l->Layout == tlCenter ? VAlign::Center : VAlign::Top, TextColor(l));
  } else if (auto* ck = dynamic_cast<TCheckBox*>(c)) {
    Fill(cr, x, y, w, h, ck->Color);
    const double by = y + (h - 13) / 2;
    Fill(cr, x + 1, by, 13, 13, clWindow);
    Edge(cr, x + 1, by, 13, 13, false, 2);
    if (ck->GetChecked()) {
      SetRgb(cr, clBlack);
      cairo_set_line_width(cr, 2);
      cairo_move_to(cr, x + 4, by + 6);
      cairo_line_to(cr, x + 6.5, by + 9);
      cairo_line_to(cr, x + 11, by + 3.5);
      cairo_stroke(cr);
    }
    Text(cr, ck->Font, Shown(ck), x + 18, y, w - 18, h, taLeftJustify, VAlign::Center, TextColor(ck));
  } else if (auto* b = dynamic_cast<TButton*>(c)) {
    Fill(cr, x, y, w, h, clBtnFace);
    Edge(cr, x, y, w, h, true, 2);
    if (b->Default) {
      SetRgb(cr, clBlack);
      cairo_set_line_width(cr, 1);
      cairo_rectangle(cr, x + 0.5, y + 0.5, w - 1, h - 1);
      cairo_stroke(cr);
    }
    double tx = x + 4, tw = w - 8;
    if (auto* bb = dynamic_cast<TBitBtn*>(c); bb && !bb->Glyph->Empty()) {
      const int gw = bb->Glyph->GetWidth() / std::max(1, bb->NumGlyphs), gh = bb->Glyph->GetHeight();
      int textW = 0, textH = 0;
      MeasureText(bb->Font, AnsiString(Shown(bb)), textW, textH);
      const double total = gw + (textW ? bb->Spacing + textW : 0);
      const double gx = x + (w - total) / 2;
      Picture(cr, bb->Glyph, gx, y + (h - gh) / 2, gw, gh, false, false, bb->NumGlyphs);
      tx = gx + gw + bb->Spacing;
      tw = textW + 2;
      Text(cr, b->Font, Shown(b), tx, y, tw, h, taLeftJustify, VAlign::Center, TextColor(b));
    } else {
      Text(cr, b->Font, Shown(b), tx, y, tw, h, taCenter, VAlign::Center, TextColor(b));
    }
  } else if (auto* e = dynamic_cast<TEdit*>(c)) {
    Fill(cr, x, y, w, h, e->Color);
    if (e->BorderStyle != bsNone) Edge(cr, x, y, w, h, false, 2);
    Text(cr, e->Font, e->GetText().str(), x + 4, y, w - 8, h, taLeftJustify, VAlign::Center, TextColor(e));
  } else if (auto* cb = dynamic_cast<TComboBox*>(c)) {
    Fill(cr, x, y, w, h, cb->Color);
    Edge(cr, x, y, w, h, false, 2);
    Fill(cr, x + w - 18, y + 2, 16, h - 4, clBtnFace);
    Edge(cr, x + w - 18, y + 2, 16, h - 4, true);
    SetRgb(cr, clBlack);
    cairo_move_to(cr, x + w - 14, y + h / 2 - 2);
    cairo_line_to(cr, x + w - 6, y + h / 2 - 2);
    cairo_line_to(cr, x + w - 10, y + h / 2 + 2);
    cairo_close_path(cr);
    cairo_fill(cr);
    Text(cr, cb->Font, cb->GetText().str(), x + 4, y, w - 24, h, taLeftJustify, VAlign::Center, TextColor(cb));
  } else if (auto* m = dynamic_cast<TCustomMemo*>(c)) {
    DrawMemo(cr, m, x, y, w, h);
  } else if (auto* rg = dynamic_cast<TRadioGroup*>(c)) {
    Fill(cr, x, y, w, h, rg->Color);
    int tw = 0, th = 0;
    MeasureText(rg->Font, AnsiString(Shown(rg)), tw, th);
    Edge(cr, x, y + th / 2, w, h - th / 2, false);
    Fill(cr, x + 6, y, tw + 4, th, rg->Color);
    Text(cr, rg->Font, Shown(rg), x + 8, y, w - 16, th, taLeftJustify, VAlign::Top, TextColor(rg));
    const int n = rg->Items->GetCount();
    const double rowH = n ? (h - th - 6) / n : 0;
    for (int i = 0; i < n; ++i) {
      const double ry = y + th + 2 + i * rowH;
      SetRgb(cr, clWindow);
      cairo_new_path(cr);  // the text drawn before leaves a current point
      cairo_arc(cr, x + 14, ry + rowH / 2, 6, 0, 2 * M_PI);
      cairo_fill_preserve(cr);
      SetRgb(cr, clBtnShadow);
      cairo_set_line_width(cr, 1);
      cairo_stroke(cr);
      if (i == rg->GetItemIndex()) {
        SetRgb(cr, clBlack);
        cairo_new_path(cr);
        cairo_arc(cr, x + 14, ry + rowH / 2, 2.5, 0, 2 * M_PI);
        cairo_fill(cr);
      }
      Text(cr, rg->Font, StripAccelerator(rg->Items->Get(i).str()), x + 24, ry, w - 28, rowH, taLeftJustify,
           VAlign::Center, TextColor(rg));
    }
  } else if (auto* pb = dynamic_cast<TProgressBar*>(c)) {
    Fill(cr, x, y, w, h, clBtnFace);
    Edge(cr, x, y, w, h, false);
    const int range = pb->GetMax() - pb->GetMin();
    const double frac = range > 0 ? static_cast<double>(pb->GetPosition() - pb->GetMin()) / range : 0;
    const double fw = (w - 4) * frac;
    for (double bx = 0; bx < fw; bx += 10) Fill(cr, x + 2 + bx, y + 2, std::min(8.0, fw - bx), h - 4, clHighlight);
  } else if (auto* lv = dynamic_cast<TListView*>(c)) {
    DrawListView(cr, lv, x, y, w, h);
  } else if (auto* im = dynamic_cast<TImage*>(c)) {
    Picture(cr, im->Picture->Bitmap, x, y, w, h, im->Stretch, im->Center);
  } else if (!dynamic_cast<TCustomForm*>(c)) {
    Fill(cr, x, y, w, h, c->Color);
  }
  cairo_restore(cr);
  if (auto* wc = dynamic_cast<TWinControl*>(c); wc && !dynamic_cast<TCustomForm*>(c)) DrawChildren(cr, wc, x, y);
}

}  // namespace

namespace {
cairo_t* g_measureCr = nullptr;
}  // namespace

// Fontconfig keeps its caches for the life of the process (giving them back
// at exit races with pango's font loading): leak checkers are told so.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

void MeasureText(const TFont* font, const AnsiString& text, int& width, int& height) {
  if (!g_measureCr) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    g_measureCr = cairo_create(surface);
    cairo_surface_destroy(surface);  // the context keeps it
  }
  PangoLayout* layout = MakeLayout(g_measureCr, font, detail::AnsiToUtf8(text.str()));
  pango_layout_get_pixel_size(layout, &width, &height);
  if (text.IsEmpty()) width = 0;
  g_object_unref(layout);
}

bool RenderFormToPng(TCustomForm* form, const std::string& path) {
  const int w = std::max(1, form->GetWidth()), h = std::max(1, form->GetHeight());
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  cairo_t* cr = cairo_create(s);
  int l, t, r, b;
  form->GetFrame(l, t, r, b);
  Fill(cr, 0, 0, w, h, clBtnFace);
  if (l > 0) Edge(cr, 0, 0, w, h, true, 2);
  if (t > l) {
    // Caption bar: a blue gradient, the caption, a close box.
    const double cy = l, ch = t - l - 1;
    cairo_pattern_t* grad = cairo_pattern_create_linear(l, 0, w - r, 0);
    cairo_pattern_add_color_stop_rgb(grad, 0, 0x0A / 255.0, 0x24 / 255.0, 0x6A / 255.0);
    cairo_pattern_add_color_stop_rgb(grad, 1, 0xA6 / 255.0, 0xCA / 255.0, 0xF0 / 255.0);
    cairo_set_source(cr, grad);
    cairo_rectangle(cr, l, cy, w - l - r, ch);
    cairo_fill(cr);
    cairo_pattern_destroy(grad);
    TFont captionFont;
    captionFont.SetName("Tahoma");
    captionFont.SetHeight(-11);
    captionFont.SetStyle(TFontStyles() << fsBold);
    Text(cr, &captionFont, form->GetText().str(), l + 4, cy, w - l - r - 24, ch, taLeftJustify, VAlign::Center,
         clWhite);
    if (form->BorderIcons.Contains(biSystemMenu)) {
      const double bx = w - r - 2 - (ch - 4), by = cy + 2, bs = ch - 4;
      Fill(cr, bx, by, bs, bs, clBtnFace);
      Edge(cr, bx, by, bs, bs, true);
      SetRgb(cr, clBlack);
      cairo_set_line_width(cr, 1.5);
      cairo_move_to(cr, bx + 4, by + 4);
      cairo_line_to(cr, bx + bs - 4, by + bs - 4);
      cairo_move_to(cr, bx + bs - 4, by + 4);
      cairo_line_to(cr, bx + 4, by + bs - 4);
      cairo_stroke(cr);
    }
  }
  Fill(cr, l, t, form->GetClientWidth(), form->GetClientHeight(), form->Color);
  DrawChildren(cr, form, 0, 0);
  cairo_destroy(cr);
  cairo_surface_flush(s);
  const bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(s);
  return ok;
}

}  // namespace vcl
