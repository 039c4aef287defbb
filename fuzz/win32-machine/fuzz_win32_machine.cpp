// Feeds arbitrary text to the reader of a machine's machine.toml. A file it
// cannot take is refused with a MachineError (file and line); anything else
// thrown, or a crash, is a fault.
#include <cstddef>
#include <cstdint>
#include <string>

#include "MachineToml.h"
#include "vqwin/MachineError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const vqwin::MachineSpec spec = vqwin::ParseMachineToml(text, "machine.toml");
    (void)spec;
  } catch (const vqwin::MachineError&) {
  }
  return 0;
}
