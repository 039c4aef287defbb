// USB host driver over simulated readers: device records, pipes, bulk and
// interrupt transfers with completion routines, the close-device
// notification, and the client registration of the USB driver library.
#include "vqce/UsbHost.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "vqce/Registry.h"

namespace vqce::usb {
namespace {

constexpr wchar_t kClientDriversKey[] = L"Drivers\\USB\\ClientDrivers";
constexpr wchar_t kLoadClientsKey[] = L"Drivers\\USB\\LoadClients";
// Pending IN transfers are tried again this often (real time), besides every
// wake-up of the link.
constexpr auto kRetryPeriod = std::chrono::milliseconds(2);
constexpr auto kInterruptRetryPeriod = std::chrono::milliseconds(50);

struct Device;

constexpr int kEndpoints = 3;  // Endpoint::BulkIn, BulkOut, InterruptIn
constexpr int kNoEndpoint = -1;

// Which of the reader's endpoints a descriptor names.
int EndpointOf(const USB_ENDPOINT_DESCRIPTOR& e) {
  const UCHAR type = e.bmAttributes & USB_ENDPOINT_TYPE_MASK;
  if (USB_ENDPOINT_DIRECTION_IN(e.bEndpointAddress)) {
    if (type == USB_ENDPOINT_TYPE_BULK) return static_cast<int>(Endpoint::BulkIn);
    if (type == USB_ENDPOINT_TYPE_INTERRUPT) return static_cast<int>(Endpoint::InterruptIn);
    return kNoEndpoint;
  }
  return type == USB_ENDPOINT_TYPE_BULK ? static_cast<int>(Endpoint::BulkOut) : kNoEndpoint;
}

struct Pipe {
  Device* device = nullptr;
  USB_ENDPOINT_DESCRIPTOR endpoint{};
  int kind = kNoEndpoint;
};

struct Transfer {
  Device* device = nullptr;
  Pipe* pipe = nullptr;
  int kind = kNoEndpoint;  // the endpoint of its pipe
  bool in = false;
  bool interrupt = false;
  LPTRANSFER_NOTIFY_ROUTINE routine = nullptr;
  LPVOID param = nullptr;
  uint8_t* buffer = nullptr;
  DWORD size = 0;
  bool complete = false;
  DWORD bytes = 0;
  DWORD error = USB_NOT_COMPLETE_ERROR;
  bool busy = false;  // the link is being asked for it, outside the lock
  enum { NoCallback, Queued, Running, Done } callback = NoCallback;
};

struct Device {
  int id = 0;
  std::shared_ptr<vqsim::UsbLink> link;
  std::vector<USB_ENDPOINT> endpoints;
  USB_INTERFACE interface{};
  USB_CONFIGURATION config{};
  USB_DEVICE device{};
  HMODULE client = nullptr;

