// The USB host driver: simulated readers are plugged in and out here. A
// plugged device gets its device, configuration, interface and endpoint
// records; the client registered for its vendor and product id (through
// RegisterClientSettings) is loaded and its USBDeviceAttach called with the
// host driver's function table. Transfers run over the device's
// vqsim::UsbLink; completion routines run on the device's own thread.
#pragma once

#include <usbdi.h>

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
// Takes the device away: pending transfers complete with an error, the
// client's close-device notification runs, then the records are freed.
// Returns when all of that is done (also when the device's link reported the
// unplug first). False for an unknown id.
bool Unplug(int id);
void UnplugAll();
bool IsPlugged(int id);
std::vector<int> Devices();
size_t OpenPipes();      // pipes opened and not closed, all devices
size_t OpenTransfers();  // transfers issued and not closed, all devices

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

// The function table handed to clients.
LPCUSB_FUNCS Funcs();

}  // namespace vqce::usb
