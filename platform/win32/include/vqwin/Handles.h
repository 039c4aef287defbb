// The kernel handle table of the stand-in. Files, searches and whatever later
// parts of the stand-in hand out as a HANDLE (snapshots, devices ...) are
// objects derived from KernelObject; CloseHandle drops them.
#pragma once

#include <windef.h>

#include <functional>
#include <memory>
#include <string>

namespace vqwin {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // ReadFile/WriteFile on this handle. Return FALSE and set `error` to fail.
  virtual BOOL Read(void* buffer, DWORD size, DWORD* got, DWORD& error);
  virtual BOOL Write(const void* data, DWORD size, DWORD* put, DWORD& error);
};

HANDLE NewHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
template <class T>
std::shared_ptr<T> HandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}
// Removes the handle; false when it was not a handle of the table.
bool ReleaseHandle(HANDLE handle);

// CreateFileA on a device path ("\\.\NAME") asks this opener with NAME. It
// returns the device object, or nullptr and the error to set. Without an
// opener every device path fails with ERROR_FILE_NOT_FOUND.
using DeviceOpener = std::function<std::shared_ptr<KernelObject>(
    const std::string& name, DWORD access, DWORD share, DWORD& error)>;
void SetDeviceOpener(DeviceOpener opener);

}  // namespace vqwin
