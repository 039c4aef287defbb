#include <vcl.h>

#include "MainPictures.h"
#include "Public.h"

namespace {

void Stroke(TCanvas *canvas, int x1, int y1, int x2, int y2)
{
    canvas->MoveTo(x1, y1);
    canvas->LineTo(x2, y2);
}

}  // namespace

void DrawBackdrop(TBitmap *bitmap, int width, int height)
{
    bitmap->SetSize(width, height);
    TCanvas *canvas = bitmap->Canvas;
    // Bands from the window's blue-grey to a lighter shade, top to bottom.
    const int bands = 16;
    for (int i = 0; i < bands; ++i) {
        canvas->Brush->Color = RgbColour(128 + i * 3, 128 + i * 3, 192 + i * 2);
        canvas->FillRect(Rect(0, height * i / bands, width, height * (i + 1) / bands));
    }
}

void DrawPassMark(TBitmap *bitmap)
{
    bitmap->SetSize(20, 20);
    bitmap->Transparent = true;
    TCanvas *canvas = bitmap->Canvas;
    canvas->Pen->Color = clGreen;
    canvas->Pen->Width = 3;
    Stroke(canvas, 3, 10, 8, 15);
    Stroke(canvas, 8, 15, 17, 4);
}

void DrawFailMark(TBitmap *bitmap)
{
    bitmap->SetSize(20, 20);
    bitmap->Transparent = true;
    TCanvas *canvas = bitmap->Canvas;
    canvas->Pen->Color = clRed;
    canvas->Pen->Width = 3;
    Stroke(canvas, 4, 4, 16, 16);
    Stroke(canvas, 16, 4, 4, 16);
}
