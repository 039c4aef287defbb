// The Linux launcher: an installation on a copy of an example machine, then
// the diagnostic program on the same machine; the medium options and the
// exit statuses.
#include <gtest/gtest.h>


#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include <vqtest/Launch.h>

namespace {

namespace fs = std::filesystem;

using Result = vqtest::LaunchResult;

Result Launch(const std::string& program, const std::string& arguments) {
  return vqtest::Launch(program + " " + arguments);
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
  std::string Example(const std::string& name, const std::string& as = "") {
    const fs::path copy = folder_ / (as.empty() ? name : as);
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

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Append(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::app) << text; }

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
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

// A medium is copied into a scratch folder and takes the place of the
// machine's D: only when the copy is complete: a copy that fails part-way
// leaves D: as it was, with nothing left beside it, and the next run
// installs from it. A machine that keeps its Windows or program folders on
// D: is refused, and D: is not touched.
TEST_F(Launcher, AMediumIsTakenWholeOrNotAtAll) {
  const fs::path medium = folder_ / "medium";
  ASSERT_EQ(Launch(VQUSBSETUP_LAUNCHER, "--write-medium " + medium.string()).status, 0);
  const fs::path dangling = medium / "SETUP" / "drivers" / "vqusb98.cat";
  const struct {
    const char* name;
    std::string machineToml, registry;  // appended to the example's
    bool danglingLink;
    std::optional<size_t> fileSizeLimit;
    int status;
    std::string says;
  } cases[] = {
      {"dangling-link", "", "", true, {}, 66, "cannot read " + dangling.string() + ": No such file or directory"},
      {"disk-full", "", "", false, 1024, 73, "File too large"},
      {"windows-on-d", "", "", false, {}, 64, "the machine's Windows folder D:\\WINDOWS lies on D:"},
      {"system-on-d", "", "", false, {}, 64, "the machine's system folder D:\\SYSTEM lies on D:"},
      {"programs-on-d", "",
       "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\n\"ProgramFilesDir\"=\"D:\\\\Apps\"\n",
       false, {}, 64, "the machine's program folder D:\\Apps lies on D:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path machine = Example("win98se-en", c.name);
    std::string toml = Read(machine / "machine.toml");
    if (std::string(c.name) == "windows-on-d") toml.replace(toml.find("C:\\WINDOWS"), 2, "D:");
    if (std::string(c.name) == "system-on-d") toml.insert(toml.find("windows_dir"), "system_dir = 'D:\\SYSTEM'\n");
    std::ofstream(machine / "machine.toml", std::ios::trunc) << toml;
    if (!c.registry.empty()) Append(machine / "registry.reg", c.registry);
    const fs::path drive = machine / "D";
    ASSERT_EQ(Launch(VQUSBSETUP_LAUNCHER, "--write-medium " + drive.string()).status, 0);
    Append(drive / "SETUP" / "own.txt", "the machine's own D:\n");
    fs::create_directories(machine / "C");
    const auto before = Tree(drive);
    const auto names = Names(machine);
    if (c.danglingLink) {
      fs::rename(dangling, folder_ / "vqusb98.cat");
      fs::create_symlink(folder_ / "gone", dangling);
    }
    vqtest::LaunchResult r = vqtest::Launch(
        std::string(VQUSBSETUP_LAUNCHER) + " --machine " + machine.string() + " --medium " + medium.string(),
        c.fileSizeLimit);
    if (c.danglingLink) {
      fs::remove(dangling);
      fs::rename(folder_ / "vqusb98.cat", dangling);
    }
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_TRUE(r.Has("VQUSBSetup: --medium " + medium.string() + ": ")) << r.out;
    EXPECT_TRUE(r.Has(c.says)) << r.out;
    EXPECT_EQ(Tree(drive), before);
    EXPECT_EQ(Names(machine), names);
  }
  // The next plain run installs from the D: that was kept.
  Result next = Launch(VQUSBSETUP_LAUNCHER, "--machine " + (folder_ / "disk-full").string() + " " + kInstall +
                                                " --do 'answer IDNO'");
  EXPECT_EQ(next.status, 0) << next.out;
  EXPECT_FALSE(Has(next, "Cannot Copy")) << next.out;
  EXPECT_TRUE(Has(next, "started (WinExec): C:\\WINDOWS\\rundll.exe")) << next.out;
  // A complete copy replaces D: whole.
  Result placed = Launch(VQUSBSETUP_LAUNCHER, "--machine " + (folder_ / "dangling-link").string() + " --medium " +
                                                  medium.string() + " --do 'click lblNo'");
  EXPECT_EQ(placed.status, 0) << placed.out;
  EXPECT_EQ(Tree(folder_ / "dangling-link" / "D"), Tree(medium));
}

// Files and folders in the way are reported with their path and 73, never
// an abort; a medium is reported as written only when every file is.
TEST_F(Launcher, OutputsThatCannotBeMadeAreReported) {
  const fs::path file = folder_ / "a-file";
  std::ofstream(file) << "kept\n";
  const std::string machine = Example("win98se-en");
  std::ofstream(fs::path(machine) / "D") << "kept\n";
  const struct {
    std::string arguments;
    std::optional<size_t> fileSizeLimit;
    std::string says;
  } cases[] = {
      {"--write-medium " + file.string(), {}, "--write-medium " + file.string() + ": cannot make the folder " +
                                                   (file / "SETUP").string() + ": Not a directory"},
      {"--write-medium " + (folder_ / "medium").string(), 1024, "(cannot write " + (folder_ / "medium").string()},
      {"--machine " + machine, {}, "cannot make the folder " + machine + "/D/SETUP: Not a directory"},
      {"--machine " + machine + " --medium " + (folder_ / "medium").string(), {},
       "cannot become the drive D: " + fs::canonical(machine).string() + "/D is not a folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    vqtest::LaunchResult r = vqtest::Launch(std::string(VQUSBSETUP_LAUNCHER) + " " + c.arguments, c.fileSizeLimit);
    EXPECT_EQ(r.status, 73) << r.out;
    EXPECT_TRUE(r.Has(c.says)) << r.out;
    EXPECT_FALSE(r.Has("medium written")) << r.out;
  }
  EXPECT_EQ(Read(file), "kept\n");
  EXPECT_EQ(Read(fs::path(machine) / "D"), "kept\n");
}

// registry.reg and attributes.txt are written whole: when the host takes
// no more bytes, each keeps its earlier content, the run names them and
// ends with 73, and the machine loads again.
TEST_F(Launcher, MachineFilesAreWrittenWholeOrKept) {
  const fs::path machine = Example("win98se-en");
  ASSERT_EQ(Launch(VQUSBSETUP_LAUNCHER, "--write-medium " + (machine / "D").string()).status, 0);
  // Both files longer than the limit below; a read-only file where the
  // installer copies its card monitor, whose attributes it clears.
  Append(machine / "registry.reg", "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Notes]\n\"Text\"=\"" + std::string(3000, 'n') + "\"\n");
  fs::create_directories(machine / "C" / "WINDOWS" / "SYSTEM");
  std::ofstream(machine / "C" / "WINDOWS" / "SYSTEM" / "vqscmon.exe") << "MZ";
  std::string attributes = "00000021 c:\\windows\\system\\vqscmon.exe\n";
  for (int i = 0; i < 100; ++i) attributes += "00000022 c:\\windows\\notes\\note" + std::to_string(i) + ".txt\n";
  std::ofstream(machine / "attributes.txt") << attributes;
  const std::string registry = Read(machine / "registry.reg");
  const auto names = Names(machine);

  vqtest::LaunchResult r = vqtest::Launch(std::string(VQUSBSETUP_LAUNCHER) + " --machine " + machine.string() + " " +
                                              kInstall + " --do 'answer IDNO'",
                                          2048);
  EXPECT_EQ(r.status, 73) << r.out;
  EXPECT_TRUE(r.Has("restart: no")) << r.out;
  for (const char* name : {"registry.reg", "attributes.txt"}) {
    EXPECT_TRUE(r.Has("machine: " + (machine / name).string() + ": not saved (")) << name << "\n" << r.out;
    EXPECT_TRUE(r.Has("File too large); it keeps its earlier content")) << r.out;
  }
  EXPECT_EQ(Read(machine / "registry.reg"), registry);
  EXPECT_EQ(Read(machine / "attributes.txt"), attributes);
  EXPECT_EQ(Names(machine), names);

  Result again = Launch(VQUSBSETUP_LAUNCHER, "--machine " + machine.string() + " " + kInstall + " --do 'answer IDNO'");
  EXPECT_EQ(again.status, 0) << again.out;
  EXPECT_NE(Read(machine / "registry.reg").find("VQUSB"), std::string::npos);
  EXPECT_EQ(Read(machine / "attributes.txt").find("vqscmon.exe"), std::string::npos);
}

// The embedded default machine lives in a temporary folder; when it cannot
// be written there, both launchers say which file and end with 73, leaving
// nothing behind.
TEST_F(Launcher, ADefaultMachineThatCannotBeMadeIsReported) {
  const fs::path temp = folder_ / "tmp";
  fs::create_directories(temp);
  for (const std::string& program : {std::string(VQUSBSETUP_LAUNCHER) + " --do 'click lblNo'",
                                     std::string(VQDIAG_LAUNCHER) + " --dump SelfForm"}) {
    SCOPED_TRACE(program);
    vqtest::LaunchResult r = vqtest::Launch("TMPDIR=" + temp.string() + " " + program, 1024);
    EXPECT_EQ(r.status, 73) << r.out;
    EXPECT_TRUE(r.Has("machine.toml: cannot write ")) << r.out;
    EXPECT_TRUE(r.Has("File too large")) << r.out;
    EXPECT_TRUE(fs::is_empty(temp)) << r.out;
  }
}

}  // namespace
