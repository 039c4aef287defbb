// Code-page conversions for C++ callers (the same conversions as
// MultiByteToWideChar and WideCharToMultiByte). Code page 0 is the current
// machine's ANSI code page.
#pragma once

#include <string>
#include <string_view>

namespace vqwin {

std::wstring ToWide(std::string_view bytes, unsigned codePage = 0);
std::string FromWide(std::wstring_view text, unsigned codePage = 0);
// UTF-8 helpers (tests, machine files and renderers think in UTF-8).
std::string Utf8FromWide(std::wstring_view text);
std::wstring WideFromUtf8(std::string_view utf8);
// Bytes of `codePage` <-> UTF-8.
std::string ToUtf8(std::string_view bytes, unsigned codePage = 0);
std::string FromUtf8(std::string_view utf8, unsigned codePage = 0);
// True when `c` begins a two-byte character in `codePage` (950, 949, 936, 932).
bool IsLeadByte(unsigned char c, unsigned codePage);

}  // namespace vqwin
