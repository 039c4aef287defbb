// USB host driver: what tests and ce-host ask of it besides plugging, such
// as halting an endpoint, and what a client left open.
#include "UsbHostState.h"

namespace vqce::usb {

using namespace detail;

bool SetStall(int id, Endpoint endpoint, Stall stall) {
  auto d = Known(id);
  if (!d) return false;
  const int kind = static_cast<int>(endpoint);
  std::lock_guard<std::mutex> lock(d->mutex);
  d->stall[kind] = stall;
  if (stall == Stall::Error) FailEndpoint(*d, kind, USB_STALL_ERROR);
  // Transfers held back by a hang are tried again.
  d->wake = true;
  d->cv.notify_all();
  return true;
}

size_t TransfersIssued(int id, Endpoint endpoint) {
  auto d = Known(id);
  if (!d) return 0;
  std::lock_guard<std::mutex> lock(d->mutex);
  return d->issued[static_cast<int>(endpoint)];
}

void SetClientCallHook(std::function<void(int id, ClientCall call)> hook) {
  std::lock_guard<std::mutex> lock(H().mutex);
  H().hook = std::move(hook);
}

void UnplugAll() {
  for (int id : Devices()) Unplug(id);
}

bool IsPlugged(int id) { return Known(id) != nullptr; }

std::vector<int> Devices() {
  std::lock_guard<std::mutex> lock(H().mutex);
  std::vector<int> ids;
  for (auto& [id, d] : H().devices) ids.push_back(id);
  return ids;
}

size_t OpenPipes() {
  std::lock_guard<std::mutex> lock(H().mutex);
  size_t n = 0;
  for (auto& [handle, h] : H().handles) n += h.pipe ? 1 : 0;
  return n;
}

size_t OpenTransfers() {
  std::lock_guard<std::mutex> lock(H().mutex);
  size_t n = 0;
  for (auto& [handle, h] : H().handles) n += h.pipe ? 0 : 1;
  return n;
}

}  // namespace vqce::usb
