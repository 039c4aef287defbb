// Shell links: found by their in-folder name or made, the failures raised
// as exceptions, and the program folder's shortcuts in the Start menu.
#include "InstallerFixture.h"

#include "ProgramFolder.h"
#include "ShellLink.h"

#include <vqvcl/Input.h>

#include <algorithm>

namespace setuptest {
namespace {

const char kDesktop[] = "C:\\WINDOWS\\Desktop\\";
const char kMenu[] = "C:\\WINDOWS\\Start Menu\\Programs\\VQUSB Utility\\";

// The desktop folder, made as a PC has it.
void MakeDesktop() {
  char path[MAX_PATH];
  SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOP, TRUE);
}

// The names (UTF-8) that a folder listing gives, without "." and "..".
std::vector<std::string> Names(const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(pattern.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(vqwin::ToUtf8(name));
  } while (FindNextFileA(find, &found));
  FindClose(find);
  return names;
}

vqwin::ShellLinkData LinkTo(const std::string& target) {
  vqwin::ShellLinkData link;
  link.target = target;
  return link;
}

class FoundLink : public Installer, public ::testing::WithParamInterface<const char*> {};

TEST_P(FoundLink, IsTakenUnchangedWhateverFormTheNamesComeIn) {
  Machine(kWin98, kEnglish, std::string("[shell]\ndisplay_names = \"") + GetParam() + "\"\n");
  MakeDesktop();
  ASSERT_TRUE(vqwin::WriteShellLink(std::string(kDesktop) + "Other.lnk", LinkTo("C:\\other.exe")));
  ASSERT_TRUE(vqwin::WriteShellLink(std::string(kDesktop) + "VQUSB Diagnostics.lnk", LinkTo("C:\\old\\vqdiag.exe")));
  AnsiString path;
  IShellLinkA* link = nullptr;
  const AnsiString result = CreateShellLink(path, nullptr, "C:\\new\\vqdiag.exe", "", "", 0, "VQUSB Diagnostics",
                                            CSIDL_DESKTOP, 1, &link);
  EXPECT_EQ(Utf8(result), std::string(kDesktop) + "VQUSB Diagnostics.lnk");
  EXPECT_EQ(Utf8(path), Utf8(result));
  ASSERT_NE(link, nullptr);
  char target[MAX_PATH] = {0};
  link->GetPath(target, MAX_PATH, nullptr, 0);
  EXPECT_STREQ(target, "C:\\old\\vqdiag.exe");
  link->Release();
  EXPECT_EQ(vqwin::ReadShellLink(Utf8(result))->target, "C:\\old\\vqdiag.exe");
  // The name must match exactly: without the create flag nothing else is found.
  EXPECT_EQ(Utf8(CreateShellLink(path, nullptr, "", "", "", 0, "vqusb diagnostics", CSIDL_DESKTOP, 0)), "");
  EXPECT_EQ(Utf8(path), "");
}

INSTANTIATE_TEST_SUITE_P(DisplayNames, FoundLink, ::testing::Values("cstr", "offset", "wstr"));

TEST_F(Installer, NewLinkCarriesTargetArgumentsIconAndFolder) {
  Machine(kWin98);
  AnsiString path;
  const AnsiString result = CreateShellLink(path, nullptr, "C:\\Program Files\\VQUSB\\vqdiag.exe", "-v",
                                            "C:\\icons\\reader.ico", 3, "Reader", CSIDL_DESKTOP, 1);
  EXPECT_EQ(Utf8(result), std::string(kDesktop) + "Reader.lnk");
  const auto link = vqwin::ReadShellLink(Utf8(result));
  ASSERT_TRUE(link);
  EXPECT_EQ(link->target, "C:\\Program Files\\VQUSB\\vqdiag.exe");
  EXPECT_EQ(link->arguments, "-v");
  EXPECT_EQ(link->iconLocation, "C:\\icons\\reader.ico");
  EXPECT_EQ(link->iconIndex, 3);
  EXPECT_EQ(link->workingDirectory, "C:\\Program Files\\VQUSB");
  EXPECT_EQ(link->description, "");
  // A target without a folder gives no working folder.
  const auto bare = vqwin::ReadShellLink(Utf8(CreateShellLink(path, nullptr, "notepad.exe", "", "", 0, "Bare",
                                                               CSIDL_DESKTOP, 1)));
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->workingDirectory, "");
  EXPECT_EQ(bare->iconLocation, "");
  // Nothing found, nothing to make.
  EXPECT_EQ(Utf8(CreateShellLink(path, nullptr, "x.exe", "", "", 0, "Missing", CSIDL_DESKTOP, 0)), "");
  EXPECT_FALSE(Exists(std::string(kDesktop) + "Missing.lnk"));
}

