#include "vqiokit/SimDevices.h"

#include <cstdlib>
#include <cstdio>
#include <map>
#include <mutex>
#include <sstream>

#include "Internal.h"
#include "vqsim/UsbLink.h"

namespace vqiokit {
namespace detail {
namespace {

struct Registry {
  std::mutex m;
  std::vector<std::shared_ptr<SimDevice>> devices;  // attached, in order
  std::map<std::string, std::shared_ptr<SimDevice>> sockets;  // by path
  bool inProcess = false;  // a test registered devices itself
  int nextId = 1;
};

Registry& Devices() {
  static Registry registry;
  return registry;
}

std::shared_ptr<SimDevice> MakeDevice(int id, std::shared_ptr<vqsim::UsbLink> link,
                                      const DeviceOptions& options) {
  auto d = std::make_shared<SimDevice>();
  d->id = id;
  d->link = std::move(link);
  d->options = options;
  d->vendorId = d->link->VendorId();
  d->productId = d->link->ProductId();
  d->locationId = options.locationId ? options.locationId : d->link->LocationId();
  d->busy = options.busy;
  d->config = IOUSBConfigurationDescriptor{9, 2, 32, 1, 1, 0, 0x80, 50};
  return d;
}

// Connects the sockets of VQUSB_SIM_SOCKETS not yet connected. Caller holds r.m.
void ConnectEnvironmentSockets(Registry& r) {
  const char* list = std::getenv("VQUSB_SIM_SOCKETS");
  if (!list || r.inProcess) return;
  std::stringstream paths(list);
  std::string path;
  while (std::getline(paths, path, ':')) {
    if (path.empty() || r.sockets.count(path)) continue;
    auto link = ConnectSocket(path);
    if (!link) {
      std::fprintf(stderr, "vqiokit: no simulated reader at %s\n", path.c_str());
      continue;
    }
    DeviceOptions options;
    options.linkWaits = true;
    // Location ids must tell devices apart; a socket whose link repeats one
    // gets the next free number.
    uint32_t location = link->LocationId();
    for (bool clash = true; clash;) {
      clash = false;
      for (auto& other : r.devices)
        if (other->locationId == location) clash = true, ++location;
    }
    options.locationId = location ? location : 1;
    auto device = MakeDevice(r.nextId++, std::move(link), options);
    r.sockets[path] = device;
    r.devices.push_back(device);
  }
}

std::shared_ptr<SimDevice> Find(int id) {
  Registry& r = Devices();
  std::lock_guard lock(r.m);
  for (auto& d : r.devices)
    if (d->id == id) return d;
  return nullptr;
}

}  // namespace

std::vector<std::shared_ptr<SimDevice>> MatchDevices(const std::string& className,
                                                     const int64_t* vendorId,
                                                     const int64_t* productId) {
  Registry& r = Devices();
  std::lock_guard lock(r.m);
  ConnectEnvironmentSockets(r);
  std::vector<std::shared_ptr<SimDevice>> found;
  if (className != kIOUSBDeviceClassName) return found;
  for (auto& d : r.devices) {
    std::lock_guard deviceLock(d->m);
    if (d->gone) continue;
    if (vendorId && *vendorId != d->vendorId) continue;
    if (productId && *productId != d->productId) continue;
    found.push_back(d);
  }
  return found;
}

}  // namespace detail

using detail::Devices;

int AttachDevice(std::shared_ptr<vqsim::UsbLink> link, const DeviceOptions& options) {
  auto& r = Devices();
  std::lock_guard lock(r.m);
  r.inProcess = true;
  auto device = detail::MakeDevice(r.nextId++, std::move(link), options);
  r.devices.push_back(device);
  return device->id;
}

void DetachDevice(int id) {
  auto& r = Devices();
  std::lock_guard lock(r.m);
  for (auto it = r.devices.begin(); it != r.devices.end(); ++it) {
    if ((*it)->id != id) continue;
    std::lock_guard deviceLock((*it)->m);
    (*it)->gone = true;
    r.devices.erase(it);
    return;
  }
}

void DetachAll() {
  auto& r = Devices();
  std::lock_guard lock(r.m);
  for (auto& d : r.devices) {
    std::lock_guard deviceLock(d->m);
    d->gone = true;
  }
  r.devices.clear();
  r.sockets.clear();
  r.inProcess = false;
  r.nextId = 1;
}

void SetBusy(int id, bool busy) {
  if (auto d = detail::Find(id)) {
    std::lock_guard lock(d->m);
    d->busy = busy;
  }
}

void SetStalled(int id, bool stalled) {
  if (auto d = detail::Find(id)) {
    std::lock_guard lock(d->m);
    d->stalled = stalled;
  }
}

DeviceStats Stats(int id) {
  if (auto d = detail::Find(id)) {
    std::lock_guard lock(d->m);
    return d->stats;
  }
  return {};
}

size_t LiveObjects() { return static_cast<size_t>(detail::LiveCount().load()); }

}  // namespace vqiokit
