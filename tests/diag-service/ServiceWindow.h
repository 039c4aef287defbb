// The service control window on a scratch copy of the default machine (XP,
// the smart card service running with automatic start). A test shapes the
// machine (system, language, services, processes), then creates the
// program's four windows as the program entry does.
#pragma once

#include "About.h"
#include "Log.h"
#include "Main.h"
#include "service/SCM_Main.h"
#include "vqdiag.h"

#include <vcl.h>
#include <windows.h>
#include <vqvcl/Loop.h>
#include <vqwin/Machine.h>
#include <vqwin/Record.h>
#include <vqwin/TestMachine.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scmtest {

// With their OsVersionCode: 98 (4), ME (6), NT 4.0 (7), 2000 (8), XP (9),
// Server 2003 x64 (12), Vista x64 (14), 7 x64 (18).
enum class System { WinXP, Win7x64, WinNT4, Win98, WinMe, Win2000, Server2003x64, VistaX64 };

struct InfoLine {
  std::string text;
  int colour;
  bool operator==(const InfoLine& o) const { return text == o.text && colour == o.colour; }
};
std::ostream& operator<<(std::ostream& os, const InfoLine& line);

const int kBlack = 0x000000, kRed = 0x0000FF, kGreen = 0x008000, kBlue = 0xFF0000;

class ScmMachine {
 public:
  ScmMachine();
  virtual ~ScmMachine();
  ScmMachine(const ScmMachine&) = delete;
  ScmMachine& operator=(const ScmMachine&) = delete;

  vqwin::Machine& machine() { return *machine_; }
  vqwin::MachineSpec& spec() { return machine_->spec(); }

  void Use(System system);
  // A Traditional Chinese (Taiwan) system: language 0x0404, code page 950.
  void Taiwanese();
  // The [[services]] record of a service (made when missing), and its
  // start type in the registry.
  vqwin::Record& Service(const std::string& name);
  void SetStartType(const std::string& name, DWORD startType);
  DWORD StartType(const std::string& name);
  // A [[processes]] record ("name", pid).
  vqwin::Record& AddProcess(const std::string& name, int64_t pid);
  void RemoveProcess(const std::string& name);
  // The [security] table.
  vqwin::Record& Security() { return spec().extra["security"]; }
  void PutDebugMarker();

  // The units' start-up and the four windows, as the program entry makes
  // them.
  void Create();
  // Creates them and shows the service window.
  void Open();
  // Runs the message loop for `ms` of machine time.
  void RunFor(uint64_t ms);
  uint64_t Now() const;

  // Lines of the information box and their colours.
  std::vector<InfoLine> Info() const;
  std::vector<std::string> InfoTexts() const;
  void ClearInfo() { frmSCM->rchedt_Info->Clear(); }
  // Rows of the process list: "caption|sub-item", with "*" before a
  // selected row.
  std::vector<std::string> Rows() const;

  static std::string Str(const AnsiString& s) { return s.c_str(); }
  // The run state of a service as the manager reports it (0: not read).
  static DWORD ServiceState(const char* name);
  // UTF-8 of text in the machine's code page, and back.
  static std::string Utf8(const std::string& ansi);
  static std::string Ansi(const char* utf8);

 private:
  vqwin::ScratchMachine scratch_;
  vqwin::Machine* machine_ = nullptr;
  bool unitsStarted_ = false;
};

// The same as a test fixture (a table of cases makes a ScmMachine a case).
class ServiceWindow : public ::testing::Test, public ScmMachine {};

}  // namespace scmtest
