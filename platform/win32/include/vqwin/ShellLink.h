// Shell links and special folders of the machine.
//
// A link (".lnk") is a text file of our own form:
//   VQWIN SHELL LINK
//   Target=C:\Program Files\VQUSB\vqdiag.exe
//   Arguments=
//   WorkingDirectory=C:\Program Files\VQUSB
//   Description=
//   IconLocation=C:\Program Files\VQUSB\vqdiag.exe
//   IconIndex=0
//
// machine.toml's [shell] table sets the shell's behaviour:
//   desktop = 'C:\WINDOWS\Desktop'          CSIDL_DESKTOP (default by version)
//   programs = 'C:\WINDOWS\Start Menu\Programs'   CSIDL_PROGRAMS
//   display_names = "cstr"   how GetDisplayNameOf hands names: "cstr", "offset", "wstr"
//   link_failure = "create"  make link objects fail: "create" (CoCreateInstance),
//                            "persist_file" (no IPersistFile), "load" (Load)
//   inf_delay_ms = 2000      the system's INF installer finishes this long after WinExec
//   inf_result = "registers" the smart-card base components register; "nothing": they don't
//   inf_marker = '...'       the path the package writes as its RunServices value (9x)
#pragma once

#include <optional>
#include <string>

namespace vqwin {

struct ShellLinkData {
  std::string target, arguments, workingDirectory, description, iconLocation;
  int iconIndex = 0;
};

// Reads a link file of the current machine; nullopt when it is missing or not a link.
std::optional<ShellLinkData> ReadShellLink(const std::string& windowsPath);
// Writes one (through the machine's file functions); false with the last error set.
bool WriteShellLink(const std::string& windowsPath, const ShellLinkData& link);

// The path of a special folder (CSIDL_*) of the current machine; "" when unknown.
std::string SpecialFolderPath(int csidl);
// A value of machine.toml's [shell] table ("" when not given), text in the
// machine's code page.
std::string ShellSetting(const std::string& key);

}  // namespace vqwin
