// The Linux launcher: scripted sessions on machines, dumps and exit status.
#include <gtest/gtest.h>


#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include <vqtest/Launch.h>

namespace {

using Result = vqtest::LaunchResult;

Result Launch(const std::string& arguments) {
  return vqtest::Launch(std::string(VQDIAG_LAUNCHER) + " " + arguments);
}

bool Has(const Result& r, const std::string& text) { return r.out.find(text) != std::string::npos; }

// Every text of the list stands somewhere in the output.
void ExpectAll(const Result& r, std::initializer_list<const char*> texts) {
  for (const char* text : texts) EXPECT_TRUE(Has(r, text)) << text << "\n" << r.out;
}

// A fresh folder of its own (tests of several builds may run at once).
std::filesystem::path ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vqdiag-launcher-XXXXXX").string();
  return mkdtemp(pattern.data()) != nullptr ? std::filesystem::path(pattern) : std::filesystem::path();
}

TEST(Launcher, DumpOfTheMainWindowOnTheDefaultMachine) {
  Result r = Launch("--dump SelfForm");
  ASSERT_EQ(r.status, 0) << r.out;
  ExpectAll(r, {
      "form SelfForm TSelfForm",
      "client=781x585",
      "caption=\"Smart Card Reader Self Testing Program v2.2\"",
      "bbtn_Check TBitBtn pos=2,5 size=155x57 visible=1 enabled=1 caption=\"&Diagnostic\" font=\"Verdana\" 10pt",
      "bbtn_ViewLog TBitBtn pos=157,5 size=155x57 visible=1 enabled=0 caption=\"&View Log\"",
      "bbtn_FAQ TBitBtn pos=312,5 size=155x57",
      "bbtn_SCM TBitBtn pos=467,5 size=155x57",
      "ExitBitBtn TBitBtn pos=622,5 size=155x57",
      "AboutBitBtn TBitBtn pos=622,5 size=155x57 visible=0",
      "Label1 TLabel pos=60,58",
      "Label15 TLabel pos=70,388",
      "Image01 TImage pos=552,84 size=20x20 visible=0",
      "Image02 TImage pos=656,84 size=20x20 visible=0",
      "cbobox_SelectReader TComboBox pos=516,456 size=265x",
      "text=\"Plz select a reader type\"",
      "index=-1",
      "Timer1 TTimer enabled=0 interval=10000",
  });
}

TEST(Launcher, ProgramFolderPreselectsAndActionsRun) {
  Result r = Launch("--program-dir 'C:\\VQNANOS' --do 'click bbtn_SCM' --dump SelfForm --dump frmSCM --print-log");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Has(r, "index=3")) << r.out;
  EXPECT_TRUE(Has(r, "form frmSCM TfrmSCM")) << r.out;
  EXPECT_FALSE(Has(r, "form frmSCM TfrmSCM pos=0,0 size=0x0")) << r.out;
}

// The log is saved under the proposed name in the program's folder.
TEST(Launcher, ProgramFolderIsTheCurrentOne) {
  const std::filesystem::path dir = ScratchFolder();
  ASSERT_FALSE(dir.empty());
  std::filesystem::copy(VQDIAG_EXAMPLE_MACHINE, dir, std::filesystem::copy_options::recursive);
  std::filesystem::create_directories(dir / "C" / "VQNANO");
  Result r = Launch("--machine " + dir.string() +
                    " --program-dir 'C:\\VQNANO' --do 'select cbobox_SelectReader 2' --do 'click bbtn_Check'"
                    " --do 'click bbtn_ViewLog' --do 'click bbtnSave' --do save --do 'click bbtnClose'");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "C" / "VQNANO" / "Diagnostics Log.log")) << r.out;
  std::filesystem::remove_all(dir);
}

