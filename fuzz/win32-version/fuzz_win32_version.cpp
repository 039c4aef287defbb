// Feeds arbitrary files to the version functions as a program calls them:
// the file (the input after its first byte) lies on a scratch machine; its
// version data is sized, read into a buffer of exactly that size and
// queried. Whatever a query hands out lies inside that buffer.
//
// Input: a byte choosing the queries, then the file.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <vector>

#include "vqwin/FileSystem.h"
#include "vqwin/Machine.h"
#include "vqwin/PeWriter.h"
#include "vqwin/TestMachine.h"

namespace {

const char* const kQueries[] = {
    "\\",
    "\\VarFileInfo\\Translation",
    "\\StringFileInfo\\040904B0\\FileVersion",
    "\\StringFileInfo\\040904b0\\CompanyName",
    "\\StringFileInfo\\040904E4\\ProductVersion",
    "\\StringFileInfo",
    "\\StringFileInfo\\040904B0",
    "",
};
constexpr size_t kQueryCount = sizeof kQueries / sizeof kQueries[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static vqwin::ScratchMachine* scratch = [] {
    auto* m = new vqwin::ScratchMachine(false);
    m->File("C:\\drv.sys", "");
    m->Load();
    return m;
  }();
  if (size < 1) return 0;
  const uint8_t pick = data[0];
  const std::vector<uint8_t> image(data + 1, data + size);

  // The resource finder on its own.
  std::vector<uint8_t> block;
  uint32_t error = 0;
  vqwin::FindVersionBlock(image, block, error);

  {
    std::ofstream out(scratch->folder() / "C" / "drv.sys", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  }
  DWORD handle = 0;
  const DWORD infoSize = GetFileVersionInfoSizeA("C:\\drv.sys", &handle);
  if (infoSize == 0) return 0;
  std::vector<uint8_t> info(infoSize);
  if (!GetFileVersionInfoA("C:\\drv.sys", 0, infoSize, info.data())) return 0;
  for (size_t q = 0; q < kQueryCount; ++q) {
    if (!(pick & (1u << q))) continue;
    LPVOID value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), kQueries[q], &value, &length)) continue;
    const auto* at = static_cast<const uint8_t*>(value);
    if (at < info.data() || at > info.data() + info.size() ||
        length > static_cast<size_t>(info.data() + info.size() - at)) {
      __builtin_trap();
    }
  }
  return 0;
}
