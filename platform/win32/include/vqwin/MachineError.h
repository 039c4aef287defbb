// A machine folder that cannot be used: which file, which line, what is wrong,
// and the exit status a launcher should end with.
#pragma once

#include <ostream>
#include <stdexcept>
#include <string>

namespace vqwin {

inline constexpr int kExitMachineMissing = 66;  // folder or machine.toml not there
inline constexpr int kExitMachineBroken = 65;   // a file of the machine is malformed
inline constexpr int kExitMachineUnwritable = 73;  // a file or folder of the machine cannot be made

class MachineError : public std::runtime_error {
 public:
  MachineError(std::string file, int line, const std::string& problem,
               int exitStatus = kExitMachineBroken);
  const std::string& file() const { return file_; }
  int line() const { return line_; }  // 0 when no line applies
  const std::string& problem() const { return problem_; }
  int exitStatus() const { return exitStatus_; }

 private:
  std::string file_;
  int line_;
  std::string problem_;
  int exitStatus_;
};

// Prints "machine: FILE:LINE: PROBLEM" and returns the exit status.
int ReportMachineError(const MachineError& error, std::ostream& out);

class Machine;
// Prints one line per file of the machine that could not be written
// ("machine: FILE: not saved (REASON); it keeps its earlier content");
// kExitMachineUnwritable when there is one, else 0.
int ReportUnsavedFiles(const Machine& machine, std::ostream& out);

}  // namespace vqwin