// Paths on the command line reach the program in the machine's code page: on
// a Traditional Chinese machine the program's folder is the current one (the
// log is saved there) and its name pre-selects, even where a character's
// second byte is a backslash (功 is A5 5C in Big5). A path the code page can't
// hold is refused.
TEST(Launcher, PathsReachTheProgramInTheMachinesCodePage) {
  const std::filesystem::path dir = ScratchFolder();
  ASSERT_FALSE(dir.empty());
  std::ofstream(dir / "machine.toml") << "[os]\nplatform = \"nt\"\nmajor = 5\nminor = 1\n[locale]\nlang_id = 0x0404\n";
  const struct {
    const char* programDir;
    const char* folder;  // on the host below the machine's C folder: Big5 bytes
    const char* index;
  } cases[] = {
      {"C:\\報告", "\xB3\xF8\xA7\x69", "index=-1"},
      {"C:\\功\\VQNANOS", "\xA5\x5C/VQNANOS", "index=3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.programDir);
    std::filesystem::create_directories(dir / "C" / c.folder);
    Result r = Launch("--machine " + dir.string() + " --program-dir '" + c.programDir +
                      "' --do 'dump SelfForm' --check 1 --save 'Diagnostics Log.log'");
    EXPECT_EQ(r.status, 0) << r.out;
    const size_t combo = r.out.find("cbobox_SelectReader TComboBox");
    ASSERT_NE(combo, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(c.index, combo), r.out.find("index=", combo)) << r.out.substr(combo, 300);
    EXPECT_TRUE(std::filesystem::exists(dir / "C" / c.folder / "Diagnostics Log.log")) << r.out;
  }
  for (const char* option : {"--program-dir 'C:\\한국'", "--check 1 --save 'C:\\한국.log'"}) {
    Result refused = Launch("--machine " + dir.string() + " " + option);
    EXPECT_EQ(refused.status, 64) << option << "\n" << refused.out;
    EXPECT_TRUE(Has(refused, "not a path in the machine's code page 950")) << refused.out;
  }
  std::filesystem::remove_all(dir);
}

// The service window opened and refreshed in a session: every item of both
// groups, the captions, the highlighted process and the opening lines.
TEST(Launcher, ServiceWindowInASession) {
  Result r = Launch("--do 'click bbtn_SCM' --do 'click frmSCM.bbtn_Refresh' --dump frmSCM");
  ASSERT_EQ(r.status, 0) << r.out;
  ExpectAll(r, {
      "caption=\"Smart Card Service Control Tool - Windows XP Professional Service Pack 3 (build 2600) \"",
      "lbl_ServiceDisplayName TLabel pos=8,12",
      "caption=\"Display Name\"",
      "caption=\"Service Name\"",
      "text=\"Smart Card\"",
      "text=\"SCardSvr\"",
      "caption=\"Auto Refresh\"",
      "caption=\"ms\"",
      "caption=\"Staatus\" font=\"Arial\" 10pt/-13px bold",
      "tab=0 index=0 items=[\"START\", \"STOP\", \"SUSPEND\", \"RESUME\"]",
      "caption=\"Type\" font=\"Arial\" 10pt/-13px bold",
      "tab=1 index=0 items=[\"AUTO\", \"MANUAL\", \"DISABLE\"]",
      "caption=\"Information\"",
      "caption=\"Refresh\"",
      "caption=\"Recommend\"",
      "caption=\"Apply\"",
      "caption=\"Cancel\"",
      "caption=\"Process List\"",
      "| 0x008000 -> Smart Card service status works perfectly.",
      "| 0x008000 -> You don't need to set this service",
      "| 0x008000 -> Press [Cancel] to close windows",
      "columns=[\"ID\":50, \"Process\":200]",
      "\"1052\" \"SCardSvr.exe\" selected",
  });
  EXPECT_FALSE(Has(r, "\"System\" selected")) << r.out;
}

TEST(Launcher, BadInputGivesAnExitStatus) {
  EXPECT_EQ(Launch("--do 'click NoSuchControl'").status, 1);
  EXPECT_EQ(Launch("--dump NoSuchWindow").status, 1);
  EXPECT_EQ(Launch("--machine /nonexistent/vqdiag-machine").status, 66);

  const std::filesystem::path dir = ScratchFolder();
  ASSERT_FALSE(dir.empty());
  std::ofstream(dir / "machine.toml") << "[os\nmajor = 5\n";
  Result broken = Launch("--machine " + dir.string());
  EXPECT_EQ(broken.status, 65) << broken.out;
  EXPECT_TRUE(Has(broken, "machine.toml")) << broken.out;
  std::filesystem::remove_all(dir);
}

// A record of the machine takes only the keys the stand-in reads, each with a
// value of its kind: anything else is refused with the file and the line
// (exit 65) before anything is written, as a fixed table's fault is.
TEST(Launcher, MachineRecordsAreCheckedLikeTables) {
  const std::string os = "[os]\nplatform = \"nt\"\nmajor = 5\nminor = 1\n";
  const struct {
    const char* record;  // after the four lines of [os]
    int line;
    const char* problem;
  } cases[] = {
      {"[[services]]\nname = \"SCardSvr\"\nstate = \"runing\"\n", 7, "[[services]].state must be \"stopped\", "},
      {"[[services]]\nname = \"SCardSvr\"\nstart_ms = \"slow\"\n", 7, "[[services]].start_ms must be an integer"},
      {"[[services]]\nname = \"SCardSvr\"\nstart_ms = -2\n", 7, "[[services]].start_ms must be between -1 and"},
      {"[[services]]\nname = \"SCardSvr\"\nstart_eror = 5\n", 7, "unknown key \"start_eror\" in [[services]]"},
      {"[[services]]\nname = \"SCardSvr\"\ndepends = [\"PlugPlay\", 4]\n", 7, "[[services]].depends must hold strings"},
      {"[[readers]]\nname = \"R 0\"\natr = \"zz yy\"\n", 7, "[[readers]].atr must be bytes in hexadecimal"},
      {"[[readers]]\nname = \"R 0\"\natr = \"3B 8\"\n", 7, "[[readers]].atr must be bytes in hexadecimal"},
      {"[[readers]]\nname = \"R 0\"\ncard = \"t9\"\n", 7, "[[readers]].card must be true, false, \"t0\", \"t1\" or \"none\""},
      {"[[readers]]\nname = \"R 0\"\n[readers.card]\nkind = \"t1\"\n", 7, "[[readers]].card must be true, false, \"t0\""},
      {"[[processes]]\nname = \"a.exe\"\nprotected = \"yes\"\n", 7, "[[processes]].protected must be true or false"},
      {"[[file_failures]]\npath = 'C:\\x'\nerorr = 32\n", 7, "unknown key \"erorr\" in [[file_failures]]"},
      {"[pcsc]\nlist_eror = 5\n", 6, "unknown key \"list_eror\" in [pcsc]"},
      {"[pcsc]\nlist_error = 1.5\n", 6, "[pcsc].list_error must be an integer"},
      {"[shell]\ninf_result = \"registered\"\n", 6, "[shell].inf_result must be \"registers\" or \"nothing\""},
      {"[shell]\ninf_delay_ms = -1\n", 6, "[shell].inf_delay_ms must be between 0 and"},
      {"[security]\nadmin = 0\n", 6, "[security].admin must be true or false"},
      {"[functions]\nabsent = [\"GetNativeSystemInf\"]\n", 6, "[functions].absent: \"GetNativeSystemInf\" is no"},
      {"[functions]\npresent = [\"psapi\"]\n", 6, "[functions].present: \"psapi\" is no"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.record);
    const std::filesystem::path dir = ScratchFolder();
    ASSERT_FALSE(dir.empty());
    std::ofstream(dir / "machine.toml") << os << c.record;
    Result r = Launch("--machine " + dir.string() + " --check 1 --save 'C:\\diag.log'");
    EXPECT_EQ(r.status, 65) << r.out;
    EXPECT_TRUE(Has(r, "machine.toml:" + std::to_string(c.line) + ": " + c.problem)) << r.out;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"machine.toml"});
    std::filesystem::remove_all(dir);
  }
  // The values each key may take, at their bounds, load.
  const std::filesystem::path dir = ScratchFolder();
  ASSERT_FALSE(dir.empty());
  std::ofstream(dir / "machine.toml")
      << os
      << "[[services]]\nname = \"SCardSvr\"\nstate = \"Start_Pending\"\nstart_ms = -1\nwait_hint = 4294967295\n"
         "depends = []\n[[readers]]\nname = \"R 0\"\ncard = true\natr = \"3B8F 80\"\n[[readers]]\nname = \"R 1\"\n"
         "card = \"T1\"\natr = \"\"\n[shell]\ninf_delay_ms = 0\n[security]\nadmin = false\n"
         "[functions]\nabsent = [\"PSAPI.DLL\", \"GetNativeSystemInfo\"]\npresent = [\"Process32Next\"]\n";
  Result r = Launch("--machine " + dir.string() + " --dump SelfForm");
  EXPECT_EQ(r.status, 0) << r.out;
  std::filesystem::remove_all(dir);
}

