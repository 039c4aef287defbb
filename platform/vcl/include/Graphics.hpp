// Colours, fonts, bitmaps and pictures.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "Classes.hpp"

// Colour values 0x00BBGGRR; negative values name system colours.
enum TColor : int32_t { clMin = INT32_MIN, clMax = INT32_MAX };
constexpr TColor clBlack = TColor(0x000000);
constexpr TColor clMaroon = TColor(0x000080);
constexpr TColor clGreen = TColor(0x008000);
constexpr TColor clOlive = TColor(0x008080);
constexpr TColor clNavy = TColor(0x800000);
constexpr TColor clPurple = TColor(0x800080);
constexpr TColor clTeal = TColor(0x808000);
constexpr TColor clGray = TColor(0x808080);
constexpr TColor clSilver = TColor(0xC0C0C0);
constexpr TColor clRed = TColor(0x0000FF);
constexpr TColor clLime = TColor(0x00FF00);
constexpr TColor clYellow = TColor(0x00FFFF);
constexpr TColor clBlue = TColor(0xFF0000);
constexpr TColor clFuchsia = TColor(0xFF00FF);
constexpr TColor clAqua = TColor(0xFFFF00);
constexpr TColor clWhite = TColor(0xFFFFFF);
constexpr TColor clCream = TColor(0xF0FBFF);
constexpr TColor clNone = TColor(0x1FFFFFFF);
constexpr TColor clDefault = TColor(0x20000000);
constexpr TColor clBtnFace = TColor(int32_t(0x8000000F));
constexpr TColor clWindow = TColor(int32_t(0x80000005));
constexpr TColor clWindowText = TColor(int32_t(0x80000008));
constexpr TColor clBtnText = TColor(int32_t(0x80000012));
constexpr TColor clHighlight = TColor(int32_t(0x8000000D));
constexpr TColor clHighlightText = TColor(int32_t(0x8000000E));
constexpr TColor clGrayText = TColor(int32_t(0x80000011));
constexpr TColor clBtnShadow = TColor(int32_t(0x80000010));
constexpr TColor clBtnHighlight = TColor(int32_t(0x80000014));

namespace vcl {
// A colour as 0x00BBGGRR, system colours resolved to their classic values.
uint32_t ColorToRGB(TColor c);
}  // namespace vcl
inline int ColorToRGB(TColor c) { return static_cast<int>(vcl::ColorToRGB(c)); }

#ifndef ANSI_CHARSET
#define ANSI_CHARSET 0
#endif
#ifndef DEFAULT_CHARSET
#define DEFAULT_CHARSET 1
#endif
#ifndef HANGEUL_CHARSET
#define HANGEUL_CHARSET 129
#endif
#ifndef CHINESEBIG5_CHARSET
#define CHINESEBIG5_CHARSET 136
#endif
typedef unsigned char TFontCharset;

enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
typedef Set<TFontStyle, fsBold, fsStrikeOut> TFontStyles;

enum TFontPitch { fpDefault, fpVariable, fpFixed };

// Size is in points, Height in pixels (negative: character height without the
// internal leading); they are one value seen at PixelsPerInch (96).
class TFont : public TPersistent {
 public:
  TFont();
  void Assign(TPersistent* source) override;

  VCL_PROPERTY(AnsiString, Name, GetName, SetName);
  VCL_PROPERTY(int, Size, GetSize, SetSize);
  VCL_PROPERTY(int, Height, GetHeight, SetHeight);
  VCL_PROPERTY(TFontStyles, Style, GetStyle, SetStyle);
  VCL_PROPERTY(TColor, Color, GetColor, SetColor);
  VCL_PROPERTY(TFontCharset, Charset, GetCharset, SetCharset);
  TFontPitch Pitch = fpDefault;
  int PixelsPerInch = 96;

  AnsiString GetName() const { return name_; }
  void SetName(const AnsiString& v) { name_ = v; Changed(); }
  int GetSize() const;
  void SetSize(const int& v);
  int GetHeight() const { return height_; }
  void SetHeight(const int& v) { height_ = v; Changed(); }
  TFontStyles GetStyle() const { return style_; }
  void SetStyle(const TFontStyles& v) { style_ = v; Changed(); }
  TColor GetColor() const { return color_; }
  void SetColor(const TColor& v) { color_ = v; Changed(); }
  TFontCharset GetCharset() const { return charset_; }
  void SetCharset(const TFontCharset& v) { charset_ = v; Changed(); }

  // Owner's hook, called after every change.
  std::function<void()> OnChanged;

 private:
  void Changed() { if (OnChanged) OnChanged(); }
  AnsiString name_ = "MS Sans Serif";
  int height_ = -11;
  TFontStyles style_;
  TColor color_ = clWindowText;
  TFontCharset charset_ = DEFAULT_CHARSET;
};

struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
};
inline TRect Rect(int left, int top, int right, int bottom) { return TRect{left, top, right, bottom}; }

class TBrush : public TPersistent {
 public:
  TColor Color = clWhite;
};
class TPen : public TPersistent {
 public:
  TColor Color = clBlack;
  int Width = 1;
};

class TBitmap;

// Drawing on a bitmap: enough for small pictures made in code.
class TCanvas : public TPersistent {
 public:
  explicit TCanvas(TBitmap* target) : target_(target) {}
  ~TCanvas() override;
  TBrush* Brush = new TBrush;
  TPen* Pen = new TPen;
  void FillRect(const TRect& r);
  void Rectangle(int x1, int y1, int x2, int y2);
  void Ellipse(int x1, int y1, int x2, int y2);
  void MoveTo(int x, int y);
  void LineTo(int x, int y);

 private:
  TBitmap* target_;
  int penX_ = 0, penY_ = 0;
};

// Pixels are 0xAARRGGBB, row by row; a new bitmap is transparent.
class TBitmap : public TPersistent {
 public:
  TBitmap();
  ~TBitmap() override;
  void Assign(TPersistent* source) override;

  VCL_PROPERTY(int, Width, GetWidth, SetWidth);
  VCL_PROPERTY(int, Height, GetHeight, SetHeight);
  bool Transparent = false;
  TCanvas* Canvas;

  void SetSize(int width, int height);
  bool Empty() const { return width_ == 0 || height_ == 0; }
  // PNG files of the machine; raises EFOpenError.
  void LoadFromFile(const AnsiString& fileName);

  int GetWidth() const { return width_; }
  void SetWidth(const int& w) { SetSize(w, height_); }
  int GetHeight() const { return height_; }
  void SetHeight(const int& h) { SetSize(width_, h); }
  std::vector<uint32_t>& Pixels() { return pixels_; }
  const std::vector<uint32_t>& Pixels() const { return pixels_; }

 private:
  int width_ = 0, height_ = 0;
  std::vector<uint32_t> pixels_;
};

class TPicture : public TPersistent {
 public:
  TPicture();
  ~TPicture() override;
  void Assign(TPersistent* source) override;
  void LoadFromFile(const AnsiString& fileName);

  TBitmap* Bitmap;
  VCL_READONLY(int, Width, GetWidth);
  VCL_READONLY(int, Height, GetHeight);
  int GetWidth() const { return Bitmap->GetWidth(); }
  int GetHeight() const { return Bitmap->GetHeight(); }

  std::function<void()> OnChanged;
};
