// Machines built in a temporary folder, for tests: start from the default
// machine (or an empty one), change machine.toml, registry.reg and files,
// then load it as the current machine. The folder is removed afterwards.
#pragma once

#include <vqwin/Machine.h>
#include <vqwin/PeWriter.h>

#include <filesystem>
#include <memory>
#include <string>

namespace vqwin {

class ScratchMachine {
 public:
  // With `fromDefault` the folder starts as the embedded default machine;
  // otherwise with an empty machine.toml and registry.
  explicit ScratchMachine(bool fromDefault = true);
  ~ScratchMachine();
  ScratchMachine(const ScratchMachine&) = delete;
  ScratchMachine& operator=(const ScratchMachine&) = delete;

  const std::filesystem::path& folder() const { return folder_; }
  // Replaces machine.toml / registry.reg, or appends TOML text to machine.toml.
  ScratchMachine& Toml(const std::string& text);
  ScratchMachine& AppendToml(const std::string& text);
  ScratchMachine& Registry(const std::string& regedit4);
  // Writes a file on a drive of the machine ("C:\WINDOWS\x.sys"). Before
  // Load the path splits at every backslash; after it, two-byte characters
  // of the machine's code page are respected.
  ScratchMachine& File(const std::string& windowsPath, const std::string& bytes);
  ScratchMachine& Pe(const std::string& windowsPath, const std::optional<VersionResource>& version);

  // Loads the folder (throws MachineError) and makes it current.
  Machine& Load(const LoadOptions& options = {});
  Machine& machine() { return *machine_; }

 private:
  std::filesystem::path folder_;
  std::unique_ptr<Machine> machine_;
};

// A fresh, empty temporary folder (for tests that build folders by hand).
std::filesystem::path MakeTempFolder(const std::string& stem);

}  // namespace vqwin