  std::mutex mutex;
  std::condition_variable cv;
  uint64_t wakeups = 0;  // counts the link's wake-ups
  bool wake = false;
  bool gone = false;       // transfers fail from now on
  bool detaching = false;  // the close-device notification is under way
  bool stop = false;
  std::set<Pipe*> pipes;
  std::set<Transfer*> transfers;
  std::deque<Transfer*> pending;
  std::deque<Transfer*> callbacks;
  LPDEVICE_NOTIFY_ROUTINE notify = nullptr;
  LPVOID notifyParam = nullptr;
  Stall stall[kEndpoints] = {Stall::None, Stall::None, Stall::None};
  size_t issued[kEndpoints] = {0, 0, 0};
  std::thread worker;
};

struct Host {
  std::mutex mutex;
  std::condition_variable detached;
  std::map<int, std::shared_ptr<Device>> devices;
  std::map<uintptr_t, std::shared_ptr<Device>> owners;  // pipe or transfer -> device
  int nextId = 1;
};

Host& H() {
  static Host host;
  return host;
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
  auto it = H().owners.find(reinterpret_cast<uintptr_t>(handle));
  return it == H().owners.end() ? nullptr : it->second;
}

void Own(const void* handle, const std::shared_ptr<Device>& d) {
  std::lock_guard<std::mutex> lock(H().mutex);
  H().owners[reinterpret_cast<uintptr_t>(handle)] = d;
}

void Disown(const void* handle) {
  std::lock_guard<std::mutex> lock(H().mutex);
  H().owners.erase(reinterpret_cast<uintptr_t>(handle));
}

// Under d.mutex: finishes a transfer and queues its completion routine.
void Finish(Device& d, Transfer* t, DWORD bytes, DWORD error) {
  t->complete = true;
  t->bytes = bytes;
  t->error = error;
  if (t->routine) {
    t->callback = Transfer::Queued;
    d.callbacks.push_back(t);
  }
  d.cv.notify_all();
}

DWORD ErrorOf(vqsim::LinkStatus s) {
  switch (s) {
    case vqsim::LinkStatus::Ok: return USB_NO_ERROR;
    case vqsim::LinkStatus::Stalled: return USB_STALL_ERROR;
    default: return USB_DEVICE_NOT_RESPONDING_ERROR;
  }
}

// One attempt at a transfer on the link, without the device lock.
vqsim::LinkStatus Attempt(Device& d, Transfer* t, size_t* got) {
  *got = 0;
  if (!t->in) {
    auto s = d.link->BulkOut(t->buffer, t->size);
    if (s == vqsim::LinkStatus::Ok) *got = t->size;
    return s;
  }
  return t->interrupt ? d.link->InterruptIn(t->buffer, t->size, got, 0)
                      : d.link->BulkIn(t->buffer, t->size, got, 0);
}

// Under d.mutex: a transfer that a hanging endpoint holds back.
bool HeldBack(const Device& d, const Transfer* t) {
  return t->kind != kNoEndpoint && d.stall[t->kind] == Stall::Hang;
}

// Under d.mutex: the transfers pending on an endpoint complete with an error.
void FailEndpoint(Device& d, int kind, DWORD error) {
  for (auto it = d.pending.begin(); it != d.pending.end();) {
    if ((*it)->kind == kind) {
      Transfer* t = *it;
      it = d.pending.erase(it);
      Finish(d, t, 0, error);
    } else {
      ++it;
    }
  }
}

// Under d.mutex: the device is gone; every pending transfer fails.
void FailPending(Device& d) {
  d.gone = true;
  while (!d.pending.empty()) {
    Transfer* t = d.pending.front();
    d.pending.pop_front();
    Finish(d, t, 0, USB_DEVICE_NOT_RESPONDING_ERROR);
  }
}

void DetachLater(int id) {
  std::thread([id] { Unplug(id); }).detach();
}

void Worker(Device* d) {
  std::unique_lock<std::mutex> lock(d->mutex);
  bool detachStarted = false;
  while (!d->stop) {
    if (!d->callbacks.empty()) {
      Transfer* t = d->callbacks.front();
      d->callbacks.pop_front();
      t->callback = Transfer::Running;
      lock.unlock();
      t->routine(t->param);
      lock.lock();
      t->callback = Transfer::Done;
      d->cv.notify_all();
      continue;
    }
    if (!d->gone && !d->pending.empty()) {
      d->wake = false;
      std::vector<Transfer*> tries(d->pending.begin(), d->pending.end());
      for (Transfer* t : tries) {
        if (std::find(d->pending.begin(), d->pending.end(), t) == d->pending.end()) continue;
        if (HeldBack(*d, t)) continue;
        t->busy = true;
        lock.unlock();
        size_t got = 0;
        auto s = Attempt(*d, t, &got);
        lock.lock();
        t->busy = false;
        d->cv.notify_all();
        auto it = std::find(d->pending.begin(), d->pending.end(), t);
        if (it == d->pending.end()) continue;  // cancelled meanwhile
        if (s == vqsim::LinkStatus::Timeout) continue;
        d->pending.erase(it);
        Finish(*d, t, static_cast<DWORD>(got), ErrorOf(s));
        if (s == vqsim::LinkStatus::Unplugged) FailPending(*d);
      }
    }
    if (d->gone && !d->detaching && !detachStarted) {
      detachStarted = true;
      DetachLater(d->id);
    }
    if (!d->callbacks.empty()) continue;
    const bool live = std::any_of(d->pending.begin(), d->pending.end(),
                                  [&](Transfer* t) { return !HeldBack(*d, t); });
    if (!live || d->gone) {
      d->cv.wait(lock, [&] { return d->stop || !d->callbacks.empty() || d->wake ||
                                    (d->gone && !d->detaching && !detachStarted); });
    } else {
      // Interrupt data is announced by the link's wake-up; bulk data is not.
      const bool bulk = std::any_of(d->pending.begin(), d->pending.end(),
                                    [&](Transfer* t) { return !t->interrupt && !HeldBack(*d, t); });
      d->cv.wait_for(lock, bulk ? kRetryPeriod : kInterruptRetryPeriod,
                     [&] { return d->stop || !d->callbacks.empty() || d->wake; });
    }
    d->wake = false;
  }
}

USB_TRANSFER Issue(USB_PIPE hPipe, LPTRANSFER_NOTIFY_ROUTINE routine, LPVOID param, DWORD flags,
                   DWORD size, LPVOID buffer, bool interrupt) {
  auto owner = OwnerOf(hPipe);
  Pipe* pipe = reinterpret_cast<Pipe*>(hPipe);
  if (!owner || (size && !buffer)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Device& d = *owner;
  auto* t = new Transfer;
  t->device = &d;
  t->pipe = pipe;
  t->kind = pipe->kind;
  t->interrupt = interrupt;
  t->routine = routine;
  t->param = param;
  t->buffer = static_cast<uint8_t*>(buffer);
  t->size = size;
  uint64_t wakeupsBefore;
  Stall stall = Stall::None;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.gone || !d.pipes.count(pipe)) {
      delete t;
      SetLastError(ERROR_DEVICE_NOT_AVAILABLE);
      return nullptr;
    }
    t->in = (flags & USB_IN_TRANSFER) != 0;
    d.transfers.insert(t);
    if (t->kind != kNoEndpoint) {
      ++d.issued[t->kind];
      stall = d.stall[t->kind];
    }
    t->busy = stall == Stall::None;
    wakeupsBefore = d.wakeups;
  }
  Own(t, owner);
  size_t got = 0;
  // A halted endpoint never reaches the device: it fails at once, or holds
  // the transfer back.
  auto s = stall == Stall::Error ? vqsim::LinkStatus::Stalled : vqsim::LinkStatus::Timeout;
  if (stall == Stall::None) s = Attempt(d, t, &got);
  std::unique_lock<std::mutex> lock(d.mutex);
  t->busy = false;
  // Halted with an error while it was tried: it fails as the pending ones did.
  if (s == vqsim::LinkStatus::Timeout && t->kind != kNoEndpoint && d.stall[t->kind] == Stall::Error) {
    s = vqsim::LinkStatus::Stalled;
  }
  if (s == vqsim::LinkStatus::Timeout && (t->in || stall == Stall::Hang)) {
    d.pending.push_back(t);
    // A wake-up between the attempt and now must not be lost.
    if (d.wakeups != wakeupsBefore) d.wake = true;
    d.cv.notify_all();
  } else {
    Finish(d, t, static_cast<DWORD>(got), ErrorOf(s));
    if (s == vqsim::LinkStatus::Unplugged) FailPending(d);
    // Done at once: the completion routine runs now, on the issuing thread,
    // rather than waiting for the device thread to be scheduled.
    auto queued = std::find(d.callbacks.begin(), d.callbacks.end(), t);
    if (queued != d.callbacks.end()) {
      d.callbacks.erase(queued);
      t->callback = Transfer::Running;
      lock.unlock();
      routine(param);
      lock.lock();
      t->callback = Transfer::Done;
      d.cv.notify_all();
    }
  }
  if (!routine && !(flags & USB_NO_WAIT)) {
    // A call without completion routine returns when the transfer is done:
    // as on the platform, no time-out. The link answers or fails each try;
    // only a hanging endpoint holds it, until the stall is cleared, the pipe
    // is closed or the device goes.
    d.cv.wait(lock, [&] { return t->complete; });
  }
  return reinterpret_cast<USB_TRANSFER>(t);
}

// ---- the function table
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

USB_PIPE OpenPipe(USB_HANDLE h, LPCUSB_ENDPOINT_DESCRIPTOR ep) {
  auto d = DeviceOf(h);
  if (!d || !ep) return nullptr;
  auto* p = new Pipe;
  p->device = d.get();
  p->endpoint = *ep;
  p->kind = EndpointOf(*ep);
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->gone) {
      delete p;
      return nullptr;
    }
    d->pipes.insert(p);
  }
  Own(p, d);
  return reinterpret_cast<USB_PIPE>(p);
}

