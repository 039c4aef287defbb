#include "vqwin/Handles.h"

#include <winerror.h>

#include <map>
#include <mutex>

namespace vqwin {
namespace {

std::mutex g_mutex;
std::map<uintptr_t, std::shared_ptr<KernelObject>>& Table() {
  static std::map<uintptr_t, std::shared_ptr<KernelObject>> table;
  return table;
}
uintptr_t g_next = 0x100;
DeviceOpener g_deviceOpener;

}  // namespace

BOOL KernelObject::Read(void*, DWORD, DWORD* got, DWORD& error) {
  if (got) *got = 0;
  error = ERROR_INVALID_FUNCTION;
  return FALSE;
}

BOOL KernelObject::Write(const void*, DWORD, DWORD* put, DWORD& error) {
  if (put) *put = 0;
  error = ERROR_INVALID_FUNCTION;
  return FALSE;
}

HANDLE NewHandle(std::shared_ptr<KernelObject> object) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const uintptr_t value = g_next;
  g_next += 4;
  Table()[value] = std::move(object);
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = Table().find(reinterpret_cast<uintptr_t>(handle));
  return it == Table().end() ? nullptr : it->second;
}

bool ReleaseHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> dropped;  // destroyed outside the lock
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = Table().find(reinterpret_cast<uintptr_t>(handle));
  if (it == Table().end()) return false;
  dropped = std::move(it->second);
  Table().erase(it);
  return true;
}

void SetDeviceOpener(DeviceOpener opener) { g_deviceOpener = std::move(opener); }

// Used by CreateFileA.
std::shared_ptr<KernelObject> OpenDevice(const std::string& name, DWORD access, DWORD share,
                                         DWORD& error) {
  if (!g_deviceOpener) {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  return g_deviceOpener(name, access, share, error);
}

}  // namespace vqwin
