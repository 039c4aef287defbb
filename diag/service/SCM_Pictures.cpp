#include <vcl.h>

#include "SCM_Pictures.h"

namespace {

const int kSize = 16;

void Stroke(TCanvas *canvas, int left, int x1, int y1, int x2, int y2)
{
    canvas->MoveTo(left + x1, y1);
    canvas->LineTo(left + x2, y2);
}

typedef void (*Drawing)(TCanvas *canvas, int left);

// The drawing in its colour, then again in grey for the disabled look.
void TwoImages(TBitmap *bitmap, Drawing draw, TColor colour)
{
    bitmap->SetSize(kSize * 2, kSize);
    bitmap->Transparent = true;
    TCanvas *canvas = bitmap->Canvas;
    canvas->Pen->Width = 2;
    canvas->Pen->Color = colour;
    draw(canvas, 0);
    canvas->Pen->Color = clGray;
    draw(canvas, kSize);
}

void Refresh(TCanvas *canvas, int left)
{
    // An open ring of eight strokes with an arrow head at each end.
    Stroke(canvas, left, 6, 2, 10, 2);
    Stroke(canvas, left, 10, 2, 13, 5);
    Stroke(canvas, left, 13, 5, 13, 9);
    Stroke(canvas, left, 3, 7, 3, 11);
    Stroke(canvas, left, 3, 11, 6, 14);
    Stroke(canvas, left, 6, 14, 10, 14);
    Stroke(canvas, left, 13, 9, 11, 7);
    Stroke(canvas, left, 3, 7, 5, 9);
}

void Recommend(TCanvas *canvas, int left)
{
    Stroke(canvas, left, 8, 1, 10, 6);
    Stroke(canvas, left, 10, 6, 15, 6);
    Stroke(canvas, left, 15, 6, 11, 10);
    Stroke(canvas, left, 11, 10, 13, 15);
    Stroke(canvas, left, 13, 15, 8, 12);
    Stroke(canvas, left, 8, 12, 3, 15);
    Stroke(canvas, left, 3, 15, 5, 10);
    Stroke(canvas, left, 5, 10, 1, 6);
    Stroke(canvas, left, 1, 6, 6, 6);
    Stroke(canvas, left, 6, 6, 8, 1);
}

void Tick(TCanvas *canvas, int left)
{
    Stroke(canvas, left, 2, 8, 6, 12);
    Stroke(canvas, left, 6, 12, 14, 3);
}

void Cross(TCanvas *canvas, int left)
{
    Stroke(canvas, left, 3, 3, 13, 13);
    Stroke(canvas, left, 13, 3, 3, 13);
}

}  // namespace

void DrawRefreshGlyph(TBitmap *bitmap) { TwoImages(bitmap, Refresh, clBlue); }
void DrawRecommendGlyph(TBitmap *bitmap) { TwoImages(bitmap, Recommend, clOlive); }
void DrawOkGlyph(TBitmap *bitmap) { TwoImages(bitmap, Tick, clGreen); }
void DrawCancelGlyph(TBitmap *bitmap) { TwoImages(bitmap, Cross, clRed); }
