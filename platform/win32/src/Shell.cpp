// Shell: ShellExecuteA "starts" a program by recording the start on the
// machine (vqwin/Started.h); nothing runs on the host.
#include <windows.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "Text.h"
#include "vqwin/FileSystem.h"
#include "vqwin/Machine.h"
#include "vqwin/Started.h"

namespace vqwin {
namespace {

std::mutex g_mutex;

// Keyed by the machine's folder, so that each machine keeps its own record.
std::map<std::string, std::vector<StartedProgram>>& Records() {
  static std::map<std::string, std::vector<StartedProgram>> records;
  return records;
}

std::string CurrentKey() { return CurrentMachine().folder().string(); }

bool IsRelative(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return false;
  return path.empty() || (path[0] != '\\' && path[0] != '/');
}

HINSTANCE Result(INT value) { return reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(value)); }

HINSTANCE Failure(INT result, DWORD error) {
  SetLastError(error);
  return Result(result);
}

}  // namespace

void RecordStartedProgram(StartedProgram start) {
  const std::string key = CurrentKey();
  std::lock_guard<std::mutex> lock(g_mutex);
  Records()[key].push_back(std::move(start));
}

std::vector<StartedProgram> StartedPrograms() {
  const std::string key = CurrentKey();
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = Records().find(key);
  return it == Records().end() ? std::vector<StartedProgram>() : it->second;
}

void ClearStartedPrograms() {
  const std::string key = CurrentKey();
  std::lock_guard<std::mutex> lock(g_mutex);
  Records().erase(key);
}

}  // namespace vqwin

using namespace vqwin;

extern "C" {

// Only the verb "open" (or the default verb) is known. A relative file name
// is looked for in the working directory when one is given. The result is
// 42 on success, as Windows gives a value above 32; on failure a value of 32
// or less with the last error set.
HINSTANCE WINAPI ShellExecuteA(HWND, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                               LPCSTR lpDirectory, INT nShowCmd) {
  const std::string verb = lpOperation ? lpOperation : "";
  const std::string file = lpFile ? lpFile : "";
  const std::string directory = lpDirectory ? lpDirectory : "";
  if (!verb.empty() && !EqualNoCase(verb, "open")) return Failure(SE_ERR_NOASSOC, ERROR_NO_ASSOCIATION);

  FileSystem& files = CurrentMachine().files();
  std::string path = file;
  if (!file.empty() && IsRelative(file) && !directory.empty())
    path = directory + (directory.back() == '\\' ? "" : "\\") + file;
  if (file.empty() || !files.Resolve(path).exists) return Failure(SE_ERR_FNF, ERROR_FILE_NOT_FOUND);
  if (!directory.empty() && !files.Resolve(directory).exists)
    return Failure(SE_ERR_PNF, ERROR_PATH_NOT_FOUND);

  StartedProgram start;
  start.call = "ShellExecuteA";
  start.verb = verb;
  start.file = file;
  start.parameters = lpParameters ? lpParameters : "";
  start.directory = directory;
  start.show = nShowCmd;
  RecordStartedProgram(std::move(start));
  return Result(42);
}

}  // extern "C"
