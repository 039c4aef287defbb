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

namespace vqwin {
class Machine;
}

namespace vqsetup {

// Relative path ('/'-separated, below the medium's root) and content.
using MediumFile = std::pair<std::string, std::string>;
std::vector<MediumFile> ExampleMediumFiles();

// Writes the example medium below `root` (a host folder, e.g. a machine's
// drive folder <machine>/D); files listed in `omit` (relative paths,
// compared without regard to case) are left out. Each file is written whole;
// false, with `problem` naming the first file or folder that could not be
// made, when one is missing.
bool WriteExampleMedium(const std::filesystem::path& root, const std::vector<std::string>& omit = {},
                        std::string* problem = nullptr);

// Makes the host folder `medium` the drive D: of the machine folder
// `machine`, unless `keepDrive` gives a reason to keep it (64): the medium is copied into a scratch folder of the machine
// folder, and only a complete copy takes the place of the drive's folder;
// the medium is used in place when it is that folder. The medium itself is
// only read. 0, or an exit status with `problem` set: 64 when the medium
// holds the machine or lies anywhere inside the machine folder but is not its
// drive folder itself (the run would change or delete it), 66 when a file of
// it cannot be read, 73 when the copy or the drive folder cannot be made
// (the drive's folder is then as it was). 0 with `problem` set: the medium is
// in place, but the earlier drive folder could not be removed.
int PlaceMedium(const std::filesystem::path& medium, const std::filesystem::path& machine,
                const std::string& keepDrive, std::string& problem);

// Why a medium cannot replace this machine's drive D: its Windows, system or
// program files folder lies there; empty when none does.
std::string FoldersOnDriveD(const vqwin::Machine& machine);

// The installer's folder on a medium written at a drive's root.
inline const char* const kInstallerFolder = "D:\\SETUP";

}  // namespace vqsetup