// A command line with nothing to do, or with --save but no report to save,
// is told so with what to do instead (64); the program is not started.
TEST(Launcher, CommandLinesThatDoNothingAreTold) {
  const struct {
    const char* arguments;
    int status;
    const char* says;
  } cases[] = {
      {"", 64, "vqdiag: nothing to do: without --do, --script, --check, --dump or --print-log"},
      {"--program-dir 'C:\\VQNANOS'", 64, "  --check 1        a whole diagnostic for the VQ 480T"},
      {"--save 'C:\\diag.log'", 64, "vqdiag: --save needs --check MODEL"},
      {"--save 'C:\\diag.log' --do 'click bbtn_Check'", 64,
       "--do 'click bbtn_ViewLog' --do 'click bbtnSave' --do 'save FILE'"},
      {"--script /nonexistent/vqdiag.script", 66, "vqdiag: --script /nonexistent/vqdiag.script: cannot be read"},
      {"--check 9", 64, "--check: Value 9 not in range 0 to 8"},
      {"--check -1", 64, "--check"},
      {"--no-such-option", 64, "--no-such-option"},
      {"--help", 0, "--print-log"},
  };
  for (const auto& c : cases) {
    Result r = Launch(c.arguments);
    EXPECT_EQ(r.status, c.status) << c.arguments << "\n" << r.out;
    EXPECT_TRUE(Has(r, c.says)) << c.arguments << "\n" << r.out;
    EXPECT_FALSE(Has(r, "form SelfForm")) << r.out;
  }
  Result saved = Launch("--check 1 --save 'C:\\diag.log' --do 'wait 20000'");
  EXPECT_EQ(saved.status, 0) << saved.out;
  EXPECT_TRUE(Has(saved, "dialog savedialog")) << saved.out;
}

