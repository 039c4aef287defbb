// Other processes of the machine ([[processes]]) opened by id, the process
// status library over them, the program's access token with its debug
// privilege, and the process heap.
//
// [[processes]] keys read here (besides name, path and pid):
//   service = "SCardSvr" the process of that service: it exists (is listed,
//                        opened and queried) only while the service is not
//                        stopped (ReaderRecords.h)
//   protected = true     opening it is denied unless the program has enabled
//                        its debug privilege
//   open_error = N       every open fails with N
//   priority = N         its priority class (default NORMAL_PRIORITY_CLASS)
//   priority_error = N   GetPriorityClass fails with N
//   modules_error = N    the module enumeration fails with N
//   module = "x.exe"     the base name of its first module (else its name or
//                        the file name of its path); name_error = N fails
// [security] keys: UserRights.h.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "ProcessTable.h"
#include "ReaderRecords.h"
#include "ServiceRuntime.h"
#include "Text.h"
#include "UserRights.h"
#include "vqwin/Exports.h"
#include "vqwin/Handles.h"
#include "vqwin/Machine.h"
#include "vqwin/MessageTexts.h"

#ifndef ERROR_PARTIAL_COPY
#define ERROR_PARTIAL_COPY 299L
#endif
#ifndef ERROR_NO_SUCH_PRIVILEGE
#define ERROR_NO_SUCH_PRIVILEGE 1313L
#endif

namespace vqwin {

std::optional<DWORD> OwnProcessId(const Record& process) {
  const auto it = process.values.find("pid");
  if (it == process.values.end() ||
      !(std::holds_alternative<int64_t>(it->second) || std::holds_alternative<bool>(it->second)))
    return std::nullopt;
  return static_cast<DWORD>(process.Int("pid"));
}

DWORD ProcessId(const Record& process, DWORD before) { return OwnProcessId(process).value_or(before + 4); }

namespace {

struct ProcessInfo {
  DWORD pid = 0;
  const Record* record = nullptr;
};

// Where each process id lives among the machine's [[processes]] records,
// listed now or not: looking a process up by walking every record for each
// open, module query and name made a listing of N processes cost N * N. The
// table is rebuilt for each enumeration, when the machine is made current,
// when the record list has grown, shrunk or moved, and when a lookup misses;
// a record's presence (its service's state) is always taken afresh. (A
// record given, in place, the id of a later record that exists too is seen
// at the next rebuild.)
class ProcessTable {
 public:
  // The records with this id, in their order; `fresh` tells whether the
  // table has just been built from the records.
  std::vector<size_t> Candidates(const std::vector<Record>& records, DWORD pid, bool& fresh) {
    std::lock_guard<std::mutex> lock(mutex_);
    fresh = false;
    if (!Matches(records)) {
      Build(records);
      fresh = true;
    }
    std::vector<size_t> out;
    auto it = std::lower_bound(byPid_.begin(), byPid_.end(), std::make_pair(pid, size_t{0}));
    for (; it != byPid_.end() && it->first == pid; ++it) out.push_back(it->second);
    return out;
  }

  // The id each record has, as the snapshots number them.
  std::vector<DWORD> Rebuild(const std::vector<Record>& records) {
    std::lock_guard<std::mutex> lock(mutex_);
    Build(records);
    return pids_;
  }

  void Forget() {
    std::lock_guard<std::mutex> lock(mutex_);
    list_ = nullptr;
    data_ = nullptr;
    size_ = 0;
    pids_.clear();
    byPid_.clear();
  }

 private:
  bool Matches(const std::vector<Record>& records) const {
    return list_ == &records && data_ == records.data() && size_ == records.size();
  }

  void Build(const std::vector<Record>& records) {
    list_ = &records;
    data_ = records.data();
    size_ = records.size();
    pids_.clear();
    byPid_.clear();
    DWORD pid = kProcessIdBeforeFirst;
    for (size_t i = 0; i < records.size(); ++i) {
      pid = ProcessId(records[i], pid);
      pids_.push_back(pid);
      byPid_.emplace_back(pid, i);
    }
    std::sort(byPid_.begin(), byPid_.end());
  }

