#include "vqwin/MachineError.h"

#include "vqwin/Machine.h"
#include "vqwin/Record.h"

namespace vqwin {
namespace {

std::string Compose(const std::string& file, int line, const std::string& problem) {
  return file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + problem;
}

}  // namespace

MachineError::MachineError(std::string file, int line, const std::string& problem, int exitStatus)
    : std::runtime_error(Compose(file, line, problem)),
      file_(std::move(file)),
      line_(line),
      problem_(problem),
      exitStatus_(exitStatus) {}

int ReportMachineError(const MachineError& error, std::ostream& out) {
  out << "machine: " << error.what() << '\n';
  return error.exitStatus();
}

int ReportUnsavedFiles(const Machine& machine, std::ostream& out) {
  for (const auto& [file, reason] : machine.unsavedFiles())
    out << "machine: " << file << ": not saved (" << reason << "); it keeps its earlier content\n";
  return machine.unsavedFiles().empty() ? 0 : kExitMachineUnwritable;
}

std::string Record::Str(const std::string& key, const std::string& fallback) const {
  auto it = values.find(key);
  if (it == values.end()) return fallback;
  if (auto s = std::get_if<std::string>(&it->second)) return *s;
  return fallback;
}

int64_t Record::Int(const std::string& key, int64_t fallback) const {
  auto it = values.find(key);
  if (it == values.end()) return fallback;
  if (auto i = std::get_if<int64_t>(&it->second)) return *i;
  if (auto b = std::get_if<bool>(&it->second)) return *b ? 1 : 0;
  return fallback;
}

bool Record::Bool(const std::string& key, bool fallback) const {
  auto it = values.find(key);
  if (it == values.end()) return fallback;
  if (auto b = std::get_if<bool>(&it->second)) return *b;
  if (auto i = std::get_if<int64_t>(&it->second)) return *i != 0;
  return fallback;
}

std::vector<std::string> Record::List(const std::string& key) const {
  auto it = values.find(key);
  if (it == values.end()) return {};
  if (auto l = std::get_if<std::vector<std::string>>(&it->second)) return *l;
  if (auto s = std::get_if<std::string>(&it->second)) return {*s};
  return {};
}

}  // namespace vqwin
