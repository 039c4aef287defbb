// The USB devices the IOKit stand-in offers, and its clock.
//
// A device is a simulated reader reached through vqsim::UsbLink: registered
// in process by a test, or connected at the first service matching from the
// Unix sockets listed in VQUSB_SIM_SOCKETS (colon-separated), each served by
// vqreader-sim. Devices registered in process take the place of the sockets.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace vqsim {
class UsbLink;
}

namespace vqiokit {

struct PipeSpec {
  uint8_t direction;     // kUSBOut 0, kUSBIn 1
  uint8_t transferType;  // kUSBBulk 2, kUSBInterrupt 3
};

struct DeviceOptions {
  // Endpoints of the device's one interface, pipe 1 first. The default is the
  // reader's layout: bulk out, bulk in, interrupt in.
  std::vector<PipeSpec> pipes{{0, 2}, {1, 2}, {1, 3}};
  bool hasInterface = true;
  bool busy = false;          // held exclusively by another client
  uint32_t locationId = 0;    // 0: the link's own location id
  bool linkWaits = false;     // the link waits out read time-outs itself (sockets)
};

struct DeviceStats {
  int opens = 0;        // successful USBDeviceOpen
  int seizes = 0;       // successful USBDeviceOpenSeize
  int closes = 0;
  int resets = 0;
  int writes = 0;       // WritePipe calls that reached the link
  int reads = 0;        // ReadPipeTO calls that reached the link
  int readTimeouts = 0;
  int pipeStatusCalls = 0;
  bool open = false;    // held by one of our device interfaces
  bool interfaceOpen = false;
  uint64_t seizedAtMs = 0;  // clock reading of the last seize
  uint8_t configuration = 0;
};

// Registers a device; returns its id (1, 2, ...).
int AttachDevice(std::shared_ptr<vqsim::UsbLink> link, const DeviceOptions& options = {});
// Takes a device away: it no longer matches, and its open interfaces answer
// kIOReturnNoDevice.
void DetachDevice(int id);
// Forgets every device (in-process and socket ones); the next matching
// looks at VQUSB_SIM_SOCKETS again.
void DetachAll();

void SetBusy(int id, bool busy);
// A stalled device answers every pipe-status query and transfer with
// kIOUSBPipeStalled until it is reset.
void SetStalled(int id, bool stalled);
DeviceStats Stats(int id);

// Stand-in objects alive now (io objects, plug-ins, interfaces, CF objects
// other than constants): lets tests see that everything was released.
size_t LiveObjects();

// The clock behind sleep() and behind the read time-outs of links that
// answer at once. Real by default; a virtual clock advances when waited on.
void UseVirtualClock(bool on);
uint64_t NowMs();
void SleepMs(uint64_t ms);

}  // namespace vqiokit