BOOL ClosePipe(USB_PIPE hPipe) {
  auto d = OwnerOf(hPipe);
  Pipe* p = reinterpret_cast<Pipe*>(hPipe);
  if (!d) return FALSE;
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->pipes.erase(p)) return FALSE;
    // Transfers still pending on the pipe are aborted.
    for (auto it = d->pending.begin(); it != d->pending.end();) {
      if ((*it)->pipe == p) {
        Transfer* t = *it;
        it = d->pending.erase(it);
        Finish(*d, t, 0, USB_CANCELED_ERROR);
      } else {
        ++it;
      }
    }
    for (Transfer* t : d->transfers) {
      if (t->pipe == p) t->pipe = nullptr;
    }
  }
  Disown(p);
  delete p;
  return TRUE;
}

BOOL AbortPipeTransfers(USB_PIPE hPipe, DWORD) {
  auto d = OwnerOf(hPipe);
  if (!d) return FALSE;
  std::lock_guard<std::mutex> lock(d->mutex);
  for (auto it = d->pending.begin(); it != d->pending.end();) {
    if ((*it)->pipe == reinterpret_cast<Pipe*>(hPipe)) {
      Transfer* t = *it;
      it = d->pending.erase(it);
      Finish(*d, t, 0, USB_CANCELED_ERROR);
    } else {
      ++it;
    }
  }
  return TRUE;
}

