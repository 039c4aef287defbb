// Pictures of the diagnostic window drawn in code: the check area's backdrop
// and the PASSED and FAILED marks.
#ifndef MainPicturesH
#define MainPicturesH

#include <vcl.h>

void DrawBackdrop(TBitmap *bitmap, int width, int height);
void DrawPassMark(TBitmap *bitmap);   // 20 x 20, a green tick on a transparent ground
void DrawFailMark(TBitmap *bitmap);   // 20 x 20, a red cross on a transparent ground

#endif
