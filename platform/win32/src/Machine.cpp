#include "vqwin/Machine.h"

#include <winbase.h>

#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>

#include "MachineToml.h"
#include "ProcessTable.h"
#include "ServiceRuntime.h"
#include "StartedRuns.h"
#include "vqwin/Exports.h"
#include "vqwin/FileSystem.h"
#include "vqwin/HostFiles.h"
#include "vqwin/PeWriter.h"
#include "vqwin/Registry.h"
#include "vqwin/TestMachine.h"

namespace fs = std::filesystem;

namespace vqwin {
namespace {

Machine* g_current = nullptr;

std::string ReadAll(const fs::path& file) {
  std::string bytes, reason;
  if (!ReadWholeFile(file, bytes, reason))
    throw MachineError(file.string(), 0, reason, kExitMachineMissing);
  return bytes;
}

void WriteOrThrow(const fs::path& file, const std::string& text) {
  std::string reason;
  if (!WriteWholeFile(file, text, reason)) throw MachineError(file.string(), 0, reason, kExitMachineUnwritable);
}

void MakeFolderOrThrow(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder, ec))
    throw MachineError(folder.string(), 0, "cannot make the folder: " + (ec ? ec.message() : "a file has its name"),
                       kExitMachineUnwritable);
}

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

// Functions that not every Windows has, by default present from the version
// that brought them.
bool DefaultPresence(const OsSpec& os, const std::string& name, bool& present) {
  const bool nt = os.IsNT();
  const unsigned version = os.major * 100 + os.minor;
  if (name == "GetNativeSystemInfo" || name == "IsWow64Process") present = nt && version >= 501;
  else if (name == "GetProductInfo") present = nt && os.major >= 6;
  else if (name == "Wow64DisableWow64FsRedirection" || name == "Wow64RevertWow64FsRedirection") present = nt && os.Is64Bit();
  else if (name == "QueryServiceStatusEx" || name == "EnumServicesStatusExA") present = nt && os.major >= 5;
  else if (name == "EnumProcessModulesEx") present = nt && os.major >= 6;
  else if (name == "psapi.dll") present = nt;
  else if (name == "CreateToolhelp32Snapshot" || name == "Process32First" || name == "Process32Next")
    present = !(nt && os.major < 5);  // NT 4.0 has no Toolhelp
  else return false;
  return true;
}

}  // namespace

std::string OsSpec::SystemDir() const {
  if (!systemDir.empty()) return systemDir;
  return windowsDir + (Is9x() ? "\\SYSTEM" : "\\system32");
}

Machine::Machine(fs::path folder, MachineSpec spec)
    : folder_(std::move(folder)), spec_(std::move(spec)), clock_(spec_.clock.mode) {}

Machine::~Machine() {
  if (g_current == this) ClearCurrentMachine();
}

std::unique_ptr<Machine> Machine::Load(const fs::path& folder, const LoadOptions& options) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec))
    throw MachineError(folder.string(), 0, "no such machine folder", kExitMachineMissing);
  const fs::path toml = folder / "machine.toml";
  if (!fs::is_regular_file(toml, ec))
    throw MachineError(toml.string(), 0, "the machine folder has no machine.toml", kExitMachineMissing);
  MachineSpec spec = ParseMachineToml(ReadAll(toml), toml.string());
  if (options.clock) spec.clock.mode = *options.clock;
  if (options.programPath) spec.programPath = *options.programPath;
  if (options.currentDir) spec.currentDir = *options.currentDir;
  if (spec.clock.mode == Clock::Mode::Real && !spec.clock.startGiven) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    spec.clock.year = local.tm_year + 1900, spec.clock.month = local.tm_mon + 1, spec.clock.day = local.tm_mday;
    spec.clock.hour = local.tm_hour, spec.clock.minute = local.tm_min, spec.clock.second = local.tm_sec;
  }
  std::unique_ptr<Machine> m(new Machine(fs::absolute(folder), std::move(spec)));
  MakeFolderOrThrow(m->folder_ / "C");  // every machine has a drive C:
  const fs::path reg = folder / "registry.reg";
  m->registry_ = fs::exists(reg, ec) ? Registry::Parse(ReadAll(reg), reg.string()) : std::make_unique<Registry>();
  m->files_ = std::make_unique<FileSystem>(*m);
  // Files that the machine describes and that are not there yet.
  for (const FileSpec& f : m->spec_.files) {
    ResolvedPath where = m->files_->ResolveNative(f.path);
    if (where.error) throw MachineError(toml.string(), f.line, "[[files]].path \"" + f.path + "\" is not a Windows path");
    if (where.exists) continue;
    std::string bytes;
    if (f.text) {
      bytes = *f.text;
    } else if (f.version || f.pe) {
      std::optional<VersionResource> version;
      if (f.version) {
        version = VersionResource::FromDotted(*f.version);
        if (f.productVersion) {
          auto p = VersionResource::FromDotted(*f.productVersion);
          version->productVersionMS = p->productVersionMS;
          version->productVersionLS = p->productVersionLS;
          version->strings[1].second = *f.productVersion;
        }
        for (const auto& s : f.strings) version->strings.push_back(s);
        const std::string lower = where.windowsPath.size() > 4 ? where.windowsPath.substr(where.windowsPath.size() - 4) : "";
        if (lower == ".exe" || lower == ".EXE") version->fileType = 1;
        else if (lower == ".dll" || lower == ".DLL") version->fileType = 2;
      }
      const auto image = BuildPe(version, PeOptions{});
      bytes.assign(image.begin(), image.end());
    }
    std::string reason;
    if (!m->files_->WriteBytes(f.path, bytes, &reason))
      throw MachineError(toml.string(), f.line, "[[files]].path \"" + f.path + "\": " + reason,
                         kExitMachineUnwritable);
    if (f.attributes) m->files_->SetAttributes(m->files_->ResolveNative(f.path), f.attributes | 0x20);
  }
  return m;
}