BOOL ResetPipe(USB_PIPE hPipe) {
  auto d = OwnerOf(hPipe);
  if (!d) return FALSE;
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    const int kind = reinterpret_cast<Pipe*>(hPipe)->kind;
    if (kind != kNoEndpoint) d->stall[kind] = Stall::None;
    d->wake = true;
    d->cv.notify_all();
  }
  return d->link->ClearStall() == vqsim::LinkStatus::Ok;
}

BOOL IsPipeHalted(USB_PIPE hPipe, LPBOOL halted) {
  auto d = OwnerOf(hPipe);
  if (!d || !halted) return FALSE;
  std::lock_guard<std::mutex> lock(d->mutex);
  const int kind = reinterpret_cast<Pipe*>(hPipe)->kind;
  *halted = kind != kNoEndpoint && d->stall[kind] != Stall::None;
  return TRUE;
}

USB_TRANSFER IssueBulkTransfer(USB_PIPE p, LPTRANSFER_NOTIFY_ROUTINE r, LPVOID param, DWORD flags,
                               DWORD size, LPVOID buffer, ULONG) {
  return Issue(p, r, param, flags, size, buffer, false);
}

USB_TRANSFER IssueInterruptTransfer(USB_PIPE p, LPTRANSFER_NOTIFY_ROUTINE r, LPVOID param,
                                    DWORD flags, DWORD size, LPVOID buffer, ULONG) {
  return Issue(p, r, param, flags, size, buffer, true);
}

BOOL IsTransferComplete(USB_TRANSFER h) {
  auto d = OwnerOf(h);
  if (!d) return FALSE;
  std::lock_guard<std::mutex> lock(d->mutex);
  return reinterpret_cast<Transfer*>(h)->complete ? TRUE : FALSE;
}

BOOL GetTransferStatus(USB_TRANSFER h, LPDWORD bytes, LPDWORD error) {
  auto d = OwnerOf(h);
  if (!d) return FALSE;
  std::lock_guard<std::mutex> lock(d->mutex);
  Transfer* t = reinterpret_cast<Transfer*>(h);
  if (bytes) *bytes = t->bytes;
  if (error) *error = t->error;
  return TRUE;
}

BOOL AbortTransfer(USB_TRANSFER h, DWORD) {
  auto d = OwnerOf(h);
  if (!d) return FALSE;
  std::lock_guard<std::mutex> lock(d->mutex);
  Transfer* t = reinterpret_cast<Transfer*>(h);
  auto it = std::find(d->pending.begin(), d->pending.end(), t);
  if (it != d->pending.end()) {
    d->pending.erase(it);
    Finish(*d, t, 0, USB_CANCELED_ERROR);
  }
  return TRUE;
}

BOOL CloseTransfer(USB_TRANSFER h) {
  auto d = OwnerOf(h);
  if (!d) return FALSE;
  Transfer* t = reinterpret_cast<Transfer*>(h);
  {
    std::unique_lock<std::mutex> lock(d->mutex);
    if (!d->transfers.count(t)) return FALSE;
    // A transfer still pending is cancelled without its completion routine;
    // a routine not yet started is dropped, a running one is waited for, so
    // that nothing runs for the transfer once it is closed.
    auto it = std::find(d->pending.begin(), d->pending.end(), t);
    if (it != d->pending.end()) d->pending.erase(it);
    auto cb = std::find(d->callbacks.begin(), d->callbacks.end(), t);
    if (cb != d->callbacks.end()) d->callbacks.erase(cb);
    d->cv.wait(lock, [&] { return !t->busy && t->callback != Transfer::Running; });
    d->transfers.erase(t);
  }
  Disown(t);
  delete t;
  return TRUE;
}

