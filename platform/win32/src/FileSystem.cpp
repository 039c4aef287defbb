#include "vqwin/FileSystem.h"

#include <sys/stat.h>
#include <winbase.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

#include "FolderListings.h"
#include "Text.h"
#include "vqwin/CodePage.h"
#include "vqwin/HostFiles.h"
#include "vqwin/Machine.h"

namespace fs = std::filesystem;

namespace vqwin {
namespace {

const char* const kWow64Exempt[] = {"catroot", "catroot2", "driverstore", "drivers\\etc", "logfiles",
                                    "spool"};

bool MatchFrom(std::string_view p, std::string_view n) {
  size_t pi = 0, ni = 0, star = std::string_view::npos, mark = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == '?' || LowerAscii(p[pi]) == LowerAscii(n[ni]))) {
      ++pi;
      ++ni;
    } else if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = ni;
    } else if (star != std::string_view::npos) {
      pi = star + 1;
      ni = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

UINT CodePageOf(const Machine& m) { return m.spec().locale.ansiCodePage; }

}  // namespace

bool MatchWildcard(std::string_view pattern, std::string_view name) {
  if (MatchFrom(pattern, name)) return true;
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
      name.find('.') == std::string_view::npos)
    return MatchFrom(pattern.substr(0, pattern.size() - 2), name);
  return false;
}

std::vector<std::string> SplitWindowsPath(std::string_view path, unsigned codePage) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsLeadByte(c, codePage) && i + 1 < path.size()) {
      part += path[i];
      part += path[++i];
    } else if (c == '\\' || c == '/') {
      parts.push_back(part);
      part.clear();
    } else {
      part += path[i];
    }
  }
  parts.push_back(part);
  return parts;
}

std::string LowerName(std::string_view name, unsigned codePage) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (IsLeadByte(c, codePage) && i + 1 < name.size()) {
      out += name[i];
      out += name[++i];
    } else {
      out += LowerAscii(name[i]);
    }
  }
  return out;
}

FileSystem::FileSystem(Machine& machine) : machine_(machine), listings_(std::make_unique<FolderListings>()) {
  std::string dir = machine.spec().currentDir;
  if (dir.empty()) {
    const auto parts = SplitWindowsPath(machine.spec().programPath, CodePageOf(machine));
    for (size_t i = 0; i + 1 < parts.size(); ++i) dir += (i ? "\\" : "") + parts[i];
  }
  currentDir_ = "C:\\";
  const std::string full = FullPath(dir);
  if (!full.empty()) currentDir_ = full;
  LoadAttributes();
}

FileSystem::~FileSystem() = default;

std::string FileSystem::FullPath(std::string_view path) const {
  if (path.empty()) return "";
  if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/'))
    return "";  // UNC and device paths are not files of a drive
  std::string drive;
  std::string rest;
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    drive = std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))));
    rest = std::string(path.substr(2));
    if (rest.empty() || (rest[0] != '\\' && rest[0] != '/')) rest = "\\" + rest;
  } else if (path[0] == '\\' || path[0] == '/') {
    drive = currentDir_.substr(0, 1);
    rest = std::string(path);
  } else {
    drive = currentDir_.substr(0, 1);
    rest = currentDir_.substr(2) + "\\" + std::string(path);
  }
  std::vector<std::string> out;
  for (std::string part : SplitWindowsPath(rest, CodePageOf(machine_))) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!out.empty()) out.pop_back();
      continue;
    }
    // Windows drops trailing dots and blanks of a path part.
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
    if (part.empty()) continue;
    if (part.find_first_of("<>|\"") != std::string::npos || part.find(':') != std::string::npos) return "";
    out.push_back(part);
  }
  std::string full = drive + ":";
  if (out.empty()) return full + "\\";
  for (const auto& p : out) full += "\\" + p;
  return full;
}

std::string FileSystem::Redirect(const std::string& full) const {
  if (!redirection_ || !machine_.spec().os.Is64Bit()) return full;
  const std::string windir = FullPath(machine_.spec().os.windowsDir);
  if (windir.empty()) return full;
  auto under = [&](const std::string& folder, std::string& rest) {
    const std::string base = windir + "\\" + folder;
    if (EqualNoCase(full, base)) {
      rest.clear();
      return true;
    }
    if (full.size() > base.size() && StartsWithNoCase(full, base + "\\")) {
      rest = full.substr(base.size() + 1);
      return true;
    }
    return false;
  };
  std::string rest;
  if (under("Sysnative", rest)) return windir + "\\system32" + (rest.empty() ? "" : "\\" + rest);
  if (!under("system32", rest)) return full;
  for (const char* exempt : kWow64Exempt) {
    const std::string e = exempt;
    if (EqualNoCase(rest, e) || StartsWithNoCase(rest, e + "\\")) return full;
  }
  return windir + "\\SysWOW64" + (rest.empty() ? "" : "\\" + rest);
}