// A start type that the host does not let registry.reg take: the window
// goes on, registry.reg keeps its earlier content, and the run names it and
// ends with 73; the next run finds the start type the file holds.
TEST(Launcher, ARegistryThatCannotBeWrittenIsKeptAndReported) {
  const std::filesystem::path dir = ScratchFolder();
  ASSERT_FALSE(dir.empty());
  std::filesystem::copy(VQDIAG_EXAMPLE_MACHINE, dir, std::filesystem::copy_options::recursive);
  std::ifstream in(dir / "registry.reg", std::ios::binary);
  const std::string before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(before.size(), 1024u);
  // The files that the machine describes are made on its first load.
  ASSERT_EQ(Launch("--machine " + dir.string() + " --dump SelfForm").status, 0);
  vqtest::LaunchResult r = vqtest::Launch(std::string(VQDIAG_LAUNCHER) + " --machine " + dir.string() +
                                              " --do 'click bbtn_SCM' --do 'select frmSCM.rdogp_Type 1'"
                                              " --do 'click frmSCM.bbtn_Apply' --dump frmSCM",
                                          1024);
  EXPECT_EQ(r.status, 73) << r.out;
  EXPECT_TRUE(r.Has("machine: " + (dir / "registry.reg").string() + ": not saved (cannot write ")) << r.out;
  EXPECT_TRUE(r.Has("File too large); it keeps its earlier content")) << r.out;
  std::ifstream after(dir / "registry.reg", std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>()), before);
  Result next = Launch("--machine " + dir.string() + " --do 'click bbtn_SCM' --dump frmSCM");
  EXPECT_EQ(next.status, 0) << next.out;
  EXPECT_TRUE(Has(next, "tab=1 index=0 items=[\"AUTO\"")) << next.out;
  std::filesystem::remove_all(dir);
}

}  // namespace
