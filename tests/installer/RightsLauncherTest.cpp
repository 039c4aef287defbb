// An installation on Windows NT 4.0 by a user without administrator rights:
// nothing under HKEY_LOCAL_MACHINE can be written, so neither the driver's
// services nor the base components' registration appear, and the installer
// never tells the user that the drivers are installed.
#include <gtest/gtest.h>


#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <vqtest/Launch.h>

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(RightsLauncher, ANonAdministratorsInstallationOnNt4IsNeverReportedAsDone) {
  std::string pattern = (fs::temp_directory_path() / "vqusbsetup-rights-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path machine = fs::path(pattern) / "nt4";
  fs::copy(fs::path(VQ_MACHINES) / "nt4-zh-tw", machine, fs::copy_options::recursive);
  std::ofstream(machine / "machine.toml", std::ios::app) << "\n[security]\nadmin = false\n";
  const std::string registry = ReadText(machine / "registry.reg");

  const std::string command = std::string(VQUSBSETUP_LAUNCHER) + " --machine " + machine.string() +
                              " --do 'click lblYes' --do 'wait 1500' --do 'click YesBtn' --do 'wait 10000'";
  const vqtest::LaunchResult result = vqtest::Launch(command);
  const std::string& out = result.out;
  EXPECT_EQ(result.status, 0) << out;

  EXPECT_NE(out.find("started (WinExec): C:\\WINNT\\system32\\rundll32.exe setupapi,InstallHinfSection"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("DialogForm"), std::string::npos) << out;  // the "drivers installed" notice
  EXPECT_EQ(out.find("System Settings Change"), std::string::npos) << out;  // the restart prompt
  EXPECT_NE(out.find("restart: no"), std::string::npos) << out;
  EXPECT_EQ(ReadText(machine / "registry.reg"), registry);
  fs::remove_all(machine.parent_path());
}

}  // namespace
