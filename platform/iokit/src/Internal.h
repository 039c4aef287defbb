// Objects behind the stand-in's handles. Not part of the platform's API.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOCFPlugIn.h>
#include <IOKit/usb/IOUSBLib.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "vqiokit/SimDevices.h"

namespace vqiokit::detail {

// Count of live stand-in objects, for LiveObjects().
std::atomic<long>& LiveCount();

struct CfObject {
  enum class Kind { String, Number, Dictionary, Uuid };
  explicit CfObject(Kind k, bool isConstant = false);
  virtual ~CfObject();
  Kind kind;
  bool constant;
  std::atomic<int> refs{1};
};

struct CfString : CfObject {
  explicit CfString(std::string t) : CfObject(Kind::String, true), text(std::move(t)) {}
  std::string text;
};

struct CfNumber : CfObject {
  explicit CfNumber(int64_t v) : CfObject(Kind::Number), value(v) {}
  int64_t value;
};

struct CfDictionary : CfObject {
  CfDictionary() : CfObject(Kind::Dictionary) {}
  ~CfDictionary() override;
  std::vector<std::pair<const CfObject*, const CfObject*>> entries;
};

struct CfUuid : CfObject {
  explicit CfUuid(const CFUUIDBytes& b) : CfObject(Kind::Uuid, true), bytes(b) {}
  CFUUIDBytes bytes;
};

bool SameUuid(const CFUUIDBytes& a, const CFUUIDBytes& b);
const CfObject* AsCf(CFTypeRef ref);

// One simulated USB device.
struct SimDevice {
  int id = 0;
  std::shared_ptr<vqsim::UsbLink> link;
  DeviceOptions options;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint32_t locationId = 0;
  IOUSBConfigurationDescriptor config{};

  std::mutex m;  // guards everything below
  bool gone = false;
  bool busy = false;
  bool stalled = false;
  const void* holder = nullptr;  // device interface that has it open
  DeviceStats stats;
};

// Devices that match the class name and, where given, the ids; connects the
// sockets of VQUSB_SIM_SOCKETS first when no device was registered in process.
std::vector<std::shared_ptr<SimDevice>> MatchDevices(const std::string& className,
                                                     const int64_t* vendorId,
                                                     const int64_t* productId);

// A link to the vqreader-sim socket at `path`, or nullptr.
std::shared_ptr<vqsim::UsbLink> ConnectSocket(const std::string& path);
// The busy flag a simulated reader keeps itself (held by another client),
// and its release when the device is seized.
bool LinkBusy(vqsim::UsbLink* link);
void LinkSeized(vqsim::UsbLink* link);

// io objects: services of devices and interfaces, and iterators over them.
struct IoItem {
  bool isInterface = false;
  std::shared_ptr<SimDevice> device;
};
io_object_t NewService(const IoItem& item);
io_object_t NewIterator(std::vector<IoItem> items);
bool FindService(io_object_t object, IoItem* item);

// Plug-ins and the interfaces they hand out.
IOCFPlugInInterface** NewPlugIn(const IoItem& item);

}  // namespace vqiokit::detail
