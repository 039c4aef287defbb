// The USB host driver: simulated readers are plugged in and out here. A
// plugged device gets its device, configuration, interface and endpoint
// records; the client registered for its vendor and product id (through
// RegisterClientSettings) is loaded and its USBDeviceAttach called with the
// host driver's function table, one attach at a time. Transfers run over
// the device's vqsim::UsbLink; completion routines run on the device's own
// thread.
#pragma once

#include <usbdi.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vqsim/UsbLink.h"

namespace vqce::usb {

// The reader family's endpoints: bulk in 0x81, bulk out 0x02, interrupt in 0x83.
std::vector<USB_ENDPOINT_DESCRIPTOR> ReaderEndpoints();

struct DeviceOptions {
  std::vector<USB_ENDPOINT_DESCRIPTOR> endpoints = ReaderEndpoints();
  bool passInterface = false;  // hand interface 0 to USBDeviceAttach instead of null
};

struct PlugResult {
  int id = 0;
  bool claimed = false;   // a client driver took the device
  std::wstring driverId;  // that client's id
};

PlugResult Plug(std::shared_ptr<vqsim::UsbLink> link, DeviceOptions options = {});
// Takes the device away: pending transfers complete with an error and new
// ones are refused, the client's close-device notification runs (once the
// client's USBDeviceAttach has returned, if it is still running), then the
// device is forgotten. Returns when all of that is done (also when the
// device's link reported the unplug first); called on a thread of the device
// (inside the attach, a completion routine or the notification) it returns
// at once and the device goes when that thread is done with it. Safe from
// any thread at any moment. False for an unknown id.
bool Unplug(int id);
void UnplugAll();
bool IsPlugged(int id);
std::vector<int> Devices();
// Pipes opened and transfers issued that their client has not closed, of
// every device, also of devices that have gone: their handles stay valid
// (calls on them fail) until the client closes them.
size_t OpenPipes();
size_t OpenTransfers();

// A device's endpoints, as its pipes reach them.
enum class Endpoint { BulkIn, BulkOut, InterruptIn };

// A halted endpoint. Error: every transfer on it completes at once with
// USB_STALL_ERROR and no bytes (also those pending when the stall is set).
// Hang: its transfers never complete; they stay pending until the stall is
// cleared, the transfer is closed or the device goes. None clears either, as
// does ResetPipe on the endpoint's pipe.
enum class Stall { None, Error, Hang };
bool SetStall(int id, Endpoint endpoint, Stall stall);  // false for an unknown id
// Transfers issued on the endpoint since the device was plugged.
size_t TransfersIssued(int id, Endpoint endpoint);

// Calls a client makes through the function table, as a test can watch them:
// the hook runs on the calling thread as the call begins, before the host
// looks at the device, and may unplug the device (or its link) right there.
enum class ClientCall { OpenPipe, IssueTransfer, RegisterNotification };
void SetClientCallHook(std::function<void(int id, ClientCall call)> hook);

// The function table handed to clients.
LPCUSB_FUNCS Funcs();

}  // namespace vqce::usb
