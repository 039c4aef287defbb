// Plug-in, USB device interface and USB interface interface objects. Each is
// reached by a reference that points at the object's table pointer, as on the
// real system; the object itself sits behind that pointer.
#include <IOKit/usb/IOUSBLib.h>

#include "Internal.h"
#include "vqsim/UsbLink.h"

namespace vqiokit::detail {
namespace {

template <typename Table, typename Self>
struct Ref {
  const Table* table;
  Self* self;
};

template <typename Self, typename Table>
Self* SelfOf(void* reference) {
  return reference ? static_cast<Ref<Table, Self>*>(reference)->self : nullptr;
}

IOReturn FromLink(vqsim::LinkStatus status) {
  switch (status) {
    case vqsim::LinkStatus::Ok: return kIOReturnSuccess;
    case vqsim::LinkStatus::Timeout: return kIOUSBTransactionTimeout;
    case vqsim::LinkStatus::Stalled: return kIOUSBPipeStalled;
    case vqsim::LinkStatus::Unplugged: return kIOReturnNoDevice;
    case vqsim::LinkStatus::Error: break;
  }
  return kIOReturnNotResponding;
}

// Common reference counting of the three kinds of objects.
struct Counted {
  Counted() { ++LiveCount(); }
  virtual ~Counted() { --LiveCount(); }
  std::atomic<uint32_t> refs{1};
  uint32_t AddRef() { return ++refs; }
  uint32_t Release() {
    uint32_t left = --refs;
    if (left == 0) delete this;
    return left;
  }
};

// ---- USB interface interface ------------------------------------------------

struct InterfaceObject : Counted {
  explicit InterfaceObject(std::shared_ptr<SimDevice> d);
  ~InterfaceObject() override {
    if (open) {
      std::lock_guard lock(device->m);
      device->stats.interfaceOpen = false;
    }
  }
  Ref<IOUSBInterfaceInterface, InterfaceObject> ref;
  std::shared_ptr<SimDevice> device;
  std::mutex io;  // one transfer at a time
  bool open = false;
};

InterfaceObject* Intf(void* self) { return SelfOf<InterfaceObject, IOUSBInterfaceInterface>(self); }

HRESULT IntfQueryInterface(void* self, REFIID iid, void** ppv);
UInt32 IntfAddRef(void* self) { return Intf(self)->AddRef(); }
UInt32 IntfRelease(void* self) { return Intf(self)->Release(); }

IOReturn IntfOpen(void* self) {
  InterfaceObject* o = Intf(self);
  std::lock_guard lock(o->device->m);
  if (o->device->gone) return kIOReturnNoDevice;
  if (o->open || o->device->stats.interfaceOpen) return kIOReturnExclusiveAccess;
  o->open = true;
  o->device->stats.interfaceOpen = true;
  return kIOReturnSuccess;
}

IOReturn IntfClose(void* self) {
  InterfaceObject* o = Intf(self);
  std::lock_guard lock(o->device->m);
  if (!o->open) return kIOReturnNotOpen;
  o->open = false;
  o->device->stats.interfaceOpen = false;
  return kIOReturnSuccess;
}

IOReturn IntfGetNumEndpoints(void* self, UInt8* count) {
  InterfaceObject* o = Intf(self);
  if (!count) return kIOReturnBadArgument;
  std::lock_guard lock(o->device->m);
  if (o->device->gone) return kIOReturnNoDevice;
  *count = static_cast<UInt8>(o->device->options.pipes.size());
  return kIOReturnSuccess;
}

IOReturn IntfGetPipeProperties(void* self, UInt8 pipeRef, UInt8* direction, UInt8* number,
                               UInt8* transferType, UInt16* maxPacketSize, UInt8* interval) {
  InterfaceObject* o = Intf(self);
  std::lock_guard lock(o->device->m);
  if (o->device->gone) return kIOReturnNoDevice;
  const auto& pipes = o->device->options.pipes;
  if (pipeRef == 0 || pipeRef > pipes.size()) return kIOUSBUnknownPipeErr;
  const PipeSpec& pipe = pipes[pipeRef - 1];
  if (direction) *direction = pipe.direction;
  if (number) *number = pipeRef;
  if (transferType) *transferType = pipe.transferType;
  if (maxPacketSize) *maxPacketSize = 64;
  if (interval) *interval = pipe.transferType == kUSBInterrupt ? 16 : 0;
  return kIOReturnSuccess;
}

// Checks a pipe for a transfer in `direction`; fills `pipe`.
IOReturn CheckPipe(InterfaceObject* o, UInt8 pipeRef, int direction, PipeSpec* pipe) {
  SimDevice& d = *o->device;
  if (d.gone) return kIOReturnNoDevice;
  if (!o->open) return kIOReturnNotOpen;
  if (pipeRef == 0 || pipeRef > d.options.pipes.size()) return kIOUSBUnknownPipeErr;
  *pipe = d.options.pipes[pipeRef - 1];
  if (direction >= 0 && pipe->direction != direction) return kIOReturnBadArgument;
  if (d.stalled) return kIOUSBPipeStalled;
  return kIOReturnSuccess;
}

IOReturn IntfGetPipeStatus(void* self, UInt8 pipeRef) {
  InterfaceObject* o = Intf(self);
  std::lock_guard lock(o->device->m);
  ++o->device->stats.pipeStatusCalls;
  PipeSpec pipe;
  return CheckPipe(o, pipeRef, -1, &pipe);
}

void NoteLinkResult(SimDevice& d, vqsim::LinkStatus status) {
  if (status == vqsim::LinkStatus::Stalled) d.stalled = true;
  if (status == vqsim::LinkStatus::Unplugged) d.gone = true;
}

IOReturn IntfWritePipe(void* self, UInt8 pipeRef, void* buf, UInt32 size) {
  InterfaceObject* o = Intf(self);
  SimDevice& d = *o->device;
  {
    std::lock_guard lock(d.m);
    PipeSpec pipe;
    if (IOReturn r = CheckPipe(o, pipeRef, kUSBOut, &pipe)) return r;
    if (!buf && size) return kIOReturnBadArgument;
    ++d.stats.writes;
  }
  std::lock_guard io(o->io);
  vqsim::LinkStatus status = d.link->BulkOut(static_cast<const uint8_t*>(buf), size);
  std::lock_guard lock(d.m);
  NoteLinkResult(d, status);
  return FromLink(status);
}

IOReturn IntfReadPipeTO(void* self, UInt8 pipeRef, void* buf, UInt32* size, UInt32 noDataTimeout,
                        UInt32 completionTimeout) {
  InterfaceObject* o = Intf(self);
  SimDevice& d = *o->device;
  if (!size) return kIOReturnBadArgument;
  UInt32 cap = *size;
  *size = 0;
  PipeSpec pipe;
  bool linkWaits;
  {
    std::lock_guard lock(d.m);
    if (IOReturn r = CheckPipe(o, pipeRef, kUSBIn, &pipe)) return r;
    if (!buf && cap) return kIOReturnBadArgument;
    ++d.stats.reads;
    linkWaits = d.options.linkWaits;
  }
  if (completionTimeout && completionTimeout < noDataTimeout) noDataTimeout = completionTimeout;
  size_t got = 0;
  vqsim::LinkStatus status;
  {
    std::lock_guard io(o->io);
    uint8_t* bytes = static_cast<uint8_t*>(buf);
    status = pipe.transferType == kUSBInterrupt ? d.link->InterruptIn(bytes, cap, &got, noDataTimeout)
                                                : d.link->BulkIn(bytes, cap, &got, noDataTimeout);
  }
  // A link that answers at once stands for a wait of the whole time-out.
  if (status == vqsim::LinkStatus::Timeout && !linkWaits) SleepMs(noDataTimeout);
  std::lock_guard lock(d.m);
  NoteLinkResult(d, status);
  if (status == vqsim::LinkStatus::Timeout) ++d.stats.readTimeouts;
  if (status != vqsim::LinkStatus::Ok) return FromLink(status);
  *size = static_cast<UInt32>(got > cap ? cap : got);
  return kIOReturnSuccess;
}

const IOUSBInterfaceInterface kInterfaceTable = {
    nullptr,          IntfQueryInterface,    IntfAddRef,     IntfRelease,
    IntfOpen,         IntfClose,             IntfGetNumEndpoints,
    IntfGetPipeProperties, IntfGetPipeStatus, IntfWritePipe, IntfReadPipeTO,
};

InterfaceObject::InterfaceObject(std::shared_ptr<SimDevice> d)
    : ref{&kInterfaceTable, this}, device(std::move(d)) {}

HRESULT IntfQueryInterface(void* self, REFIID iid, void** ppv) {
  if (!ppv) return E_NOINTERFACE;
  *ppv = nullptr;
  if (!SameUuid(iid, CFUUIDGetUUIDBytes(kIOUSBInterfaceInterfaceID))) return E_NOINTERFACE;
  Intf(self)->AddRef();
  *ppv = self;
  return S_OK;
}

// ---- USB device interface ---------------------------------------------------

struct DeviceObject : Counted {
  explicit DeviceObject(std::shared_ptr<SimDevice> d);
  ~DeviceObject() override {
    std::lock_guard lock(device->m);
    if (device->holder == this) {
      device->holder = nullptr;
      device->stats.open = false;
    }
  }
  Ref<IOUSBDeviceInterface, DeviceObject> ref;
  std::shared_ptr<SimDevice> device;
};

DeviceObject* Dev(void* self) { return SelfOf<DeviceObject, IOUSBDeviceInterface>(self); }

HRESULT DevQueryInterface(void* self, REFIID iid, void** ppv);
UInt32 DevAddRef(void* self) { return Dev(self)->AddRef(); }
UInt32 DevRelease(void* self) { return Dev(self)->Release(); }

IOReturn DevOpen(void* self) {
  DeviceObject* o = Dev(self);
  SimDevice& d = *o->device;
  bool heldElsewhere = LinkBusy(d.link.get());
  std::lock_guard lock(d.m);
  if (d.gone) return kIOReturnNoDevice;
  if (d.holder == o) return kIOReturnSuccess;
  if (d.busy || heldElsewhere || d.holder) return kIOReturnExclusiveAccess;
  d.holder = o;
  d.stats.open = true;
  ++d.stats.opens;
  return kIOReturnSuccess;
}

IOReturn DevOpenSeize(void* self) {
  DeviceObject* o = Dev(self);
  SimDevice& d = *o->device;
  LinkSeized(d.link.get());
  std::lock_guard lock(d.m);
  if (d.gone) return kIOReturnNoDevice;
  d.busy = false;  // the other client loses it
  d.holder = o;
  d.stats.open = true;
  ++d.stats.seizes;
  d.stats.seizedAtMs = NowMs();
  return kIOReturnSuccess;
}

IOReturn DevClose(void* self) {
  DeviceObject* o = Dev(self);
  SimDevice& d = *o->device;
  std::lock_guard lock(d.m);
  if (d.holder != o) return kIOReturnNotOpen;
  d.holder = nullptr;
  d.stats.open = false;
  ++d.stats.closes;
  return kIOReturnSuccess;
}

IOReturn DevGetVendor(void* self, UInt16* vendor) {
  if (!vendor) return kIOReturnBadArgument;
  *vendor = Dev(self)->device->vendorId;
  return kIOReturnSuccess;
}

IOReturn DevGetProduct(void* self, UInt16* product) {
  if (!product) return kIOReturnBadArgument;
  *product = Dev(self)->device->productId;
  return kIOReturnSuccess;
}

IOReturn DevGetLocationID(void* self, UInt32* location) {
  if (!location) return kIOReturnBadArgument;
  *location = Dev(self)->device->locationId;
  return kIOReturnSuccess;
}

IOReturn DevGetConfigurationDescriptorPtr(void* self, UInt8 index,
                                          IOUSBConfigurationDescriptorPtr* desc) {
  if (!desc) return kIOReturnBadArgument;
  *desc = nullptr;
  SimDevice& d = *Dev(self)->device;
  std::lock_guard lock(d.m);
  if (d.gone) return kIOReturnNoDevice;
  if (index != 0) return kIOReturnBadArgument;
  *desc = &d.config;
  return kIOReturnSuccess;
}

IOReturn DevSetConfiguration(void* self, UInt8 value) {
  DeviceObject* o = Dev(self);
  SimDevice& d = *o->device;
  std::lock_guard lock(d.m);
  if (d.gone) return kIOReturnNoDevice;
  if (d.holder != o) return kIOReturnNotOpen;
  if (value != 0 && value != d.config.bConfigurationValue) return kIOReturnBadArgument;
  d.stats.configuration = value;
  return kIOReturnSuccess;
}

IOReturn DevResetDevice(void* self) {
  DeviceObject* o = Dev(self);
  SimDevice& d = *o->device;
  {
    std::lock_guard lock(d.m);
    if (d.gone) return kIOReturnNoDevice;
    if (d.holder != o) return kIOReturnNotOpen;
    ++d.stats.resets;
    d.stalled = false;
  }
  d.link->ClearStall();
  return kIOReturnSuccess;
}

IOReturn DevCreateInterfaceIterator(void* self, IOUSBFindInterfaceRequest* req,
                                    io_iterator_t* iter) {
  if (!req || !iter) return kIOReturnBadArgument;
  DeviceObject* o = Dev(self);
  std::vector<IoItem> items;
  {
    std::lock_guard lock(o->device->m);
    if (o->device->gone) return kIOReturnNoDevice;
    if (o->device->options.hasInterface && o->device->stats.configuration != 0)
      items.push_back(IoItem{true, o->device});
  }
  *iter = NewIterator(std::move(items));
  return kIOReturnSuccess;
}

const IOUSBDeviceInterface kDeviceTable = {
    nullptr,       DevQueryInterface, DevAddRef,        DevRelease,
    DevOpen,       DevClose,          DevGetVendor,     DevGetProduct,
    DevGetLocationID, DevGetConfigurationDescriptorPtr, DevSetConfiguration,
    DevResetDevice, DevCreateInterfaceIterator, DevOpenSeize,
};

DeviceObject::DeviceObject(std::shared_ptr<SimDevice> d)
    : ref{&kDeviceTable, this}, device(std::move(d)) {}

HRESULT DevQueryInterface(void* self, REFIID iid, void** ppv) {
  if (!ppv) return E_NOINTERFACE;
  *ppv = nullptr;
  if (!SameUuid(iid, CFUUIDGetUUIDBytes(kIOUSBDeviceInterfaceID))) return E_NOINTERFACE;
  Dev(self)->AddRef();
  *ppv = self;
  return S_OK;
}

// ---- plug-in ----------------------------------------------------------------

struct PlugInObject : Counted {
  explicit PlugInObject(const IoItem& i);
  Ref<IOCFPlugInInterface, PlugInObject> ref;
  IoItem item;
};

PlugInObject* Plug(void* self) { return SelfOf<PlugInObject, IOCFPlugInInterface>(self); }

HRESULT PlugQueryInterface(void* self, REFIID iid, void** ppv) {
  if (!ppv) return E_NOINTERFACE;
  *ppv = nullptr;
  PlugInObject* p = Plug(self);
  {
    std::lock_guard lock(p->item.device->m);
    if (p->item.device->gone) return E_NOINTERFACE;
  }
  if (p->item.isInterface && SameUuid(iid, CFUUIDGetUUIDBytes(kIOUSBInterfaceInterfaceID))) {
    *ppv = &(new InterfaceObject(p->item.device))->ref;
    return S_OK;
  }
  if (!p->item.isInterface && SameUuid(iid, CFUUIDGetUUIDBytes(kIOUSBDeviceInterfaceID))) {
    *ppv = &(new DeviceObject(p->item.device))->ref;
    return S_OK;
  }
  return E_NOINTERFACE;
}

UInt32 PlugAddRef(void* self) { return Plug(self)->AddRef(); }
UInt32 PlugRelease(void* self) { return Plug(self)->Release(); }

const IOCFPlugInInterface kPlugInTable = {nullptr, PlugQueryInterface, PlugAddRef, PlugRelease,
                                          1, 0};

PlugInObject::PlugInObject(const IoItem& i) : ref{&kPlugInTable, this}, item(i) {}

}  // namespace

IOCFPlugInInterface** NewPlugIn(const IoItem& item) {
  auto* plugIn = new PlugInObject(item);
  return reinterpret_cast<IOCFPlugInInterface**>(&plugIn->ref);
}

}  // namespace vqiokit::detail
