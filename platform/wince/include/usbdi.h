// Windows CE USB host driver interface for client drivers: descriptors, the
// device/interface/endpoint records, the function table that the host driver
// hands to a client at attach, transfer flags and the client registration
// functions of the USB driver library. Our own declarations with the
// platform's names; implemented over simulated readers by libvqwince.
#pragma once

#include <windows.h>

// ---- standard USB descriptors (packed as on the wire)
#pragma pack(push, 1)
typedef struct _USB_DEVICE_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT bcdUSB;
  UCHAR bDeviceClass;
  UCHAR bDeviceSubClass;
  UCHAR bDeviceProtocol;
  UCHAR bMaxPacketSize0;
  USHORT idVendor;
  USHORT idProduct;
  USHORT bcdDevice;
  UCHAR iManufacturer;
  UCHAR iProduct;
  UCHAR iSerialNumber;
  UCHAR bNumConfigurations;
} USB_DEVICE_DESCRIPTOR, *PUSB_DEVICE_DESCRIPTOR;
typedef const USB_DEVICE_DESCRIPTOR* LPCUSB_DEVICE_DESCRIPTOR;

typedef struct _USB_CONFIGURATION_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT wTotalLength;
  UCHAR bNumInterfaces;
  UCHAR bConfigurationValue;
  UCHAR iConfiguration;
  UCHAR bmAttributes;
  UCHAR MaxPower;
} USB_CONFIGURATION_DESCRIPTOR, *PUSB_CONFIGURATION_DESCRIPTOR;

typedef struct _USB_INTERFACE_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bInterfaceNumber;
  UCHAR bAlternateSetting;
  UCHAR bNumEndpoints;
  UCHAR bInterfaceClass;
  UCHAR bInterfaceSubClass;
  UCHAR bInterfaceProtocol;
  UCHAR iInterface;
} USB_INTERFACE_DESCRIPTOR, *PUSB_INTERFACE_DESCRIPTOR;

typedef struct _USB_ENDPOINT_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bEndpointAddress;
  UCHAR bmAttributes;
  USHORT wMaxPacketSize;
  UCHAR bInterval;
} USB_ENDPOINT_DESCRIPTOR, *PUSB_ENDPOINT_DESCRIPTOR;
typedef const USB_ENDPOINT_DESCRIPTOR* LPCUSB_ENDPOINT_DESCRIPTOR;
#pragma pack(pop)

#define USB_ENDPOINT_DIRECTION_MASK 0x80
#define USB_ENDPOINT_DIRECTION_IN(addr) (((addr) & USB_ENDPOINT_DIRECTION_MASK) != 0)
#define USB_ENDPOINT_DIRECTION_OUT(addr) (((addr) & USB_ENDPOINT_DIRECTION_MASK) == 0)
#define USB_ENDPOINT_TYPE_MASK 0x03
#define USB_ENDPOINT_TYPE_CONTROL 0x00
#define USB_ENDPOINT_TYPE_ISOCHRONOUS 0x01
#define USB_ENDPOINT_TYPE_BULK 0x02
#define USB_ENDPOINT_TYPE_INTERRUPT 0x03

// ---- the host driver's records of a device
typedef struct _USB_ENDPOINT {
  DWORD dwCount;  // size of this record
  USB_ENDPOINT_DESCRIPTOR Descriptor;
  LPVOID lpvExtended;
} USB_ENDPOINT, *PUSB_ENDPOINT;
typedef const USB_ENDPOINT* LPCUSB_ENDPOINT;

typedef struct _USB_INTERFACE {
  DWORD dwCount;  // size of this record
  USB_INTERFACE_DESCRIPTOR Descriptor;
  LPVOID lpvExtended;
  LPCUSB_ENDPOINT lpEndpoints;  // Descriptor.bNumEndpoints records
} USB_INTERFACE, *PUSB_INTERFACE;
typedef const USB_INTERFACE* LPCUSB_INTERFACE;

typedef struct _USB_CONFIGURATION {
  DWORD dwCount;  // size of this record
  USB_CONFIGURATION_DESCRIPTOR Descriptor;
  LPVOID lpvExtended;
  DWORD dwNumInterfaces;
  LPCUSB_INTERFACE lpInterfaces;
} USB_CONFIGURATION, *PUSB_CONFIGURATION;
typedef const USB_CONFIGURATION* LPCUSB_CONFIGURATION;

