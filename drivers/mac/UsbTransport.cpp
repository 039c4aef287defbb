#include "UsbTransport.h"

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOCFPlugIn.h>
#include <IOKit/IOKitLib.h>
#include <IOKit/usb/IOUSBLib.h>
#include <mach/mach.h>
#include <unistd.h>

#include "IfdHandler.h"
#include "Transport.h"

namespace {

// Seconds to wait before seizing a device that another client holds.
const unsigned int SeizeDelaySeconds = 1;

bool LocationInUse(UInt32 location) {
  for (int i = 0; i < MaxReaders; ++i) {
    SmartcardExtension* other = g_pSmartcardExtension[i];
    if (other && other->DeviceData && other->DeviceData->LocationId == location) return true;
  }
  return false;
}

void SetMatchingNumber(CFMutableDictionaryRef matching, CFStringRef key, SInt32 value) {
  CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &value);
  if (number) {
    CFDictionarySetValue(matching, key, number);
    CFRelease(number);
  }
}

void ReleasePlugIn(ReaderDeviceData* dd) {
  if (dd->PlugIn) {
    (*dd->PlugIn)->Release(dd->PlugIn);
    dd->PlugIn = nullptr;
  }
}

// Closes and releases the device interface (and the plug-in it came from).
void CloseDevice(ReaderDeviceData* dd) {
  if (dd->Device) {
    (*dd->Device)->USBDeviceClose(dd->Device);
    (*dd->Device)->Release(dd->Device);
    dd->Device = nullptr;
  }
  ReleasePlugIn(dd);
}

}  // namespace

NTSTATUS UsbOpen(SmartcardExtension* SmartcardExtension, uint16_t VendorId, uint16_t ProductId) {
  ReaderDeviceData* dd = SmartcardExtension->DeviceData;
  mach_port_t masterPort = MACH_PORT_NULL;
  kern_return_t kr = IOMasterPort(MACH_PORT_NULL, &masterPort);
  if (kr != KERN_SUCCESS || masterPort == MACH_PORT_NULL) return STATUS_UNSUCCESSFUL;

  CFMutableDictionaryRef matching = IOServiceMatching(kIOUSBDeviceClassName);
  if (!matching) {
    mach_port_deallocate(mach_task_self(), masterPort);
    return STATUS_UNSUCCESSFUL;
  }
  SetMatchingNumber(matching, CFSTR(kUSBVendorID), VendorId);
  SetMatchingNumber(matching, CFSTR(kUSBProductID), ProductId);

  io_iterator_t iterator = IO_OBJECT_NULL;
  kr = IOServiceGetMatchingServices(masterPort, matching, &iterator);  // consumes matching
  mach_port_deallocate(mach_task_self(), masterPort);
  if (kr != KERN_SUCCESS) return STATUS_UNSUCCESSFUL;

  IOCFPlugInInterface** plugIn = nullptr;
  IOUSBDeviceInterface** device = nullptr;
  UInt32 location = 0;
  io_service_t service;
  // One pass over the matching devices; the iterator ends.
  while ((service = IOIteratorNext(iterator)) != IO_OBJECT_NULL) {
    SInt32 score = 0;
    kr = IOCreatePlugInInterfaceForService(service, kIOUSBDeviceUserClientTypeID,
                                           kIOCFPlugInInterfaceID, &plugIn, &score);
    IOObjectRelease(service);
    if (kr != KERN_SUCCESS || !plugIn) {
      plugIn = nullptr;
      continue;
    }
    HRESULT res = (*plugIn)->QueryInterface(plugIn, CFUUIDGetUUIDBytes(kIOUSBDeviceInterfaceID),
                                            reinterpret_cast<void**>(&device));
    if (res != S_OK || !device) {
      device = nullptr;
      (*plugIn)->Release(plugIn);
      plugIn = nullptr;
      continue;
    }
    location = 0;
    (*device)->GetLocationID(device, &location);
    if (LocationInUse(location)) {
      // Another channel has it: let go of it, so that a search that finds
      // only used devices ends with none.
      (*device)->Release(device);
      device = nullptr;
      (*plugIn)->Release(plugIn);
      plugIn = nullptr;
      continue;
    }
    break;
  }
  IOObjectRelease(iterator);

  dd->PlugIn = plugIn;
  if (!device) {
    ReleasePlugIn(dd);
    return STATUS_UNSUCCESSFUL;
  }
  dd->Device = device;

  kr = (*device)->USBDeviceOpen(device);
  if (kr == kIOReturnExclusiveAccess) {
    sleep(SeizeDelaySeconds);
    kr = (*device)->USBDeviceOpenSeize(device);
  }
  if (kr != kIOReturnSuccess) {
    (*device)->Release(device);
    dd->Device = nullptr;
    ReleasePlugIn(dd);
    return STATUS_UNSUCCESSFUL;
  }
  dd->LocationId = location;
  return STATUS_SUCCESS;
}