std::unique_ptr<Machine> Machine::CreateDefault(const fs::path& folder, const LoadOptions& options) {
  WriteDefaultMachine(folder);
  return Load(folder, options);
}

void Machine::MakeCurrent() {
  g_current = this;
  SetCurrentClock(&clock_);
  ResetLoadedModules();
  ResetServiceRuns();
  ForgetProcessTable();
  ForgetStartedRuns();
}

bool Machine::IsCurrent() const { return g_current == this; }

bool Machine::HasFunction(const std::string& name) const {
  if (spec_.absent.count(name)) return false;
  if (spec_.present.count(name)) return true;
  bool present = true;
  DefaultPresence(spec_.os, name, present);
  return present;
}

bool Machine::HasModule(const std::string& module) const { return HasFunction(ModuleFileName(module)); }

SYSTEMTIME Machine::LocalTime() const {
  const ClockSpec& c = spec_.clock;
  const int64_t startMs = (DaysFromCivil(c.year, c.month, c.day) * 86400 + c.hour * 3600 + c.minute * 60 + c.second) * 1000;
  const int64_t now = startMs + static_cast<int64_t>(clock_.Now());
  const int64_t days = now / 86400000;
  const int64_t msOfDay = now % 86400000;
  int y, m, d;
  CivilFromDays(days, y, m, d);
  SYSTEMTIME t{};
  t.wYear = static_cast<WORD>(y);
  t.wMonth = static_cast<WORD>(m);
  t.wDay = static_cast<WORD>(d);
  t.wDayOfWeek = static_cast<WORD>((days + 4) % 7);  // 1970-01-01 was a Thursday
  t.wHour = static_cast<WORD>(msOfDay / 3600000);
  t.wMinute = static_cast<WORD>(msOfDay / 60000 % 60);
  t.wSecond = static_cast<WORD>(msOfDay / 1000 % 60);
  t.wMilliseconds = static_cast<WORD>(msOfDay % 1000);
  return t;
}

void Machine::SaveRegistry() { SaveFile(folder_ / "registry.reg", registry_->ToText()); }

bool Machine::SaveFile(const fs::path& file, std::string_view bytes) {
  std::string reason;
  if (!WriteWholeFile(file, bytes, reason)) {
    unsaved_[file.string()] = reason;
    return false;
  }
  unsaved_.erase(file.string());
  return true;
}

bool Machine::RemoveFile(const fs::path& file) {
  std::error_code ec;
  fs::remove(file, ec);
  if (ec) {
    unsaved_[file.string()] = "cannot remove it: " + ec.message();
    return false;
  }
  unsaved_.erase(file.string());
  return true;
}

namespace {

struct LazyDefault {
  fs::path folder;
  std::unique_ptr<Machine> machine;
  ~LazyDefault() {
    machine.reset();
    std::error_code ec;
    if (!folder.empty()) fs::remove_all(folder, ec);
  }
};

LazyDefault& Lazy() {
  static LazyDefault lazy;
  return lazy;
}

}  // namespace

Machine& CurrentMachine() {
  if (g_current) return *g_current;
  LazyDefault& lazy = Lazy();
  if (!lazy.machine) {
    lazy.folder = MakeTempFolder("vqmachine");
    lazy.machine = Machine::CreateDefault(lazy.folder);
  }
  // Whoever read the clock before this machine existed must not see time go back.
  lazy.machine->clock().SleepUntil(CurrentClock().Now());
  lazy.machine->MakeCurrent();
  return *lazy.machine;
}

Machine* CurrentMachineIfAny() { return g_current; }

void ClearCurrentMachine() {
  g_current = nullptr;
  SetCurrentClock(nullptr);
}

void WriteDefaultMachine(const fs::path& folder) {
  MakeFolderOrThrow(folder / "C");
  WriteOrThrow(folder / "machine.toml", DefaultMachineToml());
  WriteOrThrow(folder / "registry.reg", DefaultRegistryReg());
}

}  // namespace vqwin
