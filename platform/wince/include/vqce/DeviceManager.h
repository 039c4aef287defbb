// The device manager: ActivateDeviceEx and DeactivateDevice of windows.h
// load a stream driver from its registry key, give it an active key and a
// legacy name (prefix, index digit, colon), and call its XXX_Init and
// XXX_Deinit. The stream contexts are pointer-wide (DWORD_PTR): on the 32-bit
// target that is a DWORD. This interface lets ce-host and tests find the
// active devices and call their entry points, as a program's CreateFile and
// DeviceIoControl would.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

typedef DWORD_PTR (*PFN_STREAM_INIT)(LPCWSTR pContext, LPCVOID lpvBusContext);
typedef BOOL (*PFN_STREAM_DEINIT)(DWORD_PTR hDeviceContext);
typedef DWORD_PTR (*PFN_STREAM_OPEN)(DWORD_PTR hDeviceContext, DWORD AccessCode, DWORD ShareMode);
typedef BOOL (*PFN_STREAM_CLOSE)(DWORD_PTR hOpenContext);
typedef BOOL (*PFN_STREAM_IOCONTROL)(DWORD_PTR hOpenContext, DWORD dwCode, PBYTE pBufIn,
                                     DWORD dwLenIn, PBYTE pBufOut, DWORD dwLenOut,
                                     PDWORD pdwActualOut);

namespace vqce::devices {

struct ActiveDevice {
  HANDLE handle = nullptr;        // what ActivateDeviceEx returned
  std::wstring name;              // legacy name, e.g. VQU1:
  std::wstring activeKey;         // e.g. Drivers\Active\03 under HKEY_LOCAL_MACHINE
  std::wstring deviceKey;         // the driver's key
  DWORD_PTR context = 0;          // what XXX_Init returned
  PFN_STREAM_OPEN open = nullptr;
  PFN_STREAM_CLOSE close = nullptr;
  PFN_STREAM_IOCONTROL ioControl = nullptr;
};

std::vector<ActiveDevice> List();
std::optional<ActiveDevice> FindByName(const std::wstring& name);

// Called with the new active key's path after its values are written and
// before XXX_Init runs: a test can change or remove values there.
void SetActivationHook(std::function<void(const std::wstring& activeKey)> hook);

}  // namespace vqce::devices
