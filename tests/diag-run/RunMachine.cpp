#include "RunMachine.h"

#include "About.h"
#include "Log.h"
#include "Main.h"
#include "service/SCM_Main.h"
#include "vqdiag.h"

#include <vqvcl/Input.h>
#include <vqvcl/Loop.h>
#include <vqwin/FileSystem.h>
#include <vqwin/PeWriter.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace diagrun {
namespace {

void Write(vqwin::Machine& m, const std::string& path, const std::vector<uint8_t>& bytes) {
  m.files().WriteBytes(path, std::string(bytes.begin(), bytes.end()));
}

vqwin::Record::Value ParseValue(const std::string& text) {
  if (text == "true") return true;
  if (text == "false") return false;
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
  return static_cast<int64_t>(std::stoll(text, nullptr, 0));
}

}  // namespace

RunMachine::RunMachine() : scratch_(true) {
  machine_ = &scratch_.Load();
  vcl::ResetApplication();
}

RunMachine::~RunMachine() {
  vcl::ResetApplication();
  if (unitsStarted_) FinishProgramUnits();
  SelfForm = nullptr;
  LogForm = nullptr;
  FrmAbout = nullptr;
  frmSCM = nullptr;
}

void RunMachine::PutVersioned(const std::string& path, const std::string& version) {
  auto resource = vqwin::VersionResource::FromDotted(version);
  ASSERT_TRUE(resource.has_value()) << version;
  Write(*machine_, path, vqwin::BuildPe(resource));
}

void RunMachine::PutUnversioned(const std::string& path) { Write(*machine_, path, vqwin::BuildPe(std::nullopt)); }

void RunMachine::PutBytes(const std::string& path, const std::string& bytes) {
  machine_->files().WriteBytes(path, bytes);
}

void RunMachine::Remove(const std::string& path) {
  const vqwin::ResolvedPath r = machine_->files().ResolveNative(path);
  std::error_code ignored;
  if (r.exists) std::filesystem::remove(r.hostPath, ignored);
}

vqwin::Record RunMachine::ParseRecord(const std::string& toml) {
  vqwin::Record record;
  std::istringstream in(toml);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    auto trim = [](std::string s) {
      while (!s.empty() && s.front() == ' ') s.erase(s.begin());
      while (!s.empty() && s.back() == ' ') s.pop_back();
      return s;
    };
    record.values[trim(line.substr(0, eq))] = ParseValue(trim(line.substr(eq + 1)));
  }
  return record;
}

void RunMachine::SetReaders(const std::vector<ReaderSpec>& readers) {
  spec().readers.clear();
  for (const ReaderSpec& r : readers) {
    vqwin::Record record = ParseRecord(r.extra);
    if (!record.Has("name_hex")) record.values["name"] = r.name;
    if (!r.card.empty()) {
      record.values["card"] = r.card;
      record.values["atr"] = r.atr;
    }
    spec().readers.push_back(record);
  }
}

void RunMachine::SetPcsc(const std::string& toml) { spec().extra["pcsc"] = ParseRecord(toml); }

void RunMachine::SetService(const std::string& state, bool processListed) {
  for (vqwin::Record& s : spec().services)
    if (s.Str("name") == "SCardSvr") s.values["state"] = state;
  auto& p = spec().processes;
  for (size_t i = p.size(); i-- > 0;) {
    if (p[i].Str("name") != "SCardSvr.exe") continue;
    if (processListed)
      p[i].values.erase("service");  // listed whatever the service's state
    else
      p.erase(p.begin() + static_cast<long>(i));
  }
}

