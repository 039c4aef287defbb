// Work that another program of the machine finishes later (an installer
// started with WinExec): events due at a machine time, run when a program
// next looks at the registry (RegOpenKeyA/RegOpenKeyExA) at or after that
// time. Events belong to the machine that was current when they were made.
#pragma once

#include <cstdint>
#include <functional>

namespace vqwin {

void ScheduleMachineEvent(uint64_t dueMs, std::function<void()> action);
// Runs the current machine's events that are due now, earliest first.
void RunDueMachineEvents();
// Events of the current machine still waiting.
int PendingMachineEvents();

}  // namespace vqwin
