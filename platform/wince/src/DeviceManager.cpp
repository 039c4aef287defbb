// Device manager: stream-driver activation and deactivation.
#include "vqce/DeviceManager.h"

#include <cstdio>
#include <cwctype>
#include <mutex>

#include "vqce/Registry.h"

namespace vqce::devices {
namespace {

struct Record {
  ActiveDevice device;
  HMODULE module = nullptr;
  PFN_STREAM_DEINIT deinit = nullptr;
  wchar_t prefix[4] = {};
  int index = 0;
};

struct State {
  std::mutex mutex;
  std::vector<Record> active;
  std::vector<std::pair<std::wstring, int>> reserved;  // prefix, index taken by an activation under way
  unsigned nextKey = 1;
  uintptr_t nextHandle = 0x10000;
  std::function<void(const std::wstring&)> hook;
};

State& S() {
  static State state;
  return state;
}

bool IndexTaken(const std::wstring& prefix, int index) {
  for (auto& r : S().active) {
    if (r.prefix == prefix && r.index == index) return true;
  }
  for (auto& [p, i] : S().reserved) {
    if (p == prefix && i == index) return true;
  }
  return false;
}

void Release(const std::wstring& prefix, int index) {
  auto& v = S().reserved;
  for (auto it = v.begin(); it != v.end(); ++it) {
    if (it->first == prefix && it->second == index) {
      v.erase(it);
      return;
    }
  }
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

template <class F>
F Export(HMODULE module, const std::wstring& prefix, const wchar_t* entry) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddressW(module, (prefix + L"_" + entry).c_str())));
}

}  // namespace

std::vector<ActiveDevice> List() {
  std::lock_guard<std::mutex> lock(S().mutex);
  std::vector<ActiveDevice> out;
  for (auto& r : S().active) out.push_back(r.device);
  return out;
}

std::optional<ActiveDevice> FindByName(const std::wstring& name) {
  std::lock_guard<std::mutex> lock(S().mutex);
  for (auto& r : S().active) {
    if (SameName(r.device.name, name)) return r.device;
  }
  return std::nullopt;
}

void SetActivationHook(std::function<void(const std::wstring&)> hook) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().hook = std::move(hook);
}

}  // namespace vqce::devices

using namespace vqce::devices;