typedef struct _USB_DEVICE {
  DWORD dwCount;  // size of this record
  USB_DEVICE_DESCRIPTOR Descriptor;
  LPCUSB_CONFIGURATION lpConfigs;
  LPCUSB_CONFIGURATION lpActiveConfig;
} USB_DEVICE, *PUSB_DEVICE;
typedef const USB_DEVICE* LPCUSB_DEVICE;

// ---- opaque handles
typedef struct _USB_HANDLE_T* USB_HANDLE;
typedef struct _USB_PIPE_T* USB_PIPE;
typedef struct _USB_TRANSFER_T* USB_TRANSFER;

// ---- transfer flags
#define USB_OUT_TRANSFER 0x00000000u
#define USB_IN_TRANSFER 0x00000080u
#define USB_NO_WAIT 0x00000100u
#define USB_SHORT_TRANSFER_OK 0x00000200u
#define USB_START_ISOCH_ASAP 0x00000400u
#define USB_COMPRESS_ISOCH 0x00000800u
#define USB_SEND_TO_DEVICE 0x00000000u
#define USB_SEND_TO_INTERFACE 0x00000001u
#define USB_SEND_TO_ENDPOINT 0x00000002u

// ---- transfer error codes (GetTransferStatus)
#define USB_NO_ERROR 0x00000000u
#define USB_CRC_ERROR 0x00000001u
#define USB_STALL_ERROR 0x00000004u
#define USB_DEVICE_NOT_RESPONDING_ERROR 0x00000005u
#define USB_NOT_COMPLETE_ERROR 0x00000101u
#define USB_CANCELED_ERROR 0x00000102u
#define USB_CLIENT_BUFFER_ERROR 0x00000103u

// ---- device notifications
#define USB_CLOSE_DEVICE 1u

typedef DWORD (*LPTRANSFER_NOTIFY_ROUTINE)(LPVOID lpvNotifyParameter);
typedef BOOL (*LPDEVICE_NOTIFY_ROUTINE)(LPVOID lpvNotifyParameter, DWORD dwCode, LPDWORD* dwInfo1,
                                        LPDWORD* dwInfo2, LPDWORD* dwInfo3, LPDWORD* dwInfo4);

// ---- the settings record a client registers to be matched with devices
#define USB_NO_INFO 0xFFFFFFFFu
typedef struct _USB_DRIVER_SETTINGS {
  DWORD dwCount;  // 40
  DWORD dwVendorId;
  DWORD dwProductId;
  DWORD dwReleaseNumber;
  DWORD dwDeviceClass;
  DWORD dwDeviceSubClass;
  DWORD dwDeviceProtocol;
  DWORD dwInterfaceClass;
  DWORD dwInterfaceSubClass;
  DWORD dwInterfaceProtocol;
} USB_DRIVER_SETTINGS, *PUSB_DRIVER_SETTINGS, *LPUSB_DRIVER_SETTINGS;
typedef const USB_DRIVER_SETTINGS* LPCUSB_DRIVER_SETTINGS;

// ---- the function table a client receives at attach
typedef DWORD (*LPGET_USBD_VERSION)(void);
typedef LPCUSB_DEVICE (*LPGET_DEVICE_INFO)(USB_HANDLE hDevice);
typedef LPCUSB_INTERFACE (*LPFIND_INTERFACE)(LPCUSB_DEVICE lpUsbDevice, UCHAR bInterfaceNumber,
                                              UCHAR bAlternateSetting);
typedef USB_PIPE (*LPOPEN_PIPE)(USB_HANDLE hDevice, LPCUSB_ENDPOINT_DESCRIPTOR lpEndpointDescriptor);
typedef BOOL (*LPCLOSE_PIPE)(USB_PIPE hPipe);
typedef BOOL (*LPABORT_PIPE_TRANSFERS)(USB_PIPE hPipe, DWORD dwFlags);
typedef BOOL (*LPRESET_PIPE)(USB_PIPE hPipe);
typedef BOOL (*LPIS_PIPE_HALTED)(USB_PIPE hPipe, LPBOOL lpbHalted);
typedef USB_TRANSFER (*LPISSUE_BULK_TRANSFER)(USB_PIPE hPipe, LPTRANSFER_NOTIFY_ROUTINE lpStartAddress,
                                              LPVOID lpvNotifyParameter, DWORD dwFlags,
                                              DWORD dwBufferSize, LPVOID lpvBuffer,
                                              ULONG uBufferPhysicalAddress);