// A path whose parts are all in their stored case takes one status query,
// and one whose parts but the last are, two (and the last part is looked up
// among the folder's names without regard to case), or one when the folder's
// names are kept; false leaves the path to the walk part by part. All give
// what the walk would.
bool FileSystem::MapStoredCase(const std::string& full, const std::vector<std::string>& parts,
                               ResolvedPath& r) const {
  if (parts.empty()) return false;
  for (const std::string& part : parts)
    if (part.empty() || part == "." || part == "..") return false;
  // The host path built as one string: this runs for every file call.
  std::string parent =
      (machine_.folder() / std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(full[0]))))).string();
  for (size_t i = 0; i + 1 < parts.size(); ++i) (parent += '/') += parts[i];
  std::string path = parent + '/' + parts.back();
  // In a folder whose names are kept, one status query of the folder tells.
  if (listings_->Keeps(parent)) {
    FolderStatus folder;
    if (StatFolder(parent, folder)) {
      const FolderListings::Answer answer = listings_->Lookup(parent, parts.back(), CodePageOf(machine_), folder);
      if (answer.known) {
        r.exists = answer.stored.has_value();
        r.hostPath = r.exists ? parent + '/' + *answer.stored : std::move(path);
        r.parentExists = true;
        return true;
      }
    }
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    r.hostPath = std::move(path);
    r.exists = r.parentExists = true;
    return true;
  }
  if (errno != ENOENT) return false;
  FolderStatus folder;
  if (!StatFolder(parent, folder)) return false;
  if (const std::optional<std::string> stored =
          listings_->FindNoCase(parent, parts.back(), CodePageOf(machine_), &folder)) {
    r.hostPath = parent + '/' + *stored;
    r.exists = true;
  } else {
    r.hostPath = std::move(path);
    r.exists = false;
  }
  r.parentExists = true;
  return true;
}

ResolvedPath FileSystem::Map(const std::string& full) const {
  ResolvedPath r;
  r.windowsPath = full;
  if (full.size() < 3) {
    r.error = ERROR_INVALID_NAME;
    return r;
  }
  const UINT cp = CodePageOf(machine_);
  auto parts = SplitWindowsPath(full.substr(3), cp);
  if (parts.size() == 1 && parts[0].empty()) parts.clear();
  if (MapStoredCase(full, parts, r)) return r;
  // The drive folder: its one-letter name in either case.
  fs::path host;
  std::error_code ec;
  const char letter = full[0];
  for (char c : {static_cast<char>(std::toupper(static_cast<unsigned char>(letter))),
                 static_cast<char>(std::tolower(static_cast<unsigned char>(letter)))}) {
    const fs::path drive = machine_.folder() / std::string(1, c);
    if (fs::is_directory(drive, ec)) {
      host = drive;
      break;
    }
  }
  if (host.empty()) {
    r.error = ERROR_PATH_NOT_FOUND;
    r.hostPath = machine_.folder() / full.substr(0, 1);
    return r;
  }
  bool found = true;
  // Whether `host` is known to be a folder (saves a status query).
  bool hostIsDir = true;
  r.parentExists = true;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i + 1 == parts.size()) r.parentExists = found && (hostIsDir || fs::is_directory(host, ec));
    if (found) {
      bool match = false;
      // A part in its stored case is found at once; only other cases need a
      // scan of the folder (which made large folders quadratic to walk).
      const fs::path exact = host / parts[i];
      const fs::file_status status =
          parts[i] != "." && parts[i] != ".." ? fs::symlink_status(exact, ec) : fs::file_status{};
      if (fs::exists(status)) {
        host = exact;
        hostIsDir = fs::is_directory(status);
        match = true;
      } else if (const std::optional<std::string> stored = listings_->FindNoCase(host.string(), parts[i], cp)) {
        host /= *stored;
        hostIsDir = false;
        match = true;
      }
      if (!match) {
        found = false;
        host /= parts[i];
      }
    } else {
      host /= parts[i];
    }
  }
  r.hostPath = host;
  r.exists = found;
  return r;
}

ResolvedPath FileSystem::Resolve(std::string_view path) const {
  const std::string full = FullPath(path);
  if (full.empty()) {
    ResolvedPath r;
    r.error = ERROR_INVALID_NAME;
    return r;
  }
  return Map(Redirect(full));
}

ResolvedPath FileSystem::ResolveNative(std::string_view path) const {
  const std::string full = FullPath(path);
  if (full.empty()) {
    ResolvedPath r;
    r.error = ERROR_INVALID_NAME;
    return r;
  }
  return Map(full);
}

std::string FileSystem::Key(const ResolvedPath& path) const {
  return LowerName(path.windowsPath, CodePageOf(machine_));
}

