// WinExec: the start is recorded (vqwin/Started.h); nothing runs on the
// host. The system's INF installer started for the smart-card base
// components package ("InstallHinfSection ... scbase.inf") does its work a
// little later, as the separate program it is: it copies the package's
// programs and libraries into the system folder and registers the smart
// card service (machine.toml [shell]: inf_delay_ms, inf_result, inf_marker).
// Being another process, it runs on when the program that started it ends
// (FinishStartedPrograms).
#include <windows.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "StartedRuns.h"
#include "Text.h"
#include "vqwin/Clock.h"
#include "vqwin/FileSystem.h"
#include "vqwin/Machine.h"
#include "vqwin/MachineEvents.h"
#include "vqwin/ShellLink.h"
#include "vqwin/Started.h"

namespace vqwin {
namespace {

// Per machine folder: when the last program started there is done;
// forgotten when a machine is made current.
std::map<std::string, uint64_t> g_lastDone;

const char* const kPackageFiles[] = {"SCardSvr.exe", "WinSCard.dll", "SCardDlg.dll", "SCardMgr.dll",
                                     "SCardSrv.dll", "SCardDat.dll", "SCNtvSSP.dll"};

// The first word of a command line (quoted or not) and the rest after it.
void SplitCommand(const std::string& line, std::string& program, std::string& rest) {
  size_t i = 0;
  while (i < line.size() && line[i] == ' ') ++i;
  size_t end;
  if (i < line.size() && line[i] == '"') {
    end = line.find('"', i + 1);
    program = line.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
    end = end == std::string::npos ? line.size() : end + 1;
  } else {
    end = line.find(' ', i);
    if (end == std::string::npos) end = line.size();
    program = line.substr(i, end - i);
  }
  while (end < line.size() && line[end] == ' ') ++end;
  rest = line.substr(end);
}

std::string LastWord(const std::string& text) {
  const size_t blank = text.find_last_of(' ');
  return blank == std::string::npos ? text : text.substr(blank + 1);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void SetString(HKEY key, const char* name, const std::string& value) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
}

void SetDword(HKEY key, const char* name, DWORD value) {
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// What the base components package's INF installs.
void InstallBaseComponents(const std::string& infPath) {
  if (GetFileAttributesA(infPath.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  if (ShellSetting("inf_result") == "nothing") return;
  char system[MAX_PATH] = {0};
  GetSystemDirectoryA(system, MAX_PATH);
  const std::string folder = FolderOf(infPath);
  for (const char* name : kPackageFiles) {
    const std::string source = folder + "\\" + name;
    if (GetFileAttributesA(source.c_str()) != INVALID_FILE_ATTRIBUTES)
      CopyFileA(source.c_str(), (std::string(system) + "\\" + name).c_str(), FALSE);
  }
  HKEY key = nullptr;
  if (CurrentMachine().spec().os.Is9x()) {
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices", &key) ==
        ERROR_SUCCESS) {
      const std::string marker = ShellSetting("inf_marker");
      SetString(key, "SCardSvr", marker.empty() ? std::string(system) + "\\SCardSvr.exe" : marker);
      RegCloseKey(key);
    }
    return;
  }
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\SCardSvr", &key) == ERROR_SUCCESS) {
    SetDword(key, "Type", 0x10);
    SetDword(key, "Start", 2);
    SetDword(key, "ErrorControl", 1);
    SetString(key, "ImagePath", "%SystemRoot%\\System32\\SCardSvr.exe");
    SetString(key, "DisplayName", "Smart Card");
    SetString(key, "ObjectName", "LocalSystem");
    RegCloseKey(key);
  }
}

}  // namespace

void ForgetStartedRuns() { g_lastDone.clear(); }

void FinishStartedPrograms() {
  Machine* machine = CurrentMachineIfAny();
  if (machine == nullptr) return;
  auto last = g_lastDone.find(machine->folder().string());
  if (last == g_lastDone.end()) return;
  // Bounded by the started programs' own time (inf_delay_ms after their start).
  CurrentClock().SleepUntil(last->second);
  g_lastDone.erase(last);
  RunDueMachineEvents();
}

}  // namespace vqwin

using namespace vqwin;

extern "C" {

// Returns 33 when the program file exists (a value above 31, as Windows
// gives), ERROR_FILE_NOT_FOUND (2) when it does not.
UINT WINAPI WinExec(LPCSTR lpCmdLine, UINT uCmdShow) {
  if (!lpCmdLine) return 0;
  const std::string line = lpCmdLine;
  std::string program, rest;
  SplitCommand(line, program, rest);
  FileSystem& files = CurrentMachine().files();
  if (program.empty() || !files.Resolve(program).exists) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return ERROR_FILE_NOT_FOUND;
  }
  StartedProgram start;
  start.call = "WinExec";
  start.file = program;
  start.parameters = rest;
  start.directory = files.currentDir();
  start.show = static_cast<int>(uCmdShow);
  RecordStartedProgram(start);

  // The started program resolves a relative INF path in the folder it inherits.
  if (Lower(rest).find("installhinfsection") != std::string::npos &&
      EqualNoCase(LastWord(rest).size() >= 10 ? LastWord(rest).substr(LastWord(rest).size() - 10) : "",
                  "scbase.inf")) {
    const std::string infPath = files.FullPath(LastWord(rest));
    const std::string delay = ShellSetting("inf_delay_ms");
    const uint64_t wait = delay.empty() ? 2000 : std::strtoull(delay.c_str(), nullptr, 10);
    const uint64_t done = CurrentClock().Now() + wait;
    ScheduleMachineEvent(done, [infPath] { InstallBaseComponents(infPath); });
    uint64_t& last = g_lastDone[CurrentMachine().folder().string()];
    if (done > last) last = done;
  }
  return 33;
}

}  // extern "C"
