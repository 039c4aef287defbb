// A machine of a given Windows with the example medium on drive D:, the
// installer's three windows created as the program entry creates them, and
// helpers to look at what the machine holds afterwards.
#pragma once

#include "Dialog.h"
#include "Medium.h"
#include "license.h"
#include "setup.h"

#include <vcl.h>
#include <vqvcl/DialogScript.h>
#include <vqvcl/Loop.h>
#include <vqvcl/Session.h>
#include <vqwin/CodePage.h>
#include <vqwin/Registry.h>
#include <vqwin/ShellLink.h>
#include <vqwin/TestMachine.h>

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace setuptest {

// [os] and [locale] of the systems the tests run on.
inline const char* const kWin95 = "[os]\nplatform = \"9x\"\nmajor = 4\nminor = 0\nbuild = 950\n";
inline const char* const kWin98 =
    "[os]\nplatform = \"9x\"\nmajor = 4\nminor = 10\nbuild = 2222\ncsd = \" A \"\n";
inline const char* const kWinMe = "[os]\nplatform = \"9x\"\nmajor = 4\nminor = 90\nbuild = 3000\n";
inline const char* const kNt4 =
    "[os]\nplatform = \"nt\"\nmajor = 4\nminor = 0\nbuild = 1381\ncsd = \"Service Pack 6\"\n";
inline const char* const kWin2000 = "[os]\nplatform = \"nt\"\nmajor = 5\nminor = 0\nbuild = 2195\n";
inline const char* const kWinXp = "[os]\nplatform = \"nt\"\nmajor = 5\nminor = 1\nbuild = 2600\n";
inline const char* const kWin2003 = "[os]\nplatform = \"nt\"\nmajor = 5\nminor = 2\nbuild = 3790\n";
inline const char* const kVista = "[os]\nplatform = \"nt\"\nmajor = 6\nminor = 0\nbuild = 6000\n";
inline const char* const kEnglish = "[locale]\nlang_id = 0x0409\ncode_page = 1252\n";
inline const char* const kTaiwan = "[locale]\nlang_id = 0x0404\ncode_page = 950\n";
inline const char* const kKorean = "[locale]\nlang_id = 0x0412\ncode_page = 949\n";

class Installer : public ::testing::Test {
 protected:
  Installer() { vcl::ResetApplication(); }
  ~Installer() override {
    vcl::ResetApplication();
    SetupForm = nullptr;
    LicenseForm = nullptr;
    DialogForm = nullptr;
  }

  // Builds and loads the machine: `os` and `locale` TOML, any more TOML,
  // the example medium without the files in `omit`.
  void Machine(const std::string& os, const std::string& locale = kEnglish, const std::string& more = "",
               const std::vector<std::string>& omit = {}) {
    const bool nt = os.find("\"nt\"") != std::string::npos;
    const std::string w = !windowsDir_.empty() ? windowsDir_ : nt ? "C:\\WINNT" : "C:\\WINDOWS";
    const std::string s = nt ? w + "\\system32" : w + "\\SYSTEM";
    scratch_.Toml(os + "windows_dir = '" + w + "'\n" + locale + more);
    scratch_.Registry(
        "REGEDIT4\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\n" +
        std::string(bare_ ? "" : "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\n") + "\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup]\n"
        "\"SourcePath\"=\"D:\\\\WIN98\\\\\"\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices]\n\n" +
        registry_);
    scratch_.File(w + "\\inf\\usb.inf", "[Version]\r\n");
    scratch_.File(w + "\\system32\\drivers\\usbhub.sys", "driver");
    scratch_.File(s + "\\rundll32.exe", "program");
    scratch_.File(w + "\\rundll.exe", "program");
    if (!bare_) scratch_.File("C:\\Program Files\\Internet Explorer\\iexplore.exe", "program");
    for (const auto& [path, bytes] : files_) scratch_.File(path, bytes);
    vqsetup::WriteExampleMedium(scratch_.folder() / "D", omit);
    vqwin::LoadOptions options;
    options.programPath = "D:\\SETUP\\VQUSBSetup.exe";
    options.currentDir = "D:\\SETUP";
    scratch_.Load(options);
  }
  // Set before Machine(): more registry text, files on the machine.
  void Registry(const std::string& regedit4) { registry_ += regedit4 + "\n"; }
  void File(const std::string& path, const std::string& bytes) { files_.push_back({path, bytes}); }
  // Set before Machine(): no "ProgramFilesDir" and no Program Files folder.
  void WithoutProgramFiles() { bare_ = true; }
  void WindowsDir(const std::string& path) { windowsDir_ = path; }

  void Create() {
    Application->Initialize();
    Application->CreateForm(__classid(TSetupForm), &SetupForm);
    Application->CreateForm(__classid(TLicenseForm), &LicenseForm);
    Application->CreateForm(__classid(TDialogForm), &DialogForm);
  }

  // Runs the program's loop on a scripted session; the session's output.
  std::string Run(const std::string& script) {
    std::ostringstream out;
    vcl::Session session(script, out);
    session.Attach();
    Application->Run();
    EXPECT_EQ(session.Errors(), 0) << out.str();
    return out.str();
  }

  vqwin::Machine& machine() { return scratch_.machine(); }
  bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
  std::string Content(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string text(65536, '\0');
    DWORD got = 0;
    ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
    CloseHandle(file);
    text.resize(got);
    return text;
  }
  std::optional<std::string> RegString(const std::string& key, const std::string& value) {
    return machine().registry().GetString("HKEY_LOCAL_MACHINE\\" + key, value);
  }
  std::optional<DWORD> RegDword(const std::string& key, const std::string& value) {
    return machine().registry().GetDword("HKEY_LOCAL_MACHINE\\" + key, value);
  }
  const vqwin::RegValue* RegValue(const std::string& key, const std::string& value) {
    auto k = machine().registry().Find("HKEY_LOCAL_MACHINE\\" + key);
    return k ? static_cast<const vqwin::RegKey&>(*k).Value(value) : nullptr;
  }
  bool RegKeyExists(const std::string& key) { return machine().registry().Find("HKEY_LOCAL_MACHINE\\" + key) != nullptr; }

  // Texts of the dialogs shown, in order: "kind|caption|text".
  static std::vector<std::string> Dialogs() {
    std::vector<std::string> out;
    for (const vcl::DialogRecord& r : vcl::CurrentDialogScript().Records())
      out.push_back(std::string(vcl::DialogKindName(r.kind)) + "|" + r.caption + "|" + r.text);
    return out;
  }
  static std::string Utf8(const AnsiString& s) { return vqwin::ToUtf8(s.c_str()); }

 private:
  vqwin::ScratchMachine scratch_{false};
  std::string registry_;
  bool bare_ = false;
  std::string windowsDir_;
  std::vector<std::pair<std::string, std::string>> files_;
};

}  // namespace setuptest
