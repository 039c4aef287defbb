#include "System.hpp"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>
#include <vector>

#include "SysUtils.hpp"

namespace {

std::string Vformat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::vector<char> buf(static_cast<size_t>(n) + 1);
  std::vsnprintf(buf.data(), buf.size(), format, args);
  return std::string(buf.data(), static_cast<size_t>(n));
}

std::string WideToAnsi(const std::wstring& w) {
  if (w.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w.c_str(), static_cast<int>(w.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

std::wstring AnsiToWide(const std::string& a) {
  if (a.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_ACP, 0, a.c_str(), static_cast<int>(a.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, a.c_str(), static_cast<int>(a.size()), out.data(), n);
  return out;
}

}  // namespace

AnsiString::AnsiString(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  s_ = buf;
}

AnsiString::AnsiString(const wchar_t* w) : s_(WideToAnsi(w ? std::wstring(w) : std::wstring())) {}
AnsiString::AnsiString(const WideString& w) : s_(WideToAnsi(w.wstr())) {}
WideString::WideString(const AnsiString& a) : w_(AnsiToWide(a.str())) {}

char& AnsiString::operator[](int index) {
  if (index < 1 || index > Length()) throw ERangeError("String index out of bounds");
  return s_[static_cast<size_t>(index - 1)];
}

char AnsiString::operator[](int index) const {
  if (index < 1 || index > Length()) throw ERangeError("String index out of bounds");
  return s_[static_cast<size_t>(index - 1)];
}

AnsiString AnsiString::SubString(int index, int count) const {
  if (index < 1) index = 1;
  if (count <= 0 || index > Length()) return AnsiString();
  return AnsiString(s_.substr(static_cast<size_t>(index - 1), static_cast<size_t>(count)));
}

int AnsiString::Pos(const AnsiString& sub) const {
  if (sub.IsEmpty()) return 0;
  const size_t at = s_.find(sub.s_);
  return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

AnsiString AnsiString::UpperCase() const {
  std::string r = s_;
  for (char& c : r) if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return AnsiString(r);
}

AnsiString AnsiString::LowerCase() const {
  std::string r = s_;
  for (char& c : r) if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return AnsiString(r);
}

AnsiString AnsiString::TrimLeft() const {
  size_t i = 0;
  while (i < s_.size() && static_cast<unsigned char>(s_[i]) <= ' ') ++i;
  return AnsiString(s_.substr(i));
}

AnsiString AnsiString::TrimRight() const {
  size_t n = s_.size();
  while (n > 0 && static_cast<unsigned char>(s_[n - 1]) <= ' ') --n;
  return AnsiString(s_.substr(0, n));
}

AnsiString AnsiString::Trim() const { return TrimLeft().TrimRight(); }

int AnsiString::ToInt() const { return StrToInt(*this); }
int AnsiString::ToIntDef(int def) const { return StrToIntDef(*this, def); }

AnsiString& AnsiString::Insert(const AnsiString& str, int index) {
  if (index < 1) index = 1;
  if (index > Length() + 1) index = Length() + 1;
  s_.insert(static_cast<size_t>(index - 1), str.s_);
  return *this;
}

AnsiString& AnsiString::Delete(int index, int count) {
  if (index >= 1 && index <= Length() && count > 0)
    s_.erase(static_cast<size_t>(index - 1), static_cast<size_t>(count));
  return *this;
}

AnsiString& AnsiString::SetLength(int length) {
  s_.resize(static_cast<size_t>(std::max(0, length)), '\0');
  return *this;
}

AnsiString& AnsiString::sprintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  s_ = Vformat(format, args);
  va_end(args);
  return *this;
}

AnsiString& AnsiString::cat_sprintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  s_ += Vformat(format, args);
  va_end(args);
  return *this;
}

int AnsiString::printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  s_ = Vformat(format, args);
  va_end(args);
  return Length();
}

AnsiString TObject::ClassName() const {
  int status = 0;
  char* name = abi::__cxa_demangle(typeid(*this).name(), nullptr, nullptr, &status);
  std::string s = status == 0 && name ? name : typeid(*this).name();
  std::free(name);
  const size_t colon = s.rfind("::");
  return AnsiString(colon == std::string::npos ? s : s.substr(colon + 2));
}
