// Feeds arbitrary text to the reader of a machine's registry.reg. A file it
// cannot take is refused with a MachineError (file and line); anything else
// thrown, or a crash, is a fault. A file it takes is written back, and that
// text reads again to the same tree.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vqwin/MachineError.h"
#include "vqwin/Registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<vqwin::Registry> registry;
  try {
    registry = vqwin::Registry::Parse(text, "registry.reg");
  } catch (const vqwin::MachineError&) {
    return 0;
  }
  const std::string written = registry->ToText();
  std::unique_ptr<vqwin::Registry> again;
  try {
    again = vqwin::Registry::Parse(written, "registry.reg");
  } catch (const vqwin::MachineError&) {
    __builtin_trap();  // what it wrote itself it must read
  }
  if (again->ToText() != written) __builtin_trap();

  // Lookups on what was read.
  registry->Find("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SCardSvr");
  registry->GetString("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir");
  registry->GetDword("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SCardSvr", "Start");
  return 0;
}