  std::mutex mutex_;
  const std::vector<Record>* list_ = nullptr;
  const Record* data_ = nullptr;
  size_t size_ = 0;
  std::vector<DWORD> pids_;                         // by record
  std::vector<std::pair<DWORD, size_t>> byPid_;     // (id, record), sorted
};

ProcessTable& Table() {
  static ProcessTable table;
  return table;
}

// The machine's processes that exist now, with their ids as the snapshots
// number them.
std::vector<ProcessInfo> Processes() {
  const std::vector<Record>& records = CurrentMachine().spec().processes;
  const std::vector<DWORD> pids = Table().Rebuild(records);
  std::vector<ProcessInfo> out;
  for (size_t i = 0; i < records.size(); ++i)
    if (ProcessListed(records[i])) out.push_back(ProcessInfo{pids[i], &records[i]});
  return out;
}

// Whether record `index` has id `pid` now. Numbers the records from the
// nearest one at or before it that has an id of its own (from the first
// record when none has).
bool HasPid(const std::vector<Record>& records, size_t index, DWORD pid) {
  size_t from = index;
  while (from > 0 && !OwnProcessId(records[from])) --from;
  DWORD id = kProcessIdBeforeFirst;
  for (size_t i = from; i <= index; ++i) id = ProcessId(records[i], id);
  return id == pid;
}

// The first record with this id whose process exists now, or nullptr. A
// miss in a table that was not just built is looked up once more in a table
// built afresh: the records may have changed in place since (an id given to
// a record behind an earlier one that has it too). Two looks at most.
const Record* ProcessRecord(DWORD pid) {
  const std::vector<Record>& records = CurrentMachine().spec().processes;
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool fresh = false;
    const std::vector<size_t> candidates = Table().Candidates(records, pid, fresh);
    for (size_t index : candidates) {
      const Record& r = records[index];
      if (!HasPid(records, index, pid)) break;  // renumbered since the build
      if (ProcessListed(r)) return &r;
    }
    if (fresh) return nullptr;
    Table().Rebuild(records);
  }
  return nullptr;
}

std::string FileNamePart(const std::string& path) {
  const size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class ProcessObject : public KernelObject {
 public:
  DWORD pid = 0;
  DWORD access = 0;
};

class TokenObject : public KernelObject {
 public:
  DWORD access = 0;
};

std::mutex g_mutex;
bool g_debugEnabled = false;  // the program enabled its debug privilege

bool DebugEnabled() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_debugEnabled;
}

void SetDebugEnabled(bool on) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_debugEnabled = on;
}

const DWORD kDebugLuid = 20;
const struct {
  const char* name;
  DWORD luid;
} kPrivileges[] = {{"SeBackupPrivilege", 17}, {"SeRestorePrivilege", 18}, {"SeShutdownPrivilege", 19},
                   {"SeDebugPrivilege", kDebugLuid}, {"SeSystemEnvironmentPrivilege", 22}};

// An opened process with the rights asked for; sets the error.
std::shared_ptr<ProcessObject> Opened(HANDLE handle, DWORD rights) {
  auto process = HandleAs<ProcessObject>(handle);
  if (!process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if ((process->access & rights) != rights) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return process;
}

bool ModuleQuery(HANDLE process, HMODULE* modules, DWORD size, LPDWORD needed) {
  auto p = Opened(process, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
  if (!p) return false;
  const Record* r = ProcessRecord(p->pid);
  if (!r) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (const int64_t error = r->Int("modules_error", 0)) {
    SetLastError(static_cast<DWORD>(error));
    return false;
  }
  if (!needed || (modules == nullptr && size != 0)) {
    SetLastError(ERROR_NOACCESS);
    return false;
  }
  // The executable, then the two system libraries every process has.
  const HMODULE list[] = {reinterpret_cast<HMODULE>(0x00400000), reinterpret_cast<HMODULE>(0x7C900000),
                          reinterpret_cast<HMODULE>(0x7C800000)};
  const DWORD count = size / sizeof(HMODULE);
  for (DWORD i = 0; i < count && i < 3; ++i) modules[i] = list[i];
  *needed = sizeof list;
  return true;
}

const bool g_texts = [] {
  RegisterMessageText(ERROR_PARTIAL_COPY, "Only part of a ReadProcessMemory or WriteProcessMemory request was completed.");
  RegisterMessageText(ERROR_NO_SUCH_PRIVILEGE, "A specified privilege does not exist.");
  return true;
}();

}  // namespace

void ResetTokenPrivileges() { SetDebugEnabled(false); }

void ForgetProcessTable() { Table().Forget(); }

}  // namespace vqwin

using namespace vqwin;

