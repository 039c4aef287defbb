// The reader devices (\\.\VQUSB0 ...) that CreateFileA opens directly: each
// is named by a reader of the machine, held by the resource manager or free.
#include <windows.h>

#include "ReaderRecords.h"
#include "Text.h"
#include "vqwin/Handles.h"
#include "vqwin/Machine.h"
#include "vqwin/SmartCards.h"

namespace vqwin {
namespace {

class ReaderDevice : public KernelObject {};

std::function<void(const std::string&)> g_observer;

std::shared_ptr<KernelObject> OpenReaderDevice(const std::string& name, DWORD, DWORD, DWORD& error) {
  if (g_observer) g_observer(name);
  Machine* machine = CurrentMachineIfAny();
  if (machine) {
    for (const Record& r : machine->spec().readers) {
      if (!r.Has("device") || !EqualNoCase(r.Str("device"), name)) continue;
      if (EqualNoCase(r.Str("device_open", "held"), "free")) return std::make_shared<ReaderDevice>();
      error = static_cast<DWORD>(r.Int("device_error", ERROR_SHARING_VIOLATION));
      if (error == 0) error = ERROR_SHARING_VIOLATION;
      return nullptr;
    }
  }
  error = ERROR_FILE_NOT_FOUND;
  return nullptr;
}

}  // namespace

void InstallReaderDevices() { SetDeviceOpener(&OpenReaderDevice); }

void SetReaderDeviceObserver(std::function<void(const std::string& name)> observer) {
  g_observer = std::move(observer);
}

}  // namespace vqwin
