// The stand-in's registry: one in-memory tree per root key, names compared
// without regard to case. The Reg*W functions of windows.h work on it; this
// interface lets the stand-in's own parts, tests and ce-host look inside.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vqce::registry {

struct Value {
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

void Reset();  // empties every root
bool KeyExists(HKEY root, const std::wstring& path);
std::optional<Value> GetValue(HKEY root, const std::wstring& path, const std::wstring& name);
// A REG_SZ value without its terminating zero.
std::optional<std::wstring> GetString(HKEY root, const std::wstring& path, const std::wstring& name);
std::optional<uint32_t> GetDword(HKEY root, const std::wstring& path, const std::wstring& name);
std::vector<std::wstring> SubKeys(HKEY root, const std::wstring& path);
std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path);
bool SetValue(HKEY root, const std::wstring& path, const std::wstring& name, const Value& value);
bool SetString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text);
bool DeleteValue(HKEY root, const std::wstring& path, const std::wstring& name);
bool DeleteKey(HKEY root, const std::wstring& path);
// Makes RegSetValueExW on keys under `path` (HKEY_LOCAL_MACHINE) fail with
// ERROR_ACCESS_DENIED while set; an empty path clears it.
void SetReadOnlyPath(const std::wstring& path);

}  // namespace vqce::registry
