#include <gtest/gtest.h>
#include <vqwin/Registry.h>
#include <vqwin/TestMachine.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace {

TEST(MachineFile, BrokenMachineTomlIsReportedWithItsLine) {
  struct Case {
    const char* toml;
    int line;
    const char* words;
  } cases[] = {
      {"[os]\nplatform = \"nt\"\nmajor = 5\nminor = \n", 4, ""},                        // TOML syntax
      {"[os]\nplatform = \"nt\"\nmajor = \"five\"\nminor = 1\n", 3, "major must be an integer"},
      {"[os]\nplatform = \"nt\"\nmajor = 5\nminor = 1\nbild = 2600\n", 5, "unknown key \"bild\""},
      {"[locale]\n\ncode_page = 437\n", 3, "code_page 437"},
      {"\n[clock]\nmode = \"fast\"\n", 3, "virtual"},
      {"[clock]\nstart = \"yesterday\"\n", 2, "date and time"},
      {"[[files]]\npath = 'C:\\x.sys'\nversion = \"1.x\"\n", 3, "version"},
      {"[[services]]\nstate = \"running\"\n", 1, "needs a name"},
      {"[gpu]\ncores = 4\n", 1, "unknown table"},
      {"[os]\nmajor = 5\nminor = 1\n", 1, "platform"},
      {"[[file_failures]]\npath = 'C:\\x'\nerror = 32\nop = \"burn\"\n", 4, "op must be"},
  };
  for (const Case& c : cases) {
    vqwin::ScratchMachine scratch(false);
    scratch.Toml(c.toml);
    try {
      scratch.Load();
      ADD_FAILURE() << "loaded: " << c.toml;
    } catch (const vqwin::MachineError& e) {
      EXPECT_EQ(e.line(), c.line) << c.toml << " -> " << e.what();
      EXPECT_NE(e.problem().find(c.words), std::string::npos) << e.what();
      EXPECT_NE(e.file().find("machine.toml"), std::string::npos);
      EXPECT_EQ(e.exitStatus(), vqwin::kExitMachineBroken);
      std::ostringstream out;
      EXPECT_EQ(vqwin::ReportMachineError(e, out), vqwin::kExitMachineBroken);
      EXPECT_NE(out.str().find("machine.toml:" + std::to_string(c.line) + ": "), std::string::npos) << out.str();
    }
  }
}

TEST(MachineFile, MissingFolderOrFileAndBrokenRegistry) {
  try {
    vqwin::Machine::Load("/nonexistent/machine");
    ADD_FAILURE();
  } catch (const vqwin::MachineError& e) {
    EXPECT_EQ(e.exitStatus(), vqwin::kExitMachineMissing);
  }
  vqwin::ScratchMachine scratch;
  scratch.Registry("REGEDIT4\n\n[HKLM\\A]\n\"x\"=dword:\n");
  try {
    scratch.Load();
    ADD_FAILURE();
  } catch (const vqwin::MachineError& e) {
    EXPECT_EQ(e.line(), 4);
    EXPECT_NE(e.file().find("registry.reg"), std::string::npos);
  }
}

TEST(MachineFile, RecordsOfServicesProcessesAndReaders) {
  vqwin::ScratchMachine scratch;
  vqwin::Machine& m = scratch.Load();
  ASSERT_EQ(m.spec().readers.size(), 1u);
  EXPECT_EQ(m.spec().readers[0].Str("name"), "TERVANE VQ480T 0");
  EXPECT_FALSE(m.spec().readers[0].Str("atr").empty());
  ASSERT_FALSE(m.spec().services.empty());
  EXPECT_EQ(m.spec().services[0].Str("name"), "SCardSvr");
  EXPECT_EQ(m.spec().services[0].Str("state"), "running");
  EXPECT_EQ(m.spec().services[0].Int("pid"), 1052);
  EXPECT_EQ(m.registry().GetDword("HKLM\\SYSTEM\\CurrentControlSet\\Services\\SCardSvr", "Start"), 2u);
  bool found = false;
  for (const auto& p : m.spec().processes) found = found || p.Str("name") == "SCardSvr.exe";
  EXPECT_TRUE(found);
}

