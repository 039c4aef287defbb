// USB user-client interfaces: the device interface (open, configuration,
// reset, interfaces) and the interface interface (pipes and transfers).
#pragma once

#include <IOKit/IOCFPlugIn.h>

#ifdef __cplusplus
extern "C" {
#endif

#define kIOUSBDeviceClassName "IOUSBDevice"
#define kUSBVendorID "idVendor"
#define kUSBProductID "idProduct"

// Pipe directions and transfer types of GetPipeProperties.
enum { kUSBOut = 0, kUSBIn = 1, kUSBNone = 2, kUSBAnyDirn = 3 };
enum { kUSBControl = 0, kUSBIsoc = 1, kUSBBulk = 2, kUSBInterrupt = 3, kUSBAnyType = 0xFF };

#define kIOUSBFindInterfaceDontCare 0xFFFF

#define kIOUSBUnknownPipeErr ((IOReturn)0xE0004061)
#define kIOUSBTransactionTimeout ((IOReturn)0xE0004051)
#define kIOUSBPipeStalled ((IOReturn)0xE000404F)

typedef struct {
  UInt16 bInterfaceClass;
  UInt16 bInterfaceSubClass;
  UInt16 bInterfaceProtocol;
  UInt16 bAlternateSetting;
} IOUSBFindInterfaceRequest;

typedef struct __attribute__((packed)) {
  UInt8 bLength;
  UInt8 bDescriptorType;
  UInt16 wTotalLength;
  UInt8 bNumInterfaces;
  UInt8 bConfigurationValue;
  UInt8 iConfiguration;
  UInt8 bmAttributes;
  UInt8 MaxPower;
} IOUSBConfigurationDescriptor;
typedef IOUSBConfigurationDescriptor* IOUSBConfigurationDescriptorPtr;

typedef struct IOUSBDeviceStruct {
  IUNKNOWN_C_GUTS;
  IOReturn (*USBDeviceOpen)(void* self);
  IOReturn (*USBDeviceClose)(void* self);
  IOReturn (*GetDeviceVendor)(void* self, UInt16* devVendor);
  IOReturn (*GetDeviceProduct)(void* self, UInt16* devProduct);
  IOReturn (*GetLocationID)(void* self, UInt32* locationID);
  IOReturn (*GetConfigurationDescriptorPtr)(void* self, UInt8 configIndex,
                                            IOUSBConfigurationDescriptorPtr* desc);
  IOReturn (*SetConfiguration)(void* self, UInt8 configNum);
  IOReturn (*ResetDevice)(void* self);
  IOReturn (*CreateInterfaceIterator)(void* self, IOUSBFindInterfaceRequest* req,
                                      io_iterator_t* iter);
  IOReturn (*USBDeviceOpenSeize)(void* self);
} IOUSBDeviceInterface;

typedef struct IOUSBInterfaceStruct {
  IUNKNOWN_C_GUTS;
  IOReturn (*USBInterfaceOpen)(void* self);
  IOReturn (*USBInterfaceClose)(void* self);
  IOReturn (*GetNumEndpoints)(void* self, UInt8* intfNumEndpoints);
  IOReturn (*GetPipeProperties)(void* self, UInt8 pipeRef, UInt8* direction, UInt8* number,
                                UInt8* transferType, UInt16* maxPacketSize, UInt8* interval);
  IOReturn (*GetPipeStatus)(void* self, UInt8 pipeRef);
  IOReturn (*WritePipe)(void* self, UInt8 pipeRef, void* buf, UInt32 size);
  IOReturn (*ReadPipeTO)(void* self, UInt8 pipeRef, void* buf, UInt32* size,
                         UInt32 noDataTimeout, UInt32 completionTimeout);
} IOUSBInterfaceInterface;

#define kIOUSBDeviceUserClientTypeID                                                  \
  CFUUIDGetConstantUUIDWithBytes(NULL, 0x76, 0x51, 0x10, 0x01, 0x4a, 0x2c, 0x4e, 0x0f, \
                                 0x9d, 0x01, 0x3c, 0x5e, 0x70, 0x10, 0x00, 0x02)
#define kIOUSBInterfaceUserClientTypeID                                               \
  CFUUIDGetConstantUUIDWithBytes(NULL, 0x76, 0x51, 0x10, 0x01, 0x4a, 0x2c, 0x4e, 0x0f, \
                                 0x9d, 0x01, 0x3c, 0x5e, 0x70, 0x10, 0x00, 0x03)
#define kIOUSBDeviceInterfaceID                                                       \
  CFUUIDGetConstantUUIDWithBytes(NULL, 0x76, 0x51, 0x10, 0x01, 0x4a, 0x2c, 0x4e, 0x0f, \
                                 0x9d, 0x01, 0x3c, 0x5e, 0x70, 0x10, 0x00, 0x04)
#define kIOUSBInterfaceInterfaceID                                                    \
  CFUUIDGetConstantUUIDWithBytes(NULL, 0x76, 0x51, 0x10, 0x01, 0x4a, 0x2c, 0x4e, 0x0f, \
                                 0x9d, 0x01, 0x3c, 0x5e, 0x70, 0x10, 0x00, 0x05)

#ifdef __cplusplus
}
#endif
