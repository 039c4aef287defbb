// The simulated PC that the Win32 stand-in runs on. A machine is a folder:
//   machine.toml   OS, language, identity, screen, clock, program, optional
//                  functions, scripted file failures, generated files, and
//                  the plain data of services, processes and readers
//   registry.reg   the registry as REGEDIT4 text (rewritten whole on every change)
//   attributes.txt file attributes that differ from the default
//   C/, D/ ...     one folder per drive letter
// Exactly one machine is current; the Win32 functions act on it.
#pragma once

#include <vqwin/Clock.h>
#include <vqwin/MachineError.h>
#include <vqwin/Record.h>
#include <windef.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vqwin {

class Registry;
class FileSystem;

enum class VersionQuery {
  Extended,   // both the 156-byte and the 148-byte record are answered
  BasicOnly,  // the 156-byte record is refused (Windows 9x, NT 4.0 before SP6)
  None        // both are refused
};

struct OsSpec {
  DWORD platformId = 2;  // VER_PLATFORM_WIN32_NT
  DWORD major = 5, minor = 1, build = 2600;
  std::string csdVersion = "Service Pack 3";
  WORD spMajor = 3, spMinor = 0;
  WORD suiteMask = 0x0100;
  BYTE productType = 1;   // VER_NT_WORKSTATION
  WORD architecture = 0;  // native PROCESSOR_ARCHITECTURE_*: 0 x86, 6 Itanium, 9 x64
  DWORD productInfo = 0;  // what GetProductInfo reports
  int serverR2 = 0;       // GetSystemMetrics(SM_SERVERR2)
  VersionQuery versionQuery = VersionQuery::Extended;
  std::string windowsDir = "C:\\WINDOWS";
  std::string systemDir;  // empty: windowsDir + "\system32" (NT) or "\SYSTEM" (9x)
  DWORD processors = 1;

  bool Is9x() const { return platformId == 1; }
  bool IsNT() const { return platformId == 2; }
  bool Is64Bit() const { return architecture == 9 || architecture == 6; }
  std::string SystemDir() const;
};

struct LocaleSpec {
  WORD langId = 0x0409;
  UINT ansiCodePage = 1252;
  UINT oemCodePage = 437;
};

struct ClockSpec {
  Clock::Mode mode = Clock::Mode::Virtual;
  // Local date and time at clock 0 (the machine's start).
  int year = 2026, month = 12, day = 10, hour = 9, minute = 30, second = 0;
  uint32_t tickAtStart = 3600000;  // GetTickCount at clock 0
  bool startGiven = false;         // false: a real clock starts at the host's local time
};

// A file operation that the machine makes fail: `op` is "open", "create",
// "write", "copy" (checked on the destination), "move", "delete" or "any";
// `path` a Windows path that may hold * and ? wildcards.
struct FileFailure {
  std::string path;
  std::string op = "any";
  DWORD error = 0;
};

// A file that loading the machine writes when it is missing.
struct FileSpec {
  std::string path;                     // Windows path
  std::optional<std::string> version;   // "a.b.c.d": a PE file with a version resource
  std::optional<std::string> productVersion;
  std::vector<std::pair<std::string, std::string>> strings;  // version strings (UTF-8)
  bool pe = false;                      // a PE file without version resource
  std::optional<std::string> text;      // plain content (bytes as written)
  DWORD attributes = 0;                 // extra attributes
  int line = 0;
};

struct MachineSpec {
  OsSpec os;
  LocaleSpec locale;
  std::string computerName = "VQ-PC";
  std::string userName = "User";
  int screenWidth = 1024, screenHeight = 768;
  ClockSpec clock;
  std::string programPath = "C:\\Program Files\\VQUSB\\vqdiag.exe";
  std::string currentDir;  // empty: the program's folder
  // Optional functions: by default present as the Windows version has them;
  // these names (exported function names, or module file names such as
  // "psapi.dll") override that.
  std::set<std::string> absent, present;
  std::vector<FileFailure> fileFailures;
  std::vector<FileSpec> files;
  std::vector<Record> services, processes, readers;
  std::map<std::string, Record> extra;  // [pcsc], [shell]: tables for later parts
};

struct LoadOptions {
  std::optional<Clock::Mode> clock;        // overrides machine.toml's clock mode
  std::optional<std::string> programPath;  // overrides [program].path (ANSI bytes)
  std::optional<std::string> currentDir;   // overrides [program].current_dir
};

class Machine {
 public:
  // Loads a machine folder; throws MachineError.
  static std::unique_ptr<Machine> Load(const std::filesystem::path& folder,
                                       const LoadOptions& options = {});
  // Writes the embedded default machine into `folder` (made if missing) and loads it.
  static std::unique_ptr<Machine> CreateDefault(const std::filesystem::path& folder,
                                                const LoadOptions& options = {});
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  const std::filesystem::path& folder() const { return folder_; }
  MachineSpec& spec() { return spec_; }
  const MachineSpec& spec() const { return spec_; }
  Clock& clock() { return clock_; }
  Registry& registry() { return *registry_; }
  FileSystem& files() { return *files_; }

  // Makes this the machine of the Win32 functions (and its clock the current clock).
  void MakeCurrent();
  bool IsCurrent() const;

  // Whether an optional function (e.g. "GetNativeSystemInfo") or a module
  // ("psapi.dll") exists on this machine.
  bool HasFunction(const std::string& name) const;
  bool HasModule(const std::string& module) const;

  // The local time now, from the clock.
  SYSTEMTIME LocalTime() const;
  // Writes registry.reg from the registry tree (done after every change).
  void SaveRegistry();

  // The files the stand-in keeps in the machine folder are written whole
  // (vqwin/HostFiles.h). One that cannot be written or removed keeps what it
  // held and is remembered with the reason until a later save of it succeeds;
  // the machine in memory goes on with the change.
  bool SaveFile(const std::filesystem::path& file, std::string_view bytes);
  bool RemoveFile(const std::filesystem::path& file);
  // Host path -> reason, for the files that are behind the machine in memory.
  const std::map<std::string, std::string>& unsavedFiles() const { return unsaved_; }

 private:
  Machine(std::filesystem::path folder, MachineSpec spec);
  std::filesystem::path folder_;
  MachineSpec spec_;
  Clock clock_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<FileSystem> files_;
  std::map<std::string, std::string> unsaved_;
};

// The current machine. When none was made current, the embedded default is
// created in a temporary folder (removed when the program ends).
Machine& CurrentMachine();
Machine* CurrentMachineIfAny();
void ClearCurrentMachine();

// The embedded default machine: Windows XP SP3, English, with the smart card
// base components, the running smart card service, the VQ 480T driver files
// and one reader "TERVANE VQ480T 0" with a card.
std::string DefaultMachineToml();
std::string DefaultRegistryReg();
void WriteDefaultMachine(const std::filesystem::path& folder);

}  // namespace vqwin
