// A fresh copy of the embedded default machine in its own temporary folder,
// current for the life of the object; tests change its spec to the system
// they need.
#pragma once

#include <vqwin/Machine.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace diagtest {

class ScratchMachine {
 public:
  ScratchMachine() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vqdiag-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    folder_ = made != nullptr ? std::filesystem::path(made) : std::filesystem::path(pattern);
    machine_ = vqwin::Machine::CreateDefault(folder_);
    machine_->MakeCurrent();
  }
  ~ScratchMachine() {
    vqwin::ClearCurrentMachine();
    machine_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  ScratchMachine(const ScratchMachine&) = delete;
  ScratchMachine& operator=(const ScratchMachine&) = delete;

  vqwin::Machine& machine() { return *machine_; }
  vqwin::MachineSpec& spec() { return machine_->spec(); }
  vqwin::OsSpec& os() { return machine_->spec().os; }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
  std::unique_ptr<vqwin::Machine> machine_;
};

}  // namespace diagtest
