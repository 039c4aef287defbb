// ce-host: loads libVQRDCE.so as the Windows CE device manager would, installs
// it with the USB host driver, and runs a script of reader and stream calls.
#include <dlfcn.h>

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>

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
  app.add_option("--speed", speed, "how much faster than real time the platform clock runs")->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  vqce::Clock::SetSpeed(speed);
  void* lib = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    std::cerr << "ce-host: cannot load " << library << ": " << dlerror() << "\n";
    return 2;
  }
  vqce::modules::RegisterDl(L"VQRDCE.dll", lib);
  auto install = reinterpret_cast<BOOL (*)(LPCWSTR)>(dlsym(lib, "USBInstallDriver"));
  auto uninstall = reinterpret_cast<BOOL (*)()>(dlsym(lib, "USBUnInstallDriver"));
  if (!install || !uninstall) {
    std::cerr << "ce-host: " << library << " has no USB client entry points\n";
    return 2;
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
        return 2;
      }
      ok = run.Run(file);
    }
  }
  vqce::usb::UnplugAll();
  std::cout << "USBUnInstallDriver() -> " << (uninstall() ? "TRUE" : "FALSE") << "\n";
  return ok ? 0 : 1;
}
