// Draws a form (frame, caption bar and controls) to a PNG file of the form's
// outer size, so that a person can look at the window.
#pragma once

#include <string>

class TCustomForm;
class TFont;
class AnsiString;

namespace vcl {
// The path is a host path. False when the file cannot be written.
bool RenderFormToPng(TCustomForm* form, const std::string& path);
// Size in pixels of a one-line text in a font (auto-sized labels).
void MeasureText(const TFont* font, const AnsiString& text, int& width, int& height);
// Text as shown: "&" marks the accelerator and is not drawn, "&&" is "&".
std::string StripAccelerator(const std::string& text);
}  // namespace vcl
