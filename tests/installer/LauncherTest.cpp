// The Linux launcher: an installation on a copy of an example machine, then
// the diagnostic program on the same machine; the medium options and the
// exit statuses.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out;
};

Result Launch(const std::string& program, const std::string& arguments) {
  const std::string command = program + " " + arguments + " 2>&1";
  Result result{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool Has(const Result& r, const std::string& text) { return r.out.find(text) != std::string::npos; }

class Launcher : public ::testing::Test {
 protected:
  Launcher() {
    std::string pattern = (fs::temp_directory_path() / "vqusbsetup-launcher-XXXXXX").string();
    folder_ = mkdtemp(pattern.data());
  }
  ~Launcher() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  // A copy of an example machine, as its README asks before an installation.
  std::string Example(const std::string& name) {
    const fs::path copy = folder_ / name;
    fs::copy(fs::path(VQ_MACHINES) / name, copy, fs::copy_options::recursive);
    for (const char* drive : {"C", "D"}) fs::remove_all(copy / drive);
    fs::remove(copy / "attributes.txt");
    return copy.string();
  }
  fs::path folder_;
};

const char kInstall[] = "--do 'click lblYes' --do 'wait 1500' --do 'click YesBtn' --do 'wait 3000'";

TEST_F(Launcher, InstallationThenDiagnosticFindsTheDriver) {
  const std::string machine = Example("win98se-en");
  Result setup = Launch(VQUSBSETUP_LAUNCHER, "--machine " + machine + " " + kInstall + " --do 'answer IDNO'");
  ASSERT_EQ(setup.status, 0) << setup.out;
  EXPECT_TRUE(Has(setup, "started (WinExec): C:\\WINDOWS\\rundll.exe setupx.dll,InstallHinfSection")) << setup.out;
  EXPECT_TRUE(Has(setup, "restart: no")) << setup.out;

  Result diag = Launch(VQDIAG_LAUNCHER, "--machine " + machine +
                                            " --program-dir 'C:\\Program Files\\VQUSB' --do 'select "
                                            "cbobox_SelectReader 1' --do 'click bbtn_Check' --do 'wait 20000' "
                                            "--print-log");
  ASSERT_EQ(diag.status, 0) << diag.out;
  EXPECT_TRUE(Has(diag, "OS Version    : Windows 98 Second Edition")) << diag.out;
  EXPECT_TRUE(Has(diag, "           Resource Manager(5.0.2134.1).......................PASSED")) << diag.out;
  EXPECT_TRUE(Has(diag, "           Smart Card Library(5.0.2134.1).....................PASSED")) << diag.out;
  EXPECT_TRUE(Has(diag, "           VQUSB.SYS(")) << diag.out;
  EXPECT_TRUE(Has(diag, "           VQUSB.INF..........................................PASSED")) << diag.out;
}

TEST_F(Launcher, Nt4InstallationShowsTheNoticeAndRestarts) {
  const std::string machine = Example("nt4-zh-tw");
  Result setup = Launch(VQUSBSETUP_LAUNCHER, "--machine " + machine + " " + kInstall + " --dump SetupForm");
  ASSERT_EQ(setup.status, 0) << setup.out;
  const size_t notice = setup.out.find("dialog modalform \"注意\" \"DialogForm\"");
  const size_t prompt = setup.out.find("dialog messagebox \"System Settings Change\"");
  ASSERT_NE(notice, std::string::npos) << setup.out;
  ASSERT_NE(prompt, std::string::npos) << setup.out;
  EXPECT_LT(notice, prompt);
  EXPECT_TRUE(Has(setup, "restart: yes")) << setup.out;
  EXPECT_TRUE(Has(setup, "position=3")) << setup.out;
  std::ifstream registry(fs::path(machine) / "registry.reg");
  const std::string text((std::istreambuf_iterator<char>(registry)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VQUSB]"),
            std::string::npos);
  EXPECT_NE(text.find("\"DisplayName\"=\"VQUSB PC/SC Smart Card Reader Driver\""), std::string::npos);
}

// What the installer started is printed in UTF-8, not in the machine's code
// page: a Traditional Chinese NT 4.0 with its Windows folder in Chinese.
TEST_F(Launcher, StartedProgramsArePrintedInUtf8) {
  const std::string machine = Example("nt4-zh-tw");
  const fs::path toml = fs::path(machine) / "machine.toml";
  std::ifstream in(toml);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  for (size_t at = text.find("C:\\WINNT"); at != std::string::npos; at = text.find("C:\\WINNT", at))
    text.replace(at, 8, "C:\\視窗");
  std::ofstream(toml) << text;
  Result setup = Launch(VQUSBSETUP_LAUNCHER, "--machine " + machine + " " + kInstall + " --do 'answer IDNO'");
  EXPECT_EQ(setup.status, 0) << setup.out;
  EXPECT_TRUE(Has(setup, "started (WinExec): C:\\視窗\\system32\\rundll32.exe setupapi,InstallHinfSection")) << setup.out;
}

TEST_F(Launcher, AMediumGivenOnTheCommandLine) {
  const fs::path medium = folder_ / "medium";
  ASSERT_EQ(Launch(VQUSBSETUP_LAUNCHER, "--write-medium " + medium.string()).status, 0);
  EXPECT_TRUE(fs::exists(medium / "SETUP" / "smclib" / "SCBASE.INF"));
  fs::remove(medium / "SETUP" / "drivers" / "VQUSB.ncp");
  const std::string machine = Example("winme-ko");
  Result setup = Launch(VQUSBSETUP_LAUNCHER, "--machine " + machine + " --medium " + medium.string() +
                                                 " --do 'click lblYes' --dump SetupForm");
  ASSERT_EQ(setup.status, 0) << setup.out;
  EXPECT_TRUE(Has(setup, "\"Error\" \"Cannot Copy VQUSB.inf, Error Code : 2\"")) << setup.out;
  EXPECT_TRUE(Has(setup, "DelayTimer TTimer enabled=0")) << setup.out;
}

// The INF installer is another process: closing the installer while it
// waits does not stop it, and the diagnostic then finds what it installed.
TEST_F(Launcher, BaseComponentsRunOnWhenTheInstallerIsClosed) {
  const std::string machine = Example("win98se-en");
  Result setup = Launch(VQUSBSETUP_LAUNCHER, "--machine " + machine +
                                                 " --do 'click lblYes' --do 'wait 1500' --do 'click YesBtn'"
                                                 " --do 'close SetupForm'");
  ASSERT_EQ(setup.status, 0) << setup.out;
  EXPECT_TRUE(Has(setup, "restart: no")) << setup.out;
  EXPECT_TRUE(fs::exists(fs::path(machine) / "C" / "WINDOWS" / "SYSTEM" / "SCardSvr.exe"));
  Result diag = Launch(VQDIAG_LAUNCHER, "--machine " + machine +
                                            " --program-dir 'C:\\Program Files\\VQUSB' --check 1 --do 'wait 20000'");
  EXPECT_TRUE(Has(diag, "           Resource Manager(5.0.2134.1).......................PASSED")) << diag.out;
}

std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[fs::relative(entry.path(), root).string()] =
        std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  return files;
}

// The medium is only read, wherever it lies; one that the run would change
// or delete is refused before anything happens.
TEST_F(Launcher, TheMediumIsNeverDeletedNorChanged) {
  const std::string machine = Example("win98se-en");
  const fs::path drive = fs::path(machine) / "D";
  ASSERT_EQ(Launch(VQUSBSETUP_LAUNCHER, "--write-medium " + drive.string()).status, 0);
  const auto before = Tree(drive);
  ASSERT_FALSE(before.empty());
  Result own = Launch(VQUSBSETUP_LAUNCHER, "--machine " + machine + " --medium " + drive.string() + " " + kInstall +
                                               " --do 'answer IDNO'");
  EXPECT_EQ(own.status, 0) << own.out;
  EXPECT_TRUE(Has(own, "started (WinExec): C:\\WINDOWS\\rundll.exe")) << own.out;
  EXPECT_EQ(Tree(drive), before);

  // Inside the machine folder only the drive folder itself is a medium.
  ASSERT_EQ(Launch(VQUSBSETUP_LAUNCHER, "--write-medium " + (drive / "copy").string()).status, 0);
  const auto driveBefore = Tree(drive);
  const struct {
    fs::path medium;
    const char* says;
  } inside[] = {
      {drive / "copy", "lies inside the machine's drive folder"},
      {fs::path(machine) / "C" / "WINDOWS", "lies inside the machine folder"},
      {fs::path(machine) / "C", "lies inside the machine folder"},
  };
  for (const auto& c : inside) {
    SCOPED_TRACE(c.medium.string());
    const auto mediumBefore = Tree(c.medium);
    ASSERT_FALSE(mediumBefore.empty());
    Result nested = Launch(VQUSBSETUP_LAUNCHER, "--machine " + machine + " --medium " + c.medium.string());
    EXPECT_EQ(nested.status, 64) << nested.out;
    EXPECT_TRUE(Has(nested, c.says)) << nested.out;
    EXPECT_EQ(Tree(c.medium), mediumBefore);
    EXPECT_EQ(Tree(drive), driveBefore);
  }

  Result holding = Launch(VQUSBSETUP_LAUNCHER, "--machine " + machine + " --medium " + folder_.string());
  EXPECT_EQ(holding.status, 64) << holding.out;
  EXPECT_TRUE(Has(holding, "holds the machine folder")) << holding.out;
  EXPECT_TRUE(fs::exists(drive / "SETUP" / "VQUSBSetup.exe"));
}

TEST_F(Launcher, MissingMachineIsReportedBeforeAnythingIsMade) {
  const fs::path medium = folder_ / "medium";
  ASSERT_EQ(Launch(VQUSBSETUP_LAUNCHER, "--write-medium " + medium.string()).status, 0);
  const fs::path missing = folder_ / "missing";
  Result setup = Launch(VQUSBSETUP_LAUNCHER, "--machine " + missing.string() + " --medium " + medium.string());
  EXPECT_EQ(setup.status, 66) << setup.out;
  EXPECT_TRUE(Has(setup, "no such machine folder")) << setup.out;
  EXPECT_FALSE(fs::exists(missing));
}

// Actions after the program's end cannot run: both launchers say so and
// exit with 1.
TEST_F(Launcher, ActionsAfterTheProgramEndedFailTheRun) {
  Result setup = Launch(VQUSBSETUP_LAUNCHER, "--machine " + Example("win98se-en") +
                                                 " --do 'click lblNo' --do 'click lblYes' --do 'wait 1500'");
  EXPECT_EQ(setup.status, 1) << setup.out;
  EXPECT_TRUE(Has(setup, "error: line 2: click: not run: the program had ended")) << setup.out;
  EXPECT_TRUE(Has(setup, "error: line 3: wait: not run: the program had ended")) << setup.out;
  Result diag = Launch(VQDIAG_LAUNCHER, "--do 'close SelfForm' --do 'click bbtn_Check'");
  EXPECT_EQ(diag.status, 1) << diag.out;
  EXPECT_TRUE(Has(diag, "error: line 2: click: not run: the program had ended")) << diag.out;
  EXPECT_EQ(Launch(VQDIAG_LAUNCHER, "--do 'select cbobox_SelectReader 1' --do 'close SelfForm'").status, 0);
}

TEST_F(Launcher, BadInputGivesAnExitStatus) {
  EXPECT_EQ(Launch(VQUSBSETUP_LAUNCHER, "--machine " + Example("win98se-en") + " --do 'click NoSuchControl'").status,
            1);
  EXPECT_EQ(Launch(VQUSBSETUP_LAUNCHER, "--machine " + Example("winme-ko") + " --dump NoSuchWindow").status, 1);
  EXPECT_EQ(Launch(VQUSBSETUP_LAUNCHER, "--machine " + (folder_ / "missing").string()).status, 66);
  fs::create_directories(folder_ / "broken");
  std::ofstream(folder_ / "broken" / "machine.toml") << "[os\nmajor = 5\n";
  Result broken = Launch(VQUSBSETUP_LAUNCHER, "--machine " + (folder_ / "broken").string());
  EXPECT_EQ(broken.status, 65) << broken.out;
  EXPECT_TRUE(Has(broken, "machine.toml")) << broken.out;
}

}  // namespace
