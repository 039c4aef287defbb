// Names of the smart-card I/O control codes and attribute tags as ce-host
// scripts write them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cehost {

// "POWER", "GET_ATTRIBUTE", ... (IOCTL_SMARTCARD_ may be left out), or a number.
std::optional<uint32_t> IoctlCode(const std::string& name);
std::string IoctlName(uint32_t code);
// "VENDOR_NAME", "ICC_PRESENCE", ... (SCARD_ATTR_ may be left out).
std::optional<uint32_t> AttributeTag(const std::string& name);

}  // namespace cehost
