// vqdiag on Linux: the diagnostic program on a simulated PC, driven by a
// scripted session in place of a person.
#include <vcl.h>
#include <windows.h>
#include <vqvcl/Loop.h>
#include <vqvcl/Session.h>
#include <vqwin/CodePage.h>
#include <vqwin/Machine.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "ExitStatus.h"
#include "Log.h"
#include "vqdiag.h"

namespace {

std::string ProgramPathIn(std::string folder) {
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder + "\\vqdiag.exe";
}

// A path on the machine given on the command line (UTF-8) in the machine's
// code page, as the program takes its texts; false when a character of it has
// no place in that code page.
bool ToMachineText(const std::string& utf8, std::string& out) {
  out = vqwin::FromUtf8(utf8);
  return vqwin::ToUtf8(out) == utf8;
}

int NotInCodePage(const char* option, const std::string& path) {
  std::cerr << "vqdiag: " << option << " " << path << ": not a path in the machine's code page " << GetACP() << "\n";
  return launch::kUsage;
}

const char kNothingToDo[] =
    "vqdiag: nothing to do: without --do, --script, --check, --dump or --print-log the program would open and "
    "close unseen.\n"
    "  --check 1        a whole diagnostic for the VQ 480T, with its report\n"
    "  --dump SelfForm  the main window as text\n"
    "  --help           every option\n";

const char kSaveNeedsCheck[] =
    "vqdiag: --save needs --check MODEL: it saves the report of that diagnostic.\n"
    "  In a session of your own: --do 'click bbtn_ViewLog' --do 'click bbtnSave' --do 'save FILE'\n";

int Run(int argc, char** argv) {
  CLI::App app{"Runs the smart-card reader diagnostic program on a simulated PC as a scripted session."};
  std::string machineDir, programDir, scriptFile;
  std::vector<std::string> actions, dumps;
  bool printLog = false;
  app.add_option("--machine", machineDir, "Machine folder (default: the embedded default machine)");
  app.add_option("--program-dir", programDir,
                 "Folder of the program on the machine, e.g. C:\\VQNANOS (its name pre-selects the reader model)");
  app.add_option("--script", scriptFile, "Session script: one action a line");
  app.add_option("-a,--do", actions, "One session action, run after the script's (repeatable)");
  app.add_option("--dump", dumps, "Print the text dump of this window when the session ends (repeatable)");
  app.add_flag("--print-log", printLog, "Print the report's lines when the session ends");
  int checkModel = -1;
  std::string saveFile;
  app.add_option("--check", checkModel,
                 "Run a whole diagnostic for reader model MODEL (0-8, the combo order) and print the report")
      ->check(CLI::Range(0, 8));
  app.add_option("--save", saveFile,
                 "After --check, save the report through the log window's Save as FILE (a path on the machine)");
  if (const std::optional<int> end = launch::Parse(app, argc, argv)) return *end;
  if (!saveFile.empty() && checkModel < 0) {
    std::cerr << kSaveNeedsCheck;
    return launch::kUsage;
  }
  if (!scriptFile.empty())
    if (const int status = launch::CheckInputFile("vqdiag", "--script", scriptFile)) return status;

  std::unique_ptr<vqwin::Machine> machine;
  try {
    if (!machineDir.empty()) {
      vqwin::LoadOptions options;
      options.clock = vqwin::Clock::Mode::Virtual;
      machine = vqwin::Machine::Load(machineDir, options);
      machine->MakeCurrent();
    } else {
      vqwin::CurrentMachine();  // the embedded default, made before the program starts
    }
    // Paths on the machine reach the program in its code page, as the
    // script's texts do (the save dialog's answer converts --save).
    std::string folder, save;
    if (!ToMachineText(programDir, folder)) return NotInCodePage("--program-dir", programDir);
    if (!ToMachineText(saveFile, save)) return NotInCodePage("--save", saveFile);
    if (!folder.empty()) {
      // Started from its folder, as a shortcut starts it: that folder is the
      // current one too when it exists on the machine.
      vqwin::CurrentMachine().spec().programPath = ProgramPathIn(folder);
      SetCurrentDirectoryA(folder.c_str());
    }
  } catch (const vqwin::MachineError& error) {
    return vqwin::ReportMachineError(error, std::cerr);
  }
  // The machine is checked first: `vqdiag --machine DIR` alone says whether it loads.
  if (actions.empty() && scriptFile.empty() && checkModel < 0 && dumps.empty() && !printLog) {
    std::cerr << kNothingToDo;
    return launch::kUsage;
  }

  std::string script = vcl::Session::Compose(scriptFile, actions);
  if (checkModel >= 0) {
    script += "select cbobox_SelectReader " + std::to_string(checkModel) + "\nclick bbtn_Check\n";
    if (!saveFile.empty())
      script += "click bbtn_ViewLog\nclick bbtnSave\nsave " + saveFile + "\nclick bbtnClose\n";
    printLog = true;
  }

  vcl::Session session(script, std::cout);
  session.Attach();
  // The session's end, the dumps and the report are read from the windows
  // as the program closes, before it destroys them.
  int status = 0;
  bool reported = false;
  auto report = [&] {
    reported = true;
    if (session.Finish() > 0) status = launch::kFailed;
    if (!vcl::DumpForms(dumps, std::cout, std::cerr, "vqdiag")) status = launch::kFailed;
    if (printLog && LogForm != nullptr) {
      TStrings* lines = LogForm->DiagnosticMemo->Lines;
      for (int i = 0; i < lines->Count; ++i) std::cout << vqwin::ToUtf8(lines->Get(i).str()) << "\n";
    }
  };
  vcl::BeforeFormsDestroyed(report);
  WinMain(nullptr, nullptr, nullptr, 0);
  if (!reported) report();

  // Whatever is left goes before the machine it lives on.
  vcl::ResetApplication();
  if (const vqwin::Machine* current = vqwin::CurrentMachineIfAny())
    if (const int unsaved = vqwin::ReportUnsavedFiles(*current, std::cerr)) status = unsaved;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::filesystem::filesystem_error& error) {
    std::cerr << "vqdiag: " << error.path1().string() << ": " << error.code().message() << "\n";
    return launch::kCannotMake;
  }
}
