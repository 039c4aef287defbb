// The driver's exports by name, as GetProcAddress finds them in VQRDCE.dll:
// the lookup of a host that links the driver's objects in instead of loading
// the library (the tests and the fuzz target register it as the module).
#pragma once

#include <cstring>
#include <utility>

#include "VQRDCE.h"

inline void* VQRDCE_Export(const char* name) {
  static const std::pair<const char*, void*> exports[] = {
      {"USBInstallDriver", reinterpret_cast<void*>(&USBInstallDriver)},
      {"USBUnInstallDriver", reinterpret_cast<void*>(&USBUnInstallDriver)},
      {"USBDeviceAttach", reinterpret_cast<void*>(&USBDeviceAttach)},
      {"VQU_Init", reinterpret_cast<void*>(&VQU_Init)},
      {"VQU_Deinit", reinterpret_cast<void*>(&VQU_Deinit)},
      {"VQU_Open", reinterpret_cast<void*>(&VQU_Open)},
      {"VQU_Close", reinterpret_cast<void*>(&VQU_Close)},
      {"VQU_IOControl", reinterpret_cast<void*>(&VQU_IOControl)},
  };
  for (const auto& [n, p] : exports) {
    if (std::strcmp(n, name) == 0) return p;
  }
  return nullptr;
}