BOOL RegisterNotificationRoutine(USB_HANDLE h, LPDEVICE_NOTIFY_ROUTINE routine, LPVOID param) {
  auto d = DeviceOf(h);
  if (!d) return FALSE;
  std::lock_guard<std::mutex> lock(d->mutex);
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

std::wstring GroupKey(DWORD vendor, DWORD product) {
  return std::wstring(kLoadClientsKey) + L"\\" + std::to_wstring(vendor) + L"_" +
         std::to_wstring(product) + L"\\Default\\Default";
}

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

}  // namespace

std::vector<USB_ENDPOINT_DESCRIPTOR> ReaderEndpoints() {
  return {Descriptor(0x81, USB_ENDPOINT_TYPE_BULK, 64), Descriptor(0x02, USB_ENDPOINT_TYPE_BULK, 64),
          Descriptor(0x83, USB_ENDPOINT_TYPE_INTERRUPT, 8)};
}

LPCUSB_FUNCS Funcs() { return &g_funcs; }

PlugResult Plug(std::shared_ptr<vqsim::UsbLink> link, DeviceOptions options) {
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
  {
    std::lock_guard<std::mutex> lock(H().mutex);
    d->id = H().nextId++;
    H().devices[d->id] = d;
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
  d->worker = std::thread(Worker, d.get());

  PlugResult result;
  result.id = d->id;
  const std::wstring group = GroupKey(d->device.Descriptor.idVendor, d->device.Descriptor.idProduct);
  for (const auto& driverId : registry::SubKeys(HKEY_LOCAL_MACHINE, group)) {
    auto dll = registry::GetString(HKEY_LOCAL_MACHINE, group + L"\\" + driverId, L"Dll");
    if (!dll) continue;
    HMODULE module = LoadLibraryW(dll->c_str());
    if (!module) continue;
    auto attach = reinterpret_cast<LPUSB_DEVICE_ATTACH>(
        reinterpret_cast<void*>(GetProcAddressW(module, L"USBDeviceAttach")));
    USB_DRIVER_SETTINGS settings{};
    settings.dwCount = sizeof(settings);
    settings.dwVendorId = d->device.Descriptor.idVendor;
    settings.dwProductId = d->device.Descriptor.idProduct;
    settings.dwReleaseNumber = settings.dwDeviceClass = settings.dwDeviceSubClass =
        settings.dwDeviceProtocol = settings.dwInterfaceClass = settings.dwInterfaceSubClass =
            settings.dwInterfaceProtocol = USB_NO_INFO;
    BOOL accept = FALSE;
    const BOOL taken = attach && attach(reinterpret_cast<USB_HANDLE>(d.get()), &g_funcs,
                                        options.passInterface ? &d->interface : nullptr,
                                        driverId.c_str(), &accept, &settings, 0);
    if (taken && accept) {
      d->client = module;
      result.claimed = true;
      result.driverId = driverId;
      break;
    }
    FreeLibrary(module);
  }
  return result;
}

bool Unplug(int id) {
  std::shared_ptr<Device> d;
  {
    std::lock_guard<std::mutex> lock(H().mutex);
    auto it = H().devices.find(id);
    if (it == H().devices.end()) return false;
    d = it->second;
  }
  LPDEVICE_NOTIFY_ROUTINE notify = nullptr;
  LPVOID param = nullptr;
  bool other = false;
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    other = d->detaching;
    if (!other) {
      d->detaching = true;
      FailPending(*d);
      notify = d->notify;
      param = d->notifyParam;
    }
  }
  if (other) {
    // Someone else is taking it away: wait until it is gone.
    std::unique_lock<std::mutex> hostLock(H().mutex);
    H().detached.wait(hostLock, [&] { return !H().devices.count(id); });
    return true;
  }
  d->link->SetWakeup(nullptr);
  if (notify) notify(param, USB_CLOSE_DEVICE, nullptr, nullptr, nullptr, nullptr);
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->stop = true;
    d->cv.notify_all();
  }
  d->worker.join();
  if (d->client) FreeLibrary(d->client);
  {
    std::lock_guard<std::mutex> lock(H().mutex);
    // Whatever the client left open goes with the device.
    for (auto it = H().owners.begin(); it != H().owners.end();) {
      it = it->second == d ? H().owners.erase(it) : std::next(it);
    }
    H().devices.erase(id);
  }
  for (Pipe* p : d->pipes) delete p;
  for (Transfer* t : d->transfers) delete t;
  d->pipes.clear();
  d->transfers.clear();
  H().detached.notify_all();
  return true;
}

