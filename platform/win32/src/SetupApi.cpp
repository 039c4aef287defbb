// SetupPromptReboot: the system's question whether to restart now.
#include <windows.h>
#include <setupapi.h>

#include <map>
#include <mutex>
#include <string>

#include "vqwin/Machine.h"
#include "vqwin/Restarts.h"

namespace vqwin {
namespace {

std::mutex g_mutex;
std::map<std::string, int>& Counts() {
  static std::map<std::string, int> counts;
  return counts;
}

}  // namespace

int RestartRequests() {
  const std::string key = CurrentMachine().folder().string();
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = Counts().find(key);
  return it == Counts().end() ? 0 : it->second;
}

}  // namespace vqwin

extern "C" {

INT WINAPI SetupPromptReboot(HSPFILEQ, HWND Owner, BOOL ScanOnly) {
  if (ScanOnly) return SPFILEQ_REBOOT_RECOMMENDED;
  const int answer = MessageBoxA(Owner,
                                 "You must restart your computer before the new settings will take effect.\n\n"
                                 "Do you want to restart your computer now?",
                                 "System Settings Change", MB_YESNO | MB_ICONQUESTION);
  if (answer != IDYES) return SPFILEQ_REBOOT_RECOMMENDED;
  const std::string key = vqwin::CurrentMachine().folder().string();
  std::lock_guard<std::mutex> lock(vqwin::g_mutex);
  ++vqwin::Counts()[key];
  return SPFILEQ_REBOOT_RECOMMENDED | SPFILEQ_REBOOT_IN_PROGRESS;
}

}  // extern "C"