extern "C" {

HANDLE WINAPI OpenProcess(DWORD access, BOOL, DWORD pid) {
  const Record* r = pid == 0 ? nullptr : ProcessRecord(pid);
  if (!r) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (const int64_t error = r->Int("open_error", 0)) {
    SetLastError(static_cast<DWORD>(error));
    return nullptr;
  }
  if (r->Bool("protected") && !DebugEnabled()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  auto process = std::make_shared<ProcessObject>();
  process->pid = pid;
  process->access = access == PROCESS_ALL_ACCESS ? 0xFFFFFFFF : access;
  return NewHandle(process);
}

DWORD WINAPI GetPriorityClass(HANDLE process) {
  auto p = Opened(process, PROCESS_QUERY_INFORMATION);
  if (!p) return 0;
  const Record* r = ProcessRecord(p->pid);
  if (!r) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (const int64_t error = r->Int("priority_error", 0)) {
    SetLastError(static_cast<DWORD>(error));
    return 0;
  }
  return static_cast<DWORD>(r->Int("priority", NORMAL_PRIORITY_CLASS));
}

BOOL WINAPI EnumProcesses(DWORD* ids, DWORD size, LPDWORD needed) {
  if (!needed || (ids == nullptr && size != 0)) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  DWORD written = 0;
  for (const ProcessInfo& p : Processes()) {
    if ((written + 1) * sizeof(DWORD) > size) break;
    ids[written++] = p.pid;
  }
  *needed = written * sizeof(DWORD);
  return TRUE;
}

BOOL WINAPI EnumProcessModules(HANDLE process, HMODULE* modules, DWORD size, LPDWORD needed) {
  return ModuleQuery(process, modules, size, needed) ? TRUE : FALSE;
}

BOOL WINAPI EnumProcessModulesEx(HANDLE process, HMODULE* modules, DWORD size, LPDWORD needed, DWORD filter) {
  if (filter > LIST_MODULES_ALL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return ModuleQuery(process, modules, size, needed) ? TRUE : FALSE;
}

static DWORD CopyName(const std::string& text, LPSTR buffer, DWORD size) {
  if (!buffer || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const DWORD length = static_cast<DWORD>(text.size()) < size - 1 ? static_cast<DWORD>(text.size()) : size - 1;
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return length;
}

DWORD WINAPI GetModuleBaseNameA(HANDLE process, HMODULE, LPSTR buffer, DWORD size) {
  auto p = Opened(process, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
  if (!p) return 0;
  const Record* r = ProcessRecord(p->pid);
  if (!r) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (const int64_t error = r->Int("name_error", 0)) {
    SetLastError(static_cast<DWORD>(error));
    return 0;
  }
  std::string name = r->Str("module");
  if (name.empty()) name = r->Str("name");
  if (name.empty()) name = FileNamePart(r->Str("path"));
  return CopyName(name, buffer, size);
}

DWORD WINAPI GetModuleFileNameExA(HANDLE process, HMODULE, LPSTR buffer, DWORD size) {
  auto p = Opened(process, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
  if (!p) return 0;
  const Record* r = ProcessRecord(p->pid);
  if (!r) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  std::string path = r->Str("path");
  if (path.empty()) path = CurrentMachine().spec().os.SystemDir() + "\\" + r->Str("name");
  return CopyName(path, buffer, size);
}

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
  if (process != GetCurrentProcess() || !token) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (const Record* s = SecurityTable())
    if (const int64_t error = s->Int("token_error", 0)) {
      SetLastError(static_cast<DWORD>(error));
      return FALSE;
    }
  auto object = std::make_shared<TokenObject>();
  object->access = access;
  *token = NewHandle(object);
  return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid) {
  if (system && *system && !EqualNoCase(system, CurrentMachine().spec().computerName)) {
    SetLastError(ERROR_BAD_NETPATH);
    return FALSE;
  }
  if (!name || !luid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (const auto& p : kPrivileges)
    if (EqualNoCase(name, p.name)) {
      luid->LowPart = p.luid;
      luid->HighPart = 0;
      return TRUE;
    }
  SetLastError(ERROR_NO_SUCH_PRIVILEGE);
  return FALSE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD,
                                  PTOKEN_PRIVILEGES previous, LPDWORD returnLength) {
  auto t = HandleAs<TokenObject>(token);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!(t->access & TOKEN_ADJUST_PRIVILEGES)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (previous && returnLength) *returnLength = 0;
  if (disableAll) {
    SetDebugEnabled(false);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  if (!newState) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const Record* s = SecurityTable();
  const bool debugHeld = !s || s->Bool("debug_privilege", true);
  bool allAssigned = true;
  for (DWORD i = 0; i < newState->PrivilegeCount && i < 1; ++i) {
    const LUID_AND_ATTRIBUTES& p = newState->Privileges[i];
    if (p.Luid.LowPart != kDebugLuid || p.Luid.HighPart != 0) continue;
    if (!debugHeld) {
      allAssigned = false;
      continue;
    }
    SetDebugEnabled((p.Attributes & SE_PRIVILEGE_ENABLED) != 0);
  }
  SetLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
}

HANDLE WINAPI GetProcessHeap(void) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x00150000)); }

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  if (heap != GetProcessHeap()) return nullptr;
  void* p = (flags & HEAP_ZERO_MEMORY) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  return p;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID memory) {
  if (heap != GetProcessHeap()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::free(memory);
  return TRUE;
}

}  // extern "C"

VQWIN_EXPORT("psapi.dll", EnumProcesses);
VQWIN_EXPORT("psapi.dll", EnumProcessModules);
VQWIN_EXPORT("psapi.dll", EnumProcessModulesEx);
VQWIN_EXPORT("psapi.dll", GetModuleBaseNameA);
VQWIN_EXPORT("psapi.dll", GetModuleFileNameExA);
