// ce-host: loads libVQRDCE.so as the Windows CE device manager would, installs
// it with the USB host driver, and runs a script of reader and stream calls.
#include <dlfcn.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "CommandLine.h"
#include "ExitStatus.h"
#include "Script.h"
#include "vqce/Clock.h"
#include "vqce/Modules.h"
#include "vqce/UsbHost.h"

int main(int argc, char** argv) {
  CLI::App app{"Windows CE host for the VQRDCE stream driver, with simulated readers"};
  std::string library = VQRDCE_DEFAULT_LIBRARY;
  std::string script = "-";
  double speed = 1;
  app.add_option("script", script, "script file, - for standard input")->capture_default_str();
  app.add_option("--library", library, "the driver library")->capture_default_str();
  app.add_option("--speed", speed, "how much faster than real time the platform clock runs (1 to 1000000)")
      ->capture_default_str()
      ->check([](const std::string& text) -> std::string {
        double value = 0;
        if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) || value < 1 || value > 1e6)
          return "a number from 1 (real time) to 1000000, not " + text;
        return "";
      });
  if (const std::optional<int> end = launch::Parse(app, argc, argv)) return *end;
  if (script != "-")
    if (const int status = launch::CheckInputFile("ce-host", "script", script)) return status;

  vqce::Clock::SetSpeed(speed);
  std::error_code ec;
  if (!std::filesystem::exists(library, ec)) {
    std::cerr << "ce-host: --library " << library << ": no such file\n";
    return launch::kNoInput;
  }
  void* lib = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    std::cerr << "ce-host: cannot load " << library << ": " << dlerror() << "\n";
    return launch::kBadData;
  }
  vqce::modules::RegisterDl(L"VQRDCE.dll", lib);
  auto install = reinterpret_cast<BOOL (*)(LPCWSTR)>(dlsym(lib, "USBInstallDriver"));
  auto uninstall = reinterpret_cast<BOOL (*)()>(dlsym(lib, "USBUnInstallDriver"));
  if (!install || !uninstall) {
    std::cerr << "ce-host: " << library << " has no USB client entry points\n";
    return launch::kBadData;
  }
  std::cout << "USBInstallDriver(VQRDCE.dll) -> " << (install(L"VQRDCE.dll") ? "TRUE" : "FALSE") << "\n";

  bool ok;
  {
    cehost::Script run(std::cout);
    if (script == "-") {
      ok = run.Run(std::cin);
    } else {
      std::ifstream file(script);
      if (!file) {
        std::cerr << "ce-host: cannot read " << script << "\n";
        return launch::kNoInput;
      }
      ok = run.Run(file);
    }
  }
  vqce::usb::UnplugAll();
  std::cout << "USBUnInstallDriver() -> " << (uninstall() ? "TRUE" : "FALSE") << "\n";
  return ok ? launch::kOk : launch::kFailed;
}
