// VQUSBSetup on Linux: the driver installer on a simulated PC, driven by a
// scripted session in place of a person.
#include <vcl.h>
#include <vqvcl/Session.h>
#include <vqwin/CodePage.h>
#include <vqwin/Machine.h>
#include <vqwin/Restarts.h>
#include <vqwin/Started.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "CommandLine.h"
#include "ExitStatus.h"
#include "Medium.h"
#include "VQUSBSetup.h"

namespace fs = std::filesystem;

namespace {

int Run(int argc, char** argv) {
  CLI::App app{"Runs the VQUSB driver installer on a simulated PC as a scripted session."};
  std::string machineDir, mediumDir, writeMedium, scriptFile;
  std::vector<std::string> actions, dumps;
  app.add_option("--machine", machineDir, "Machine folder (default: the embedded default machine)");
  app.add_option("--medium", mediumDir,
                 "Folder laid out as the installation medium (SETUP\\, InstallationGuide\\, FAQ\\, Foxit Reader\\); "
                 "it becomes the machine's drive D: (default: the machine's own D:, or the example medium "
                 "when D:\\SETUP is missing)");
  app.add_option("--write-medium", writeMedium, "Write the example medium into this folder and exit");
  app.add_option("--script", scriptFile, "Session script: one action a line");
  app.add_option("-a,--do", actions, "One session action, run after the script's (repeatable)");
  app.add_option("--dump", dumps, "Print the text dump of this window when the session ends (repeatable)");
  if (const std::optional<int> end = launch::Parse(app, argc, argv)) return *end;

  if (!writeMedium.empty()) {
    std::string problem;
    if (!vqsetup::WriteExampleMedium(writeMedium, {}, &problem)) {
      std::cerr << "VQUSBSetup: --write-medium " << writeMedium << ": " << problem << "\n";
      return launch::kCannotMake;
    }
    std::cout << "medium written to " << writeMedium << "\n";
    return launch::kOk;
  }
  if (!scriptFile.empty())
    if (const int status = launch::CheckInputFile("VQUSBSetup", "--script", scriptFile)) return status;
  std::error_code ec;
  if (!mediumDir.empty() && !fs::is_directory(mediumDir, ec)) {
    std::cerr << "VQUSBSetup: --medium " << mediumDir << ": no such folder\n";
    return launch::kNoInput;
  }

  std::unique_ptr<vqwin::Machine> machine;
  vqwin::LoadOptions options;
  options.clock = vqwin::Clock::Mode::Virtual;
  options.programPath = std::string(vqsetup::kInstallerFolder) + "\\VQUSBSetup.exe";
  options.currentDir = vqsetup::kInstallerFolder;
  try {
    if (!machineDir.empty()) {
      // A missing or broken machine is reported before anything is made;
      // the drive D: is prepared before the machine is loaded for the run.
      const std::string keepDrive = vqsetup::FoldersOnDriveD(*vqwin::Machine::Load(machineDir, options));
      const fs::path drive = fs::path(machineDir) / "D";
      std::string problem;
      if (!mediumDir.empty()) {
        const int status = vqsetup::PlaceMedium(mediumDir, machineDir, keepDrive, problem);
        if (status != 0) {
          std::cerr << "VQUSBSetup: --medium " << mediumDir << ": " << problem << "\n";
          return status;
        }
        if (!problem.empty()) std::cerr << "VQUSBSetup: --medium " << mediumDir << ": " << problem << "\n";
      } else if (!fs::is_directory(drive / "SETUP", ec) && !vqsetup::WriteExampleMedium(drive, {}, &problem)) {
        std::cerr << "VQUSBSetup: the example medium as the machine's drive D: " << problem << "\n";
        return launch::kCannotMake;
      }
      machine = vqwin::Machine::Load(machineDir, options);
    } else {
      const fs::path folder = fs::temp_directory_path() / ("VQUSBSetup-" + std::to_string(getpid()));
      try {
        machine = vqwin::Machine::CreateDefault(folder, options);
      } catch (const vqwin::MachineError&) {
        fs::remove_all(folder, ec);  // the default machine is thrown away, a half-made one too
        throw;
      }
      std::string problem;
      if (!vqsetup::WriteExampleMedium(machine->folder() / "D", {}, &problem)) {
        std::cerr << "VQUSBSetup: the example medium as the machine's drive D: " << problem << "\n";
        machine.reset();
        fs::remove_all(folder, ec);
        return launch::kCannotMake;
      }
    }
    machine->MakeCurrent();
  } catch (const vqwin::MachineError& error) {
    return vqwin::ReportMachineError(error, std::cerr);
  }

  std::string script = vcl::Session::Compose(scriptFile, actions);

  vcl::Session session(script, std::cout);
  session.Attach();
  WinMain(nullptr, nullptr, nullptr, 0);

  // The INF installer it started is another process: it runs on.
  vqwin::FinishStartedPrograms();

  int status = session.Finish() > 0 ? launch::kFailed : launch::kOk;
  if (!vcl::DumpForms(dumps, std::cout, std::cerr, "VQUSBSetup")) status = launch::kFailed;
  // What the programs wrote is in the machine's code page.
  for (const vqwin::StartedProgram& start : vqwin::StartedPrograms())
    std::cout << "started (" << start.call << "): " << vqwin::ToUtf8(start.file) << " "
              << vqwin::ToUtf8(start.parameters) << "\n";
  std::cout << "restart: " << (vqwin::RestartRequests() > 0 ? "yes" : "no") << "\n";
  vcl::ResetApplication();
  if (const int unsaved = vqwin::ReportUnsavedFiles(*machine, std::cerr)) status = unsaved;
  if (machineDir.empty()) {
    const fs::path folder = machine->folder();
    vqwin::ClearCurrentMachine();
    machine.reset();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const fs::filesystem_error& error) {
    std::cerr << "VQUSBSetup: " << error.path1().string() << ": " << error.code().message() << "\n";
    return launch::kCannotMake;
  }
}
