// Version and system information, identity, folders, time.
#include <windows.h>

#include <cstring>

#include "vqwin/Exports.h"
#include "vqwin/FileSystem.h"
#include "vqwin/Machine.h"

using vqwin::CurrentMachine;

namespace {

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

void FillSystemInfo(LPSYSTEM_INFO info, WORD architecture) {
  const auto& os = CurrentMachine().spec().os;
  std::memset(info, 0, sizeof *info);
  info->wProcessorArchitecture = architecture;
  info->dwPageSize = architecture == PROCESSOR_ARCHITECTURE_IA64 ? 8192 : 4096;
  info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x00010000);
  info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(
      architecture == PROCESSOR_ARCHITECTURE_INTEL ? 0x7FFEFFFFULL : 0x000007FFFFFEFFFFULL);
  const DWORD processors = os.processors ? os.processors : 1;
  info->dwActiveProcessorMask = processors >= 32 ? 0xFFFFFFFFu : (1u << processors) - 1;
  info->dwNumberOfProcessors = processors;
  info->dwProcessorType = architecture == PROCESSOR_ARCHITECTURE_AMD64   ? PROCESSOR_AMD_X8664
                          : architecture == PROCESSOR_ARCHITECTURE_IA64  ? PROCESSOR_INTEL_IA64
                          : architecture == PROCESSOR_ARCHITECTURE_INTEL ? PROCESSOR_INTEL_PENTIUM
                                                                         : 0;
  info->dwAllocationGranularity = 65536;
  info->wProcessorLevel = 6;
  info->wProcessorRevision = 0x0F06;
}

// Copies a text into a caller's buffer the way the folder queries do: the
// length without the zero on success, the size needed (with it) otherwise.
UINT CopyOut(const std::string& text, LPSTR buffer, UINT size) {
  if (!buffer || text.size() + 1 > size) return static_cast<UINT>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<UINT>(text.size());
}

}  // namespace

extern "C" {

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (!info) return Fail(ERROR_NOACCESS);
  const auto& os = CurrentMachine().spec().os;
  const DWORD size = info->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA))
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (os.versionQuery == vqwin::VersionQuery::None) return Fail(ERROR_INVALID_PARAMETER);
  if (size == sizeof(OSVERSIONINFOEXA) && os.versionQuery == vqwin::VersionQuery::BasicOnly)
    return Fail(ERROR_INVALID_PARAMETER);
  info->dwMajorVersion = os.major;
  info->dwMinorVersion = os.minor;
  // Windows 9x keeps the version in the high word of the build number.
  info->dwBuildNumber = os.Is9x() ? (os.major << 24 | os.minor << 16 | (os.build & 0xFFFF)) : os.build;
  info->dwPlatformId = os.platformId;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  std::strncpy(info->szCSDVersion, os.csdVersion.c_str(), sizeof info->szCSDVersion - 1);
  if (size == sizeof(OSVERSIONINFOEXA)) {
    auto* ex = reinterpret_cast<LPOSVERSIONINFOEXA>(info);
    ex->wServicePackMajor = os.spMajor;
    ex->wServicePackMinor = os.spMinor;
    ex->wSuiteMask = os.suiteMask;
    ex->wProductType = os.productType;
    ex->wReserved = 0;
  }
  return TRUE;
}

DWORD WINAPI GetVersion(void) {
  const auto& os = CurrentMachine().spec().os;
  DWORD v = (os.major & 0xFF) | (os.minor & 0xFF) << 8;
  if (os.Is9x() || os.platformId == VER_PLATFORM_WIN32s)
    v |= 0x80000000u | (os.build & 0x7FFF) << 16;
  else
    v |= (os.build & 0x7FFF) << 16;
  return v;
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO info) {
  if (!info) return;
  const auto& os = CurrentMachine().spec().os;
  // A 32-bit program on 64-bit Windows sees an x86 processor here.
  FillSystemInfo(info, os.Is64Bit() ? static_cast<WORD>(PROCESSOR_ARCHITECTURE_INTEL) : os.architecture);
}

void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO info) {
  if (!info) return;
  FillSystemInfo(info, CurrentMachine().spec().os.architecture);
}

BOOL WINAPI GetProductInfo(DWORD, DWORD, DWORD, DWORD, PDWORD type) {
  if (!type) return Fail(ERROR_INVALID_PARAMETER);
  *type = CurrentMachine().spec().os.productInfo;
  return TRUE;
}

BOOL WINAPI Wow64DisableWow64FsRedirection(PVOID* oldValue) {
  auto& m = CurrentMachine();
  if (!m.spec().os.Is64Bit()) return Fail(ERROR_INVALID_FUNCTION);
  if (oldValue) *oldValue = reinterpret_cast<PVOID>(m.files().redirection() ? 1 : 2);
  m.files().set_redirection(false);
  return TRUE;
}

BOOL WINAPI Wow64RevertWow64FsRedirection(PVOID oldValue) {
  auto& m = CurrentMachine();
  if (!m.spec().os.Is64Bit()) return Fail(ERROR_INVALID_FUNCTION);
  const auto value = reinterpret_cast<uintptr_t>(oldValue);
  if (value != 1 && value != 2) return Fail(ERROR_INVALID_PARAMETER);
  m.files().set_redirection(value == 1);
  return TRUE;
}

