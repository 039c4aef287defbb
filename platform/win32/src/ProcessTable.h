// The ids of the current machine's [[processes]] records and their index
// (Processes.cpp), by which the process functions and the snapshots find
// and number a process.
#pragma once

#include <windef.h>

#include <optional>

#include "vqwin/Record.h"

namespace vqwin {

// A record's own id: its `pid`, when that is a number.
std::optional<DWORD> OwnProcessId(const Record& process);

// The id of a record as every process function numbers it: its own, else 4
// above `before`, the id of the record in front of it. Ids are numbered over
// every record, so that a process keeps its id whether or not the others
// exist now.
DWORD ProcessId(const Record& process, DWORD before);

// What `before` is for the first record (its id is then 8).
constexpr DWORD kProcessIdBeforeFirst = 4;

// Forgets the index (a machine made current starts afresh).
void ForgetProcessTable();

}  // namespace vqwin
