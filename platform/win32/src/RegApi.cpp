// The registry functions over the current machine's registry tree. Every
// change is written back to the machine's registry.reg at once. A user who
// is not an administrator may not write under HKEY_LOCAL_MACHINE on the NT
// family (UserRights.h): keys there open for reading, and every change there
// fails with ERROR_ACCESS_DENIED.
#include <windows.h>

#include <cstring>
#include <map>
#include <mutex>

#include "UserRights.h"
#include "vqwin/Machine.h"
#include "vqwin/MachineEvents.h"
#include "vqwin/Registry.h"

namespace vqwin {
namespace {

struct KeyHandle {
  std::shared_ptr<RegKey> key;
  bool readOnly = false;  // opened for reading only
};

std::mutex g_mutex;
std::map<uintptr_t, KeyHandle>& Keys() {
  static std::map<uintptr_t, KeyHandle> keys;
  return keys;
}

// Rights that change a key or what it holds: set value, create subkey,
// create link, delete, write DAC, write owner, generic write and all.
const REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | 0x00010000 | 0x00040000 |
                            0x00080000 | GENERIC_WRITE | GENERIC_ALL;

// Whether the program's user may not change this key: one under
// HKEY_LOCAL_MACHINE, for a user who is not an administrator, on the NT family.
bool Protected(const RegKey& key) {
  if (UserIsAdministrator() || !CurrentMachine().spec().os.IsNT()) return false;
  const RegKey* root = &key;
  while (root->parent != nullptr) root = root->parent;
  return root == CurrentMachine().registry().Hive(HKEY_LOCAL_MACHINE).get();
}
uintptr_t g_nextKey = 0x2000;

bool IsPredefined(HKEY key) {
  const auto v = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key));
  return v >= 0x80000000u && v <= 0x80000006u;
}