extern "C" {

HANDLE ActivateDeviceEx(LPCWSTR lpszDevKey, LPCREGINI lpReg, DWORD cReg, LPVOID lpvParam) {
  namespace reg = vqce::registry;
  if (!lpszDevKey) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return NULL;
  }
  const std::wstring devKey = lpszDevKey;
  auto prefix = reg::GetString(HKEY_LOCAL_MACHINE, devKey, DEVLOAD_PREFIX_VALNAME);
  auto dll = reg::GetString(HKEY_LOCAL_MACHINE, devKey, DEVLOAD_DLLNAME_VALNAME);
  if (!prefix || prefix->size() != 3 || !dll) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return NULL;
  }
  auto fixedIndex = reg::GetDword(HKEY_LOCAL_MACHINE, devKey, DEVLOAD_INDEX_VALNAME);

  // Reserve the legacy index (1..9, then 0) and an active key.
  int index = -1;
  std::wstring activeKey;
  std::function<void(const std::wstring&)> hook;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    if (fixedIndex) {
      if (*fixedIndex <= 9 && !IndexTaken(*prefix, static_cast<int>(*fixedIndex))) {
        index = static_cast<int>(*fixedIndex);
      }
    } else {
      for (int i : {1, 2, 3, 4, 5, 6, 7, 8, 9, 0}) {
        if (!IndexTaken(*prefix, i)) {
          index = i;
          break;
        }
      }
    }
    if (index < 0) {
      SetLastError(ERROR_DEVICE_NOT_AVAILABLE);
      return NULL;
    }
    S().reserved.emplace_back(*prefix, index);
    wchar_t key[32];
    swprintf(key, 32, L"Drivers\\Active\\%02u", S().nextKey++);
    activeKey = key;
    hook = S().hook;
  }
  auto fail = [&](DWORD error, HMODULE module) -> HANDLE {
    reg::DeleteKey(HKEY_LOCAL_MACHINE, activeKey);
    if (module) FreeLibrary(module);
    std::lock_guard<std::mutex> lock(S().mutex);
    Release(*prefix, index);
    SetLastError(error);
    return NULL;
  };

  wchar_t name[8];
  swprintf(name, 8, L"%ls%d:", prefix->c_str(), index);
  reg::SetString(HKEY_LOCAL_MACHINE, activeKey, DEVLOAD_DEVKEY_VALNAME, devKey);
  reg::SetString(HKEY_LOCAL_MACHINE, activeKey, DEVLOAD_DEVNAME_VALNAME, name);
  if (lpvParam) {
    // Pointer-wide: a DWORD on the 32-bit target, a QWORD here.
    reg::Value info;
    info.type = sizeof(void*) == 4 ? REG_DWORD : REG_QWORD;
    info.data.resize(sizeof(void*));
    memcpy(info.data.data(), &lpvParam, sizeof(void*));
    reg::SetValue(HKEY_LOCAL_MACHINE, activeKey, DEVLOAD_CLIENTINFO_VALNAME, info);
  }
  for (DWORD i = 0; lpReg && i < cReg; ++i) {
    reg::Value v;
    v.type = lpReg[i].dwType;
    if (lpReg[i].pData) v.data.assign(lpReg[i].pData, lpReg[i].pData + lpReg[i].dwLen);
    reg::SetValue(HKEY_LOCAL_MACHINE, activeKey, lpReg[i].lpszVal ? lpReg[i].lpszVal : L"", v);
  }
  if (hook) hook(activeKey);

  HMODULE module = LoadLibraryW(dll->c_str());
  if (!module) return fail(ERROR_MOD_NOT_FOUND, nullptr);
  Record r;
  r.module = module;
  r.index = index;
  wcsncpy(r.prefix, prefix->c_str(), 3);
  auto init = Export<PFN_STREAM_INIT>(module, *prefix, L"Init");
  r.deinit = Export<PFN_STREAM_DEINIT>(module, *prefix, L"Deinit");
  r.device.open = Export<PFN_STREAM_OPEN>(module, *prefix, L"Open");
  r.device.close = Export<PFN_STREAM_CLOSE>(module, *prefix, L"Close");
  r.device.ioControl = Export<PFN_STREAM_IOCONTROL>(module, *prefix, L"IOControl");
  if (!init || !r.deinit) return fail(ERROR_PROC_NOT_FOUND, module);

  const DWORD_PTR context = init(activeKey.c_str(), lpvParam);
  if (!context) return fail(ERROR_DEVICE_NOT_AVAILABLE, module);

  std::lock_guard<std::mutex> lock(S().mutex);
  Release(*prefix, index);
  r.device.name = name;
  r.device.activeKey = activeKey;
  r.device.deviceKey = devKey;
  r.device.context = context;
  r.device.handle = reinterpret_cast<HANDLE>(S().nextHandle += 4);
  S().active.push_back(r);
  return r.device.handle;
}

BOOL DeactivateDevice(HANDLE hDevice) {
  Record r;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    auto& v = S().active;
    auto it = v.begin();
    while (it != v.end() && it->device.handle != hDevice) ++it;
    if (it == v.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    r = *it;
    v.erase(it);
    // The index stays taken until XXX_Deinit has returned.
    S().reserved.emplace_back(r.prefix, r.index);
  }
  r.deinit(r.device.context);
  vqce::registry::DeleteKey(HKEY_LOCAL_MACHINE, r.device.activeKey);
  FreeLibrary(r.module);
  std::lock_guard<std::mutex> lock(S().mutex);
  Release(r.prefix, r.index);
  return TRUE;
}

}  // extern "C"