typedef USB_TRANSFER (*LPISSUE_INTERRUPT_TRANSFER)(USB_PIPE hPipe,
                                                   LPTRANSFER_NOTIFY_ROUTINE lpStartAddress,
                                                   LPVOID lpvNotifyParameter, DWORD dwFlags,
                                                   DWORD dwBufferSize, LPVOID lpvBuffer,
                                                   ULONG uBufferPhysicalAddress);
typedef BOOL (*LPIS_TRANSFER_COMPLETE)(USB_TRANSFER hTransfer);
typedef BOOL (*LPGET_TRANSFER_STATUS)(USB_TRANSFER hTransfer, LPDWORD lpdwBytesTransferred,
                                      LPDWORD lpdwError);
typedef BOOL (*LPABORT_TRANSFER)(USB_TRANSFER hTransfer, DWORD dwFlags);
typedef BOOL (*LPCLOSE_TRANSFER)(USB_TRANSFER hTransfer);
typedef BOOL (*LPREGISTER_NOTIFICATION_ROUTINE)(USB_HANDLE hDevice,
                                                 LPDEVICE_NOTIFY_ROUTINE lpNotifyRoutine,
                                                 LPVOID lpvNotifyParameter);
typedef BOOL (*LPUNREGISTER_NOTIFICATION_ROUTINE)(USB_HANDLE hDevice,
                                                   LPDEVICE_NOTIFY_ROUTINE lpNotifyRoutine,
                                                   LPVOID lpvNotifyParameter);

typedef struct _USB_FUNCS {
  DWORD dwCount;  // size of this table
  LPGET_USBD_VERSION lpGetUSBDVersion;
  LPGET_DEVICE_INFO lpGetDeviceInfo;
  LPFIND_INTERFACE lpFindInterface;
  LPOPEN_PIPE lpOpenPipe;
  LPCLOSE_PIPE lpClosePipe;
  LPABORT_PIPE_TRANSFERS lpAbortPipeTransfers;
  LPRESET_PIPE lpResetPipe;
  LPIS_PIPE_HALTED lpIsPipeHalted;
  LPISSUE_BULK_TRANSFER lpIssueBulkTransfer;
  LPISSUE_INTERRUPT_TRANSFER lpIssueInterruptTransfer;
  LPIS_TRANSFER_COMPLETE lpIsTransferComplete;
  LPGET_TRANSFER_STATUS lpGetTransferStatus;
  LPABORT_TRANSFER lpAbortTransfer;
  LPCLOSE_TRANSFER lpCloseTransfer;
  LPREGISTER_NOTIFICATION_ROUTINE lpRegisterNotificationRoutine;
  LPUNREGISTER_NOTIFICATION_ROUTINE lpUnRegisterNotificationRoutine;
} USB_FUNCS, *PUSB_FUNCS, *LPUSB_FUNCS;
typedef const USB_FUNCS* LPCUSB_FUNCS;

// ---- the client driver's entry points, as the host driver calls them
typedef BOOL (*LPUSB_INSTALL_DRIVER)(LPCWSTR szDriverLibFile);
typedef BOOL (*LPUSB_UNINSTALL_DRIVER)(void);
typedef BOOL (*LPUSB_DEVICE_ATTACH)(USB_HANDLE hDevice, LPCUSB_FUNCS lpUsbFuncs,
                                    LPCUSB_INTERFACE lpInterface, LPCWSTR szUniqueDriverId,
                                    LPBOOL fAcceptControl, LPCUSB_DRIVER_SETTINGS lpDriverSettings,
                                    DWORD dwUnused);

VQCE_BEGIN_DECLS

// USB driver library: client registration
BOOL RegisterClientDriverID(LPCWSTR szUniqueDriverId);
BOOL UnRegisterClientDriverID(LPCWSTR szUniqueDriverId);
BOOL RegisterClientSettings(LPCWSTR lpszDriverLibFile, LPCWSTR lpszUniqueDriverId,
                            LPCWSTR szReserved, LPCUSB_DRIVER_SETTINGS lpDriverSettings);
BOOL UnRegisterClientSettings(LPCWSTR lpszUniqueDriverId, LPCWSTR szReserved,
                              LPCUSB_DRIVER_SETTINGS lpDriverSettings);

VQCE_END_DECLS
