// Where the run tells Windows versions, families and processors apart: each
// table puts a system on both sides of each boundary it has.
#include "RunMachine.h"

#include "Main.h"
#include "service/SCM_Main.h"

#include <algorithm>
#include <functional>

namespace diagrun {
namespace {

const char kWin[] = "C:\\WINDOWS\\";
const char kNotActive[] = "           .....................SMART CARD BASE COMPONENT NOT ACTIVE";
const char kSecondHeader[] = "     Communication with Reader (Second)";

std::string Win(const std::string& tail) { return kWin + tail; }

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The first line that begins with `prefix`, or "".
std::string LineStarting(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& l : lines)
    if (l.rfind(prefix, 0) == 0) return l;
  return "";
}

// Step 1 judges the resource manager's version from Windows 2000 on (code
// 8), and looks for it as SCardSvr.dll from Vista on (code 13).
TEST(RunVersions, ResourceManagerByVersionCode) {
  struct {
    const char* name;
    System system;
    const char* line;
  } const cases[] = {
      {"ME (6): 5.0.1708.1 not judged", System::WinMe,
       "           Resource Manager(5.0.1708.1).......................PASSED"},
      {"NT 4.0 (7): 5.0.1708.1 not judged", System::WinNT4,
       "           Resource Manager(5.0.1708.1).......................PASSED"},
      {"2000 (8): 5.0.1708.1 too old", System::Win2000,
       "           Resource Manager(5.0.1708.1).......................FAILED"},
      {"Server 2003 x64 (12): the program file", System::Server2003x64,
       "           Resource Manager(5.0.1708.1).......................FAILED"},
      {"Vista (13): the library", System::Vista,
       "           Resource Manager(6.0.6002.18005).......................PASSED"},
  };
  for (const auto& c : cases) {
    RunMachine m;
    m.Use(c.system);
    const std::string systemDir = m.spec().os.SystemDir();
    // Both files everywhere: the system's own choice of name shows.
    m.PutVersioned(systemDir + "\\SCardSvr.exe", "5.0.1708.1");
    if (c.system != System::Vista) m.Remove(systemDir + "\\SCardSvr.dll");
    else m.PutVersioned(systemDir + "\\SCardSvr.dll", "6.0.6002.18005");
    m.Run(1);
    EXPECT_EQ(LineStarting(m.Lines(), "           Resource Manager"), c.line) << c.name;
  }
}

// Step 2 asks the service manager on the NT family (code 7 and up) and
// the process list by full path on Windows 95/98/ME (6 and below); only
// the NT family skips steps 4 and 5 without the service.
TEST(RunVersions, ServiceStepByFamily) {
  struct {
    const char* name;
    System system;
    bool running;
    const char* line;
    bool notActive;
  } const cases[] = {
      {"ME (6), process running", System::WinMe, true,
       "           SCARDSVR.EXE........................................PASSED", false},
      {"ME (6), no process", System::WinMe, false,
       "           SCARDSVR.EXE........................................FAILED", false},
      {"NT 4.0 (7), service running", System::WinNT4, true,
       "           SCARDSVR.EXE........................................PASSED", false},
      {"NT 4.0 (7), service stopped", System::WinNT4, false,
       "           SCARDSVR.EXE........................................FAILED", true},
  };
  for (const auto& c : cases) {
    RunMachine m;
    m.Use(c.system);
    if (c.system == System::WinMe) {
      if (!c.running) m.spec().processes.pop_back();
    } else if (!c.running) {
      m.SetService("stopped", false);
    }
    m.Run(1);
    const auto lines = m.Lines();
    EXPECT_TRUE(Has(lines, c.line)) << c.name;
    EXPECT_EQ(Has(lines, kNotActive), c.notActive) << c.name;
  }
}

// An INF that the system copied under another name is searched for on every
// Windows but 98 and ME (codes 4 to 6).
TEST(RunVersions, InfSearchOutsideWindows98AndMe) {
  struct {
    const char* name;
    System system;
    const char* verdict;
  } const cases[] = {
      {"95 OSR2 (3)", System::Win95B, "PASSED"},
      {"98 (4)", System::Win98, "FAILED"},
      {"ME (6)", System::WinMe, "FAILED"},
      {"NT 4.0 (7)", System::WinNT4, "PASSED"},
  };
  for (const auto& c : cases) {
    RunMachine m;
    m.Use(c.system);
    m.Remove(Win("inf\\vqusb.inf"));
    m.PutBytes(Win("inf\\oem3.inf"), "; VQUSB reader driver\r\n");
    m.Run(1);
    EXPECT_TRUE(Has(m.Lines(), std::string("           VQUSB.INF..........................................") +
                                   c.verdict))
        << c.name;
  }
}

// Before Windows 2000 (codes 7 and below) the reader's devices are opened
// directly: a device that the resource manager doesn't hold fails the first
// slot and leaves no trace of the second.
TEST(RunVersions, DirectOpensBeforeWindows2000) {
  struct {
    const char* name;
    System system;
    const char* firstOpen;
    bool firstFails, secondShown;
  } const cases[] = {
      {"NT 4.0 (7), first device free", System::WinNT4, "free", true, false},
      {"NT 4.0 (7), second device free", System::WinNT4, "held", false, false},
      {"2000 (8), first device free", System::Win2000, "free", false, true},
      {"2000 (8), second device free", System::Win2000, "held", false, true},
  };
  for (const auto& c : cases) {
    RunMachine m;
    m.Use(c.system);
    m.PutVersioned(Win("system32\\drivers\\vqubus.sys"), "1.3.0.2");
    m.PutVersioned(Win("system32\\drivers\\vquifds.sys"), "1.3.0.5");
    m.SetReaders({{"TERVANE VQVASKT 0", "t1", "3B 00", std::string("device = \"VQUSB0\"\ndevice_open = \"") +
                                                           c.firstOpen + "\""},
                  {"TERVANE VQVASKTSAM 0", "t1", "3B 00", "device = \"VQUSB1\"\ndevice_open = \"free\""}});
    m.Run(5);
    const auto lines = m.Lines();
    EXPECT_EQ(Has(lines, "           Resource Manager does not handle this driver"), c.firstFails) << c.name;
    EXPECT_EQ(Has(lines, kSecondHeader), c.secondShown) << c.name;
  }
}

// The processor decides the driver's file name (and the SysWOW64 fallback):
// x64 and Itanium give 64, x86 and any other processor do not.
TEST(RunVersions, DriverFileByProcessor) {
  struct {
    const char* name;
    WORD architecture;
    const char* file;  // the only driver file on the machine
    const char* line;
  } const cases[] = {
      {"x64", 9, "system32\\drivers\\vqusb64.sys", "           VQUSB64.SYS(1.0.6)...................................PASSED"},
      {"Itanium", 6, "SysWOW64\\drivers\\vqusb64.sys",
       "           VQUSB64.SYS(1.0.6)...................................PASSED"},
      {"x86", 0, "system32\\drivers\\vqusb.sys", "           VQUSB.SYS(1.0.6)...................................PASSED"},
      {"another processor", 5, "system32\\drivers\\vqusb.sys",
       "           VQUSB.SYS(1.0.6)...................................PASSED"},
      {"another processor, driver under SysWOW64 only", 5, "SysWOW64\\drivers\\vqusb.sys",
       "           VQUSB.SYS..........................................FAILED"},
  };
  for (const auto& c : cases) {
    RunMachine m;
    m.Use(System::Win7x64);
    m.Remove(Win("system32\\drivers\\vqusb64.sys"));
    m.spec().os.architecture = c.architecture;
    m.PutVersioned(Win(c.file), "2.1.0.6");
    m.Run(1);
    EXPECT_EQ(LineStarting(m.Lines(), "           VQUSB"), c.line) << c.name;
  }
}

}  // namespace
}  // namespace diagrun
