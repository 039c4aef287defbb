// Registry: an in-memory tree behind the Reg*W calls.
#include "vqce/Registry.h"

#include <cwctype>
#include <map>
#include <memory>
#include <mutex>

namespace vqce::registry {
namespace {

std::wstring Fold(const std::wstring& s) {
  std::wstring out(s);
  for (auto& c : out) c = static_cast<wchar_t>(std::towlower(c));
  return out;
}

struct Key {
  std::map<std::wstring, std::pair<std::wstring, Value>> values;  // folded -> (name, value)
  std::map<std::wstring, std::pair<std::wstring, std::unique_ptr<Key>>> children;
};

struct Tree {
  std::recursive_mutex mutex;
  std::map<uintptr_t, Key> roots;
  std::map<uintptr_t, std::pair<uintptr_t, std::wstring>> open;  // HKEY -> (root, path)
  uintptr_t nextHandle = 0x4000;
  std::wstring denied;
};

Tree& T() {
  static Tree tree;
  return tree;
}

std::vector<std::wstring> Split(const std::wstring& path) {
  std::vector<std::wstring> parts;
  std::wstring cur;
  for (wchar_t c : path) {
    if (c == L'\\' || c == L'/') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

std::wstring Join(const std::wstring& a, const std::wstring& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + L"\\" + b;
}

bool IsRoot(uintptr_t h) { return h >= 0x80000000u && h <= 0x80000003u; }

// Resolves an HKEY and a sub-path to (root, full path); false for a bad key.
bool Resolve(HKEY key, const std::wstring& sub, uintptr_t* root, std::wstring* path) {
  const auto h = reinterpret_cast<uintptr_t>(key);
  if (IsRoot(h)) {
    *root = h;
    *path = sub;
    return true;
  }
  auto it = T().open.find(h);
  if (it == T().open.end()) return false;
  *root = it->second.first;
  *path = Join(it->second.second, sub);
  return true;
}

bool Denied(uintptr_t root, const std::wstring& path) {
  const std::wstring& d = T().denied;
  if (d.empty() || root != reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE)) return false;
  const std::wstring p = Fold(Join(L"", path)), f = Fold(d);
  return p.compare(0, f.size(), f) == 0 && (p.size() == f.size() || p[f.size()] == L'\\');
}

Key* Find(uintptr_t root, const std::wstring& path, bool create) {
  Key* key = &T().roots[root];
  for (const auto& part : Split(path)) {
    auto& children = key->children;
    auto it = children.find(Fold(part));
    if (it == children.end()) {
      if (!create) return nullptr;
      it = children.emplace(Fold(part), std::make_pair(part, std::make_unique<Key>())).first;
    }
    key = it->second.second.get();
  }
  return key;
}

}  // namespace

void Reset() {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  T().roots.clear();
  T().denied.clear();
}

void SetReadOnlyPath(const std::wstring& path) {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  T().denied = path;
}

bool KeyExists(HKEY root, const std::wstring& path) {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  return Find(reinterpret_cast<uintptr_t>(root), path, false) != nullptr;
}

std::optional<Value> GetValue(HKEY root, const std::wstring& path, const std::wstring& name) {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  Key* key = Find(reinterpret_cast<uintptr_t>(root), path, false);
  if (!key) return std::nullopt;
  auto it = key->values.find(Fold(name));
  if (it == key->values.end()) return std::nullopt;
  return it->second.second;
}

std::optional<std::wstring> GetString(HKEY root, const std::wstring& path, const std::wstring& name) {
  auto v = GetValue(root, path, name);
  if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ)) return std::nullopt;
  std::wstring s(v->data.size() / sizeof(wchar_t), L'\0');
  if (!s.empty()) memcpy(s.data(), v->data.data(), s.size() * sizeof(wchar_t));
  while (!s.empty() && s.back() == L'\0') s.pop_back();
  return s;
}

std::optional<uint32_t> GetDword(HKEY root, const std::wstring& path, const std::wstring& name) {
  auto v = GetValue(root, path, name);
  if (!v || v->type != REG_DWORD || v->data.size() != 4) return std::nullopt;
  uint32_t d;
  memcpy(&d, v->data.data(), 4);
  return d;
}

std::vector<std::wstring> SubKeys(HKEY root, const std::wstring& path) {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  std::vector<std::wstring> names;
  if (Key* key = Find(reinterpret_cast<uintptr_t>(root), path, false)) {
    for (auto& [folded, child] : key->children) names.push_back(child.first);
  }
  return names;
}

std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path) {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  std::vector<std::wstring> names;
  if (Key* key = Find(reinterpret_cast<uintptr_t>(root), path, false)) {
    for (auto& [folded, value] : key->values) names.push_back(value.first);
  }
  return names;
}

