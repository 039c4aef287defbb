// Writes small PE files (an image with one resource section) whose version
// resource carries a fixed file version and string values, for test fixtures
// and the driver files of the machines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vqwin {

struct VersionResource {
  uint32_t fileVersionMS = 0, fileVersionLS = 0;
  uint32_t productVersionMS = 0, productVersionLS = 0;
  uint32_t fileType = 3;  // VFT_DRV
  uint16_t language = 0x0409;
  uint16_t codePage = 1200;  // the string table's code page (UTF-16)
  // String values in UTF-8 ("FileVersion", "CompanyName" ...), in order.
  std::vector<std::pair<std::string, std::string>> strings;

  // "5.0.2600.5512" -> MS 0x00050000, LS 0x0A281588; missing parts are 0.
  // nullopt on anything but one to four dot-separated numbers below 65536.
  static std::optional<VersionResource> FromDotted(const std::string& fileVersion);
};

struct PeOptions {
  bool pe32Plus = false;     // a 64-bit (PE32+) image
  uint16_t machine = 0x014C; // IMAGE_FILE_MACHINE_I386 (0x8664 for x64)
};

// The VS_VERSIONINFO block as it is stored in the resource.
std::vector<uint8_t> BuildVersionBlock(const VersionResource& version);
// A PE image; without `version` it has no resource section.
std::vector<uint8_t> BuildPe(const std::optional<VersionResource>& version,
                             const PeOptions& options = {});

// Finds the version resource of a PE image; false (and the Win32 error
// ERROR_RESOURCE_DATA_NOT_FOUND, ERROR_RESOURCE_TYPE_NOT_FOUND or
// ERROR_BAD_EXE_FORMAT in `error`) when there is none. Bounds-checked.
bool FindVersionBlock(const std::vector<uint8_t>& image, std::vector<uint8_t>& block,
                      uint32_t& error);

}  // namespace vqwin
