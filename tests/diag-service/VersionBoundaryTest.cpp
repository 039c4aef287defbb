// Where the service window tells Windows versions, families and processors
// apart: each table puts a system on both sides of each boundary it has.
#include "ServiceWindow.h"

#include <vqwin/Registry.h>

#include <algorithm>

namespace scmtest {
namespace {

using Versions = ServiceWindow;

// The last 9x-family code (6) lists a snapshot and decides "found" by the
// three processes, with the service controls off; the NT family (7 and up)
// fills the service lists and lists through the process status library,
// which Windows NT 4.0 (7) does not have and 2000 (8) has.
TEST_F(Versions, ListsAndOpeningLinesByFamily) {
  struct {
    const char* name;
    System system;
    bool found;
    bool servicesListed, controlsEnabled;
    const char* firstLine;
    std::vector<std::string> rowsAfterRefresh;
  } const cases[] = {
      {"ME (6)", System::WinMe, true, false, false, "-> Smart Card service status works perfectly.",
       {"0x00000064|SCARDSVR.EXE", "0x00000068|Vqscmon.exe", "0x0000006C|Svcwatch.exe", "0x00000BB8|late.exe"}},
      {"ME (6) without a companion", System::WinMe, false, false, false,
       "-> Some Smart Card service component not found !",
       {"0x00000064|SCARDSVR.EXE", "0x00000068|Vqscmon.exe", "0x00000BB8|late.exe"}},
      // The refresh finds no extended status query there.
      {"NT 4.0 (7)", System::WinNT4, true, true, true, "-> Query service status failed (More data is available).",
       {"|"}},
      {"NT 4.0 (7) without the service", System::WinNT4, false, true, false, "-> Smart Card service not found !",
       {"|"}},
      {"2000 (8)", System::Win2000, true, true, true, "-> Smart Card service status works perfectly.",
       {"4|System", "540|smss.exe", "604|csrss.exe", "628|winlogon.exe", "672|services.exe", "684|lsass.exe",
        "856|svchost.exe", "*1052|SCardSvr.exe", "1480|explorer.exe", "3000|late.exe"}},
  };
  for (const auto& c : cases) {
    vcl::ResetApplication();
    ScmMachine m;
    m.Use(c.system);
    if (c.system == System::WinMe) {
      m.AddProcess("SCARDSVR.EXE", 100).values["path"] = std::string("C:\\WINDOWS\\SYSTEM\\SCARDSVR.EXE");
      m.AddProcess("Vqscmon.exe", 104).values["path"] = std::string("C:\\WINDOWS\\SYSTEM\\Vqscmon.exe");
      if (c.found)
        m.AddProcess("Svcwatch.exe", 108).values["path"] = std::string("C:\\WINDOWS\\SYSTEM\\Svcwatch.exe");
    } else if (!c.found) {
      m.spec().services.clear();
      m.machine().registry().Find("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services")->RemoveChild("SCardSvr");
    }
    m.Open();
    EXPECT_EQ(frmSCM->cbbox_ServiceProcessName->Items->Count > 0, c.servicesListed) << c.name;
    EXPECT_EQ(frmSCM->bbtn_Apply->Enabled, c.controlsEnabled) << c.name;
    EXPECT_EQ(frmSCM->rdogp_Status->Enabled, c.controlsEnabled) << c.name;
    ASSERT_FALSE(m.Info().empty()) << c.name;
    EXPECT_EQ(m.Info().front().text, c.firstLine) << c.name;
    // A refresh lists again by the same path.
    m.AddProcess("late.exe", 3000).values["path"] = std::string("C:\\WINDOWS\\late.exe");
    frmSCM->bbtn_RefreshClick(nullptr);
    std::vector<std::string> rows = m.Rows();
    for (std::string& r : rows)
      if (!r.empty() && r[0] == '*' && c.system == System::WinMe) r.erase(0, 1);  // all three are selected there
    EXPECT_EQ(rows, c.rowsAfterRefresh) << c.name;
  }
}

// The module query before each process's name: the extended one on x64
// from Vista (13) on, the plain one on x86 from 2000 (8) on, none
// otherwise. A process whose modules cannot be enumerated shows only where
// no query is made.
TEST_F(Versions, ModuleQueryByProcessorAndVersion) {
  struct {
    const char* name;
    System system;
    WORD architecture;
    bool rowShown;
  } const cases[] = {
      {"x64 Server 2003 (12): no query", System::Server2003x64, 9, true},
      {"x64 Vista (14): the extended query", System::VistaX64, 9, false},
      {"x86 2000 (8): the plain query", System::Win2000, 0, false},
      {"x86 XP (9): the plain query", System::WinXP, 0, false},
      {"another processor, XP (21): no query", System::WinXP, 5, true},
  };
  for (const auto& c : cases) {
    vcl::ResetApplication();
    ScmMachine m;
    m.Use(c.system);
    m.spec().os.architecture = c.architecture;
    m.AddProcess("nomodules.exe", 3000).values["modules_error"] = int64_t(299);  // ERROR_PARTIAL_COPY
    m.Create();
    const auto rows = m.Rows();
    EXPECT_EQ(std::find(rows.begin(), rows.end(), "3000|nomodules.exe") != rows.end(), c.rowShown) << c.name;
    EXPECT_EQ(std::find(rows.begin(), rows.end(), "*1052|SCardSvr.exe") != rows.end(), true) << c.name;
  }
}

}  // namespace
}  // namespace scmtest
