// Inside the USB host driver: the records of a plugged device, its pipes and
// transfers, and the host's tables. Shared by the host's parts: device life
// (UsbDevices.cpp), transfers (UsbTransfers.cpp), client registration
// (UsbClients.cpp) and the test interface (UsbTestApi.cpp).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "vqce/UsbHost.h"

namespace vqce::usb::detail {

constexpr int kEndpoints = 3;  // Endpoint::BulkIn, BulkOut, InterruptIn
constexpr int kNoEndpoint = -1;

struct Device;

struct Pipe {
  USB_ENDPOINT_DESCRIPTOR endpoint{};
  int kind = kNoEndpoint;
};

struct Transfer {
  Pipe* pipe = nullptr;    // null once its pipe is closed
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

// A device's life: plugged (attaching while its client's attach runs), gone
// (its transfers fail), detaching (its close notice is being delivered),
// removed (no longer known; handles the client kept stay valid).
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
  bool attaching = true;
  bool gone = false;
  bool detaching = false;
  bool removed = false;
  bool stop = false;  // the worker ends; no completion routine starts any more
  bool workerDone = false;
  std::thread::id attachThread, workerThread, notifyThread;
  std::set<Pipe*> pipes;
  std::set<Transfer*> transfers;
  std::deque<Transfer*> pending;
  std::deque<Transfer*> callbacks;
  LPDEVICE_NOTIFY_ROUTINE notify = nullptr;
  LPVOID notifyParam = nullptr;
  Stall stall[kEndpoints] = {Stall::None, Stall::None, Stall::None};
  size_t issued[kEndpoints] = {0, 0, 0};
};

struct Host {
  std::mutex mutex;
  std::map<int, std::shared_ptr<Device>> devices;  // plugged, not yet removed
  // Open pipes and transfers, whether or not their device is still there.
  struct Handle {
    std::shared_ptr<Device> device;
    bool pipe = false;
  };
  std::map<const void*, Handle> handles;
  std::function<void(int, ClientCall)> hook;
  int nextId = 1;
  std::mutex attach;  // one client attach at a time, as the host enumerates
};

Host& H();

std::shared_ptr<Device> Known(int id);                  // a plugged device
std::shared_ptr<Device> DeviceOf(const void* handle);   // a USB_HANDLE of a plugged device
std::shared_ptr<Device> OwnerOf(const void* handle);    // the device of an open pipe or transfer
void Hook(const std::shared_ptr<Device>& d, ClientCall call);

// Under d.mutex: the device is gone. Pending transfers complete with an
// error and new ones are refused; the close notice follows once the attach
// has returned, on a thread of the host (never the caller's when that is
// the device's worker).
void MarkGone(const std::shared_ptr<Device>& d);

// Under d.mutex: the transfers pending on an endpoint, or all of them,
// complete with an error.
void FailEndpoint(Device& d, int kind, DWORD error);
void FailPending(Device& d);

// The device's thread: tries pending IN transfers and runs completion
// routines, until the device's stop is set; then it lets go of the device
// and sets workerDone.
// `arg` is a new std::shared_ptr<Device> that the worker deletes.
void Worker(void* arg);
// Under lock (of d.mutex): runs the completion routines queued so far on the
// calling thread, without the lock while each runs.
void RunQueued(Device& d, std::unique_lock<std::mutex>& lock);

// The function table's pipe and transfer calls.
USB_PIPE OpenPipe(USB_HANDLE h, LPCUSB_ENDPOINT_DESCRIPTOR ep);
BOOL ClosePipe(USB_PIPE hPipe);
BOOL AbortPipeTransfers(USB_PIPE hPipe, DWORD flags);
BOOL ResetPipe(USB_PIPE hPipe);
BOOL IsPipeHalted(USB_PIPE hPipe, LPBOOL halted);
USB_TRANSFER IssueBulkTransfer(USB_PIPE p, LPTRANSFER_NOTIFY_ROUTINE r, LPVOID param, DWORD flags,
                               DWORD size, LPVOID buffer, ULONG physical);
USB_TRANSFER IssueInterruptTransfer(USB_PIPE p, LPTRANSFER_NOTIFY_ROUTINE r, LPVOID param,
                                    DWORD flags, DWORD size, LPVOID buffer, ULONG physical);
BOOL IsTransferComplete(USB_TRANSFER h);
BOOL GetTransferStatus(USB_TRANSFER h, LPDWORD bytes, LPDWORD error);
BOOL AbortTransfer(USB_TRANSFER h, DWORD flags);
BOOL CloseTransfer(USB_TRANSFER h);

// The registry key under which clients are matched with a vendor and product id.
std::wstring GroupKey(DWORD vendor, DWORD product);

}  // namespace vqce::usb::detail
