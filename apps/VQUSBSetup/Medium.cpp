#include "Medium.h"

#include <fcntl.h>
#include <unistd.h>
#include <vqwin/HostFiles.h>
#include <vqwin/Machine.h>
#include <vqwin/PeWriter.h>
#include <vqwin/Registry.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ExitStatus.h"

namespace vqsetup {
namespace {

using launch::kCannotMake;
using launch::kNoInput;
using launch::kUsage;

std::string Pe(const std::string& version, const std::string& description) {
  std::optional<vqwin::VersionResource> resource = vqwin::VersionResource::FromDotted(version);
  resource->productVersionMS = resource->fileVersionMS;
  resource->productVersionLS = resource->fileVersionLS;
  resource->strings = {{"CompanyName", "Tervane"}, {"FileDescription", description}, {"FileVersion", version}};
  const std::vector<uint8_t> image = vqwin::BuildPe(resource);
  return std::string(image.begin(), image.end());
}

std::string Inf(const std::string& what) {
  return "[Version]\r\nSignature=\"$CHICAGO$\"\r\n; " + what + "\r\n\r\n[DefaultInstall]\r\n";
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// True when `inner` is `outer` or lies below it (both canonical).
bool Within(const std::filesystem::path& inner, const std::filesystem::path& outer) {
  auto [o, i] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
  return o == outer.end();
}

bool OnDriveD(const std::string& windowsPath) {
  return windowsPath.size() >= 2 && (windowsPath[0] == 'D' || windowsPath[0] == 'd') && windowsPath[1] == ':';
}

std::string Failed(const std::string& step, int error) { return step + ": " + std::strerror(error); }

// Copies one regular file; 0, or kNoInput when `from` cannot be read and
// kCannotMake when `to` cannot be written.
int CopyFile(const std::filesystem::path& from, const std::filesystem::path& to, std::string& problem) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    problem = Failed("cannot read " + from.string(), errno);
    return kNoInput;
  }
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (out < 0) {
    problem = Failed("cannot write " + to.string(), errno);
    ::close(in);
    return kCannotMake;
  }
  int status = 0;
  char buffer[65536];
  while (status == 0) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      problem = Failed("cannot read " + from.string(), errno);
      status = kNoInput;
    }
    if (n <= 0) break;
    for (ssize_t done = 0; done < n && status == 0;) {
      const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        problem = Failed("cannot write " + to.string(), w < 0 ? errno : ENOSPC);
        status = kCannotMake;
      }
      done += w > 0 ? w : 0;
    }
  }
  ::close(in);
  if (::close(out) != 0 && status == 0) {
    problem = Failed("cannot write " + to.string(), errno);
    status = kCannotMake;
  }
  return status;
}

// Copies the folder `from` (links followed) into the new folder `to`.
int CopyTree(const std::filesystem::path& from, const std::filesystem::path& to, std::string& problem) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::create_directory(to, ec)) {
    problem = "cannot make " + to.string() + ": " + (ec ? ec.message() : "it exists");
    return kCannotMake;
  }
  fs::recursive_directory_iterator it(from, fs::directory_options::follow_directory_symlink, ec);
  fs::path last = from;
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    last = it->path();
    const fs::path target = to / last.lexically_relative(from);
    const fs::file_status status = fs::status(last, ec);
    if (ec) break;
    if (fs::is_directory(status)) {
      if (!fs::create_directory(target, ec) || ec) {
        problem = "cannot make " + target.string() + ": " + (ec ? ec.message() : "it exists");
        return kCannotMake;
      }
    } else if (fs::is_regular_file(status)) {
      if (const int copied = CopyFile(last, target, problem); copied != 0) return copied;
    } else {
      problem = "cannot read " + last.string() + ": neither a file nor a folder";
      return kNoInput;
    }
  }
  if (ec) {
    problem = "cannot read " + last.string() + ": " + ec.message();
    return kNoInput;
  }
  return 0;
}

// Swaps two folders: in one step where the host can, else in two, put back
// when the second fails.
bool Exchange(const std::filesystem::path& a, const std::filesystem::path& b, std::string& problem) {
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) {
    problem = Failed("cannot put " + a.string() + " in the place of " + b.string(), errno);
    return false;
  }
  const std::filesystem::path aside = a.string() + ".old";
  if (::rename(b.c_str(), aside.c_str()) != 0) {
    problem = Failed("cannot move " + b.string() + " aside", errno);
    return false;
  }
  if (::rename(a.c_str(), b.c_str()) != 0) {
    problem = Failed("cannot put " + a.string() + " in the place of " + b.string(), errno);
    ::rename(aside.c_str(), b.c_str());
    return false;
  }
  return ::rename(aside.c_str(), a.c_str()) == 0;
}

}  // namespace

