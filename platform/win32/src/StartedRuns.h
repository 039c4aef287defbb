// When the programs started on the machines are done (WinExec.cpp), for
// FinishStartedPrograms.
#pragma once

namespace vqwin {

// Forgets those times (a machine made current starts afresh).
void ForgetStartedRuns();

}  // namespace vqwin
