// vqdiag sessions on machine folders where the machine is awkward: a resource
// manager that never answers, INF files that are read-only, hidden or system,
// a user without administrator rights. What the person gets, and what the
// machine folder holds afterwards.
#include <gtest/gtest.h>


#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <vqtest/Launch.h>

namespace {

namespace fs = std::filesystem;

using Result = vqtest::LaunchResult;

Result Launch(const std::string& arguments) {
  return vqtest::Launch(std::string(VQDIAG_LAUNCHER) + " " + arguments);
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A copy of the example XP machine in a fresh folder of its own.
class MachineSession : public ::testing::Test {
 protected:
  MachineSession() {
    std::string pattern = (fs::temp_directory_path() / "vqdiag-machine-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) machine_ = fs::path(pattern) / "xp";
    fs::copy(VQDIAG_EXAMPLE_MACHINE, machine_, fs::copy_options::recursive);
  }
  ~MachineSession() override {
    std::error_code ignored;
    fs::remove_all(machine_.parent_path(), ignored);
  }
  void AppendToml(const std::string& text) { WriteText(machine_ / "machine.toml", Toml() + "\n" + text); }
  std::string Toml() const { return ReadText(machine_ / "machine.toml"); }
  Result Run(const std::string& arguments) { return Launch("--machine " + machine_.string() + " " + arguments); }

  fs::path machine_;
};

const char kTimedOut[] = "           SCardGetStatusChange Fail : 0x8010000A\n"
                         "           ...................................................FAILED\n";
const char kFailedVerdict[] = "-> [Result] : Some of PC/SC Smart Card Environment Failed.\n";

TEST_F(MachineSession, AResourceManagerThatNeverAnswersEndsTheReaderStepAndTheRunGoesOn) {
  AppendToml("[pcsc]\nstatus_hangs = true\n");
  const Result r = Run("--check 1");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find(std::string("<5>. Communication with Reader (First)\n") + kTimedOut), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(kFailedVerdict), std::string::npos) << r.out;
}

// INF files of every kind of attributes, none under the driver's own name:
// the search reads them all and the stand-in keeps each one's attributes.
TEST_F(MachineSession, TheInfSearchLeavesTheAttributesItFound) {
  std::string toml = Toml();
  const size_t inf = toml.find("path = 'C:\\WINDOWS\\inf\\vqusb.inf'");
  ASSERT_NE(inf, std::string::npos);
  toml.replace(inf, std::string("path = 'C:\\WINDOWS\\inf\\vqusb.inf'").size(), "path = 'C:\\WINDOWS\\oem.txt'");
  WriteText(machine_ / "machine.toml", toml);
  const fs::path folder = machine_ / "C" / "WINDOWS" / "inf";
  WriteText(folder / "a.inf", "; another driver\r\n");
  WriteText(folder / "b.inf", "; another driver\r\n");
  WriteText(folder / "c.inf", "; another driver\r\n");
  WriteText(folder / "oem9.inf", "; VQUSB.INF -- the reader driver\r\n");
  const std::string attributes =
      "# File attributes that differ from the default (hex, then the Windows path)\n"
      "00000001 c:\\windows\\inf\\a.inf\n"
      "00000006 c:\\windows\\inf\\b.inf\n"
      "00000080 c:\\windows\\inf\\c.inf\n"
      "00000027 c:\\windows\\inf\\oem9.inf\n";
  WriteText(machine_ / "attributes.txt", attributes);
  for (int run = 0; run < 2; ++run) {
    const Result r = Run("--check 1");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("           VQUSB.INF..........................................PASSED\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(ReadText(machine_ / "attributes.txt"), attributes) << "run " << run;
  }
}

// A user without administrator rights on a machine whose smart card service
// runs with manual start: the service window shows the service and says
// which change was refused; the registry stays as it was.
TEST_F(MachineSession, WithoutAdministratorRightsTheServiceWindowTellsWhatWasRefused) {
  AppendToml("[security]\nadmin = false\n");
  std::string registry = ReadText(machine_ / "registry.reg");
  const size_t key = registry.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SCardSvr]");
  ASSERT_NE(key, std::string::npos);
  const size_t start = registry.find("\"Start\"=dword:00000002", key);
  ASSERT_NE(start, std::string::npos);
  registry.replace(start, 22, "\"Start\"=dword:00000003");
  WriteText(machine_ / "registry.reg", registry);
  for (const char* opening : {"--do 'click bbtn_SCM'", "--do 'select cbobox_SelectReader 1' --do 'click bbtn_Check'"}) {
    const Result r = Run(std::string(opening) + " --do 'wait 10000' --dump frmSCM");
    EXPECT_EQ(r.status, 0) << r.out;
    for (const char* line : {"| 0x0000FF -> Smart Card service status should be [Start] + [Auto]",
                             "| 0x000000 -> The program attempts to start the following service: SCardSvr",
                             "| 0x0000FF -> Open service failed (Access is denied).",
                             "| 0x0000FF -> Set start type failed (Access is denied)."})
      EXPECT_NE(r.out.find(line), std::string::npos) << opening << ": " << line << "\n" << r.out;
    EXPECT_EQ(r.out.find("not found"), std::string::npos) << opening << "\n" << r.out;
    EXPECT_EQ(r.out.find("successfully"), std::string::npos) << opening << "\n" << r.out;
    EXPECT_EQ(ReadText(machine_ / "registry.reg"), registry) << opening;
  }
}

}  // namespace
