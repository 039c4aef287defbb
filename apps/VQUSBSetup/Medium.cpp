#include "Medium.h"

#include <vqwin/PeWriter.h>

#include <algorithm>
#include <cctype>
#include <fstream>

namespace vqsetup {
namespace {

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

}  // namespace

int PlaceMedium(const std::filesystem::path& medium, const std::filesystem::path& machine, std::string& problem) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path source = fs::weakly_canonical(medium, ec);
  const fs::path home = ec ? fs::path() : fs::weakly_canonical(machine, ec);
  const fs::path drive = ec ? fs::path() : fs::weakly_canonical(machine / "D", ec);
  if (ec) {
    problem = "cannot copy: " + ec.message();
    return 66;
  }
  if (source == drive) return 0;
  if (Within(home, source)) {
    problem = "holds the machine folder " + machine.string() + ", which the installation changes";
    return 64;
  }
  if (Within(source, drive)) {
    problem = "lies inside the machine's drive folder " + (machine / "D").string() + ", which the medium replaces";
    return 64;
  }
  if (Within(source, home)) {
    problem = "lies inside the machine folder " + machine.string() + ", which the installation changes";
    return 64;
  }
  fs::remove_all(drive, ec);
  if (!ec) fs::create_directories(drive, ec);
  if (!ec) fs::copy(source, drive, fs::copy_options::recursive, ec);
  if (ec) {
    problem = "cannot copy to " + drive.string() + ": " + ec.message();
    return 66;
  }
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

void WriteExampleMedium(const std::filesystem::path& root, const std::vector<std::string>& omit) {
  std::vector<std::string> left;
  for (const std::string& name : omit) left.push_back(Lower(name));
  for (const auto& [relative, bytes] : ExampleMediumFiles()) {
    if (std::find(left.begin(), left.end(), Lower(relative)) != left.end()) continue;
    const std::filesystem::path path = root / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
}

}  // namespace vqsetup