BOOL WINAPI IsWow64Process(HANDLE, PBOOL wow64) {
  if (!wow64) return Fail(ERROR_INVALID_PARAMETER);
  *wow64 = CurrentMachine().spec().os.Is64Bit() ? TRUE : FALSE;
  return TRUE;
}

BOOL WINAPI GetComputerNameA(LPSTR buffer, LPDWORD size) {
  if (!size) return Fail(ERROR_INVALID_PARAMETER);
  const std::string& name = CurrentMachine().spec().computerName;
  if (!buffer || name.size() + 1 > *size) {
    *size = static_cast<DWORD>(name.size() + 1);
    return Fail(ERROR_BUFFER_OVERFLOW);
  }
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<DWORD>(name.size());
  return TRUE;
}

BOOL WINAPI GetUserNameA(LPSTR buffer, LPDWORD size) {
  if (!size) return Fail(ERROR_INVALID_PARAMETER);
  const std::string& name = CurrentMachine().spec().userName;
  if (!buffer || name.size() + 1 > *size) {
    *size = static_cast<DWORD>(name.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<DWORD>(name.size() + 1);
  return TRUE;
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  return CopyOut(CurrentMachine().spec().os.windowsDir, buffer, size);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  return CopyOut(CurrentMachine().spec().os.SystemDir(), buffer, size);
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (!buffer || size == 0) return Fail(ERROR_INSUFFICIENT_BUFFER), 0;
  // Only the program itself has a file on the machine.
  if (module && module != vqwin::ProgramModule()) return Fail(ERROR_MOD_NOT_FOUND), 0;
  const std::string& path = CurrentMachine().spec().programPath;
  if (path.size() + 1 > size) {
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  return CopyOut(CurrentMachine().files().currentDir(), buffer, size);
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
  if (!path) return Fail(ERROR_INVALID_PARAMETER);
  auto& files = CurrentMachine().files();
  const vqwin::ResolvedPath r = files.ResolveNative(path);
  std::error_code ec;
  if (!r.exists) return Fail(r.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  if (!std::filesystem::is_directory(r.hostPath, ec)) return Fail(ERROR_DIRECTORY);
  files.set_currentDir(r.windowsPath);
  return TRUE;
}

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
  return CopyOut(CurrentMachine().spec().os.windowsDir + "\\TEMP\\", buffer, size);
}

HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }
DWORD WINAPI GetCurrentProcessId(void) { return 1234; }

LANGID WINAPI GetSystemDefaultLangID(void) { return CurrentMachine().spec().locale.langId; }
LANGID WINAPI GetUserDefaultLangID(void) { return CurrentMachine().spec().locale.langId; }
LCID WINAPI GetSystemDefaultLCID(void) { return CurrentMachine().spec().locale.langId; }
LCID WINAPI GetUserDefaultLCID(void) { return CurrentMachine().spec().locale.langId; }

int WINAPI GetSystemMetrics(int index) {
  const auto& spec = CurrentMachine().spec();
  switch (index) {
    case SM_CXSCREEN: return spec.screenWidth;
    case SM_CYSCREEN: return spec.screenHeight;
    case SM_CMONITORS: return 1;
    case SM_SERVERR2: return spec.os.serverR2;
    default: return 0;
  }
}

void WINAPI GetLocalTime(LPSYSTEMTIME time) {
  if (time) *time = CurrentMachine().LocalTime();
}

void WINAPI GetSystemTime(LPSYSTEMTIME time) {
  // The machines keep no time zone: UTC reads as the local time.
  if (time) *time = CurrentMachine().LocalTime();
}

DWORD WINAPI GetTickCount(void) {
  auto& m = CurrentMachine();
  return static_cast<DWORD>(m.spec().clock.tickAtStart + m.clock().Now());
}

void WINAPI Sleep(DWORD ms) { vqwin::CurrentClock().Sleep(ms); }

LPSTR WINAPI CharUpperA(LPSTR s) {
  const auto value = reinterpret_cast<uintptr_t>(s);
  if (value < 0x10000) {  // a single character in the low word
    char c = static_cast<char>(value);
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return reinterpret_cast<LPSTR>(static_cast<uintptr_t>(static_cast<unsigned char>(c)));
  }
  for (char* p = s; *p; ++p) {
    if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) {
      ++p;
      continue;
    }
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 32);
  }
  return s;
}

}  // extern "C"

VQWIN_EXPORT("kernel32.dll", GetNativeSystemInfo);
VQWIN_EXPORT("kernel32.dll", GetProductInfo);
VQWIN_EXPORT("kernel32.dll", Wow64DisableWow64FsRedirection);
VQWIN_EXPORT("kernel32.dll", Wow64RevertWow64FsRedirection);
VQWIN_EXPORT("kernel32.dll", IsWow64Process);
VQWIN_EXPORT("kernel32.dll", GetVersionExA);
VQWIN_EXPORT("kernel32.dll", GetSystemInfo);