bool SetStall(int id, Endpoint endpoint, Stall stall) {
  std::shared_ptr<Device> d;
  {
    std::lock_guard<std::mutex> lock(H().mutex);
    auto it = H().devices.find(id);
    if (it == H().devices.end()) return false;
    d = it->second;
  }
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
  std::shared_ptr<Device> d;
  {
    std::lock_guard<std::mutex> lock(H().mutex);
    auto it = H().devices.find(id);
    if (it == H().devices.end()) return 0;
    d = it->second;
  }
  std::lock_guard<std::mutex> lock(d->mutex);
  return d->issued[static_cast<int>(endpoint)];
}

void UnplugAll() {
  for (int id : Devices()) Unplug(id);
}

bool IsPlugged(int id) {
  std::lock_guard<std::mutex> lock(H().mutex);
  return H().devices.count(id) > 0;
}

std::vector<int> Devices() {
  std::lock_guard<std::mutex> lock(H().mutex);
  std::vector<int> ids;
  for (auto& [id, d] : H().devices) ids.push_back(id);
  return ids;
}

size_t OpenPipes() {
  size_t n = 0;
  for (int id : Devices()) {
    std::shared_ptr<Device> d;
    {
      std::lock_guard<std::mutex> lock(H().mutex);
      auto it = H().devices.find(id);
      if (it == H().devices.end()) continue;
      d = it->second;
    }
    std::lock_guard<std::mutex> lock(d->mutex);
    n += d->pipes.size();
  }
  return n;
}

size_t OpenTransfers() {
  size_t n = 0;
  for (int id : Devices()) {
    std::shared_ptr<Device> d;
    {
      std::lock_guard<std::mutex> lock(H().mutex);
      auto it = H().devices.find(id);
      if (it == H().devices.end()) continue;
      d = it->second;
    }
    std::lock_guard<std::mutex> lock(d->mutex);
    n += d->transfers.size();
  }
  return n;
}

}  // namespace vqce::usb

// ---- USB driver library: client registration
using namespace vqce::usb;

namespace {

bool CreateKey(const std::wstring& path) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

bool ValidSettings(LPCUSB_DRIVER_SETTINGS s) { return s && s->dwCount == sizeof(USB_DRIVER_SETTINGS); }

}  // namespace

extern "C" {

BOOL RegisterClientDriverID(LPCWSTR id) {
  if (!id || !*id) return FALSE;
  return CreateKey(std::wstring(kClientDriversKey) + L"\\" + id) ? TRUE : FALSE;
}

BOOL UnRegisterClientDriverID(LPCWSTR id) {
  if (!id || !*id) return FALSE;
  return RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kClientDriversKey) + L"\\" + id).c_str()) ==
                 ERROR_SUCCESS
             ? TRUE
             : FALSE;
}

BOOL RegisterClientSettings(LPCWSTR dll, LPCWSTR id, LPCWSTR, LPCUSB_DRIVER_SETTINGS settings) {
  if (!dll || !id || !*id || !ValidSettings(settings)) return FALSE;
  if (!vqce::registry::KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kClientDriversKey) + L"\\" + id)) {
    return FALSE;  // the id must be registered first
  }
  const std::wstring path = GroupKey(settings->dwVendorId, settings->dwProductId) + L"\\" + id;
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return FALSE;
  }
  const LONG r = RegSetValueExW(key, L"Dll", 0, REG_SZ, reinterpret_cast<const BYTE*>(dll),
                                static_cast<DWORD>((wcslen(dll) + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
  return r == ERROR_SUCCESS ? TRUE : FALSE;
}

BOOL UnRegisterClientSettings(LPCWSTR id, LPCWSTR, LPCUSB_DRIVER_SETTINGS settings) {
  if (!id || !*id || !ValidSettings(settings)) return FALSE;
  const std::wstring path = GroupKey(settings->dwVendorId, settings->dwProductId) + L"\\" + id;
  return RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()) == ERROR_SUCCESS ? TRUE : FALSE;
}

}  // extern "C"
