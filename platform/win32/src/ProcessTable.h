// The index of process ids over the current machine's [[processes]] records
// (Processes.cpp), by which the process functions find a process.
#pragma once

namespace vqwin {

// Forgets the index (a machine made current starts afresh).
void ForgetProcessTable();

}  // namespace vqwin
