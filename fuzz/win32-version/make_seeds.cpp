// Writes the seed corpus of fuzz_win32_version into the folder given: small
// PE files as the machines carry them (with and without a version resource,
// 32 and 64 bits, English and Chinese string values), each led by the byte
// that asks for every query.
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "vqwin/PeWriter.h"

namespace {

void Write(const std::string& folder, const std::string& name,
           const std::optional<vqwin::VersionResource>& version, const vqwin::PeOptions& options = {}) {
  const std::vector<uint8_t> image = vqwin::BuildPe(version, options);
  std::ofstream out(folder + "/" + name, std::ios::binary | std::ios::trunc);
  out.put(static_cast<char>(0xFF));
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  vqwin::VersionResource driver = *vqwin::VersionResource::FromDotted("5.1.2600.5512");
  driver.strings = {{"CompanyName", "Tervane"}, {"FileVersion", "5.1.2600.5512"},
                    {"ProductVersion", "5.1"}, {"OriginalFilename", "vqusb.sys"}};
  Write(folder, "pe-driver", driver);
  vqwin::PeOptions x64;
  x64.pe32Plus = true;
  x64.machine = 0x8664;
  Write(folder, "pe32plus-driver", driver, x64);
  vqwin::VersionResource chinese = *vqwin::VersionResource::FromDotted("1.0.0.3");
  chinese.language = 0x0404;
  chinese.strings = {{"CompanyName", "\xe8\xae\x80\xe5\x8d\xa1\xe6\xa9\x9f"}, {"FileVersion", "1.0.0.3"}};
  Write(folder, "pe-chinese-strings", chinese);
  Write(folder, "pe-without-resource", std::nullopt);
  return 0;
}