// The key behind a handle; nullptr for an invalid handle. `error` tells why.
std::shared_ptr<RegKey> KeyOf(HKEY handle, LONG& error, bool* readOnly = nullptr) {
  error = ERROR_SUCCESS;
  if (IsPredefined(handle)) {
    auto hive = CurrentMachine().registry().Hive(handle);
    if (!hive) error = ERROR_INVALID_HANDLE;
    if (readOnly) *readOnly = hive && Protected(*hive);
    return hive;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = Keys().find(reinterpret_cast<uintptr_t>(handle));
  if (it == Keys().end()) {
    error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if (it->second.key->deleted) {
    error = ERROR_KEY_DELETED;
    return nullptr;
  }
  if (readOnly) *readOnly = it->second.readOnly;
  return it->second.key;
}

// The key behind a handle that is to change it: ERROR_ACCESS_DENIED for a
// handle opened for reading.
std::shared_ptr<RegKey> KeyToChange(HKEY handle, LONG& error) {
  bool readOnly = false;
  auto key = KeyOf(handle, error, &readOnly);
  if (key && readOnly) {
    error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  return key;
}

HKEY NewKeyHandle(std::shared_ptr<RegKey> key, bool readOnly) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const uintptr_t value = g_nextKey;
  g_nextKey += 4;
  Keys()[value] = KeyHandle{std::move(key), readOnly};
  return reinterpret_cast<HKEY>(value);
}

std::vector<std::string> Split(const char* path) {
  std::vector<std::string> parts;
  std::string part;
  for (const char* p = path ? path : ""; *p; ++p) {
    if (*p == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += *p;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

// Opens (with `create`, makes) a key below `hKey`. `access` is what the
// caller asks for; 0 stands for "as much as the user may have", which is
// reading where the user may not write.
LONG Open(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult, bool create, LPDWORD disposition, REGSAM access) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  LONG error;
  auto key = KeyOf(hKey, error);
  if (!key) return error;
  const auto parts = Split(lpSubKey);
  size_t found = 0;
  for (; found < parts.size(); ++found) {
    auto child = key->Child(parts[found]);
    if (!child) break;
    key = child;
  }
  const bool readOnly = Protected(*key);
  const bool created = found < parts.size();
  if (created) {
    if (!create) return ERROR_FILE_NOT_FOUND;
    if (readOnly) return ERROR_ACCESS_DENIED;
    for (; found < parts.size(); ++found) key = key->EnsureChild(parts[found]);
    CurrentMachine().SaveRegistry();
  } else if (readOnly && (access & kWriteRights) != 0) {
    return ERROR_ACCESS_DENIED;
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *phkResult = NewKeyHandle(key, readOnly);
  return ERROR_SUCCESS;
}

}  // namespace
}  // namespace vqwin

using namespace vqwin;

extern "C" {

LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  RunDueMachineEvents();
  return Open(hKey, lpSubKey, phkResult, false, nullptr, 0);
}

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  RunDueMachineEvents();
  return Open(hKey, lpSubKey, phkResult, false, nullptr, samDesired);
}

LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  return Open(hKey, lpSubKey, phkResult, true, nullptr, 0);
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  return Open(hKey, lpSubKey, phkResult, true, lpdwDisposition, samDesired);
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData) {
  LONG error;
  auto key = KeyOf(hKey, error);
  if (!key) return error;
  if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
  const RegValue* value = key->Value(lpValueName ? lpValueName : "");
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (lpType) *lpType = value->type;
  const DWORD size = static_cast<DWORD>(value->data.size());
  if (!lpcbData) return ERROR_SUCCESS;
  if (!lpData) {
    *lpcbData = size;
    return ERROR_SUCCESS;
  }
  if (*lpcbData < size) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  if (size) std::memcpy(lpData, value->data.data(), size);
  *lpcbData = size;
  return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                           DWORD cbData) {
  LONG error;
  auto key = KeyToChange(hKey, error);
  if (!key) return error;
  if (!lpData && cbData) return ERROR_NOACCESS;
  RegValue value;
  value.name = lpValueName ? lpValueName : "";
  value.type = dwType;
  if (cbData) value.data.assign(lpData, lpData + cbData);
  key->SetValue(std::move(value));
  CurrentMachine().SaveRegistry();
  return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  LONG error;
  auto key = KeyToChange(hKey, error);
  if (!key) return error;
  if (!key->RemoveValue(lpValueName ? lpValueName : "")) return ERROR_FILE_NOT_FOUND;
  CurrentMachine().SaveRegistry();
  return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  LONG error;
  auto key = KeyOf(hKey, error);
  if (!key) return error;
  const auto parts = Split(lpSubKey);
  if (parts.empty()) return ERROR_BADKEY;
  std::shared_ptr<RegKey> parent = key;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    parent = parent->Child(parts[i]);
    if (!parent) return ERROR_FILE_NOT_FOUND;
  }
  auto target = parent->Child(parts.back());
  if (!target) return ERROR_FILE_NOT_FOUND;
  if (Protected(*target)) return ERROR_ACCESS_DENIED;
  // The Windows 9x registry deletes the whole subtree; the NT family only
  // deletes a key without subkeys.
  if (!target->children.empty() && !CurrentMachine().spec().os.Is9x()) return ERROR_ACCESS_DENIED;
  parent->RemoveChild(parts.back());
  CurrentMachine().SaveRegistry();
  return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR,
                          LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  LONG error;
  auto key = KeyOf(hKey, error);
  if (!key) return error;
  if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
  if (dwIndex >= key->children.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& name = key->children[dwIndex]->name;
  if (name.size() + 1 > *lpcchName) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.c_str(), name.size() + 1);
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpcchClass) *lpcchClass = 0;
  if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                          LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  LONG error;
  auto key = KeyOf(hKey, error);
  if (!key) return error;
  if (!lpValueName || !lpcchValueName) return ERROR_INVALID_PARAMETER;
  if (dwIndex >= key->values.size()) return ERROR_NO_MORE_ITEMS;
  const RegValue& value = key->values[dwIndex];
  if (value.name.size() + 1 > *lpcchValueName) return ERROR_MORE_DATA;
  const DWORD size = static_cast<DWORD>(value.data.size());
  if (lpData && lpcbData && *lpcbData < size) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpValueName, value.name.c_str(), value.name.size() + 1);
  *lpcchValueName = static_cast<DWORD>(value.name.size());
  if (lpType) *lpType = value.type;
  if (lpData && lpcbData && size) std::memcpy(lpData, value.data.data(), size);
  if (lpcbData) *lpcbData = size;
  return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  if (IsPredefined(hKey)) return ERROR_SUCCESS;
  std::lock_guard<std::mutex> lock(g_mutex);
  return Keys().erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // extern "C"
