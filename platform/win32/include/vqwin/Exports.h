// The exports that GetProcAddress finds. Optional functions of the stand-in
// are registered here by module; a function the current machine lacks (see
// Machine::HasFunction) is not found. Later parts of the stand-in register
// theirs with VQWIN_EXPORT in a source file that the program links anyway
// (one that also defines functions the program calls directly).
#pragma once

#include <windef.h>

#include <string>

namespace vqwin {

void RegisterExport(const std::string& module, const std::string& name, FARPROC function);
FARPROC FindExport(const std::string& module, const std::string& name);
// Whether a machine's [functions] may name `name`: a module that LoadLibraryA
// can find ("psapi.dll") or a function that programs look up at run time.
bool IsOptionalName(const std::string& name);
// "KERNEL32.DLL", "kernel32" -> "kernel32.dll".
std::string ModuleFileName(const std::string& module);

// The program's own module handle (GetModuleHandleA(NULL)).
HMODULE ProgramModule();
// Forgets what LoadLibraryA loaded (a new machine starts clean).
void ResetLoadedModules();

struct ExportRegistrar {
  ExportRegistrar(const char* module, const char* name, FARPROC function) {
    RegisterExport(module, name, function);
  }
};

}  // namespace vqwin

#define VQWIN_EXPORT_CAT2(a, b) a##b
#define VQWIN_EXPORT_CAT(a, b) VQWIN_EXPORT_CAT2(a, b)
#define VQWIN_EXPORT(module, function)                                               \
  static ::vqwin::ExportRegistrar VQWIN_EXPORT_CAT(vqwinExport_, __LINE__)(          \
      module, #function, reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&function)))