std::string FoldersOnDriveD(const vqwin::Machine& machine) {
  const std::optional<std::string> programFiles =
      const_cast<vqwin::Machine&>(machine).registry().GetString(
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir");
  const struct {
    const char* what;
    std::string path;
  } folders[] = {
      {"Windows folder", machine.spec().os.windowsDir},
      {"system folder", machine.spec().os.SystemDir()},
      {"program folder", programFiles.value_or("")},
  };
  for (const auto& folder : folders)
    if (OnDriveD(folder.path)) return "the machine's " + std::string(folder.what) + " " + folder.path + " lies on D:";
  return "";
}

int PlaceMedium(const std::filesystem::path& medium, const std::filesystem::path& machine,
                const std::string& keepDrive, std::string& problem) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path source = fs::weakly_canonical(medium, ec);
  const fs::path home = ec ? fs::path() : fs::weakly_canonical(machine, ec);
  const fs::path drive = ec ? fs::path() : fs::weakly_canonical(machine / "D", ec);
  if (ec) {
    problem = "cannot be read: " + ec.message();
    return kNoInput;
  }
  if (source == drive) return 0;
  if (Within(home, source)) {
    problem = "holds the machine folder " + machine.string() + ", which the installation changes";
    return kUsage;
  }
  if (Within(source, drive)) {
    problem = "lies inside the machine's drive folder " + (machine / "D").string() + ", which the medium replaces";
    return kUsage;
  }
  if (Within(source, home)) {
    problem = "lies inside the machine folder " + machine.string() + ", which the installation changes";
    return kUsage;
  }
  if (!keepDrive.empty()) {
    problem = "cannot replace the drive D: " + keepDrive;
    return kUsage;
  }
  const fs::file_status driveStatus = fs::symlink_status(drive, ec);
  if (fs::exists(driveStatus) && !fs::is_directory(driveStatus)) {
    problem = "cannot become the drive D: " + drive.string() + " is not a folder";
    return kCannotMake;
  }
  // The copy goes to a scratch folder beside the drive's; only a complete
  // copy takes the drive's place.
  const fs::path scratch = home / ("D.medium-" + std::to_string(::getpid()));
  fs::remove_all(scratch, ec);
  const int copied = CopyTree(source, scratch, problem);
  if (copied != 0) {
    fs::remove_all(scratch, ec);
    return copied;
  }
  if (!fs::exists(driveStatus)) {
    if (::rename(scratch.c_str(), drive.c_str()) != 0) {
      problem = Failed("cannot rename " + scratch.string() + " to " + drive.string(), errno);
      fs::remove_all(scratch, ec);
      return kCannotMake;
    }
    return 0;
  }
  if (!Exchange(scratch, drive, problem)) {
    fs::remove_all(scratch, ec);
    return kCannotMake;
  }
  // `scratch` now holds the earlier drive folder.
  fs::remove_all(scratch, ec);
  if (!ec) fs::remove_all(scratch.string() + ".old", ec);
  if (ec) problem = "the earlier drive folder is left in " + scratch.string() + ": " + ec.message();
  return 0;
}

