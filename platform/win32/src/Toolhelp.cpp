// Tool help snapshots over the processes a machine declares ([[processes]]);
// a process that names its service is in them only while that service is
// not stopped (ReaderRecords.h).
#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <string>
#include <vector>

#include "ProcessTable.h"
#include "ReaderRecords.h"
#include "Text.h"
#include "vqwin/Handles.h"
#include "vqwin/Machine.h"

namespace {

struct ProcessRow {
  DWORD pid = 0, parent = 0, threads = 1;
  std::string exeFile;
};

class Snapshot : public vqwin::KernelObject {
 public:
  std::vector<ProcessRow> rows;
  size_t next = 0;
};

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<ProcessRow> TakeRows() {
  const auto& spec = vqwin::CurrentMachine().spec();
  std::vector<ProcessRow> rows;
  DWORD pid = vqwin::kProcessIdBeforeFirst;
  for (const vqwin::Record& r : spec.processes) {
    pid = vqwin::ProcessId(r, pid);
    if (!vqwin::ProcessListed(r)) continue;
    ProcessRow row;
    const std::string name = r.Str("name");
    const std::string path = r.Str("path");
    if (spec.os.Is9x())
      row.exeFile = !path.empty() ? path : spec.os.SystemDir() + "\\" + name;
    else
      row.exeFile = !name.empty() ? name : BaseName(path);
    row.pid = pid;
    row.parent = static_cast<DWORD>(r.Int("parent", 0));
    row.threads = static_cast<DWORD>(r.Int("threads", 1));
    rows.push_back(std::move(row));
  }
  return rows;
}

BOOL Fill(HANDLE snapshot, LPPROCESSENTRY32 entry, bool first) {
  auto shot = vqwin::HandleAs<Snapshot>(snapshot);
  if (!shot) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!entry || entry->dwSize < sizeof(PROCESSENTRY32)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (first) shot->next = 0;
  if (shot->next >= shot->rows.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  const ProcessRow& row = shot->rows[shot->next++];
  const DWORD size = entry->dwSize;
  std::memset(entry, 0, sizeof *entry);
  entry->dwSize = size;
  entry->cntUsage = 1;
  entry->th32ProcessID = row.pid;
  entry->cntThreads = row.threads;
  entry->th32ParentProcessID = row.parent;
  entry->pcPriClassBase = 8;
  std::strncpy(entry->szExeFile, row.exeFile.c_str(), MAX_PATH - 1);
  return TRUE;
}

}  // namespace

extern "C" {

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD flags, DWORD) {
  if (!(flags & TH32CS_SNAPPROCESS)) {
    // Only process lists are kept; other kinds give an empty snapshot.
    return vqwin::NewHandle(std::make_shared<Snapshot>());
  }
  auto shot = std::make_shared<Snapshot>();
  shot->rows = TakeRows();
  return vqwin::NewHandle(shot);
}

BOOL WINAPI Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry) { return Fill(snapshot, entry, true); }

BOOL WINAPI Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry) { return Fill(snapshot, entry, false); }

}  // extern "C"
