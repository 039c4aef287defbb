// The machine's record of started programs: the calls that start a program
// (ShellExecuteA and its kin) start nothing on the host; each start that
// succeeds is recorded here, on the machine that was current.
#pragma once

#include <string>
#include <vector>

namespace vqwin {

struct StartedProgram {
  std::string call;        // the function that started it, e.g. "ShellExecuteA"
  std::string verb;        // "open", or empty for the default verb
  std::string file;        // the program file as passed
  std::string parameters;  // command-line parameters as passed
  std::string directory;   // working directory as passed
  int show = 0;            // SW_* show command
};

// Appends a start to the current machine's record.
void RecordStartedProgram(StartedProgram start);
// The starts recorded on the current machine since its last clear.
std::vector<StartedProgram> StartedPrograms();
void ClearStartedPrograms();

// The programs started on the current machine are other processes: they run
// on when the program that started them ends. A launcher calls this at that
// end; the machine's clock moves on until the last of them is done, and what
// they do is done.
void FinishStartedPrograms();

}  // namespace vqwin
