#include <IOKit/IOKitLib.h>

#include <map>
#include <mutex>

#include "Internal.h"

namespace vqiokit::detail {
namespace {

constexpr mach_port_t kMasterPort = 0x1D07;

struct IoObject {
  bool isIterator = false;
  IoItem item;                  // a service
  std::vector<IoItem> pending;  // an iterator's items still to come
  size_t next = 0;
};

struct IoTable {
  std::mutex m;
  std::map<io_object_t, IoObject> objects;
  io_object_t nextHandle = 0x100;
};

IoTable& Table() {
  static IoTable table;
  return table;
}

io_object_t Insert(IoObject object) {
  IoTable& t = Table();
  std::lock_guard lock(t.m);
  io_object_t handle = t.nextHandle++;
  if (t.nextHandle == 0) t.nextHandle = 0x100;
  t.objects.emplace(handle, std::move(object));
  ++LiveCount();
  return handle;
}

}  // namespace

io_object_t NewService(const IoItem& item) {
  IoObject object;
  object.item = item;
  return Insert(std::move(object));
}

io_object_t NewIterator(std::vector<IoItem> items) {
  IoObject object;
  object.isIterator = true;
  object.pending = std::move(items);
  return Insert(std::move(object));
}

bool FindService(io_object_t handle, IoItem* item) {
  IoTable& t = Table();
  std::lock_guard lock(t.m);
  auto it = t.objects.find(handle);
  if (it == t.objects.end() || it->second.isIterator) return false;
  *item = it->second.item;
  return true;
}

}  // namespace vqiokit::detail

using namespace vqiokit::detail;

extern "C" {

mach_port_t mach_task_self(void) { return 1; }

kern_return_t mach_port_deallocate(ipc_space_t, mach_port_t name) {
  return name == kMasterPort ? KERN_SUCCESS : KERN_INVALID_ARGUMENT;
}

kern_return_t IOMasterPort(mach_port_t, mach_port_t* masterPort) {
  if (!masterPort) return kIOReturnBadArgument;
  *masterPort = kMasterPort;
  return KERN_SUCCESS;
}

CFMutableDictionaryRef IOServiceMatching(const char* name) {
  if (!name) return nullptr;
  auto* dict = new CfDictionary;
  auto* mutableDict = reinterpret_cast<CFMutableDictionaryRef>(static_cast<CfObject*>(dict));
  CFDictionarySetValue(mutableDict, CFSTR("IOProviderClass"), __CFStringMakeConstantString(name));
  return mutableDict;
}

kern_return_t IOServiceGetMatchingServices(mach_port_t masterPort, CFDictionaryRef matching,
                                           io_iterator_t* existing) {
  const CfObject* dict = AsCf(matching);
  if (!dict || dict->kind != CfObject::Kind::Dictionary) return kIOReturnBadArgument;
  kern_return_t result = kIOReturnBadArgument;
  if (masterPort == kMasterPort && existing) {
    std::string className;
    auto* cls = AsCf(CFDictionaryGetValue(matching, CFSTR("IOProviderClass")));
    if (cls && cls->kind == CfObject::Kind::String)
      className = static_cast<const CfString*>(cls)->text;
    int64_t vendor = 0, product = 0;
    bool hasVendor = false, hasProduct = false;
    if (auto* v = AsCf(CFDictionaryGetValue(matching, CFSTR("idVendor"))))
      if (v->kind == CfObject::Kind::Number)
        vendor = static_cast<const CfNumber*>(v)->value, hasVendor = true;
    if (auto* p = AsCf(CFDictionaryGetValue(matching, CFSTR("idProduct"))))
      if (p->kind == CfObject::Kind::Number)
        product = static_cast<const CfNumber*>(p)->value, hasProduct = true;
    std::vector<IoItem> items;
    for (auto& device : MatchDevices(className, hasVendor ? &vendor : nullptr,
                                     hasProduct ? &product : nullptr))
      items.push_back(IoItem{false, device});
    *existing = NewIterator(std::move(items));
    result = KERN_SUCCESS;
  }
  CFRelease(matching);  // consumed, as on the real system
  return result;
}

io_object_t IOIteratorNext(io_iterator_t iterator) {
  IoItem item;
  {
    IoTable& t = Table();
    std::lock_guard lock(t.m);
    auto it = t.objects.find(iterator);
    if (it == t.objects.end() || !it->second.isIterator) return IO_OBJECT_NULL;
    IoObject& iter = it->second;
    if (iter.next >= iter.pending.size()) return IO_OBJECT_NULL;
    item = iter.pending[iter.next++];
  }
  return NewService(item);
}

kern_return_t IOObjectRelease(io_object_t object) {
  IoTable& t = Table();
  std::lock_guard lock(t.m);
  if (t.objects.erase(object) == 0) return kIOReturnBadArgument;
  --LiveCount();
  return KERN_SUCCESS;
}

kern_return_t IOCreatePlugInInterfaceForService(io_service_t service, CFUUIDRef pluginType,
                                                CFUUIDRef interfaceType,
                                                IOCFPlugInInterface*** theInterface,
                                                SInt32* theScore) {
  if (!theInterface) return kIOReturnBadArgument;
  *theInterface = nullptr;
  IoItem item;
  if (!FindService(service, &item)) return kIOReturnBadArgument;
  if (!SameUuid(CFUUIDGetUUIDBytes(interfaceType), CFUUIDGetUUIDBytes(kIOCFPlugInInterfaceID)))
    return kIOReturnUnsupported;
  CFUUIDBytes wanted = CFUUIDGetUUIDBytes(item.isInterface ? kIOUSBInterfaceUserClientTypeID
                                                           : kIOUSBDeviceUserClientTypeID);
  if (!SameUuid(CFUUIDGetUUIDBytes(pluginType), wanted)) return kIOReturnUnsupported;
  {
    std::lock_guard lock(item.device->m);
    if (item.device->gone) return kIOReturnNoDevice;
  }
  *theInterface = NewPlugIn(item);
  if (theScore) *theScore = 0;
  return KERN_SUCCESS;
}

kern_return_t IODestroyPlugInInterface(IOCFPlugInInterface** interface) {
  if (!interface) return kIOReturnBadArgument;
  (*interface)->Release(interface);
  return KERN_SUCCESS;
}

}  // extern "C"
