// Modules: LoadLibraryW, GetProcAddressW, FreeLibrary over registered modules.
#include "vqce/Modules.h"

#include <dlfcn.h>
#include <windows.h>

#include <cwctype>
#include <map>
#include <memory>
#include <mutex>

namespace vqce::modules {
namespace {

struct Module {
  Lookup lookup;
  int loads = 0;
};

struct Table {
  std::mutex mutex;
  std::map<std::wstring, std::shared_ptr<Module>> byName;  // folded name
};

Table& T() {
  static Table table;
  return table;
}

std::wstring Fold(const std::wstring& s) {
  std::wstring out(s);
  for (auto& c : out) c = static_cast<wchar_t>(std::towlower(c));
  return out;
}

}  // namespace

void Register(const std::wstring& name, Lookup lookup) {
  std::lock_guard<std::mutex> lock(T().mutex);
  auto m = std::make_shared<Module>();
  m->lookup = std::move(lookup);
  T().byName[Fold(name)] = m;
}

void Unregister(const std::wstring& name) {
  std::lock_guard<std::mutex> lock(T().mutex);
  T().byName.erase(Fold(name));
}

void RegisterDl(const std::wstring& name, void* dlHandle) {
  Register(name, [dlHandle](const char* e) { return dlsym(dlHandle, e); });
}

bool IsLoaded(const std::wstring& name) {
  std::lock_guard<std::mutex> lock(T().mutex);
  auto it = T().byName.find(Fold(name));
  return it != T().byName.end() && it->second->loads > 0;
}

}  // namespace vqce::modules

using namespace vqce::modules;

extern "C" {

// An HMODULE is the Module record itself, kept alive by the table.
HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
  if (!lpLibFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return NULL;
  }
  std::lock_guard<std::mutex> lock(T().mutex);
  auto it = T().byName.find(Fold(lpLibFileName));
  if (it == T().byName.end()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return NULL;
  }
  ++it->second->loads;
  return reinterpret_cast<HMODULE>(it->second.get());
}

static std::shared_ptr<Module> FindModule(HMODULE h) {
  for (auto& [name, m] : T().byName) {
    if (reinterpret_cast<HMODULE>(m.get()) == h) return m;
  }
  return nullptr;
}

BOOL FreeLibrary(HMODULE hLibModule) {
  std::lock_guard<std::mutex> lock(T().mutex);
  auto m = FindModule(hLibModule);
  if (!m || m->loads == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  --m->loads;
  return TRUE;
}

FARPROC GetProcAddressW(HMODULE hModule, LPCWSTR lpProcName) {
  std::shared_ptr<Module> m;
  {
    std::lock_guard<std::mutex> lock(T().mutex);
    m = FindModule(hModule);
  }
  if (!m || !lpProcName) {
    SetLastError(ERROR_INVALID_HANDLE);
    return NULL;
  }
  std::string narrow;
  for (const WCHAR* p = lpProcName; *p; ++p) narrow += static_cast<char>(*p);
  void* address = m->lookup(narrow.c_str());
  if (!address) SetLastError(ERROR_PROC_NOT_FOUND);
  return reinterpret_cast<FARPROC>(address);
}

BOOL DisableThreadLibraryCalls(HMODULE) { return TRUE; }

}  // extern "C"