struct FailureCase {
  const char* name;
  const char* failure;  // [shell] link_failure
  const char* existing;  // content of an existing link file, nullptr: none
  const char* text;      // start of the exception's text
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class LinkFailure : public Installer, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(LinkFailure, RaisesTheStepsText) {
  const FailureCase& c = GetParam();
  Machine(kWin98, kEnglish, *c.failure ? std::string("[shell]\nlink_failure = \"") + c.failure + "\"\n" : "");
  MakeDesktop();
  if (c.existing != nullptr) {
    HANDLE file = CreateFileA((std::string(kDesktop) + "Reader.lnk").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, c.existing, (DWORD)strlen(c.existing), &written, nullptr);
    CloseHandle(file);
  }
  AnsiString path;
  try {
    CreateShellLink(path, nullptr, "C:\\x.exe", "", "", 0, "Reader", CSIDL_DESKTOP, 1);
    FAIL() << "no exception";
  } catch (Exception& e) {
    EXPECT_EQ(std::string(e.Message.c_str()).rfind(c.text, 0), 0u) << e.Message.c_str();
  }
}

const char kLink[] = "VQWIN SHELL LINK\r\nTarget=C:\\x.exe\r\n";

INSTANTIATE_TEST_SUITE_P(
    Steps, LinkFailure,
    ::testing::Values(
        FailureCase{"FoundNoObject", "create", kLink,
                    "Couldn't get IShellLink to existing file. hres=80040154 2147746132. psl=0. : The specified "
                    "module could not be found."},
        FailureCase{"FoundNoPersistFile", "persist_file", kLink,
                    "Couldn't get a persist-file interface to the IShellLink for existing file"},
        FailureCase{"FoundLoadFails", "load", kLink, "Error loading the existing IShellLink"},
        FailureCase{"FoundNotALink", "", "MZ garbage", "Error loading the existing IShellLink"},
        FailureCase{"NewNoObject", "create", nullptr, "Unable to create shortcut file"},
        FailureCase{"NewNoPersistFile", "persist_file", nullptr,
                    "Unable to get IPersistFile interface on shortcut just created"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Installer, ShortcutFailureIsShownAndTheAgreementPageStillOpens) {
  Machine(kWin98, kEnglish, "[shell]\nlink_failure = \"create\"\n");
  Create();
  Run("click lblYes\nwait 1500\n");
  const std::vector<std::string> dialogs = Dialogs();
  ASSERT_EQ(dialogs.size(), 2u) << ::testing::PrintToString(dialogs);
  EXPECT_EQ(dialogs[0], "messagebox|VQUSBSetup|Unable to create shortcut file.");
  EXPECT_EQ(dialogs[1], "modalform|Microsoft Smart Card Base Components|LicenseForm");
  // The flow stopped at the shortcut: no last progress step, no final package copy.
  EXPECT_EQ(SetupForm->ProgressBar1->Position, 2);
  EXPECT_TRUE(Exists("C:\\WINDOWS\\scbase\\SCardSvr.exe"));
  EXPECT_FALSE(Exists("C:\\WINDOWS\\scbase\\license.txt"));
  EXPECT_TRUE(Exists("C:\\Program Files\\VQUSB\\vqdiag.exe"));
}

TEST_F(Installer, DesktopLinkOfThatNameIsMovedIntoTheMenuAndAnOlderMenuLinkStays) {
  Machine(kWin98);
  Create();
  MakeDesktop();
  ASSERT_TRUE(vqwin::WriteShellLink(std::string(kDesktop) + "VQUSB Diagnostics.lnk", LinkTo("C:\\desk\\vqdiag.exe")));
  char programs[MAX_PATH];
  SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAMS, TRUE);
  CreateDirectoryA("C:\\WINDOWS\\Start Menu\\Programs\\VQUSB Utility", nullptr);
  ASSERT_TRUE(vqwin::WriteShellLink(std::string(kMenu) + "Installation Guide.lnk", LinkTo("C:\\old\\guide.htm")));
  EXPECT_EQ(InstallProgramFolder(SetupForm), 1);
  EXPECT_EQ(vqwin::ReadShellLink(std::string(kMenu) + "VQUSB Diagnostics.lnk")->target, "C:\\desk\\vqdiag.exe");
  EXPECT_EQ(vqwin::ReadShellLink(std::string(kMenu) + "Installation Guide.lnk")->target, "C:\\old\\guide.htm");
  EXPECT_EQ(vqwin::ReadShellLink(std::string(kMenu) + "Uninstall VQUSB Reader.lnk")->target,
            "C:\\Program Files\\VQUSB\\vqusbunst.exe");
  for (const char* name : {"VQUSB Diagnostics.lnk", "Installation Guide.lnk", "Uninstall VQUSB Reader.lnk"})
    EXPECT_FALSE(Exists(std::string(kDesktop) + name)) << name;
}

// machine.toml gives the shell's folders in UTF-8; the installer sees them in
// the machine's code page. "功" ends in the byte 0x5C in Big5, which is no
// separator.
TEST_F(Installer, LocalizedShellFoldersOfATraditionalChineseSystem) {
  Machine(kWin98, kTaiwan,
          "[shell]\ndesktop = 'C:\\WINDOWS\\桌面'\nprograms = 'C:\\WINDOWS\\「開始」功能表\\程式集'\n");
  Create();
  SetupForm->lblYesClick(SetupForm->lblYes);
  EXPECT_TRUE(Dialogs().empty()) << ::testing::PrintToString(Dialogs());
  const std::string menu = vqwin::FromUtf8("C:\\WINDOWS\\「開始」功能表\\程式集\\VQUSB Utility\\", 950);
  const std::string desktop = vqwin::FromUtf8("C:\\WINDOWS\\桌面\\", 950);
  for (const char* name : {"Uninstall VQUSB Reader", "VQUSB Diagnostics", "Installation Guide"}) {
    EXPECT_TRUE(vqwin::ReadShellLink(menu + name + ".lnk")) << name;
    EXPECT_FALSE(Exists(desktop + name + ".lnk")) << name;
  }
  const auto guide = vqwin::ReadShellLink(menu + "Installation Guide.lnk");
  ASSERT_TRUE(guide);
  EXPECT_EQ(guide->target, "C:\\Program Files\\VQUSB\\CWIN98.htm");
  // No folder of another name beside the two.
  std::vector<std::string> localized;
  for (const std::string& name : Names(vqwin::FromUtf8("C:\\WINDOWS\\*", 950)))
    if (std::any_of(name.begin(), name.end(), [](char c) { return (unsigned char)c >= 0x80; }))
      localized.push_back(name);
  std::sort(localized.begin(), localized.end());
  EXPECT_EQ(localized, (std::vector<std::string>{"「開始」功能表", "桌面"}));
  const std::vector<std::string> inMenu = Names(vqwin::FromUtf8("C:\\WINDOWS\\「開始」功能表\\*", 950));
  EXPECT_EQ(inMenu, std::vector<std::string>{"程式集"});
}

TEST_F(Installer, ProgramFolderWithoutProgramFilesDirAndFlatCopies) {
  WithoutProgramFiles();
  File("D:\\InstallationGuide\\EWIN98.files\\sub\\deep.txt", "deep");
  File("D:\\FAQ\\old\\FAQ_OLD.pdf", "old");
  Machine(kWin98);
  Create();
  EXPECT_EQ(InstallProgramFolder(SetupForm), 1);
  const std::string d = "C:\\Program Files\\VQUSB";
  for (const char* path : {"\\vqdiag.exe", "\\vqusbunst.exe", "\\EWIN98.htm", "\\EWIN98.files\\filelist.xml",
                           "\\FAQ\\VQ_PCSC_Reader_FAQ_CHT.pdf", "\\Foxit Reader\\Foxit.exe"})
    EXPECT_TRUE(Exists(d + path)) << path;
  EXPECT_FALSE(Exists(d + "\\EWIN98.files\\sub"));
  EXPECT_FALSE(Exists(d + "\\FAQ\\old"));
  EXPECT_FALSE(Exists(d + "\\CWIN98.htm"));
  EXPECT_EQ(vqwin::ReadShellLink(std::string(kMenu) + "Installation Guide.lnk")->iconLocation,
            "C:\\Program Files\\Internet Explorer\\iexplore.exe");
}

}  // namespace
}  // namespace setuptest