bool SetValue(HKEY root, const std::wstring& path, const std::wstring& name, const Value& value) {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  Key* key = Find(reinterpret_cast<uintptr_t>(root), path, true);
  key->values[Fold(name)] = {name, value};
  return true;
}

bool SetString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text) {
  Value v;
  v.type = REG_SZ;
  v.data.resize((text.size() + 1) * sizeof(wchar_t));
  memcpy(v.data.data(), text.c_str(), v.data.size());
  return SetValue(root, path, name, v);
}

bool DeleteValue(HKEY root, const std::wstring& path, const std::wstring& name) {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  Key* key = Find(reinterpret_cast<uintptr_t>(root), path, false);
  return key && key->values.erase(Fold(name)) > 0;
}

bool DeleteKey(HKEY root, const std::wstring& path) {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  auto parts = Split(path);
  if (parts.empty()) return false;
  const std::wstring last = parts.back();
  parts.pop_back();
  std::wstring parentPath;
  for (auto& p : parts) parentPath = Join(parentPath, p);
  Key* parent = Find(reinterpret_cast<uintptr_t>(root), parentPath, false);
  return parent && parent->children.erase(Fold(last)) > 0;
}

}  // namespace vqce::registry

using namespace vqce::registry;

extern "C" {

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM,
                     LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  uintptr_t root;
  std::wstring path;
  if (!phkResult || !Resolve(hKey, lpSubKey ? lpSubKey : L"", &root, &path)) return ERROR_INVALID_HANDLE;
  const bool existed = Find(root, path, false) != nullptr;
  Find(root, path, true);
  const uintptr_t h = T().nextHandle++;
  T().open[h] = {root, path};
  *phkResult = reinterpret_cast<HKEY>(h);
  if (lpdwDisposition) *lpdwDisposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  uintptr_t root;
  std::wstring path;
  if (!phkResult || !Resolve(hKey, lpSubKey ? lpSubKey : L"", &root, &path)) return ERROR_INVALID_HANDLE;
  if (!Find(root, path, false)) return ERROR_FILE_NOT_FOUND;
  const uintptr_t h = T().nextHandle++;
  T().open[h] = {root, path};
  *phkResult = reinterpret_cast<HKEY>(h);
  return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  uintptr_t root;
  std::wstring path;
  if (!Resolve(hKey, L"", &root, &path)) return ERROR_INVALID_HANDLE;
  if (Denied(root, path)) return ERROR_ACCESS_DENIED;
  Key* key = Find(root, path, false);
  if (!key) return ERROR_FILE_NOT_FOUND;  // deleted while open
  if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
  Value v;
  v.type = dwType;
  if (cbData) v.data.assign(lpData, lpData + cbData);
  const std::wstring name = lpValueName ? lpValueName : L"";
  key->values[Fold(name)] = {name, v};
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  uintptr_t root;
  std::wstring path;
  if (!Resolve(hKey, L"", &root, &path)) return ERROR_INVALID_HANDLE;
  Key* key = Find(root, path, false);
  if (!key) return ERROR_FILE_NOT_FOUND;
  auto it = key->values.find(Fold(lpValueName ? lpValueName : L""));
  if (it == key->values.end()) return ERROR_FILE_NOT_FOUND;
  const Value& v = it->second.second;
  if (lpType) *lpType = v.type;
  if (lpData) {
    if (!lpcbData) return ERROR_INVALID_PARAMETER;
    if (*lpcbData < v.data.size()) {
      *lpcbData = static_cast<DWORD>(v.data.size());
      return ERROR_MORE_DATA;
    }
    if (!v.data.empty()) memcpy(lpData, v.data.data(), v.data.size());
  }
  if (lpcbData) *lpcbData = static_cast<DWORD>(v.data.size());
  return ERROR_SUCCESS;
}

LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  uintptr_t root;
  std::wstring path;
  if (!Resolve(hKey, L"", &root, &path)) return ERROR_INVALID_HANDLE;
  Key* key = Find(root, path, false);
  if (!key || key->values.erase(Fold(lpValueName ? lpValueName : L"")) == 0) return ERROR_FILE_NOT_FOUND;
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  uintptr_t root;
  std::wstring path;
  if (!lpSubKey || !Resolve(hKey, lpSubKey, &root, &path)) return ERROR_INVALID_HANDLE;
  // The key goes with everything under it.
  return DeleteKey(reinterpret_cast<HKEY>(root), path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG RegCloseKey(HKEY hKey) {
  std::lock_guard<std::recursive_mutex> lock(T().mutex);
  const auto h = reinterpret_cast<uintptr_t>(hKey);
  if (IsRoot(h)) return ERROR_SUCCESS;
  return T().open.erase(h) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // extern "C"