NTSTATUS UsbInitTransfer(SmartcardExtension* SmartcardExtension) {
  ReaderDeviceData* dd = SmartcardExtension->DeviceData;
  IOUSBDeviceInterface** device = dd->Device;
  if (!device) return STATUS_UNSUCCESSFUL;

  IOUSBConfigurationDescriptorPtr config = nullptr;
  kern_return_t kr = (*device)->GetConfigurationDescriptorPtr(device, 0, &config);
  if (kr != kIOReturnSuccess || !config) {
    CloseDevice(dd);
    return STATUS_UNSUCCESSFUL;
  }
  (*device)->ResetDevice(device);
  kr = (*device)->SetConfiguration(device, config->bConfigurationValue);
  if (kr != kIOReturnSuccess) {
    CloseDevice(dd);
    return STATUS_UNSUCCESSFUL;
  }

  IOUSBFindInterfaceRequest request;
  request.bInterfaceClass = kIOUSBFindInterfaceDontCare;
  request.bInterfaceSubClass = kIOUSBFindInterfaceDontCare;
  request.bInterfaceProtocol = kIOUSBFindInterfaceDontCare;
  request.bAlternateSetting = kIOUSBFindInterfaceDontCare;
  io_iterator_t iterator = IO_OBJECT_NULL;
  kr = (*device)->CreateInterfaceIterator(device, &request, &iterator);
  if (kr != kIOReturnSuccess) return STATUS_UNSUCCESSFUL;
  io_service_t service = IOIteratorNext(iterator);
  IOObjectRelease(iterator);
  if (service == IO_OBJECT_NULL) return STATUS_UNSUCCESSFUL;

  IOCFPlugInInterface** plugIn = nullptr;
  SInt32 score = 0;
  kr = IOCreatePlugInInterfaceForService(service, kIOUSBInterfaceUserClientTypeID,
                                         kIOCFPlugInInterfaceID, &plugIn, &score);
  IOObjectRelease(service);
  if (kr != KERN_SUCCESS || !plugIn) return STATUS_UNSUCCESSFUL;
  IOUSBInterfaceInterface** intf = nullptr;
  HRESULT res = (*plugIn)->QueryInterface(plugIn, CFUUIDGetUUIDBytes(kIOUSBInterfaceInterfaceID),
                                          reinterpret_cast<void**>(&intf));
  (*plugIn)->Release(plugIn);  // the interface interface is all we keep
  if (res != S_OK || !intf) return STATUS_UNSUCCESSFUL;
  dd->Interface = intf;

  if ((*intf)->USBInterfaceOpen(intf) != kIOReturnSuccess) return STATUS_UNSUCCESSFUL;
  UInt8 endpoints = 0;
  if ((*intf)->GetNumEndpoints(intf, &endpoints) != kIOReturnSuccess) return STATUS_UNSUCCESSFUL;

  // Pipes 1 to the endpoint count (at most 255). The index is counted wider
  // than a pipe reference, so that the loop ends after pipe 255.
  for (unsigned int index = 1; index <= endpoints; ++index) {
    const UInt8 pipe = static_cast<UInt8>(index);
    UInt8 direction = 0, number = 0, transferType = 0, interval = 0;
    UInt16 maxPacketSize = 0;
    kr = (*intf)->GetPipeProperties(intf, pipe, &direction, &number, &transferType,
                                    &maxPacketSize, &interval);
    if (kr != kIOReturnSuccess) return STATUS_UNSUCCESSFUL;
    if (transferType != kUSBBulk) continue;
    if (direction == kUSBIn && dd->BulkInPipe == 0) dd->BulkInPipe = pipe;
    if (direction == kUSBOut && dd->BulkOutPipe == 0) dd->BulkOutPipe = pipe;
  }
  if (dd->BulkOutPipe == 0 || dd->BulkInPipe == 0) {
    UsbClose(SmartcardExtension);
    return STATUS_UNSUCCESSFUL;
  }
  return STATUS_SUCCESS;
}

NTSTATUS UsbBulkWrite(SmartcardExtension* SmartcardExtension, const uint8_t* Bytes,
                      uint32_t Length) {
  ReaderDeviceData* dd = SmartcardExtension->DeviceData;
  if (dd->TransportBroken) return STATUS_UNSUCCESSFUL;
  IOUSBInterfaceInterface** intf = dd->Interface;
  if (!intf || (*intf)->GetPipeStatus(intf, dd->BulkOutPipe) != kIOReturnSuccess ||
      (*intf)->WritePipe(intf, dd->BulkOutPipe, const_cast<uint8_t*>(Bytes), Length) !=
          kIOReturnSuccess) {
    dd->TransportBroken = 1;
    return STATUS_UNSUCCESSFUL;
  }
  return STATUS_SUCCESS;
}

NTSTATUS UsbBulkRead(SmartcardExtension* SmartcardExtension, uint8_t* Buffer, uint32_t Size,
                     uint32_t* Length) {
  ReaderDeviceData* dd = SmartcardExtension->DeviceData;
  if (dd->TransportBroken) return STATUS_UNSUCCESSFUL;
  IOUSBInterfaceInterface** intf = dd->Interface;
  if (!intf || (*intf)->GetPipeStatus(intf, dd->BulkInPipe) != kIOReturnSuccess) {
    dd->TransportBroken = 1;
    return STATUS_UNSUCCESSFUL;
  }
  // Two reads at most, each ending within the read time-out: a mute reader
  // costs two time-outs, then the device is reset and the transport broken.
  for (int attempt = 0; attempt < 2; ++attempt) {
    UInt32 count = Size;
    if ((*intf)->ReadPipeTO(intf, dd->BulkInPipe, Buffer, &count, dd->ReadTimeout,
                            dd->ReadTimeout) == kIOReturnSuccess) {
      *Length = count;
      return STATUS_SUCCESS;
    }
  }
  if (dd->Device) (*dd->Device)->ResetDevice(dd->Device);
  dd->TransportBroken = 1;
  return STATUS_UNSUCCESSFUL;
}

NTSTATUS UsbClose(SmartcardExtension* SmartcardExtension) {
  ReaderDeviceData* dd = SmartcardExtension->DeviceData;
  dd->BulkInPipe = 0;
  dd->BulkOutPipe = 0;
  if (dd->Interface) {
    (*dd->Interface)->USBInterfaceClose(dd->Interface);
    (*dd->Interface)->Release(dd->Interface);
    dd->Interface = nullptr;
  }
  CloseDevice(dd);
  return STATUS_SUCCESS;
}
