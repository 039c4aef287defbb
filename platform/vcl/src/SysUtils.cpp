#include "SysUtils.hpp"

#include <windows.h>

#include <cstdio>
#include <limits>

namespace {

bool ParseInt(const std::string& text, int& out) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  long long value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    value = value * base + digit;
    // Hexadecimal may fill all 32 bits (as the framework reads $FFFFFFFF).
    const long long limit = base == 16 ? 0xFFFFFFFFLL : 0x80000000LL;
    if (value > limit) return false;
  }
  if (base == 16) {
    out = static_cast<int>(static_cast<uint32_t>(value));
    if (negative) out = -out;
    return true;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) return false;
  out = static_cast<int>(value);
  return true;
}

}  // namespace

int StrToInt(const AnsiString& s) {
  int v = 0;
  if (!ParseInt(s.str(), v)) throw EConvertError("'" + s + "' is not a valid integer value");
  return v;
}

int StrToIntDef(const AnsiString& s, int def) {
  int v = 0;
  return ParseInt(s.str(), v) ? v : def;
}

AnsiString IntToStr(int value) { return AnsiString(value); }
AnsiString IntToStr(long long value) { return AnsiString(value); }

AnsiString IntToHex(int value, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*X", digits, static_cast<unsigned>(value));
  return AnsiString(buf);
}

AnsiString UpperCase(const AnsiString& s) { return s.UpperCase(); }
AnsiString LowerCase(const AnsiString& s) { return s.LowerCase(); }
AnsiString Trim(const AnsiString& s) { return s.Trim(); }

bool FileExists(const AnsiString& fileName) {
  const DWORD a = GetFileAttributesA(fileName.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const AnsiString& dir) {
  const DWORD a = GetFileAttributesA(dir.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateDir(const AnsiString& dir) { return CreateDirectoryA(dir.c_str(), nullptr) != FALSE; }
