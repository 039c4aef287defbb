// Files on the host written whole: the bytes go to a scratch name beside the
// file, every write and the close are checked, then the scratch file is
// renamed over the old one. A failure leaves the old file as it was (or no
// file, when there was none) and removes the scratch file.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace vqwin {

// True when `file` now holds `bytes`; false with `reason` (the failing step
// and the host's error text) otherwise.
bool WriteWholeFile(const std::filesystem::path& file, std::string_view bytes, std::string& reason);

// Reads a whole file of at most `limit` bytes; false with `reason` when it
// cannot be opened or read, or is longer.
inline constexpr size_t kMachineFileLimit = 64u << 20;
bool ReadWholeFile(const std::filesystem::path& file, std::string& bytes, std::string& reason,
                   size_t limit = kMachineFileLimit);

}  // namespace vqwin
