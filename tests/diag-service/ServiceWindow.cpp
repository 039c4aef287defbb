#include "ServiceWindow.h"

#include <vqwin/Clock.h>
#include <vqwin/CodePage.h>
#include <vqwin/FileSystem.h>
#include <vqwin/Registry.h>

#include <ostream>

namespace scmtest {

namespace {
const char kServices[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
}

std::ostream& operator<<(std::ostream& os, const InfoLine& line) {
  return os << "{\"" << line.text << "\", 0x" << std::hex << line.colour << std::dec << "}";
}

ScmMachine::ScmMachine() : scratch_(true) {
  machine_ = &scratch_.Load();
  vcl::ResetApplication();
}

ScmMachine::~ScmMachine() {
  vcl::ResetApplication();
  if (unitsStarted_) FinishProgramUnits();
  SelfForm = nullptr;
  LogForm = nullptr;
  FrmAbout = nullptr;
  frmSCM = nullptr;
}

void ScmMachine::Use(System system) {
  vqwin::OsSpec& os = spec().os;
  switch (system) {
    case System::WinXP:
      break;
    case System::Win7x64:
      os.major = 6, os.minor = 1, os.build = 7601, os.csdVersion = "Service Pack 1";
      os.architecture = 9;
      break;
    case System::WinNT4:
      os.major = 4, os.minor = 0, os.build = 1381, os.csdVersion = "Service Pack 6";
      os.suiteMask = 0;
      break;
    case System::Win2000:
      os.major = 5, os.minor = 0, os.build = 2195, os.csdVersion = "Service Pack 4";
      break;
    case System::Server2003x64:
      os.major = 5, os.minor = 2, os.build = 3790, os.csdVersion = "Service Pack 2";
      os.productType = 3, os.architecture = 9;
      break;
    case System::VistaX64:
      os.major = 6, os.minor = 0, os.build = 6002, os.csdVersion = "Service Pack 2";
      os.architecture = 9;
      break;
    case System::WinMe:
    case System::Win98: {
      os.platformId = 1, os.major = 4, os.minor = 10, os.build = 2222, os.csdVersion = "";
      if (system == System::WinMe) os.minor = 90, os.build = 3000;
      os.suiteMask = 0, os.productType = 0;
      spec().services.clear();
      spec().processes.clear();
      break;
    }
  }
}

void ScmMachine::Taiwanese() {
  spec().locale.langId = 0x0404;
  spec().locale.ansiCodePage = 950;
  spec().locale.oemCodePage = 950;
}

vqwin::Record& ScmMachine::Service(const std::string& name) {
  for (vqwin::Record& r : spec().services)
    if (r.Str("name") == name) return r;
  vqwin::Record r;
  r.values["name"] = name;
  r.values["state"] = std::string("stopped");
  spec().services.push_back(r);
  if (!machine_->registry().Find(kServices + name)) machine_->registry().SetDword(kServices + name, "Start", 3);
  return spec().services.back();
}

void ScmMachine::SetStartType(const std::string& name, DWORD startType) {
  machine_->registry().SetDword(kServices + name, "Start", startType);
}

DWORD ScmMachine::StartType(const std::string& name) {
  return machine_->registry().GetDword(kServices + name, "Start").value_or(0xDEAD);
}

vqwin::Record& ScmMachine::AddProcess(const std::string& name, int64_t pid) {
  vqwin::Record r;
  r.values["name"] = name;
  r.values["pid"] = pid;
  spec().processes.push_back(r);
  return spec().processes.back();
}

void ScmMachine::RemoveProcess(const std::string& name) {
  auto& p = spec().processes;
  for (size_t i = p.size(); i-- > 0;)
    if (p[i].Str("name") == name) p.erase(p.begin() + static_cast<long>(i));
}

void ScmMachine::PutDebugMarker() {
  // The program's folder is its working directory.
  machine_->files().WriteBytes("C:\\Program Files\\VQUSB\\ShowProcessDbg.txt", "");
}

void ScmMachine::Create() {
  // A new start of the program: the units' start-up sees this machine.
  if (unitsStarted_) FinishProgramUnits();
  StartProgramUnits();
  unitsStarted_ = true;
  Application->Initialize();
  CreateProgramWindows();
}

void ScmMachine::Open() {
  Create();
  frmSCM->Visible = true;
}

uint64_t ScmMachine::Now() const { return vqwin::CurrentClock().Now(); }

void ScmMachine::RunFor(uint64_t ms) {
  const uint64_t end = Now() + ms;
  while (Now() < end) {
    auto due = vcl::NextTimerDue();
    if (due && *due <= end) {
      vqwin::CurrentClock().SleepUntil(*due);
      Application->ProcessMessages();
    } else {
      vqwin::CurrentClock().SleepUntil(end);
    }
  }
  Application->ProcessMessages();
}

std::vector<InfoLine> ScmMachine::Info() const {
  std::vector<InfoLine> out;
  TRichEdit* box = frmSCM->rchedt_Info;
  for (int i = 0; i < box->Lines->Count; ++i)
    out.push_back({Utf8(box->Lines->Get(i).str()), static_cast<int>(box->LineColor(i))});
  return out;
}

std::vector<std::string> ScmMachine::InfoTexts() const {
  std::vector<std::string> out;
  for (const InfoLine& l : Info()) out.push_back(l.text);
  return out;
}

std::vector<std::string> ScmMachine::Rows() const {
  std::vector<std::string> out;
  TListItems* items = frmSCM->lstview_Process->Items;
  for (int i = 0; i < items->Count; ++i) {
    TListItem* item = items->Get(i);
    std::string row = item->Selected ? "*" : "";
    row += Str(item->Caption);
    row += "|";
    if (item->SubItems->Count > 0) row += Str(item->SubItems->Get(0));
    out.push_back(row);
  }
  return out;
}

DWORD ScmMachine::ServiceState(const char* name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  const BOOL ok = QueryServiceStatus(service, &status);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return ok ? status.dwCurrentState : 0;
}

std::string ScmMachine::Utf8(const std::string& ansi) { return vqwin::ToUtf8(ansi); }
std::string ScmMachine::Ansi(const char* utf8) { return vqwin::FromUtf8(utf8); }

}  // namespace scmtest