void RunMachine::Use(System system) {
  vqwin::OsSpec& os = spec().os;
  switch (system) {
    case System::WinXP:
      break;
    case System::Win2000:
      os.major = 5, os.minor = 0, os.build = 2195, os.csdVersion = "Service Pack 4";
      os.suiteMask = 0;
      break;
    case System::WinNT4:
      os.major = 4, os.minor = 0, os.build = 1381, os.csdVersion = "Service Pack 6";
      os.suiteMask = 0;
      break;
    case System::Win7x64:
      os.major = 6, os.minor = 1, os.build = 7601, os.csdVersion = "Service Pack 1";
      os.architecture = 9;
      PutVersioned("C:\\WINDOWS\\system32\\SCardSvr.dll", "6.1.7601.17514");
      Remove("C:\\WINDOWS\\system32\\SCardSvr.exe");
      PutVersioned("C:\\WINDOWS\\system32\\drivers\\vqusb64.sys", "2.1.0.6");
      Remove("C:\\WINDOWS\\system32\\drivers\\vqusb.sys");
      break;
    case System::Server2003x64:
      os.major = 5, os.minor = 2, os.build = 3790, os.csdVersion = "Service Pack 2";
      os.productType = 3, os.suiteMask = 0, os.architecture = 9;
      PutVersioned("C:\\WINDOWS\\system32\\drivers\\vqusb64.sys", "2.1.0.6");
      Remove("C:\\WINDOWS\\system32\\drivers\\vqusb.sys");
      break;
    case System::Vista:
      os.major = 6, os.minor = 0, os.build = 6002, os.csdVersion = "Service Pack 2";
      PutVersioned("C:\\WINDOWS\\system32\\SCardSvr.dll", "6.0.6002.18005");
      Remove("C:\\WINDOWS\\system32\\SCardSvr.exe");
      break;
    case System::Win95B:
    case System::WinMe:
    case System::Win98: {
      os.platformId = 1, os.major = 4, os.minor = 10, os.build = 2222, os.csdVersion = "";
      if (system == System::Win95B) os.minor = 0, os.build = 1111, os.csdVersion = " B";
      if (system == System::WinMe) os.minor = 90, os.build = 3000;
      os.suiteMask = 0, os.productType = 0;
      PutVersioned("C:\\WINDOWS\\SYSTEM\\SCARDSVR.EXE", "5.0.1708.2");
      spec().services.clear();
      spec().processes.clear();
      vqwin::Record kernel, server;
      kernel.values["path"] = std::string("C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL");
      server.values["path"] = std::string("C:\\WINDOWS\\SYSTEM\\SCARDSVR.EXE");
      spec().processes = {kernel, server};
      break;
    }
  }
}

void RunMachine::Run(int model, const std::function<void()>& beforeClick) {
  vcl::ResetApplication();
  if (unitsStarted_) FinishProgramUnits();
  StartProgramUnits();
  unitsStarted_ = true;
  Application->Initialize();
  CreateProgramWindows();
  SelfForm->Show();
  if (model >= 0) {
    ASSERT_EQ(vcl::UserSelect(SelfForm->cbobox_SelectReader, model), "");
  }
  if (beforeClick) beforeClick();
  ASSERT_EQ(vcl::UserClick(SelfForm->bbtn_Check), "");
}

std::vector<std::string> RunMachine::Lines() const {
  std::vector<std::string> lines;
  TStrings* memo = LogForm->DiagnosticMemo->Lines;
  for (int i = 0; i < memo->Count; ++i) lines.push_back(memo->Get(i).str());
  return lines;
}

std::string RunMachine::Report() const {
  std::string text;
  for (const std::string& line : Lines()) text += line + "\n";
  return text;
}

void ExpectGolden(const std::string& name, const std::string& report) {
  const std::filesystem::path file = std::filesystem::path(VQ_DIAG_RUN_GOLDEN) / (name + ".txt");
  if (std::getenv("VQ_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(file, std::ios::binary) << report;
    return;
  }
  std::ifstream in(file, std::ios::binary);
  ASSERT_TRUE(in) << "no golden report " << file;
  const std::string golden((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(report, golden) << "report differs from " << file;
}

}  // namespace diagrun
