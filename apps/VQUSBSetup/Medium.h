// The installation medium of VQUSBSetup, as an example to install from:
//   SETUP\VQUSBSetup.exe, SETUP\drivers\ (98/ME driver, INF as VQUSB.ncp,
//   catalogue, companion programs, uninstaller), SETUP\drivers\winnt4\ (NT 4.0
//   driver, WinDriver, uninstall INF), SETUP\smclib\ (smart-card library and
//   the base components package with its INF and licence text),
//   SETUP\utility\vqdiag.exe, InstallationGuide\ (E/C/K WIN98 pages and
//   folders), FAQ\, Foxit Reader\.
// Program files are small PE images with version resources.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vqsetup {

// Relative path ('/'-separated, below the medium's root) and content.
using MediumFile = std::pair<std::string, std::string>;
std::vector<MediumFile> ExampleMediumFiles();

// Writes the example medium below `root` (a host folder, e.g. a machine's
// drive folder <machine>/D); files listed in `omit` (relative paths,
// compared without regard to case) are left out.
void WriteExampleMedium(const std::filesystem::path& root, const std::vector<std::string>& omit = {});

// Makes the host folder `medium` the drive D: of the machine folder
// `machine`: the drive's folder is replaced by a copy of it, or the medium is
// used in place when it is that folder. The medium itself is only read.
// 0, or an exit status with `problem` set: 64 when the medium holds the
// machine or lies anywhere inside the machine folder but is not its drive
// folder itself (the run would change or delete it), 66 when it cannot be
// copied.
int PlaceMedium(const std::filesystem::path& medium, const std::filesystem::path& machine, std::string& problem);

// The installer's folder on a medium written at a drive's root.
inline const char* const kInstallerFolder = "D:\\SETUP";

}  // namespace vqsetup
