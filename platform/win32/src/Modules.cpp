// Modules and run-time look-ups of the optional functions.
#include <windows.h>

#include <map>
#include <mutex>

#include "Text.h"
#include "vqwin/Exports.h"
#include "vqwin/Machine.h"

namespace vqwin {
namespace {

std::mutex g_mutex;

std::map<std::string, std::map<std::string, FARPROC>>& Exports() {
  static std::map<std::string, std::map<std::string, FARPROC>> exports;
  return exports;
}

// Modules that every process has loaded.
const char* const kAlwaysLoaded[] = {"kernel32.dll", "ntdll.dll", "user32.dll", "gdi32.dll",
                                     "advapi32.dll"};
// Modules that LoadLibraryA can find (when the machine has them).
const char* const kKnown[] = {"kernel32.dll", "ntdll.dll",   "user32.dll",   "gdi32.dll",   "advapi32.dll",
                              "version.dll",  "shell32.dll", "ole32.dll",    "oleaut32.dll", "psapi.dll",
                              "winscard.dll", "setupapi.dll", "comctl32.dll", "shlwapi.dll"};

// Functions that programs may look up at run time, and so a machine may lack
// or have ([functions]): the exports registered with VQWIN_EXPORT and the
// functions whose presence depends on the Windows version (Machine.cpp).
const char* const kLookedUp[] = {
    "GetNativeSystemInfo", "GetProductInfo", "GetSystemInfo", "GetVersionExA", "IsWow64Process",
    "Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection", "QueryServiceStatusEx",
    "EnumServicesStatusExA", "EnumProcesses", "EnumProcessModules", "EnumProcessModulesEx", "GetModuleBaseNameA",
    "GetModuleFileNameExA", "CreateToolhelp32Snapshot", "Process32First", "Process32Next"};

std::map<std::string, int>& LoadCounts() {
  static std::map<std::string, int> counts;
  return counts;
}

const uintptr_t kProgramHandle = 0x00400000;

HMODULE HandleFor(const std::string& module) {
  // A fixed, distinct handle per module name.
  uintptr_t h = 0x10000000;
  for (char c : module) h = h * 31 + static_cast<unsigned char>(c);
  h = 0x10000000 + (h % 0x1000) * 0x10000;
  return reinterpret_cast<HMODULE>(h);
}

bool IsKnown(const std::string& module) {
  for (const char* k : kKnown)
    if (module == k) return true;
  return Exports().count(module) != 0;
}

bool IsAlwaysLoaded(const std::string& module) {
  for (const char* k : kAlwaysLoaded)
    if (module == k) return true;
  return false;
}

// The loaded module behind a handle, or "".
std::string ModuleOf(HMODULE handle) {
  for (const char* k : kKnown)
    if (HandleFor(k) == handle && (IsAlwaysLoaded(k) || LoadCounts().count(k))) return k;
  for (const auto& [name, count] : LoadCounts())
    if (HandleFor(name) == handle) return name;
  return "";
}

}  // namespace

std::string ModuleFileName(const std::string& module) {
  std::string name = module;
  const size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  name = Lower(name);
  if (name.find('.') == std::string::npos) name += ".dll";
  return name;
}

void RegisterExport(const std::string& module, const std::string& name, FARPROC function) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Exports()[ModuleFileName(module)][name] = function;
}

FARPROC FindExport(const std::string& module, const std::string& name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto m = Exports().find(ModuleFileName(module));
  if (m == Exports().end()) return nullptr;
  auto f = m->second.find(name);
  return f == m->second.end() ? nullptr : f->second;
}

bool IsOptionalName(const std::string& name) {
  for (const char* k : kKnown)
    if (EqualNoCase(name, k)) return true;
  for (const char* f : kLookedUp)
    if (name == f) return true;
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const auto& [module, functions] : Exports())
    if (functions.count(name)) return true;
  return false;
}

HMODULE ProgramModule() { return reinterpret_cast<HMODULE>(kProgramHandle); }

void ResetLoadedModules() {
  std::lock_guard<std::mutex> lock(g_mutex);
  LoadCounts().clear();
}

}  // namespace vqwin

using namespace vqwin;

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  if (!lpModuleName) return ProgramModule();
  const std::string module = ModuleFileName(lpModuleName);
  const bool present = CurrentMachine().HasModule(module);
  std::lock_guard<std::mutex> lock(g_mutex);
  if ((IsAlwaysLoaded(module) || LoadCounts().count(module)) && present)
    return HandleFor(module);
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  if (!lpLibFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string module = ModuleFileName(lpLibFileName);
  const bool present = CurrentMachine().HasModule(module);
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!IsKnown(module) || !present) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ++LoadCounts()[module];
  return HandleFor(module);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const std::string module = ModuleOf(hLibModule);
  if (module.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  auto it = LoadCounts().find(module);
  if (it != LoadCounts().end() && --it->second == 0) LoadCounts().erase(it);
  return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  std::string module;
  CurrentMachine();  // a default machine, if none yet, before the lock
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    module = ModuleOf(hModule);
  }
  if (module.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  if (reinterpret_cast<uintptr_t>(lpProcName) < 0x10000) {  // by ordinal
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  FARPROC f = FindExport(module, lpProcName);
  if (!f || !CurrentMachine().HasFunction(lpProcName)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return f;
}

}  // extern "C"
