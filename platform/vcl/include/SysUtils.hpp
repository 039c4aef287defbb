// Exceptions of the framework and the string, number and file helpers the
// programs call.
#pragma once

#include <exception>

#include "System.hpp"

class Exception : public TObject, public std::exception {
 public:
  explicit Exception(const AnsiString& msg) : Message(msg) {}
  Exception(const Exception& other) : TObject(), std::exception(other), Message(other.Message) {}
  const char* what() const noexcept override { return Message.c_str(); }

  AnsiString Message;
};

#define VCL_EXCEPTION(Name, Base)                       \
  class Name : public Base {                            \
   public:                                              \
    explicit Name(const AnsiString& msg) : Base(msg) {} \
  };

VCL_EXCEPTION(EConvertError, Exception)
VCL_EXCEPTION(EInvalidOperation, Exception)
VCL_EXCEPTION(ERangeError, Exception)
VCL_EXCEPTION(EListError, Exception)
VCL_EXCEPTION(EStreamError, Exception)
VCL_EXCEPTION(EFileStreamError, EStreamError)
VCL_EXCEPTION(EFCreateError, EFileStreamError)
VCL_EXCEPTION(EFOpenError, EFileStreamError)
VCL_EXCEPTION(EWriteError, EStreamError)

// Decimal (or $/0x hexadecimal) text to int; anything else raises
// EConvertError "'text' is not a valid integer value".
int StrToInt(const AnsiString& s);
int StrToIntDef(const AnsiString& s, int def);
AnsiString IntToStr(int value);
AnsiString IntToStr(long long value);
AnsiString IntToHex(int value, int digits);
AnsiString UpperCase(const AnsiString& s);
AnsiString LowerCase(const AnsiString& s);
AnsiString Trim(const AnsiString& s);

// Files of the current machine (paths as on Windows: C:\...).
bool FileExists(const AnsiString& fileName);
bool DirectoryExists(const AnsiString& dir);
bool CreateDir(const AnsiString& dir);  // false when it cannot be made (an existing folder too)
