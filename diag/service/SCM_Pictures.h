// Pictures of the service control window's buttons, drawn in code: two
// 16 x 16 images side by side, the button's own and its disabled look.
#ifndef SCM_PicturesH
#define SCM_PicturesH

#include <vcl.h>

void DrawRefreshGlyph(TBitmap *bitmap);    // two arrows in a circle
void DrawRecommendGlyph(TBitmap *bitmap);  // a star
void DrawOkGlyph(TBitmap *bitmap);         // a tick
void DrawCancelGlyph(TBitmap *bitmap);     // a cross

#endif