DWORD FileSystem::Attributes(const ResolvedPath& path) const {
  std::error_code ec;
  return Attributes(path, fs::is_directory(path.hostPath, ec));
}

DWORD FileSystem::Attributes(const ResolvedPath& path, bool dir) const {
  auto it = attributes_.find(Key(path));
  DWORD a = it != attributes_.end() ? it->second : (dir ? 0 : FILE_ATTRIBUTE_ARCHIVE);
  if (dir) {
    a &= ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
    a |= FILE_ATTRIBUTE_DIRECTORY;
  }
  return a;
}

void FileSystem::SetAttributes(const ResolvedPath& path, DWORD attributes) {
  attributes &= FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY;
  if (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL)) attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  std::error_code ec;
  const bool dir = fs::is_directory(path.hostPath, ec);
  // attributes.txt is written only when it changes: a search that sets
  // every file's attributes to archive alone writes nothing.
  const std::string key = Key(path);
  if ((!dir && attributes == FILE_ATTRIBUTE_ARCHIVE) || (dir && attributes == FILE_ATTRIBUTE_NORMAL)) {
    if (attributes_.erase(key)) SaveAttributes();
  } else {
    auto [it, added] = attributes_.try_emplace(key, attributes);
    if (added || it->second != attributes) {
      it->second = attributes;
      SaveAttributes();
    }
  }
}

void FileSystem::ForgetAttributes(const ResolvedPath& path) {
  if (attributes_.erase(Key(path))) SaveAttributes();
}

void FileSystem::MoveAttributes(const ResolvedPath& from, const ResolvedPath& to) {
  const std::string a = Key(from), b = Key(to);
  std::map<std::string, DWORD> moved;
  for (auto it = attributes_.begin(); it != attributes_.end();) {
    if (it->first == a || it->first.rfind(a + "\\", 0) == 0) {
      moved[b + it->first.substr(a.size())] = it->second;
      it = attributes_.erase(it);
    } else {
      ++it;
    }
  }
  attributes_.erase(b);
  for (auto& [k, v] : moved) attributes_[k] = v;
  SaveAttributes();
}

DWORD FileSystem::ScriptedFailure(std::string_view op, const std::string& windowsPath) const {
  for (const FileFailure& f : machine_.spec().fileFailures) {
    if (f.op != "any" && f.op != op) continue;
    const std::string pattern = FullPath(f.path);
    if (MatchWildcard(pattern.empty() ? f.path : pattern, windowsPath)) return f.error;
  }
  return 0;
}

bool FileSystem::WriteBytes(std::string_view path, const std::string& bytes, std::string* reason) {
  ResolvedPath r = ResolveNative(path);
  std::string why;
  if (r.hostPath.empty()) {
    if (reason) *reason = "not a path on the machine";
    return false;
  }
  // Make the missing folders, reusing those that exist in another case.
  const auto parts = SplitWindowsPath(r.windowsPath.substr(3), CodePageOf(machine_));
  std::string partial = r.windowsPath.substr(0, 2);
  std::error_code ec;
  fs::create_directories(machine_.folder() / r.windowsPath.substr(0, 1), ec);
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    partial += "\\" + parts[i];
    ResolvedPath dir = ResolveNative(partial);
    if (!dir.exists) fs::create_directory(dir.hostPath, ec);
  }
  r = ResolveNative(path);
  if (!r.parentExists) {
    if (reason) *reason = "cannot make the folder that holds " + r.hostPath.string();
    return false;
  }
  if (!WriteWholeFile(r.hostPath, bytes, why)) {
    if (reason) *reason = why;
    return false;
  }
  return true;
}

void FileSystem::LoadAttributes() {
  const fs::path file = machine_.folder() / "attributes.txt";
  std::error_code ec;
  if (!fs::exists(file, ec) && !ec) return;
  std::string bytes, reason;
  if (!ReadWholeFile(file, bytes, reason))
    throw MachineError(file.string(), 0, reason, kExitMachineMissing);
  std::istringstream in(bytes);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.find(' ');
    unsigned value = 0;
    if (space == std::string::npos || std::sscanf(line.c_str(), "%x", &value) != 1)
      throw MachineError((machine_.folder() / "attributes.txt").string(), number,
                         "expected \"<hex attributes> <Windows path>\"");
    attributes_[LowerName(line.substr(space + 1), CodePageOf(machine_))] = value;
  }
}

void FileSystem::SaveAttributes() const {
  const fs::path file = machine_.folder() / "attributes.txt";
  if (attributes_.empty()) {
    machine_.RemoveFile(file);
    return;
  }
  std::ostringstream out;
  out << "# File attributes that differ from the default (hex, then the Windows path)\n";
  for (const auto& [path, value] : attributes_) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(value));
    out << hex << ' ' << path << '\n';
  }
  machine_.SaveFile(file, out.str());
}

}  // namespace vqwin
