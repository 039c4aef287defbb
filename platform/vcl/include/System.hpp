// Base types of the forms framework: the language extensions the programs are
// written with, the 8-bit string AnsiString (bytes in the system's ANSI code
// page), WideString, small sets and TObject.
#pragma once

#include <windows.h>

#include <bitset>
#include <cstdint>
#include <ostream>
#include <string>

#include "vqvcl/Property.h"

#ifndef __fastcall
#define __fastcall
#endif
#ifndef __published
#define __published public
#endif
#ifndef PACKAGE
#define PACKAGE
#endif
#define USEFORM(file, form)
#define USERES(file)
#define __classid(T) ::vcl::ClassRef<T>()

namespace vcl {
template <class T>
struct ClassRef {};
}  // namespace vcl

class WideString;

class AnsiString {
 public:
  AnsiString() = default;
  AnsiString(const char* s) : s_(s ? s : "") {}
  AnsiString(const char* s, int length) : s_(s ? std::string(s, length > 0 ? length : 0) : "") {}
  AnsiString(const std::string& s) : s_(s) {}
  AnsiString(std::string&& s) : s_(std::move(s)) {}
  AnsiString(char c) : s_(1, c) {}
  AnsiString(int v) : s_(std::to_string(v)) {}
  AnsiString(unsigned v) : s_(std::to_string(v)) {}
  AnsiString(long v) : s_(std::to_string(v)) {}
  AnsiString(unsigned long v) : s_(std::to_string(v)) {}
  AnsiString(long long v) : s_(std::to_string(v)) {}
  AnsiString(unsigned long long v) : s_(std::to_string(v)) {}
  AnsiString(double v);
  // Wide text goes through the system's ANSI code page (WideCharToMultiByte).
  AnsiString(const wchar_t* w);
  AnsiString(const WideString& w);

  const char* c_str() const { return s_.c_str(); }
  const char* data() const { return s_.c_str(); }
  int Length() const { return static_cast<int>(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }

  // 1-based, as the framework's strings; out of range raises ERangeError.
  char& operator[](int index);
  char operator[](int index) const;

  AnsiString SubString(int index, int count) const;
  int Pos(const AnsiString& sub) const;  // 1-based, 0 when absent
  AnsiString UpperCase() const;
  AnsiString LowerCase() const;
  AnsiString Trim() const;
  AnsiString TrimLeft() const;
  AnsiString TrimRight() const;
  int ToInt() const;  // raises EConvertError
  int ToIntDef(int def) const;
  AnsiString& Insert(const AnsiString& str, int index);
  AnsiString& Delete(int index, int count);
  AnsiString& SetLength(int length);
  AnsiString& sprintf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  AnsiString& cat_sprintf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

  AnsiString& operator+=(const AnsiString& o) { s_ += o.s_; return *this; }
  AnsiString& operator+=(char c) { s_ += c; return *this; }

  const std::string& str() const { return s_; }

 private:
  std::string s_;
};

inline AnsiString operator+(const AnsiString& a, const AnsiString& b) { return AnsiString(a.str() + b.str()); }
inline AnsiString operator+(const AnsiString& a, const char* b) { return AnsiString(a.str() + (b ? b : "")); }
inline AnsiString operator+(const char* a, const AnsiString& b) { return AnsiString(std::string(a ? a : "") + b.str()); }
inline bool operator==(const AnsiString& a, const AnsiString& b) { return a.str() == b.str(); }
inline bool operator==(const AnsiString& a, const char* b) { return a.str() == (b ? b : ""); }
inline bool operator<(const AnsiString& a, const AnsiString& b) { return a.str() < b.str(); }
inline bool operator>(const AnsiString& a, const AnsiString& b) { return a.str() > b.str(); }
inline bool operator<=(const AnsiString& a, const AnsiString& b) { return a.str() <= b.str(); }
inline bool operator>=(const AnsiString& a, const AnsiString& b) { return a.str() >= b.str(); }
inline std::ostream& operator<<(std::ostream& os, const AnsiString& s) { return os << s.str(); }

class WideString {
 public:
  WideString() = default;
  WideString(const wchar_t* w) : w_(w ? w : L"") {}
  WideString(const std::wstring& w) : w_(w) {}
  WideString(const AnsiString& a);  // MultiByteToWideChar, system code page
  WideString(const char* a) : WideString(AnsiString(a)) {}

  const wchar_t* c_bstr() const { return w_.c_str(); }
  int Length() const { return static_cast<int>(w_.size()); }
  bool IsEmpty() const { return w_.empty(); }
  const std::wstring& wstr() const { return w_; }

  WideString& operator+=(const WideString& o) { w_ += o.w_; return *this; }

 private:
  std::wstring w_;
};

inline WideString operator+(const WideString& a, const WideString& b) { return WideString(a.wstr() + b.wstr()); }
inline bool operator==(const WideString& a, const WideString& b) { return a.wstr() == b.wstr(); }

// String properties answer the string's read-only questions directly
// (Edit1->Text.Length(), Label1->Caption.IsEmpty()).
namespace vcl {
template <class Derived>
struct PropertyOps<Derived, AnsiString> {
  AnsiString v() const { return static_cast<const Derived*>(this)->get(); }
  int Length() const { return v().Length(); }
  bool IsEmpty() const { return v().IsEmpty(); }
  AnsiString UpperCase() const { return v().UpperCase(); }
  AnsiString LowerCase() const { return v().LowerCase(); }
  AnsiString Trim() const { return v().Trim(); }
  AnsiString SubString(int index, int count) const { return v().SubString(index, count); }
  int Pos(const AnsiString& sub) const { return v().Pos(sub); }
  int ToInt() const { return v().ToInt(); }
  int ToIntDef(int def) const { return v().ToIntDef(def); }
};
}  // namespace vcl

// A set of enumeration values (TFontStyles() << fsBold << fsItalic).
template <class T, unsigned char minEl, unsigned char maxEl>
class Set {
 public:
  Set() = default;
  Set& operator<<(T e) { bits_.set(index(e)); return *this; }
  Set& operator>>(T e) { bits_.reset(index(e)); return *this; }
  bool Contains(T e) const { return bits_.test(index(e)); }
  bool Empty() const { return bits_.none(); }
  Set& Clear() { bits_.reset(); return *this; }
  Set operator+(const Set& o) const { Set r; r.bits_ = bits_ | o.bits_; return r; }
  Set operator-(const Set& o) const { Set r; r.bits_ = bits_ & ~o.bits_; return r; }
  Set operator*(const Set& o) const { Set r; r.bits_ = bits_ & o.bits_; return r; }
  bool operator==(const Set& o) const { return bits_ == o.bits_; }

 private:
  static size_t index(T e) { return static_cast<size_t>(static_cast<int>(e) - minEl); }
  std::bitset<maxEl - minEl + 1> bits_;
};

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
  // The class's own name ("TSelfForm"), from the run-time type.
  AnsiString ClassName() const;
};