std::vector<MediumFile> ExampleMediumFiles() {
  std::vector<MediumFile> files = {
      {"SETUP/VQUSBSetup.exe", Pe("6.5.0.0", "VQUSB Series Reader Driver Setup Program")},
      {"SETUP/drivers/VQUSB.ncp", Inf("VQUSB smart card reader, Windows 98/ME (VID_F1E5&PID_0480)")},
      {"SETUP/drivers/vqusb98.cat", "VQUSB catalogue\r\n"},
      {"SETUP/drivers/VQUSB.sys", Pe("2.1.0.6", "VQUSB PC/SC Smart Card Reader Driver")},
      {"SETUP/drivers/vqscmon.exe", Pe("1.2.0.0", "VQUSB card monitor")},
      {"SETUP/drivers/svcwatch.exe", Pe("1.0.0.3", "Smart card service watcher")},
      {"SETUP/drivers/vqusbunst.exe", Pe("6.5.0.0", "VQUSB uninstaller")},
      {"SETUP/drivers/winnt4/vqusb.sys", Pe("2.1.0.6", "VQUSB PC/SC Smart Card Reader Driver (NT 4.0)")},
      {"SETUP/drivers/winnt4/wdusbd.sys", Pe("5.0.5.0", "WinDriver USB")},
      {"SETUP/drivers/winnt4/windrvr.sys", Pe("5.0.5.0", "WinDriver")},
      {"SETUP/drivers/winnt4/vqusbunst.inf", Inf("VQUSB uninstall, Windows NT 4.0")},
      {"SETUP/smclib/smclib.sys", Pe("5.0.2134.1", "Smart Card Driver Library")},
      {"SETUP/smclib/smclib.vxd", Pe("4.10.0.2222", "Smart Card Driver Library (VxD)")},
      {"SETUP/smclib/advpack.dll", Pe("5.0.2314.1000", "Advanced INF package")},
      {"SETUP/smclib/MFC42.DLL", Pe("6.0.8168.0", "MFCDLL Shared Library")},
      {"SETUP/smclib/MSVCRT.DLL", Pe("6.0.8397.0", "C runtime library")},
      {"SETUP/smclib/SCardDat.dll", Pe("5.0.2134.1", "Smart Card Database")},
      {"SETUP/smclib/SCardDlg.dll", Pe("5.0.2134.1", "Smart Card Common Dialogs")},
      {"SETUP/smclib/SCardMgr.dll", Pe("5.0.2134.1", "Smart Card Manager")},
      {"SETUP/smclib/SCardSrv.dll", Pe("5.0.2134.1", "Smart Card Server")},
      {"SETUP/smclib/SCardSvr.exe", Pe("5.0.2134.1", "Smart Card Resource Manager")},
      {"SETUP/smclib/SCNtvSSP.dll", Pe("5.0.2134.1", "Smart Card Security Provider")},
      {"SETUP/smclib/W95INF16.DLL", Pe("4.71.16.0", "INF installer (16-bit)")},
      {"SETUP/smclib/W95INF32.DLL", Pe("4.71.16.0", "INF installer (32-bit)")},
      {"SETUP/smclib/WinSCard.dll", Pe("5.0.2134.1", "Smart Card API")},
      {"SETUP/smclib/SCBASE.INF", Inf("Smart Card Base Components")},
      {"SETUP/smclib/license.txt",
       "END-USER LICENSE AGREEMENT FOR THE SMART CARD BASE COMPONENTS\r\n"
       "\r\n"
       "This agreement is the licence text that comes with the package on the medium.\r\n"
       "Read it, then choose Accept to install the package or Reject to end the setup.\r\n"},
      {"SETUP/utility/vqdiag.exe", Pe("2.2.0.0", "Smart Card Reader Self Testing Program")},
      {"FAQ/VQ_PCSC_Reader_FAQ_ENG.pdf", "%PDF-1.3\n% VQUSB FAQ (English)\n"},
      {"FAQ/VQ_PCSC_Reader_FAQ_CHT.pdf", "%PDF-1.3\n% VQUSB FAQ (Traditional Chinese)\n"},
      {"Foxit Reader/Foxit.exe", Pe("2.3.0.0", "PDF viewer")},
  };
  const char* const languages[3] = {"E", "C", "K"};
  for (const char* language : languages) {
    const std::string page = std::string("InstallationGuide/") + language + "WIN98";
    files.push_back({page + ".htm", "<html><body>VQUSB installation guide (" + std::string(language) +
                                        ")<img src=\"" + language + "WIN98.files/image001.png\"></body></html>\r\n"});
    files.push_back({page + ".files/image001.png", "\x89PNG guide picture"});
    files.push_back({page + ".files/filelist.xml", "<xml/>\r\n"});
  }
  return files;
}

bool WriteExampleMedium(const std::filesystem::path& root, const std::vector<std::string>& omit,
                        std::string* problem) {
  std::vector<std::string> left;
  for (const std::string& name : omit) left.push_back(Lower(name));
  for (const auto& [relative, bytes] : ExampleMediumFiles()) {
    if (std::find(left.begin(), left.end(), Lower(relative)) != left.end()) continue;
    const std::filesystem::path path = root / relative;
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    if (ec || !std::filesystem::is_directory(path.parent_path(), ec)) {
      if (problem)
        *problem = "cannot make the folder " + path.parent_path().string() + ": " +
                   (ec ? ec.message() : "a file has its name");
      return false;
    }
    std::string reason;
    if (!vqwin::WriteWholeFile(path, bytes, reason)) {
      if (problem) *problem = "cannot write " + path.string() + " (" + reason + ")";
      return false;
    }
  }
  return true;
}

}  // namespace vqsetup
