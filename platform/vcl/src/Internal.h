// State shared by the framework's units (not for programs).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TCustomForm;
class AnsiString;

namespace vcl::detail {

// Every live form, back to front.
std::vector<TCustomForm*>& FormsZOrder();
// Modal forms being shown, innermost last.
std::vector<TCustomForm*>& ModalStack();
void FormDestroyed(TCustomForm* form);
void MainFormClosed();
// Routes Win32's MessageBoxA/W into the dialog script (once).
void EnsureMessageBoxHook();
// Name of the form or control whose Handle is `h` ("" for none, "?" unknown).
std::string NameOfHandle(HWND h);

// 8-bit text of the machine's code page <-> UTF-8.
std::string AnsiToUtf8(const std::string& ansi);
std::string Utf8ToAnsi(const std::string& utf8);
std::string WideToUtf8(const std::wstring& w);
std::wstring Utf8ToWide(const std::string& utf8);

}  // namespace vcl::detail
