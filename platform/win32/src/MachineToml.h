// machine.toml -> MachineSpec (internal to the stand-in).
#pragma once

#include <string>

#include "vqwin/Machine.h"

namespace vqwin {

// Throws MachineError with the file name and the line of the fault.
MachineSpec ParseMachineToml(const std::string& text, const std::string& fileName);

}  // namespace vqwin
