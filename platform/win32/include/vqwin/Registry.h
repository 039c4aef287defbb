// The machine's registry tree, read from and written to REGEDIT4 text. Key
// and value names compare without regard to ASCII case and keep the case
// they were created with; strings are bytes in the machine's code page.
#pragma once

#include <windef.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vqwin {

struct RegValue {
  std::string name;  // "" is the default value (@)
  DWORD type = 1;    // REG_SZ
  std::vector<uint8_t> data;
};

struct RegKey {
  std::string name;
  RegKey* parent = nullptr;
  bool deleted = false;
  std::vector<RegValue> values;
  std::vector<std::shared_ptr<RegKey>> children;

  std::shared_ptr<RegKey> Child(std::string_view childName) const;
  std::shared_ptr<RegKey> EnsureChild(std::string_view childName);
  RegValue* Value(std::string_view valueName);
  const RegValue* Value(std::string_view valueName) const;
  void SetValue(RegValue value);
  bool RemoveValue(std::string_view valueName);
  bool RemoveChild(std::string_view childName);  // marks the subtree deleted
  std::string Path() const;                      // "HKEY_LOCAL_MACHINE\SOFTWARE\..."
};

class Registry {
 public:
  Registry();

  // Parses REGEDIT4 text; throws MachineError naming `fileName` and the line.
  static std::unique_ptr<Registry> Parse(std::string_view text, const std::string& fileName);
  std::string ToText() const;

  // Root of a hive by its name ("HKEY_LOCAL_MACHINE", or "HKLM") or by its
  // predefined handle; nullptr when there is no such hive.
  std::shared_ptr<RegKey> Hive(std::string_view name) const;
  std::shared_ptr<RegKey> Hive(HKEY predefined) const;

  // Keys by full path ("HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet").
  std::shared_ptr<RegKey> Find(std::string_view fullPath) const;
  std::shared_ptr<RegKey> Create(std::string_view fullPath);

  // Conveniences for tests and machine set-up.
  std::optional<std::string> GetString(std::string_view fullPath, std::string_view value) const;
  std::optional<DWORD> GetDword(std::string_view fullPath, std::string_view value) const;
  void SetString(std::string_view fullPath, std::string_view value, std::string_view data);
  void SetDword(std::string_view fullPath, std::string_view value, DWORD data);

 private:
  std::vector<std::shared_ptr<RegKey>> hives_;
};

}  // namespace vqwin
