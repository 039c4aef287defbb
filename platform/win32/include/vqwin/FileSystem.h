// Windows paths on the machine's drive folders: "C:\WINDOWS\x.sys" is
// <machine>/C/WINDOWS/x.sys, each part found without regard to case; new
// parts keep the case given. Attributes that differ from the default are kept
// in <machine>/attributes.txt. On a 64-bit machine a 32-bit program's access
// to %windir%\system32 goes to %windir%\SysWOW64 unless redirection is off.
#pragma once

#include <windef.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vqwin {

class Machine;
class FolderListings;

struct ResolvedPath {
  std::string windowsPath;          // full, normalised, after redirection
  std::filesystem::path hostPath;   // existing parts in their stored case
  bool exists = false;
  bool parentExists = false;        // the folder that would hold it exists
  DWORD error = 0;                  // set when the path cannot be mapped at all
};

class FileSystem {
 public:
  explicit FileSystem(Machine& machine);
  ~FileSystem();

  // Full Windows path ("C:\A\B") from an absolute or relative one; "" on a
  // malformed path. Separators '\' and '/' both count; DBCS names are safe.
  std::string FullPath(std::string_view path) const;
  ResolvedPath Resolve(std::string_view path) const;           // with WOW64 redirection
  ResolvedPath ResolveNative(std::string_view path) const;     // without

  // The current directory (a full Windows path without trailing backslash,
  // except for a drive root).
  const std::string& currentDir() const { return currentDir_; }
  void set_currentDir(std::string dir) { currentDir_ = std::move(dir); }

  bool redirection() const { return redirection_; }
  void set_redirection(bool on) { redirection_ = on; }

  // Attributes of an existing file or folder (FILE_ATTRIBUTE_*).
  DWORD Attributes(const ResolvedPath& path) const;
  // The same when the caller already knows whether it is a folder.
  DWORD Attributes(const ResolvedPath& path, bool isDirectory) const;
  void SetAttributes(const ResolvedPath& path, DWORD attributes);
  void ForgetAttributes(const ResolvedPath& path);
  void MoveAttributes(const ResolvedPath& from, const ResolvedPath& to);

  // The scripted failure for this operation on this path, or 0.
  DWORD ScriptedFailure(std::string_view op, const std::string& windowsPath) const;

  // Writes bytes to a Windows path, making missing folders (set-up helper);
  // false with the reason when the host does not take them.
  bool WriteBytes(std::string_view path, const std::string& bytes, std::string* reason = nullptr);

 private:
  ResolvedPath Map(const std::string& full) const;
  bool MapStoredCase(const std::string& full, const std::vector<std::string>& parts, ResolvedPath& r) const;
  std::string Redirect(const std::string& full) const;
  void SaveAttributes() const;
  void LoadAttributes();
  std::string Key(const ResolvedPath& path) const;

  Machine& machine_;
  bool redirection_ = true;
  std::string currentDir_;
  std::map<std::string, DWORD> attributes_;  // lower-case windows path -> attributes
  std::unique_ptr<FolderListings> listings_;
};

// Case-insensitive wildcard match of Windows file names (* and ?); a
// pattern ending in ".*" also matches names without a dot.
bool MatchWildcard(std::string_view pattern, std::string_view name);
// Splits a Windows path at backslashes (and slashes), minding the trail
// bytes of two-byte characters in `codePage`.
std::vector<std::string> SplitWindowsPath(std::string_view path, unsigned codePage);
// Lower-cases ASCII letters, leaving the trail bytes of two-byte characters alone.
std::string LowerName(std::string_view name, unsigned codePage);

}  // namespace vqwin
