// USB host driver: a device's life. Plug builds its records, starts its
// thread, makes it known and calls the matching client's USBDeviceAttach;
// a device that goes away (Unplug, or its link reports it) gets its client's
// close notice once the attach has returned, and is removed when the notice
// has returned.
#include <algorithm>

#include "Threads.h"
#include "UsbHostState.h"
#include "vqce/Registry.h"

namespace vqce::usb::detail {
namespace {

// Delivers the close notice to the client that took the device, stops the
// device's thread and forgets the device. The caller has set `detaching`.
void Detach(const std::shared_ptr<Device>& d) {
  LPDEVICE_NOTIFY_ROUTINE notify = nullptr;
  LPVOID param = nullptr;
  {
    std::unique_lock<std::mutex> lock(d->mutex);
    d->notifyThread = std::this_thread::get_id();
    // The transfers that failed as the device went complete first; their
    // routines run here rather than wait for the device's thread.
    RunQueued(*d, lock);
    if (d->client) {
      notify = d->notify;
      param = d->notifyParam;
    }
  }
  d->link->SetWakeup(nullptr);
  if (notify) notify(param, USB_CLOSE_DEVICE, nullptr, nullptr, nullptr, nullptr);
  {
    // From now on no completion routine runs: those still queued belong to
    // transfers the client left open. The device's thread ends (after a
    // routine it is running).
    std::unique_lock<std::mutex> lock(d->mutex);
    d->stop = true;
    for (Transfer* t : d->callbacks) t->callback = Transfer::Done;
    d->callbacks.clear();
    d->cv.notify_all();
    d->cv.wait(lock, [&] { return d->workerDone; });
  }
  if (d->client) FreeLibrary(d->client);
  {
    std::lock_guard<std::mutex> lock(H().mutex);
    H().devices.erase(d->id);
  }
  std::lock_guard<std::mutex> lock(d->mutex);
  d->removed = true;
  d->notifyThread = {};
  d->cv.notify_all();
}

// A detach on a thread of its own; `arg` is a new std::shared_ptr<Device>.
void DetachOnItsOwn(void* arg) {
  auto* hold = static_cast<std::shared_ptr<Device>*>(arg);
  Detach(*hold);
  delete hold;
}

// Under d.mutex: the device goes now, on the calling thread, when nothing
// else is under way with it.
bool TakeDetach(Device& d) {
  if (d.attaching || d.detaching) return false;
  d.detaching = true;
  return true;
}

// ---- the function table's device calls
DWORD GetUSBDVersion() { return 0x00010002; }

LPCUSB_DEVICE GetDeviceInfo(USB_HANDLE h) {
  auto d = DeviceOf(h);
  return d ? &d->device : nullptr;
}

LPCUSB_INTERFACE FindInterface(LPCUSB_DEVICE device, UCHAR number, UCHAR alternate) {
  if (!device || !device->lpActiveConfig) return nullptr;
  const USB_CONFIGURATION* c = device->lpActiveConfig;
  for (DWORD i = 0; i < c->dwNumInterfaces; ++i) {
    const USB_INTERFACE& itf = c->lpInterfaces[i];
    if (itf.Descriptor.bInterfaceNumber == number && itf.Descriptor.bAlternateSetting == alternate) {
      return &itf;
    }
  }
  return nullptr;
}

// Also while the device is going: its notice then comes once the attach
// that registers it has returned.
BOOL RegisterNotificationRoutine(USB_HANDLE h, LPDEVICE_NOTIFY_ROUTINE routine, LPVOID param) {
  Hook(DeviceOf(h), ClientCall::RegisterNotification);
  auto d = DeviceOf(h);
  if (!d) return FALSE;
  std::lock_guard<std::mutex> lock(d->mutex);
  if (d->detaching) return FALSE;
  d->notify = routine;
  d->notifyParam = param;
  return TRUE;
}

BOOL UnRegisterNotificationRoutine(USB_HANDLE h, LPDEVICE_NOTIFY_ROUTINE routine, LPVOID) {
  auto d = DeviceOf(h);
  if (!d) return FALSE;
  std::lock_guard<std::mutex> lock(d->mutex);
  if (d->notify != routine) return FALSE;
  d->notify = nullptr;
  d->notifyParam = nullptr;
  return TRUE;
}

const USB_FUNCS g_funcs = {
    sizeof(USB_FUNCS),      &GetUSBDVersion,      &GetDeviceInfo,        &FindInterface,
    &OpenPipe,              &ClosePipe,           &AbortPipeTransfers,   &ResetPipe,
    &IsPipeHalted,          &IssueBulkTransfer,   &IssueInterruptTransfer, &IsTransferComplete,
    &GetTransferStatus,     &AbortTransfer,       &CloseTransfer,        &RegisterNotificationRoutine,
    &UnRegisterNotificationRoutine,
};

USB_ENDPOINT_DESCRIPTOR Descriptor(UCHAR address, UCHAR type, USHORT maxPacket) {
  USB_ENDPOINT_DESCRIPTOR e{};
  e.bLength = sizeof(USB_ENDPOINT_DESCRIPTOR);
  e.bDescriptorType = 5;
  e.bEndpointAddress = address;
  e.bmAttributes = type;
  e.wMaxPacketSize = maxPacket;
  e.bInterval = type == USB_ENDPOINT_TYPE_INTERRUPT ? 16 : 0;
  return e;
}

// The device, configuration, interface and endpoint records of a new device.
std::shared_ptr<Device> NewDevice(std::shared_ptr<vqsim::UsbLink> link, const DeviceOptions& options) {
  auto d = std::make_shared<Device>();
  d->link = std::move(link);
  for (const auto& e : options.endpoints) {
    USB_ENDPOINT ep{};
    ep.dwCount = sizeof(USB_ENDPOINT);
    ep.Descriptor = e;
    d->endpoints.push_back(ep);
  }
  d->interface.dwCount = sizeof(USB_INTERFACE);
  d->interface.Descriptor.bLength = sizeof(USB_INTERFACE_DESCRIPTOR);
  d->interface.Descriptor.bDescriptorType = 4;
  d->interface.Descriptor.bNumEndpoints = static_cast<UCHAR>(d->endpoints.size());
  d->interface.Descriptor.bInterfaceClass = 0xFF;
  d->interface.lpEndpoints = d->endpoints.empty() ? nullptr : d->endpoints.data();
  d->config.dwCount = sizeof(USB_CONFIGURATION);
  d->config.Descriptor.bLength = sizeof(USB_CONFIGURATION_DESCRIPTOR);
  d->config.Descriptor.bDescriptorType = 2;
  d->config.Descriptor.bNumInterfaces = 1;
  d->config.Descriptor.bConfigurationValue = 1;
  d->config.dwNumInterfaces = 1;
  d->config.lpInterfaces = &d->interface;
  d->device.dwCount = sizeof(USB_DEVICE);
  d->device.Descriptor.bLength = sizeof(USB_DEVICE_DESCRIPTOR);
  d->device.Descriptor.bDescriptorType = 1;
  d->device.Descriptor.bcdUSB = 0x0110;
  d->device.Descriptor.bMaxPacketSize0 = 8;
  d->device.Descriptor.idVendor = d->link->VendorId();
  d->device.Descriptor.idProduct = d->link->ProductId();
  d->device.Descriptor.bNumConfigurations = 1;
  d->device.lpConfigs = &d->config;
  d->device.lpActiveConfig = &d->config;
  return d;
}

// Offers the device to the clients registered for its ids, in turn, until
// one takes it.
void Attach(const std::shared_ptr<Device>& d, const DeviceOptions& options, PlugResult& result) {
  std::lock_guard<std::mutex> one(H().attach);
  const USB_DEVICE_DESCRIPTOR& desc = d->device.Descriptor;
  const std::wstring group = GroupKey(desc.idVendor, desc.idProduct);
  for (const auto& driverId : registry::SubKeys(HKEY_LOCAL_MACHINE, group)) {
    auto dll = registry::GetString(HKEY_LOCAL_MACHINE, group + L"\\" + driverId, L"Dll");
    if (!dll) continue;
    HMODULE module = LoadLibraryW(dll->c_str());
    if (!module) continue;
    auto attach = reinterpret_cast<LPUSB_DEVICE_ATTACH>(
        reinterpret_cast<void*>(GetProcAddressW(module, L"USBDeviceAttach")));
    USB_DRIVER_SETTINGS settings{};
    settings.dwCount = sizeof(settings);
    settings.dwVendorId = desc.idVendor;
    settings.dwProductId = desc.idProduct;
    settings.dwReleaseNumber = settings.dwDeviceClass = settings.dwDeviceSubClass =
        settings.dwDeviceProtocol = settings.dwInterfaceClass = settings.dwInterfaceSubClass =
            settings.dwInterfaceProtocol = USB_NO_INFO;
    BOOL accept = FALSE;
    const BOOL taken = attach && attach(reinterpret_cast<USB_HANDLE>(d.get()), &g_funcs,
                                        options.passInterface ? &d->interface : nullptr,
                                        driverId.c_str(), &accept, &settings, 0);
    std::lock_guard<std::mutex> lock(d->mutex);
    if (taken && accept) {
      d->client = module;
      result.claimed = true;
      result.driverId = driverId;
      return;
    }
    // A client that did not take the device is not told when it goes.
    d->notify = nullptr;
    d->notifyParam = nullptr;
    FreeLibrary(module);
  }
}

}  // namespace

Host& H() {
  static Host host;
  return host;
}

std::shared_ptr<Device> Known(int id) {
  std::lock_guard<std::mutex> lock(H().mutex);
  auto it = H().devices.find(id);
  return it == H().devices.end() ? nullptr : it->second;
}

std::shared_ptr<Device> DeviceOf(const void* handle) {
  std::lock_guard<std::mutex> lock(H().mutex);
  for (auto& [id, d] : H().devices) {
    if (static_cast<const void*>(d.get()) == handle) return d;
  }
  return nullptr;
}

std::shared_ptr<Device> OwnerOf(const void* handle) {
  std::lock_guard<std::mutex> lock(H().mutex);
  auto it = H().handles.find(handle);
  return it == H().handles.end() ? nullptr : it->second.device;
}

void Hook(const std::shared_ptr<Device>& d, ClientCall call) {
  if (!d) return;
  std::function<void(int, ClientCall)> hook;
  {
    std::lock_guard<std::mutex> lock(H().mutex);
    hook = H().hook;
  }
  if (hook) hook(d->id, call);
}

void MarkGone(const std::shared_ptr<Device>& d) {
  if (!d->gone) {
    d->gone = true;
    FailPending(*d);
    d->cv.notify_all();
  }
  // The caller may be the device's own thread, or hold the device's lock
  // deep inside a client's call: the notice comes from a thread of its own.
  if (TakeDetach(*d)) {
    auto* hold = new std::shared_ptr<Device>(d);
    if (!vqce::detail::StartThread(&DetachOnItsOwn, hold)) {
      delete hold;
      d->detaching = false;  // the next Unplug takes it away
    }
  }
}

}  // namespace vqce::usb::detail

