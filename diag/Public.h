// System information and small helpers shared by the diagnostic window and
// the service control window: Windows version, its display name, processor,
// language, the coloured information line, the folder-tree copy and two
// small text helpers.
#ifndef PublicH
#define PublicH

#include <vcl.h>

// Appends one line in the given colour (0x00BBGGRR) to the service control
// window's information box and scrolls it into view; "d_CLEAR" empties it.
void AddInfoLine(AnsiString text, int colour);

// 1-6 the Windows 9x family and older, 7-21 the NT family, 22 unknown or a
// refused version query.
int GetOSVersionCode();

// The name shown in the report, e.g. "Windows XP Professional Service Pack 3
// (build 2600)".
AnsiString GetOSDisplayString();

// 64 (x64 or Itanium), 86 (x86), 60 (any other processor), 22 when the
// version query is refused.
int GetProcessorArchCode();

// 0 English, 1 Traditional Chinese (Taiwan), 2 Chinese (Hong Kong SAR).
int GetUILanguageCode();

// Copies every file and folder under source into destination (created with
// its parents), overwriting existing files; failures are skipped silently.
void CopyDirectoryTree(AnsiString source, AnsiString destination);

// Centres the window on the screen: left = (screen width - window width) / 2,
// top likewise, each quotient rounded toward zero (negative on a small
// screen).
void CentreOnScreen(TForm *form);

// A colour of the form 0x00BBGGRR from its red, green and blue parts.
TColor RgbColour(int red, int green, int blue);

// `count` copies of a character: the dots of a report line, a rule of
// hyphens. None for a count of 0 or less.
AnsiString Repeated(char c, int count);

#endif
