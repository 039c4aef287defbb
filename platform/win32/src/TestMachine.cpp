#include "vqwin/TestMachine.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "vqwin/FileSystem.h"

namespace fs = std::filesystem;

namespace vqwin {

fs::path MakeTempFolder(const std::string& stem) {
  std::string pattern = (fs::temp_directory_path() / (stem + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data()))
    throw MachineError(pattern, 0, std::string("cannot make a temporary folder: ") + std::strerror(errno),
                       kExitMachineUnwritable);
  return fs::path(pattern);
}

namespace {

void WriteText(const fs::path& file, const std::string& text, bool append = false) {
  std::ofstream out(file, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
  out << text;
}

}  // namespace

ScratchMachine::ScratchMachine(bool fromDefault) : folder_(MakeTempFolder("vqscratch")) {
  if (fromDefault) {
    WriteDefaultMachine(folder_);
  } else {
    fs::create_directories(folder_ / "C");
    WriteText(folder_ / "machine.toml", "");
    WriteText(folder_ / "registry.reg", "REGEDIT4\n\n");
  }
}

ScratchMachine::~ScratchMachine() {
  machine_.reset();
  std::error_code ec;
  fs::remove_all(folder_, ec);
}

ScratchMachine& ScratchMachine::Toml(const std::string& text) {
  WriteText(folder_ / "machine.toml", text);
  return *this;
}

ScratchMachine& ScratchMachine::AppendToml(const std::string& text) {
  WriteText(folder_ / "machine.toml", "\n" + text + "\n", true);
  return *this;
}

ScratchMachine& ScratchMachine::Registry(const std::string& regedit4) {
  WriteText(folder_ / "registry.reg", regedit4);
  return *this;
}

namespace {

// Host path of a Windows path under `folder`, making folders (case as given).
fs::path HostFor(const fs::path& folder, const std::string& windowsPath) {
  if (windowsPath.size() < 3 || windowsPath[1] != ':') throw std::invalid_argument("not a full path: " + windowsPath);
  fs::path p = folder / std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(windowsPath[0]))));
  std::error_code ec;
  fs::create_directories(p, ec);
  const auto parts = SplitWindowsPath(windowsPath.substr(3), 1252);
  for (size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].empty()) continue;
    fs::path next = p / parts[i];
    for (const auto& entry : fs::directory_iterator(p, ec)) {
      if (LowerName(entry.path().filename().string(), 1252) == LowerName(parts[i], 1252)) {
        next = entry.path();
        break;
      }
    }
    p = next;
    if (i + 1 < parts.size()) fs::create_directories(p, ec);
  }
  return p;
}

}  // namespace

ScratchMachine& ScratchMachine::File(const std::string& windowsPath, const std::string& bytes) {
  if (machine_) {
    machine_->files().WriteBytes(windowsPath, bytes);
  } else {
    WriteText(HostFor(folder_, windowsPath), bytes);
  }
  return *this;
}

ScratchMachine& ScratchMachine::Pe(const std::string& windowsPath, const std::optional<VersionResource>& version) {
  const auto image = BuildPe(version);
  return File(windowsPath, std::string(image.begin(), image.end()));
}

Machine& ScratchMachine::Load(const LoadOptions& options) {
  machine_.reset();
  machine_ = Machine::Load(folder_, options);
  machine_->MakeCurrent();
  return *machine_;
}

}  // namespace vqwin
