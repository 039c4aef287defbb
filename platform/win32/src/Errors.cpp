// Last error, the system's English message texts, local memory.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "vqwin/MessageTexts.h"

namespace {

thread_local DWORD t_lastError = 0;

const std::map<DWORD, const char*>& Texts() {
  static const std::map<DWORD, const char*> texts = {
      {0, "The operation completed successfully."},
      {1, "Incorrect function."},
      {2, "The system cannot find the file specified."},
      {3, "The system cannot find the path specified."},
      {4, "The system cannot open the file."},
      {5, "Access is denied."},
      {6, "The handle is invalid."},
      {8, "Not enough storage is available to process this command."},
      {13, "The data is invalid."},
      {14, "Not enough storage is available to complete this operation."},
      {15, "The system cannot find the drive specified."},
      {18, "There are no more files."},
      {21, "The device is not ready."},
      {31, "A device attached to the system is not functioning."},
      {32, "The process cannot access the file because it is being used by another process."},
      {33, "The process cannot access the file because another process has locked a portion of the file."},
      {38, "Reached the end of the file."},
      {50, "The request is not supported."},
      {53, "The network path was not found."},
      {80, "The file exists."},
      {87, "The parameter is incorrect."},
      {110, "The system cannot open the device or file specified."},
      {111, "The file name is too long."},
      {112, "There is not enough space on the disk."},
      {120, "This function is not supported on this system."},
      {122, "The data area passed to a system call is too small."},
      {123, "The filename, directory name, or volume label syntax is incorrect."},
      {126, "The specified module could not be found."},
      {127, "The specified procedure could not be found."},
      {131, "An attempt was made to move the file pointer before the beginning of the file."},
      {145, "The directory is not empty."},
      {161, "The specified path is invalid."},
      {183, "Cannot create a file when that file already exists."},
      {193, "%1 is not a valid Win32 application."},
      {206, "The filename or extension is too long."},
      {234, "More data is available."},
      {267, "The directory name is invalid."},
      {259, "No more data is available."},
      {995, "The I/O operation has been aborted because of either a thread exit or an application request."},
      {998, "Invalid access to memory location."},
      {1009, "The configuration registry database is corrupt."},
      {1010, "The configuration registry key is invalid."},
      {1011, "The configuration registry key could not be opened."},
      {1012, "The configuration registry key could not be read."},
      {1013, "The configuration registry key could not be written."},
      {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
      {1051, "A stop control has been sent to a service that other running services are dependent on."},
      {1052, "The requested control is not valid for this service."},
      {1053, "The service did not respond to the start or control request in a timely fashion."},
      {1055, "The service database is locked."},
      {1056, "An instance of the service is already running."},
      {1058, "The service cannot be started, either because it is disabled or because it has no enabled devices associated with it."},
      {1060, "The specified service does not exist as an installed service."},
      {1061, "The service cannot accept control messages at this time."},
      {1062, "The service has not been started."},
      {1068, "The dependency service or group failed to start."},
      {1072, "The specified service has been marked for deletion."},
      {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
      {1155, "No application is associated with the specified file for this operation."},
      {1300, "Not all privileges referenced are assigned to the caller."},
      {1314, "A required privilege is not held by the client."},
      {1812, "The specified image file did not contain a resource section."},
      {1813, "The specified resource type cannot be found in the image file."},
      {1814, "The specified resource name cannot be found in the image file."},
  };
  return texts;
}

std::map<DWORD, std::string>& ExtraTexts() {
  static std::map<DWORD, std::string> extra;
  return extra;
}

}  // namespace

namespace vqwin {

void RegisterMessageText(DWORD code, const std::string& text) { ExtraTexts()[code] = text; }
}  // namespace vqwin

extern "C" {

DWORD WINAPI GetLastError(void) { return t_lastError; }
void WINAPI SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  void* p = (uFlags & LMEM_ZEROINIT) ? std::calloc(uBytes ? uBytes : 1, 1)
                                     : std::malloc(uBytes ? uBytes : 1);
  if (!p) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return p;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPSTR lpBuffer,
                            DWORD nSize, void*) {
  if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || !lpBuffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string text;
  auto extra = ExtraTexts().find(dwMessageId);
  if (extra != ExtraTexts().end()) {
    text = extra->second;
  } else {
    auto it = Texts().find(dwMessageId);
    if (it == Texts().end()) {
      SetLastError(ERROR_MR_MID_NOT_FOUND);
      return 0;
    }
    text = it->second;
  }
  // Without FORMAT_MESSAGE_IGNORE_INSERTS an insert would need arguments that
  // these texts are never given; "%1" stays as it is either way.
  if ((dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == 0) text += "\r\n";
  const DWORD length = static_cast<DWORD>(text.size());
  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    const DWORD size = length + 1 > nSize ? length + 1 : nSize;
    char* p = static_cast<char*>(LocalAlloc(LPTR, size));
    if (!p) return 0;
    std::memcpy(p, text.data(), length);
    *reinterpret_cast<char**>(lpBuffer) = p;
    return length;
  }
  if (length + 1 > nSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpBuffer, text.c_str(), length + 1);
  return length;
}

int WINAPI lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
  a = a ? a : "";
  b = b ? b : "";
  for (;; ++a, ++b) {
    int ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
    if (ca >= 'A' && ca <= 'Z') ca += 32;
    if (cb >= 'A' && cb <= 'Z') cb += 32;
    if (ca != cb) return ca < cb ? -1 : 1;
    if (!ca) return 0;
  }
}

}  // extern "C"
