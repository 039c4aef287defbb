#include "Graphics.hpp"

#include <windows.h>

#include <cairo.h>

#include <cmath>
#include <cstring>
#include <string>

namespace vcl {

uint32_t ColorToRGB(TColor c) {
  const int32_t v = static_cast<int32_t>(c);
  if (v >= 0) return static_cast<uint32_t>(v) & 0xFFFFFF;
  switch (static_cast<uint32_t>(v) & 0xFF) {  // classic system colours
    case 0x05: return 0xFFFFFF;  // window
    case 0x08: return 0x000000;  // window text
    case 0x0D: return 0x6A240A;  // highlight (BGR of 0A246A)
    case 0x0E: return 0xFFFFFF;  // highlight text
    case 0x10: return 0x808080;  // button shadow
    case 0x11: return 0x808080;  // grey text
    case 0x12: return 0x000000;  // button text
    case 0x14: return 0xFFFFFF;  // button highlight
    case 0x0F:                   // button face
    default: return 0xC8D0D4;
  }
}

}  // namespace vcl

// ---- TFont

TFont::TFont() = default;

void TFont::Assign(TPersistent* source) {
  if (auto* f = dynamic_cast<TFont*>(source)) {
    name_ = f->name_;
    height_ = f->height_;
    style_ = f->style_;
    color_ = f->color_;
    charset_ = f->charset_;
    Pitch = f->Pitch;
    Changed();
    return;
  }
  TPersistent::Assign(source);
}

// Points and pixels at the font's resolution, rounded as MulDiv rounds.
static int MulDivRound(int a, int b, int c) {
  const long long p = static_cast<long long>(a) * b;
  return static_cast<int>(p >= 0 ? (p + c / 2) / c : -((-p + c / 2) / c));
}

int TFont::GetSize() const { return -MulDivRound(height_, 72, PixelsPerInch); }
void TFont::SetSize(const int& v) {
  height_ = -MulDivRound(v, PixelsPerInch, 72);
  Changed();
}

// ---- TBitmap, TCanvas

TBitmap::TBitmap() : Canvas(new TCanvas(this)) {}
TBitmap::~TBitmap() { delete Canvas; }

void TBitmap::SetSize(int width, int height) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  std::vector<uint32_t> fresh(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  for (int y = 0; y < std::min(height, height_); ++y)
    for (int x = 0; x < std::min(width, width_); ++x)
      fresh[static_cast<size_t>(y) * width + x] = pixels_[static_cast<size_t>(y) * width_ + x];
  width_ = width;
  height_ = height;
  pixels_ = std::move(fresh);
}

void TBitmap::Assign(TPersistent* source) {
  if (auto* b = dynamic_cast<TBitmap*>(source)) {
    width_ = b->width_;
    height_ = b->height_;
    pixels_ = b->pixels_;
    Transparent = b->Transparent;
    return;
  }
  TPersistent::Assign(source);
}

namespace {

struct PngReader {
  const std::string* data;
  size_t at;
};

cairo_status_t ReadPng(void* closure, unsigned char* out, unsigned int length) {
  auto* r = static_cast<PngReader*>(closure);
  if (r->data->size() - r->at < length) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(out, r->data->data() + r->at, length);
  r->at += length;
  return CAIRO_STATUS_SUCCESS;
}

std::string ReadMachineFile(const AnsiString& fileName) {
  HANDLE h = CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw EFOpenError("Cannot open file " + fileName);
  std::string data;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) data.append(buf, got);
  CloseHandle(h);
  return data;
}

// Runs `draw` on a cairo context over the bitmap's pixels.
template <class F>
void DrawOn(TBitmap* b, F draw) {
  if (b->Empty()) return;
  cairo_surface_t* s = cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(b->Pixels().data()), CAIRO_FORMAT_ARGB32, b->GetWidth(),
      b->GetHeight(), b->GetWidth() * 4);
  cairo_t* cr = cairo_create(s);
  draw(cr);
  cairo_destroy(cr);
  cairo_surface_flush(s);
  cairo_surface_destroy(s);
}

void SetColor(cairo_t* cr, TColor c) {
  const uint32_t rgb = vcl::ColorToRGB(c);
  cairo_set_source_rgb(cr, (rgb & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, ((rgb >> 16) & 0xFF) / 255.0);
}

}  // namespace

void TBitmap::LoadFromFile(const AnsiString& fileName) {
  const std::string data = ReadMachineFile(fileName);
  PngReader reader{&data, 0};
  cairo_surface_t* s = cairo_image_surface_create_from_png_stream(ReadPng, &reader);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    throw EFOpenError("Bitmap image is not valid: " + fileName);
  }
  SetSize(cairo_image_surface_get_width(s), cairo_image_surface_get_height(s));
  DrawOn(this, [s](cairo_t* cr) {
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, s, 0, 0);
    cairo_paint(cr);
  });
  cairo_surface_destroy(s);
}

TCanvas::~TCanvas() {
  delete Brush;
  delete Pen;
}

void TCanvas::FillRect(const TRect& r) {
  DrawOn(target_, [&](cairo_t* cr) {
    SetColor(cr, Brush->Color);
    cairo_rectangle(cr, r.Left, r.Top, r.Width(), r.Height());
    cairo_fill(cr);
  });
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  DrawOn(target_, [&](cairo_t* cr) {
    SetColor(cr, Brush->Color);
    cairo_rectangle(cr, x1, y1, x2 - x1, y2 - y1);
    cairo_fill_preserve(cr);
    SetColor(cr, Pen->Color);
    cairo_set_line_width(cr, Pen->Width);
    cairo_stroke(cr);
  });
}

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  DrawOn(target_, [&](cairo_t* cr) {
    const double w = x2 - x1, h = y2 - y1;
    if (w <= 0 || h <= 0) return;
    cairo_save(cr);
    cairo_translate(cr, x1 + w / 2, y1 + h / 2);
    cairo_scale(cr, w / 2, h / 2);
    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
    cairo_restore(cr);
    SetColor(cr, Brush->Color);
    cairo_fill_preserve(cr);
    SetColor(cr, Pen->Color);
    cairo_set_line_width(cr, Pen->Width);
    cairo_stroke(cr);
  });
}

void TCanvas::MoveTo(int x, int y) {
  penX_ = x;
  penY_ = y;
}

void TCanvas::LineTo(int x, int y) {
  DrawOn(target_, [&](cairo_t* cr) {
    SetColor(cr, Pen->Color);
    cairo_set_line_width(cr, Pen->Width);
    cairo_move_to(cr, penX_ + 0.5, penY_ + 0.5);
    cairo_line_to(cr, x + 0.5, y + 0.5);
    cairo_stroke(cr);
  });
  penX_ = x;
  penY_ = y;
}

// ---- TPicture

TPicture::TPicture() : Bitmap(new TBitmap) {}
TPicture::~TPicture() { delete Bitmap; }

void TPicture::Assign(TPersistent* source) {
  if (auto* p = dynamic_cast<TPicture*>(source)) Bitmap->Assign(p->Bitmap);
  else if (auto* b = dynamic_cast<TBitmap*>(source)) Bitmap->Assign(b);
  else if (!source) Bitmap->SetSize(0, 0);
  else TPersistent::Assign(source);
  if (OnChanged) OnChanged();
}

void TPicture::LoadFromFile(const AnsiString& fileName) {
  Bitmap->LoadFromFile(fileName);
  if (OnChanged) OnChanged();
}