// Every example machine loads and answers the basic queries.
TEST(MachineFile, ExampleMachinesLoad) {
  struct Case {
    const char* folder;
    DWORD platform, major, minor;
    WORD lang;
    UINT codePage;
  } cases[] = {
      {"winxp-sp3-en", 2, 5, 1, 0x0409, 1252}, {"win7-x64-en", 2, 6, 1, 0x0409, 1252},
      {"nt4-zh-tw", 2, 4, 0, 0x0404, 950},     {"win98se-en", 1, 4, 10, 0x0409, 1252},
      {"winme-ko", 1, 4, 90, 0x0412, 949},
  };
  for (const Case& c : cases) {
    // Work on a copy: the programs write into the machine they run on.
    vqwin::ScratchMachine scratch(false);
    std::filesystem::copy(std::filesystem::path(VQ_MACHINES_DIR) / c.folder, scratch.folder(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    scratch.Load();
    OSVERSIONINFOA v;
    v.dwOSVersionInfoSize = sizeof v;
    ASSERT_TRUE(GetVersionExA(&v)) << c.folder;
    EXPECT_EQ(v.dwPlatformId, c.platform) << c.folder;
    EXPECT_EQ(v.dwMajorVersion, c.major) << c.folder;
    EXPECT_EQ(v.dwMinorVersion, c.minor) << c.folder;
    EXPECT_EQ(GetSystemDefaultLangID(), c.lang) << c.folder;
    EXPECT_EQ(GetACP(), c.codePage) << c.folder;
    char dir[MAX_PATH];
    GetWindowsDirectoryA(dir, sizeof dir);
    EXPECT_NE(GetFileAttributesA(dir), INVALID_FILE_ATTRIBUTES) << c.folder << " " << dir;
  }
}

}  // namespace

namespace {

TEST(MachineFile, TextsReachTheProgramsInTheMachineCodePage) {
  vqwin::ScratchMachine scratch(false);
  scratch.Toml(
      "[locale]\nlang_id = 0x0404\n[identity]\ncomputer_name = \"讀卡機\"\n"
      "[program]\npath = 'C:\\許可\\vqdiag.exe'\n"
      "[[files]]\npath = 'C:\\許可\\說明.txt'\ntext = \"許\"\n");
  scratch.Load();
  char name[50];
  DWORD size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  EXPECT_STREQ(name, "\xC5\xAA\xA5\x64\xBE\xF7");
  // The folder name's second byte is 0x5C, the backslash: the path still splits right.
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  EXPECT_STREQ(path, "C:\\\xB3\x5C\xA5\x69\\vqdiag.exe");
  HANDLE h = CreateFileA("C:\\\xB3\x5C\xA5\x69\\\xBB\xA1\xA9\xFA.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char text[8] = {};
  DWORD got = 0;
  ReadFile(h, text, sizeof text, &got, nullptr);
  CloseHandle(h);
  EXPECT_EQ(std::string(text, got), "\xB3\x5C");
  EXPECT_NE(GetFileAttributesA("C:\\\xB3\x5C\xA5\x69\\\xBB\xA1\xA9\xFA.TXT"), INVALID_FILE_ATTRIBUTES);
}

}  // namespace

namespace {

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(MachineFile, TheXpExampleIsTheEmbeddedDefault) {
  const std::filesystem::path xp = std::filesystem::path(VQ_MACHINES_DIR) / "winxp-sp3-en";
  EXPECT_EQ(Slurp(xp / "machine.toml"), vqwin::DefaultMachineToml());
  EXPECT_EQ(Slurp(xp / "registry.reg"), vqwin::DefaultRegistryReg());
}

}  // namespace