namespace vqce::usb {

using namespace detail;

std::vector<USB_ENDPOINT_DESCRIPTOR> ReaderEndpoints() {
  return {Descriptor(0x81, USB_ENDPOINT_TYPE_BULK, 64), Descriptor(0x02, USB_ENDPOINT_TYPE_BULK, 64),
          Descriptor(0x83, USB_ENDPOINT_TYPE_INTERRUPT, 8)};
}

LPCUSB_FUNCS Funcs() { return &g_funcs; }

PlugResult Plug(std::shared_ptr<vqsim::UsbLink> link, DeviceOptions options) {
  auto d = NewDevice(std::move(link), options);
  d->attachThread = std::this_thread::get_id();
  {
    std::lock_guard<std::mutex> lock(H().mutex);
    d->id = H().nextId++;
  }
  std::weak_ptr<Device> weak = d;
  d->link->SetWakeup([weak] {
    if (auto dev = weak.lock()) {
      std::lock_guard<std::mutex> lock(dev->mutex);
      ++dev->wakeups;
      dev->wake = true;
      dev->cv.notify_all();
    }
  });
  // The device's thread runs before anyone can take the device away.
  auto* hold = new std::shared_ptr<Device>(d);
  if (!vqce::detail::StartThread(&Worker, hold)) {
    delete hold;
    d->link->SetWakeup(nullptr);
    return {};
  }
  {
    std::lock_guard<std::mutex> lock(H().mutex);
    H().devices[d->id] = d;
  }
  PlugResult result;
  result.id = d->id;
  Attach(d, options, result);
  bool goneMeanwhile = false;
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->attaching = false;
    d->attachThread = {};
    goneMeanwhile = d->gone && TakeDetach(*d);
  }
  if (goneMeanwhile) Detach(d);
  return result;
}

bool Unplug(int id) {
  auto d = Known(id);
  if (!d) return false;
  const auto self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(d->mutex);
  // On the device's own threads (its attach, its worker, its notice) the
  // device goes once that thread is done with it; anywhere else Unplug
  // returns when it is gone.
  const bool own = self == d->attachThread || self == d->workerThread || self == d->notifyThread;
  if (!own && TakeDetach(*d)) {
    d->gone = true;
    FailPending(*d);
    lock.unlock();
    Detach(d);
    return true;
  }
  MarkGone(d);
  if (!own) d->cv.wait(lock, [&] { return d->removed; });
  return true;
}

}  // namespace vqce::usb
