#include "Names.h"

#include <cstdlib>
#include <utility>

namespace cehost {
namespace {

const std::pair<const char*, uint32_t> kIoctls[] = {
    {"POWER", 0x310004},          {"GET_ATTRIBUTE", 0x310008},   {"SET_ATTRIBUTE", 0x31000C},
    {"CONFISCATE", 0x310010},     {"TRANSMIT", 0x310014},        {"EJECT", 0x310018},
    {"SWALLOW", 0x31001C},        {"IS_PRESENT", 0x310028},      {"IS_ABSENT", 0x31002C},
    {"SET_PROTOCOL", 0x310030},   {"GET_STATE", 0x310038},       {"CANCEL_TRACKING", 0x310040},
    {"RESET_TRACKING", 0x310044}, {"VENDOR_ESCAPE", 0x312000},   {"VENDOR_INFO", 0x312004},
};

const std::pair<const char*, uint32_t> kAttributes[] = {
    {"VENDOR_NAME", 0x10100},          {"VENDOR_IFD_TYPE", 0x10101},       {"VENDOR_IFD_VERSION", 0x10102},
    {"VENDOR_IFD_SERIAL_NO", 0x10103}, {"CHANNEL_ID", 0x20110},            {"PROTOCOL_TYPES", 0x30120},
    {"DEFAULT_CLK", 0x30121},          {"MAX_CLK", 0x30122},               {"DEFAULT_DATA_RATE", 0x30123},
    {"MAX_DATA_RATE", 0x30124},        {"MAX_IFSD", 0x30125},              {"POWER_MGMT_SUPPORT", 0x40131},
    {"CHARACTERISTICS", 0x60150},      {"CURRENT_PROTOCOL_TYPE", 0x80201}, {"CURRENT_CLK", 0x80202},
    {"CURRENT_F", 0x80203},            {"CURRENT_D", 0x80204},             {"CURRENT_N", 0x80205},
    {"CURRENT_W", 0x80206},            {"CURRENT_IFSC", 0x80207},          {"CURRENT_IFSD", 0x80208},
    {"CURRENT_BWT", 0x80209},          {"CURRENT_CWT", 0x8020A},           {"CURRENT_EBC_ENCODING", 0x8020B},
    {"ICC_PRESENCE", 0x90300},         {"ICC_INTERFACE_STATUS", 0x90301},  {"ATR_STRING", 0x90303},
    {"ICC_TYPE_PER_ATR", 0x90304},     {"DEVICE_UNIT", 0x7FFF0001},        {"SUPRESS_T1_IFS_REQUEST", 0x7FFF0007},
};

std::optional<uint32_t> Number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (*end != 0 || v > 0xFFFFFFFFul) return std::nullopt;
  return static_cast<uint32_t>(v);
}

template <size_t N>
std::optional<uint32_t> Find(const std::pair<const char*, uint32_t> (&table)[N], std::string name,
                             const std::string& prefix) {
  if (name.rfind(prefix, 0) == 0) name = name.substr(prefix.size());
  for (auto& [n, v] : table) {
    if (name == n) return v;
  }
  return Number(name);
}

}  // namespace

std::optional<uint32_t> IoctlCode(const std::string& name) { return Find(kIoctls, name, "IOCTL_SMARTCARD_"); }

std::string IoctlName(uint32_t code) {
  for (auto& [n, v] : kIoctls) {
    if (v == code) return n;
  }
  char buf[16];
  snprintf(buf, sizeof(buf), "0x%X", code);
  return buf;
}

std::optional<uint32_t> AttributeTag(const std::string& name) { return Find(kAttributes, name, "SCARD_ATTR_"); }

}  // namespace cehost
