// USB host driver: pipes, bulk and interrupt transfers over a device's
// vqsim::UsbLink, completion routines on the device's own thread. A pipe or
// transfer handle stays valid until its client closes it, also when its
// device has gone; calls on it fail meanwhile.
#include <algorithm>
#include <chrono>

#include "UsbHostState.h"

namespace vqce::usb::detail {
namespace {

// Pending IN transfers are tried again this often (real time), besides every
// wake-up of the link.
constexpr auto kRetryPeriod = std::chrono::milliseconds(2);
constexpr auto kInterruptRetryPeriod = std::chrono::milliseconds(50);

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

void Own(const void* handle, const std::shared_ptr<Device>& d, bool pipe) {
  std::lock_guard<std::mutex> lock(H().mutex);
  H().handles[handle] = Host::Handle{d, pipe};
}

void Disown(const void* handle) {
  std::lock_guard<std::mutex> lock(H().mutex);
  H().handles.erase(handle);
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

// Under d.mutex: the transfers pending on a pipe are cancelled.
void CancelPipe(Device& d, const Pipe* p) {
  for (auto it = d.pending.begin(); it != d.pending.end();) {
    if ((*it)->pipe == p) {
      Transfer* t = *it;
      it = d.pending.erase(it);
      Finish(d, t, 0, USB_CANCELED_ERROR);
    } else {
      ++it;
    }
  }
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

// Under lock (of d.mutex): runs a completion routine without the lock.
void RunRoutine(Device& d, Transfer* t, std::unique_lock<std::mutex>& lock) {
  t->callback = Transfer::Running;
  lock.unlock();
  t->routine(t->param);
  lock.lock();
  t->callback = Transfer::Done;
  d.cv.notify_all();
}

USB_TRANSFER Issue(USB_PIPE hPipe, LPTRANSFER_NOTIFY_ROUTINE routine, LPVOID param, DWORD flags,
                   DWORD size, LPVOID buffer, bool interrupt) {
  Hook(OwnerOf(hPipe), ClientCall::IssueTransfer);
  auto owner = OwnerOf(hPipe);
  if (!owner || (size && !buffer)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Device& d = *owner;
  Pipe* pipe = reinterpret_cast<Pipe*>(hPipe);
  auto* t = new Transfer;
  t->pipe = pipe;
  t->kind = pipe->kind;
  t->interrupt = interrupt;
  t->routine = routine;
  t->param = param;
  t->buffer = static_cast<uint8_t*>(buffer);
  t->size = size;
  t->in = (flags & USB_IN_TRANSFER) != 0;
  uint64_t wakeupsBefore;
  Stall stall = Stall::None;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.gone) {
      delete t;
      SetLastError(ERROR_DEVICE_NOT_AVAILABLE);
      return nullptr;
    }
    d.transfers.insert(t);
    if (t->kind != kNoEndpoint) {
      ++d.issued[t->kind];
      stall = d.stall[t->kind];
    }
    t->busy = stall == Stall::None;
    wakeupsBefore = d.wakeups;
  }
  Own(t, owner, false);
  size_t got = 0;
  // A halted endpoint never reaches the device: it fails at once, or holds
  // the transfer back.
  auto s = stall == Stall::Error ? vqsim::LinkStatus::Stalled : vqsim::LinkStatus::Timeout;
  if (stall == Stall::None) s = Attempt(d, t, &got);
  std::unique_lock<std::mutex> lock(d.mutex);
  t->busy = false;
  d.cv.notify_all();
  // Halted with an error while it was tried: it fails as the pending ones did.
  if (s == vqsim::LinkStatus::Timeout && t->kind != kNoEndpoint && d.stall[t->kind] == Stall::Error) {
    s = vqsim::LinkStatus::Stalled;
  }
  // Gone while it was tried: it fails as the pending ones did.
  if (s == vqsim::LinkStatus::Timeout && d.gone) s = vqsim::LinkStatus::Unplugged;
  if (s == vqsim::LinkStatus::Timeout && (t->in || stall == Stall::Hang)) {
    d.pending.push_back(t);
    // A wake-up between the attempt and now must not be lost.
    if (d.wakeups != wakeupsBefore) d.wake = true;
    d.cv.notify_all();
  } else {
    Finish(d, t, static_cast<DWORD>(got), ErrorOf(s));
    if (s == vqsim::LinkStatus::Unplugged) MarkGone(owner);
    // Done at once: the completion routine runs now, on the issuing thread,
    // rather than waiting for the device thread to be scheduled.
    auto queued = std::find(d.callbacks.begin(), d.callbacks.end(), t);
    if (queued != d.callbacks.end()) {
      d.callbacks.erase(queued);
      RunRoutine(d, t, lock);
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

}  // namespace

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

void FailPending(Device& d) {
  while (!d.pending.empty()) {
    Transfer* t = d.pending.front();
    d.pending.pop_front();
    Finish(d, t, 0, USB_DEVICE_NOT_RESPONDING_ERROR);
  }
}

void Worker(void* arg) {
  auto* hold = static_cast<std::shared_ptr<Device>*>(arg);
  const std::shared_ptr<Device>& device = *hold;
  Device* d = device.get();
  std::unique_lock<std::mutex> lock(d->mutex);
  d->workerThread = std::this_thread::get_id();
  while (!d->stop) {
    if (!d->callbacks.empty()) {
      Transfer* t = d->callbacks.front();
      d->callbacks.pop_front();
      RunRoutine(*d, t, lock);
      continue;
    }
    if (!d->gone && !d->pending.empty()) {
      d->wake = false;
      std::vector<Transfer*> tries(d->pending.begin(), d->pending.end());
      for (Transfer* t : tries) {
        if (d->gone) break;
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
        if (s == vqsim::LinkStatus::Unplugged) MarkGone(device);
      }
    }
    if (!d->callbacks.empty() || d->stop) continue;
    const bool live = std::any_of(d->pending.begin(), d->pending.end(),
                                  [&](Transfer* t) { return !HeldBack(*d, t); });
    if (!live || d->gone) {
      d->cv.wait(lock, [&] { return d->stop || !d->callbacks.empty() || d->wake; });
    } else {
      // Interrupt data is announced by the link's wake-up; bulk data is not.
      const bool bulk = std::any_of(d->pending.begin(), d->pending.end(),
                                    [&](Transfer* t) { return !t->interrupt && !HeldBack(*d, t); });
      d->cv.wait_for(lock, bulk ? kRetryPeriod : kInterruptRetryPeriod,
                     [&] { return d->stop || !d->callbacks.empty() || d->wake; });
    }
    d->wake = false;
  }
  // Once the close notice has been delivered no completion routine runs:
  // what is still queued belongs to transfers the client left open.
  for (Transfer* t : d->callbacks) t->callback = Transfer::Done;
  d->callbacks.clear();
  d->workerThread = {};
  // Whoever stopped the worker holds the device until it sees workerDone.
  lock.unlock();
  delete hold;
  std::lock_guard<std::mutex> relock(d->mutex);
  d->workerDone = true;
  d->cv.notify_all();
}

void RunQueued(Device& d, std::unique_lock<std::mutex>& lock) {
  while (!d.callbacks.empty() && !d.stop) {
    Transfer* t = d.callbacks.front();
    d.callbacks.pop_front();
    RunRoutine(d, t, lock);
  }
}

// ---- the function table's pipe and transfer calls

USB_PIPE OpenPipe(USB_HANDLE h, LPCUSB_ENDPOINT_DESCRIPTOR ep) {
  Hook(DeviceOf(h), ClientCall::OpenPipe);
  auto d = DeviceOf(h);
  if (!d || !ep) return nullptr;
  auto* p = new Pipe;
  p->endpoint = *ep;
  p->kind = EndpointOf(*ep);
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->gone) {
      delete p;
      SetLastError(ERROR_DEVICE_NOT_AVAILABLE);
      return nullptr;
    }
    d->pipes.insert(p);
  }
  Own(p, d, true);
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
    CancelPipe(*d, p);
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
  if (d->gone) return FALSE;
  CancelPipe(*d, reinterpret_cast<Pipe*>(hPipe));
  return TRUE;
}

BOOL ResetPipe(USB_PIPE hPipe) {
  auto d = OwnerOf(hPipe);
  if (!d) return FALSE;
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->gone) return FALSE;
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
  if (d->gone) return FALSE;
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

// A transfer of a device that has gone has completed, with an error: these
// report it so until the client closes it.
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

}  // namespace vqce::usb::detail
